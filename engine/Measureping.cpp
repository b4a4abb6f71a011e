#include "engine/Measureping.h"

#include "engine/Icmpecho.h"

#include <arpa/inet.h>

namespace {
const unsigned char kRequestData[] = {0x61, 0x62, 0x63, 0x64, 0x00};  // "abcd" and a zero byte
}

bool MeasurePing(const std::string& target, int32_t timeout, std::chrono::microseconds& elapsed,
                 const std::atomic<bool>* abort, bool* denied)
{
    if (denied)
        *denied = false;
    in_addr address{};
    address.s_addr = inet_addr(target.c_str());
    if (address.s_addr == INADDR_NONE)
        return false;
    TIcmpEcho echo;  // one socket per try
    if (denied)
        *denied = echo.Denied();
    return echo.Echo(address, kRequestData, sizeof kRequestData, timeout, elapsed, abort);
}
