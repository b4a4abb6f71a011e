#pragma once
// One Ping try: an ICMP echo request to a dotted IPv4 address, or an ICMPv6
// one to an IPv6 address, on the shared socket of its family.

#include "engine/Tryoutcome.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

class TTryLoop;

// Loop thread: sends the request on loop's shared socket and waits at most
// timeout ms, less when abort turns true; done runs once, on the loop's
// thread, never before this returns. The outcome tells whether the try failed
// because this process may open neither an ICMP datagram socket nor a raw one
// (Denied), or could get no socket or buffer (Shortage).
void StartPing(TTryLoop& loop, const std::string& target, int32_t timeout, const std::atomic<bool>* abort,
               std::function<void(const TTryOutcome& outcome)> done);

// The same from any thread but a loop's, waiting for the outcome: true with
// the round-trip time in elapsed; elapsed untouched on failure. *denied and
// *shortage, where given, are set from the outcome (0 for no shortage).
bool MeasurePing(const std::string& target, int32_t timeout, std::chrono::microseconds& elapsed,
                 const std::atomic<bool>* abort = nullptr, bool* denied = nullptr, int* shortage = nullptr);
