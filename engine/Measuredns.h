#pragma once
// One DNS-query try against the DNS server at target (a dotted IPv4 address,
// an IPv6 address or a name).

#include "engine/Tryoutcome.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class TIdDNSResolver;
class TTryLoop;

// The name asked for unless another is given: stable, public, resolvable
// by every recursive server.
inline constexpr const char* DNSQueryHostName = "www.example.com";

// A DNS-query item's server: a name, an IPv4 address, an IPv6 address bare
// or in brackets, asked on port 53; or "host:port" or "[IPv6]:port" with a
// port of 1-65535. None for any other text. A stored plan keeps the text as
// typed; the port travels in it.
struct TDnsServer {
    std::string Host;  // without brackets
    uint16_t Port = 53;
};
std::optional<TDnsServer> ParseDnsServer(const std::string& text);

// name is the host whose A record is asked for. True with the time of the query in elapsed; every error is a failed try.
// The wait for the reply ends early, as a failure, when abort turns true.
// *shortage, where given, is set to the errno when the try could get no
// socket or buffer (engine/Shortage.h), else 0.
bool MeasureDNSQuery(TIdDNSResolver& resolver, const std::string& target, int32_t timeout,
                     std::chrono::microseconds& elapsed, const std::atomic<bool>* abort = nullptr,
                     int* shortage = nullptr, const std::string& name = DNSQueryHostName);

// Loop thread: the same query on a non-blocking socket of its own that loop
// waits on; resolver builds the query and judges each datagram, and must
// outlive the try. done runs once, on the loop's thread, never before this
// returns. A target that is a name rather than an address is looked up and
// asked on a thread of its own, as the lookup may block.
void StartDNSQuery(TTryLoop& loop, TIdDNSResolver& resolver, const std::string& target, int32_t timeout,
                   const std::atomic<bool>* abort, std::function<void(const TTryOutcome& outcome)> done,
                   const std::string& name = DNSQueryHostName);
