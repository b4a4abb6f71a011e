#include "engine/Measuredns.h"

#include "engine/Measuretcp.h"
#include "engine/Offlooptry.h"
#include "engine/Shortage.h"
#include "engine/Sockettry.h"
#include "engine/Tryloop.h"
#include "net/IdDNSResolver.h"
#include "net/IdException.h"
#include "net/IdStack.h"
#include "vqlib/Vqnet.h"
#include "vqlib/Vqtick.h"

#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

std::optional<TDnsServer> ParseDnsServer(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    if (IsIPv6Literal(text))
        return TDnsServer{text};
    if (text.front() == '[' && text.back() == ']' && IsTargetLiteral(text, TBrackets::Allowed))
        return TDnsServer{text.substr(1, text.size() - 2)};
    if (text.find_first_of(":[]") == std::string::npos)
        return TDnsServer{text};
    const std::optional<TTcpTarget> split = ParseTcpTarget(text);
    if (!split)
        return std::nullopt;
    return TDnsServer{split->Host, split->Port};
}

bool MeasureDNSQuery(TIdDNSResolver& resolver, const std::string& target, int32_t timeout,
                     std::chrono::microseconds& elapsed, const std::atomic<bool>* abort, int* shortage,
                     const std::string& name)
{
    if (shortage)
        *shortage = 0;
    if (abort && abort->load())
        return false;
    try {
        resolver.SetAbortFlag(abort);
        resolver.SetHost(target);
        resolver.SetReceiveTimeout(timeout);
        resolver.ResetResult();
        resolver.DNSHeader.Flags = 0x0100;  // standard query, recursion desired
        resolver.DNSHeader.QDCount = 1;
        resolver.Questions.clear();
        resolver.Questions.push_back({name, DnsTypeA, DnsClassIN});
        const TStopwatch watch;
        resolver.RunQuery();
        elapsed = watch.Elapsed();
        return true;
    } catch (const EIdInvalidSocket& failure) {
        if (shortage && IsShortageError(failure.SystemError()))
            *shortage = failure.SystemError();
        return false;
    } catch (const EIdSocketError& failure) {
        if (shortage && failure.Code() == TIdStack::ErrorFromErrno(ENOBUFS))
            *shortage = ENOBUFS;
        return false;
    } catch (...) {
        return false;
    }
}

namespace {

// The server's address without asking anyone: what ResolveAddress takes
// as it stands, and the other numeric forms a lookup would only parse.
std::optional<TSocketAddress> NumericServer(const std::string& target, uint16_t port)
{
    return NumericSocketAddress(strcasecmp(target.c_str(), "localhost") == 0 ? "127.0.0.1" : target, port);
}

// One query in flight.
class TDNSQueryTry : public TSocketTry {
public:
    static void Start(TTryLoop& loop, TIdDNSResolver& resolver, const TSocketAddress& server, int32_t timeout,
                      const std::atomic<bool>* abort, const std::string& name, TDone done)
    {
        auto* query = new TDNSQueryTry(loop, resolver, std::move(done));
        query->Send(server, timeout, abort, name);
    }

private:
    TDNSQueryTry(TTryLoop& loop, TIdDNSResolver& resolver, TDone done)
        : TSocketTry(loop, std::move(done)), FResolver(resolver)
    {
    }

    void Send(const TSocketAddress& server, int32_t timeout, const std::atomic<bool>* abort, const std::string& name)
    {
        try {
            PrepareQuery(name);
        } catch (...) {
            TTryOutcome failed;
            failed.Cause = TTryCause::Other;
            EndSoon(failed);
            return;
        }
        // Connected, so that a datagram from any other address or port never arrives.
        if (!OpenSocket(server.Family(), SOCK_DGRAM) || connect(Socket(), server.Address(), server.Length) != 0
            || send(Socket(), FResolver.QueryPacket().data(), FResolver.QueryPacket().size(), 0) < 0
            || !WatchSocket([this] { Readable(); })) {
            FailSoon(errno);
            return;
        }
        StartDeadline(timeout, abort);
    }

    void PrepareQuery(const std::string& name)
    {
        FResolver.ResetResult();
        FResolver.DNSHeader.Flags = 0x0100;  // standard query, recursion desired
        FResolver.DNSHeader.QDCount = 1;
        FResolver.Questions.clear();
        FResolver.Questions.push_back({name, DnsTypeA, DnsClassIN});
        FResolver.BuildQuery();
    }

    // A server that only ever sent what does not fit the query did answer.
    TTryCause CauseAtItsDeadline(const std::atomic<bool>* abort) const override
    {
        const TTryCause cause = TSocketTry::CauseAtItsDeadline(abort);
        return cause == TTryCause::Timeout && FDroppedUnfitting ? TTryCause::BadReply : cause;
    }

    void Readable()
    {
        for (;;) {
            char datagram[8192];
            const ssize_t got = recv(Socket(), datagram, sizeof datagram, 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            if (got < 0) {
                TTryOutcome failed;
                failed.Cause = CauseOfError(errno);  // refused: nobody serves there
                End(failed);
                return;
            }
            switch (FResolver.Judge(std::string(datagram, static_cast<size_t>(got)))) {
            case TIdDNSResolver::TVerdict::NotTheReply:
                FDroppedUnfitting = true;
                continue;
            case TIdDNSResolver::TVerdict::Error: {
                TTryOutcome failed;
                failed.Cause = TTryCause::DnsAnswer;
                failed.DnsRcode = static_cast<uint8_t>(FResolver.DNSHeader.Flags & 0x000F);
                End(failed);
                return;
            }
            case TIdDNSResolver::TVerdict::Answer: {
                TTryOutcome answered;
                answered.Ok = true;
                answered.Elapsed = Elapsed();
                End(answered);
                return;
            }
            }
        }
    }

    TIdDNSResolver& FResolver;
    bool FDroppedUnfitting = false;
};

}  // namespace

void StartDNSQuery(TTryLoop& loop, TIdDNSResolver& resolver, const std::string& target, int32_t timeout,
                   const std::atomic<bool>* abort, std::function<void(const TTryOutcome& outcome)> done,
                   const std::string& name)
{
    if (const std::optional<TSocketAddress> server = NumericServer(target, static_cast<uint16_t>(resolver.Port()))) {
        TDNSQueryTry::Start(loop, resolver, *server, timeout, abort, name, std::move(done));
        return;
    }
    // A name: the blocking lookup and query on a thread of their own.
    TOffLoopTry::Start(loop, [&resolver, target, timeout, abort, name] {
        TTryOutcome outcome;
        outcome.Ok = MeasureDNSQuery(resolver, target, timeout, outcome.Elapsed, abort, &outcome.Shortage, name);
        if (!outcome.Ok)
            outcome.Cause = outcome.Shortage ? TTryCause::Shortage : TTryCause::Other;
        return outcome;
    }, std::move(done));
}
