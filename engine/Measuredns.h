#pragma once
// One DNS-query try against the DNS server at target (a dotted IPv4 address,
// an IPv6 address or a name).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

class TIdDNSResolver;

// The name asked for: stable, public, resolvable by every recursive server.
inline constexpr const char* DNSQueryHostName = "www.example.com";

// True with the time of the query in elapsed; every error is a failed try.
// The wait for the reply ends early, as a failure, when abort turns true.
// *shortage, where given, is set to the errno when the try could get no
// socket or buffer (engine/Shortage.h), else 0.
bool MeasureDNSQuery(TIdDNSResolver& resolver, const std::string& target, int32_t timeout,
                     std::chrono::microseconds& elapsed, const std::atomic<bool>* abort = nullptr,
                     int* shortage = nullptr);
