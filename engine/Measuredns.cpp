#include "engine/Measuredns.h"

#include "engine/Offlooptry.h"
#include "engine/Shortage.h"
#include "engine/Tryloop.h"
#include "net/IdDNSResolver.h"
#include "net/IdException.h"
#include "net/IdStack.h"
#include "vqlib/Vqtick.h"

#include <netdb.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

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
std::optional<sockaddr_storage> NumericServer(const std::string& target, uint16_t port, socklen_t& length)
{
    const std::string host = strcasecmp(target.c_str(), "localhost") == 0 ? "127.0.0.1" : target;
    if (host.find('\0') != std::string::npos)
        return std::nullopt;
    addrinfo hints{};
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* answer = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &answer) != 0)
        return std::nullopt;
    sockaddr_storage address{};
    length = answer->ai_addrlen;
    std::memcpy(&address, answer->ai_addr, answer->ai_addrlen);
    freeaddrinfo(answer);
    return address;
}

// One query in flight: its socket, its deadline and what to tell when it ends.
class TDNSQueryTry {
public:
    using TDone = std::function<void(const TTryOutcome& outcome)>;

    static void Start(TTryLoop& loop, TIdDNSResolver& resolver, const sockaddr_storage& server, socklen_t length,
                      int32_t timeout, const std::atomic<bool>* abort, const std::string& name, TDone done)
    {
        auto* query = new TDNSQueryTry(loop, resolver, std::move(done));
        query->Send(server, length, timeout, abort, name);
    }

private:
    TDNSQueryTry(TTryLoop& loop, TIdDNSResolver& resolver, TDone done)
        : FLoop(loop), FResolver(resolver), FDone(std::move(done))
    {
    }

    ~TDNSQueryTry()
    {
        if (FSocket >= 0) {
            FLoop.Unwatch(FSocket);
            close(FSocket);
        }
    }

    void Send(const sockaddr_storage& server, socklen_t length, int32_t timeout, const std::atomic<bool>* abort,
              const std::string& name)
    {
        TTryOutcome failed;
        failed.Cause = TTryCause::Other;
        try {
            PrepareQuery(name);
        } catch (...) {
            EndSoon(failed);
            return;
        }
        FSocket = socket(server.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        // Connected, so that a datagram from any other address or port never arrives.
        if (FSocket < 0 || connect(FSocket, reinterpret_cast<const sockaddr*>(&server), length) != 0
            || send(FSocket, FResolver.QueryPacket().data(), FResolver.QueryPacket().size(), 0) < 0
            || !FLoop.Watch(FSocket, [this] { Readable(); })) {
            if (IsShortageError(errno))
                failed.Shortage = errno;
            failed.Cause = CauseOfError(errno);
            EndSoon(failed);
            return;
        }
        FTimer = FLoop.AddTimer(std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeout, 0)),
                                abort, [this, abort] {
                                    FTimer = 0;
                                    TTryOutcome unanswered;
                                    unanswered.Cause = CauseAtDeadline(abort);
                                    End(unanswered);
                                });
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

    void Readable()
    {
        for (;;) {
            char datagram[8192];
            const ssize_t got = recv(FSocket, datagram, sizeof datagram, 0);
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
                answered.Elapsed = FWatch.Elapsed();
                End(answered);
                return;
            }
            }
        }
    }

    void EndSoon(const TTryOutcome& outcome)
    {
        FLoop.AddTimer(TTryLoop::TTime{}, nullptr, [this, outcome] { End(outcome); });
    }

    void End(const TTryOutcome& outcome)
    {
        if (FTimer)
            FLoop.CancelTimer(FTimer);
        TDone done = std::move(FDone);
        delete this;
        done(outcome);
    }

    TTryLoop& FLoop;
    TIdDNSResolver& FResolver;
    TDone FDone;
    const TStopwatch FWatch;
    int FSocket = -1;
    TTryLoop::TTimerId FTimer = 0;
};

}  // namespace

void StartDNSQuery(TTryLoop& loop, TIdDNSResolver& resolver, const std::string& target, int32_t timeout,
                   const std::atomic<bool>* abort, std::function<void(const TTryOutcome& outcome)> done,
                   const std::string& name)
{
    socklen_t length = 0;
    if (const std::optional<sockaddr_storage> server =
            NumericServer(target, static_cast<uint16_t>(resolver.Port()), length)) {
        TDNSQueryTry::Start(loop, resolver, *server, length, timeout, abort, name, std::move(done));
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
