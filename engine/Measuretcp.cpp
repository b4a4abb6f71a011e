#include "engine/Measuretcp.h"

#include "engine/Shortage.h"
#include "engine/Tryloop.h"
#include "vqlib/Vqnet.h"
#include "vqlib/Vqtick.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

// Numeric only, never a lookup; the zone of a link-local address kept.
std::optional<sockaddr_storage> NumericAddress(const std::string& address, uint16_t port, socklen_t& length)
{
    if (address.find('\0') != std::string::npos)
        return std::nullopt;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* answer = nullptr;
    if (getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &answer) != 0)
        return std::nullopt;
    sockaddr_storage result{};
    length = answer->ai_addrlen;
    std::memcpy(&result, answer->ai_addr, answer->ai_addrlen);
    freeaddrinfo(answer);
    return result;
}

// One connection being made: its socket, its deadline and what to tell.
class TTcpConnectTry {
public:
    using TDone = std::function<void(const TTryOutcome& outcome)>;

    static void Start(TTryLoop& loop, const sockaddr_storage& to, socklen_t length, int32_t timeout,
                      const std::atomic<bool>* abort, TDone done)
    {
        auto* attempt = new TTcpConnectTry(loop, std::move(done));
        attempt->Connect(to, length, timeout, abort);
    }

private:
    TTcpConnectTry(TTryLoop& loop, TDone done) : FLoop(loop), FDone(std::move(done)) {}

    ~TTcpConnectTry()
    {
        if (FSocket >= 0) {
            FLoop.Unwatch(FSocket);
            close(FSocket);
        }
    }

    void Connect(const sockaddr_storage& to, socklen_t length, int32_t timeout, const std::atomic<bool>* abort)
    {
        TTryOutcome failed;
        FSocket = socket(to.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (FSocket < 0) {
            failed.Shortage = IsShortageError(errno) ? errno : 0;
            failed.Cause = CauseOfError(errno);
            EndSoon(failed);
            return;
        }
        if (connect(FSocket, reinterpret_cast<const sockaddr*>(&to), length) == 0) {
            Established();  // loopback may connect at once
            return;
        }
        if (errno != EINPROGRESS || !FLoop.Watch(FSocket, [this] { Writable(); }, EPOLLOUT)) {
            failed.Shortage = IsShortageError(errno) ? errno : 0;
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

    void Writable()
    {
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(FSocket, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
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
        connected.Elapsed = FWatch.Elapsed();
        EndSoon(connected);
    }

    void EndSoon(const TTryOutcome& outcome)
    {
        if (FSocket >= 0) {
            FLoop.Unwatch(FSocket);
            close(FSocket);
            FSocket = -1;
        }
        if (FTimer) {
            FLoop.CancelTimer(FTimer);
            FTimer = 0;
        }
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
    TDone FDone;
    const TStopwatch FWatch;
    int FSocket = -1;
    TTryLoop::TTimerId FTimer = 0;
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
    socklen_t length = 0;
    const std::optional<sockaddr_storage> to = NumericAddress(address, port, length);
    if (!to) {
        TTryOutcome failed;
        failed.Cause = TTryCause::BadTarget;
        loop.AddTimer(TTryLoop::TTime{}, nullptr, [done = std::move(done), failed] { done(failed); });
        return;
    }
    TTcpConnectTry::Start(loop, *to, length, timeout, abort, std::move(done));
}
