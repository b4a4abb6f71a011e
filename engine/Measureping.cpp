#include "engine/Measureping.h"

#include "engine/Icmpecho.h"
#include "engine/Shortage.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>
#include <optional>

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
    return address;
}

// What kept the echo from being made, for the caller.
void TellHindrance(const TIcmpEcho& echo, bool* denied, int* shortage)
{
    if (denied)
        *denied = echo.Denied();
    if (shortage && IsShortageError(echo.SystemError()))
        *shortage = echo.SystemError();
}

}  // namespace

bool MeasurePing(const std::string& target, int32_t timeout, std::chrono::microseconds& elapsed,
                 const std::atomic<bool>* abort, bool* denied, int* shortage)
{
    if (denied)
        *denied = false;
    if (shortage)
        *shortage = 0;
    if (const std::optional<sockaddr_in6> v6 = IPv6Target(target)) {
        TIcmpEcho echo(TIcmpEcho::TKind::Any, AF_INET6);  // one socket per try
        const bool ok = echo.Echo(*v6, kRequestData, sizeof kRequestData, timeout, elapsed, abort);
        TellHindrance(echo, denied, shortage);
        return ok;
    }
    in_addr address{};
    address.s_addr = inet_addr(target.c_str());
    if (address.s_addr == INADDR_NONE)
        return false;
    TIcmpEcho echo;  // one socket per try
    const bool ok = echo.Echo(address, kRequestData, sizeof kRequestData, timeout, elapsed, abort);
    TellHindrance(echo, denied, shortage);
    return ok;
}
