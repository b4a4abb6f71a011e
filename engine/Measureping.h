#pragma once
// One Ping try: an ICMP echo request to a dotted IPv4 address, or an ICMPv6
// one to an IPv6 address.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

// True with the round-trip time in elapsed; elapsed untouched on failure. Waits
// at most timeout ms, less when abort turns true. *denied, where given, tells
// whether the try failed because this process may open neither an ICMP
// datagram socket nor a raw one; *shortage, where given, is set to the errno
// when the try could get no socket or buffer (engine/Shortage.h), else 0.
bool MeasurePing(const std::string& target, int32_t timeout, std::chrono::microseconds& elapsed,
                 const std::atomic<bool>* abort = nullptr, bool* denied = nullptr, int* shortage = nullptr);
