#pragma once
// One DNS-query try against the DNS server at target (a dotted IPv4 address).

#include <cstdint>
#include <string>

class TIdDNSResolver;

// The name asked for: stable, public, resolvable by every recursive server.
inline constexpr const char* DNSQueryHostName = "www.example.com";

// True with the elapsed milliseconds in ms; every error is a failed try.
bool MeasureDNSQuery(TIdDNSResolver& resolver, const std::string& target, int32_t timeout, uint32_t& ms);
