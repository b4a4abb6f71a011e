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
// datagram socket nor a raw one.
bool MeasurePing(const std::string& target, int32_t timeout, std::chrono::microseconds& elapsed,
                 const std::atomic<bool>* abort = nullptr, bool* denied = nullptr);
