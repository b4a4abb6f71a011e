#pragma once
// The path to a destination, hop by hop: in each round an ICMP echo request
// with every hop limit from 1 up, all at once on the shared echo socket of
// the try loop; the hop that answers a request is the one whose time-exceeded
// (or unreachable) error quotes it, and the path ends at the first hop where
// the destination itself answers. Each hop keeps who answered, how many
// requests were sent and answered, and the times of the answers.

#include "engine/Tryoutcome.h"

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TPathHop {
    int Hop = 0;  // the hop limit, from 1
    std::vector<sockaddr_storage> Addresses;  // who answered, in the order first seen; none: silent
    unsigned Sent = 0;      // requests sent (a stop takes back those it cut short)
    unsigned Awaiting = 0;  // of those, still within their time limit
    unsigned Received = 0;  // answered
    std::chrono::microseconds Last{0};
    std::chrono::microseconds Best{0};
    std::chrono::microseconds Worst{0};
    double MeanMicroseconds = 0;
    double StdDevMicroseconds = 0;  // of a sample: 0 until two answers

    // Of the requests no longer awaited: one in flight is not lost yet.
    double LossPercent() const
    {
        const unsigned settled = Sent - Awaiting;
        return settled ? 100.0 * (settled - Received) / settled : 0.0;
    }
    bool Silent() const { return Addresses.empty(); }
};

struct TPathSetup {
    sockaddr_storage Target{};  // an IPv4 or IPv6 address (sockaddr_in, sockaddr_in6)
    int MaxHops = 30;
    int Rounds = 10;
    std::chrono::milliseconds Interval{1000};  // from one round's start to the next
    std::chrono::milliseconds Timeout{2000};   // how long a request's answer is awaited
};

struct TPathReport {
    // Hop 1 up to the destination; when it has not answered, up to the last
    // hop that did and one more (the first that did not), as far as MaxHops.
    std::vector<TPathHop> Hops;
    bool Reached = false;  // the destination answered
    int RoundsSent = 0;
    bool Finished = false;  // every round sent and answered or given up; or stopped
    bool Stopped = false;
    // Why no request could be sent (Denied: no right to ICMP sockets; Other).
    TTryCause Failure = TTryCause::None;
    int SystemError = 0;  // errno of that failure when known (a shortage), else 0
};

class TPathTrace {
public:
    // On the try loop's thread: after each round has been answered or given
    // up, and once more with Finished set. Never after the trace is destroyed.
    using TUpdate = std::function<void(const TPathReport& report)>;

    // Starts at once on the try loop of the calling thread's network
    // namespace. Throws std::system_error when the loop cannot be made.
    TPathTrace(const TPathSetup& setup, TUpdate update);
    // Stops and waits until no update runs any more.
    ~TPathTrace();
    TPathTrace(const TPathTrace&) = delete;
    TPathTrace& operator=(const TPathTrace&) = delete;

    // Any thread. Requests in flight are given up within a few milliseconds
    // and a last update with Finished and Stopped follows.
    void Stop();

private:
    struct TState;
    std::shared_ptr<TState> FState;
};

// The address in text ("10.0.0.1", "fd00::1", a scope as "%eth0").
std::string AddressText(const sockaddr_storage& address);
// Reads a literal IPv4 or IPv6 address; false when text is none.
bool ParseAddress(const std::string& text, sockaddr_storage& address);
