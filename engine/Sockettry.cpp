#include "engine/Sockettry.h"

#include "engine/Shortage.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

std::optional<TSocketAddress> NumericSocketAddress(const std::string& address, uint16_t port)
{
    if (address.find('\0') != std::string::npos)
        return std::nullopt;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;  // one answer; the address is the same for every type
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* answer = nullptr;
    if (getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &answer) != 0)
        return std::nullopt;
    TSocketAddress result;
    result.Length = answer->ai_addrlen;
    std::memcpy(&result.Storage, answer->ai_addr, answer->ai_addrlen);
    freeaddrinfo(answer);
    return result;
}

TSocketTry::~TSocketTry() { CloseSocket(); }

bool TSocketTry::OpenSocket(int family, int type)
{
    FSocket = socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    return FSocket >= 0;
}

bool TSocketTry::WatchSocket(std::function<void()> ready, uint32_t events)
{
    return FLoop.Watch(FSocket, std::move(ready), events);
}

void TSocketTry::StartDeadline(int32_t timeout, const std::atomic<bool>* abort)
{
    const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeout, 0));
    FTimer = FLoop.AddTimer(due, abort, [this, abort] {
        FTimer = 0;
        TTryOutcome unanswered;
        unanswered.Cause = CauseAtItsDeadline(abort);
        End(unanswered);
    });
}

TTryCause TSocketTry::CauseAtItsDeadline(const std::atomic<bool>* abort) const { return CauseAtDeadline(abort); }

void TSocketTry::EndSoon(const TTryOutcome& outcome)
{
    CloseSocket();
    CancelDeadline();
    FLoop.AddTimer(TTryLoop::TTime{}, nullptr, [this, outcome] { End(outcome); });
}

void TSocketTry::FailSoon(int error)
{
    TTryOutcome failed;
    failed.Shortage = IsShortageError(error) ? error : 0;
    failed.Cause = CauseOfError(error);
    EndSoon(failed);
}

void TSocketTry::End(const TTryOutcome& outcome)
{
    CancelDeadline();
    TDone done = std::move(FDone);
    delete this;
    done(outcome);
}

void TSocketTry::CloseSocket()
{
    if (FSocket < 0)
        return;
    FLoop.Unwatch(FSocket);
    close(FSocket);
    FSocket = -1;
}

void TSocketTry::CancelDeadline()
{
    if (FTimer)
        FLoop.CancelTimer(FTimer);
    FTimer = 0;
}
