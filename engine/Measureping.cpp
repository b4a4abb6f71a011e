#include "engine/Measureping.h"

#include "engine/Pingchannel.h"
#include "engine/Shortage.h"
#include "engine/Tryloop.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <system_error>

namespace {
const unsigned char kRequestData[] = {0x61, 0x62, 0x63, 0x64, 0x00};  // "abcd" and a zero byte

// Numeric only, never a lookup; the zone of a link-local address kept.
std::optional<sockaddr_in6> IPv6Target(const std::string& target)
{
    if (target.find(':') == std::string::npos)
        return std::nullopt;
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_RAW;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* answer = nullptr;
    if (getaddrinfo(target.c_str(), nullptr, &hints, &answer) != 0)
        return std::nullopt;
    sockaddr_in6 address{};
    std::memcpy(&address, answer->ai_addr, sizeof address);
    freeaddrinfo(answer);
    address.sin6_port = 0;  // a raw socket takes it for the protocol
    return address;
}

// The dotted form Ping has always taken (inet_addr's), or an IPv6 address.
bool PingTarget(const std::string& target, sockaddr_storage& address, socklen_t& length)
{
    address = {};
    if (const std::optional<sockaddr_in6> v6 = IPv6Target(target)) {
        std::memcpy(&address, &*v6, sizeof *v6);
        length = sizeof *v6;
        return true;
    }
    in_addr v4{};
    v4.s_addr = inet_addr(target.c_str());
    if (v4.s_addr == INADDR_NONE)
        return false;
    auto* to = reinterpret_cast<sockaddr_in*>(&address);
    to->sin_family = AF_INET;
    to->sin_addr = v4;
    length = sizeof *to;
    return true;
}

}  // namespace

void StartPing(TTryLoop& loop, const std::string& target, int32_t timeout, const std::atomic<bool>* abort,
               std::function<void(const TTryOutcome& outcome)> done)
{
    sockaddr_storage address{};
    socklen_t length = 0;
    if (!PingTarget(target, address, length)) {
        TTryOutcome failed;
        failed.Cause = TTryCause::BadTarget;
        loop.AddTimer(TTryLoop::TTime{}, nullptr, [done = std::move(done), failed] { done(failed); });
        return;
    }
    loop.PingChannel(address.ss_family)
        .Start(address, length, kRequestData, sizeof kRequestData, timeout, abort, std::move(done));
}

bool MeasurePing(const std::string& target, int32_t timeout, std::chrono::microseconds& elapsed,
                 const std::atomic<bool>* abort, bool* denied, int* shortage)
{
    std::mutex mutex;
    std::condition_variable ended;
    std::optional<TTryOutcome> outcome;
    TTryLoop* held = nullptr;
    try {
        held = &TTryLoop::Hold();
    } catch (const std::system_error& failure) {
        if (denied)
            *denied = false;
        if (shortage)
            *shortage = IsShortageError(failure.code().value()) ? failure.code().value() : 0;
        return false;
    }
    TTryLoop& loop = *held;
    try {
        loop.Post([&] {
            StartPing(loop, target, timeout, abort, [&](const TTryOutcome& result) {
                std::lock_guard lock(mutex);
                outcome = result;
                ended.notify_all();
            });
        });
    } catch (...) {
        loop.Release();
        throw;
    }
    std::unique_lock lock(mutex);
    ended.wait(lock, [&] { return outcome.has_value(); });
    lock.unlock();
    loop.Release();
    if (denied)
        *denied = outcome->Denied;
    if (shortage)
        *shortage = outcome->Shortage;
    if (outcome->Ok)
        elapsed = outcome->Elapsed;
    return outcome->Ok;
}
