#pragma once
// One TCP-connect try: the time from asking for a connection to host:port
// until it is established, where ICMP is blocked or a service's own port is
// what matters. The connection is closed at once; nothing is sent.

#include "engine/Tryoutcome.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class TTryLoop;

// A TCP-connect item's destination: "host:port" (a name or an IPv4 literal)
// or "[IPv6]:port", the port 1-65535. None for any other text.
struct TTcpTarget {
    std::string Host;  // without brackets
    uint16_t Port = 0;
};
std::optional<TTcpTarget> ParseTcpTarget(const std::string& text);

// What keeps text from being a TCP-connect destination, so that the one who
// typed it can be told: no ":port" (also a bare IPv6 address), a port that is
// no number of 1-65535, or a host part that is empty or a bracketed text that
// is no IPv6 address. Whether a host name is well formed is not judged here.
enum class TTcpTargetFault { None, NoPort, BadPort, BadHost };
TTcpTargetFault TcpTargetFault(const std::string& text);

// Loop thread: connects to address (a numeric IPv4 or IPv6 address, an IPv6
// zone kept) at port and waits at most timeout ms, less when abort turns
// true; done runs once, on the loop's thread, never before this returns. A
// refusal, an unreachable network or the time limit fail the try.
void StartTcpConnect(TTryLoop& loop, const std::string& address, uint16_t port, int32_t timeout,
                     const std::atomic<bool>* abort, std::function<void(const TTryOutcome& outcome)> done);
