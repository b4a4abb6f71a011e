#include "engine/Measuretcp.h"

#include "engine/Sockettry.h"
#include "engine/Tryloop.h"
#include "vqlib/Vqnet.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace {

std::optional<uint16_t> ParsePort(const std::string& text)
{
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int port = std::stoi(text);
    if (port < 1 || port > 65535)
        return std::nullopt;
    return static_cast<uint16_t>(port);
}

struct THostAndPort {
    std::string Host;  // without brackets
    std::string Port;
    bool Bracketed = false;
};

// "host:port" with one colon, or "[host]:port"; none without the separator.
std::optional<THostAndPort> SplitHostAndPort(const std::string& text)
{
    THostAndPort split;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return std::nullopt;
        split.Host = text.substr(1, close - 1);
        split.Port = text.substr(close + 2);
        split.Bracketed = true;
        return split;
    }
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || text.find(':') != colon)
        return std::nullopt;
    split.Host = text.substr(0, colon);
    split.Port = text.substr(colon + 1);
    return split;
}

// One connection being made.
class TTcpConnectTry : public TSocketTry {
public:
    static void Start(TTryLoop& loop, const TSocketAddress& to, int32_t timeout, const std::atomic<bool>* abort,
                      TDone done)
    {
        auto* attempt = new TTcpConnectTry(loop, std::move(done));
        attempt->Connect(to, timeout, abort);
    }

private:
    using TSocketTry::TSocketTry;

    void Connect(const TSocketAddress& to, int32_t timeout, const std::atomic<bool>* abort)
    {
        if (!OpenSocket(to.Family(), SOCK_STREAM)) {
            FailSoon(errno);
            return;
        }
        if (connect(Socket(), to.Address(), to.Length) == 0) {
            Established();  // loopback may connect at once
            return;
        }
        if (errno != EINPROGRESS || !WatchSocket([this] { Writable(); }, EPOLLOUT)) {
            FailSoon(errno);
            return;
        }
        StartDeadline(timeout, abort);
    }

    void Writable()
    {
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(Socket(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
            TTryOutcome failed;
            failed.Cause = CauseOfError(error ? error : errno);  // refused, unreachable
            End(failed);
            return;
        }
        Established();
    }

    void Established()
    {
        TTryOutcome connected;
        connected.Ok = true;
        connected.Elapsed = Elapsed();
        EndSoon(connected);
    }
};

}  // namespace

TTcpTargetFault TcpTargetFault(const std::string& text)
{
    const std::optional<THostAndPort> split = SplitHostAndPort(text);
    if (!split || split->Port.empty())
        return TTcpTargetFault::NoPort;
    if (split->Host.empty() || (split->Bracketed && !IsIPv6Literal(split->Host))
        || split->Host.find('\0') != std::string::npos)
        return TTcpTargetFault::BadHost;
    if (!ParsePort(split->Port))
        return TTcpTargetFault::BadPort;
    return TTcpTargetFault::None;
}

std::optional<TTcpTarget> ParseTcpTarget(const std::string& text)
{
    if (TcpTargetFault(text) != TTcpTargetFault::None)
        return std::nullopt;
    THostAndPort split = *SplitHostAndPort(text);
    return TTcpTarget{std::move(split.Host), *ParsePort(split.Port)};
}

void StartTcpConnect(TTryLoop& loop, const std::string& address, uint16_t port, int32_t timeout,
                     const std::atomic<bool>* abort, std::function<void(const TTryOutcome& outcome)> done)
{
    const std::optional<TSocketAddress> to = NumericSocketAddress(address, port);
    if (!to) {
        TTryOutcome failed;
        failed.Cause = TTryCause::BadTarget;
        loop.AddTimer(TTryLoop::TTime{}, nullptr, [done = std::move(done), failed] { done(failed); });
        return;
    }
    TTcpConnectTry::Start(loop, *to, timeout, abort, std::move(done));
}
