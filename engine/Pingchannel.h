#pragma once
// Every Ping try in flight of one address family, on one shared ICMP socket
// of a try loop: each reply and each ICMP error is matched to its try by
// sequence number (and, on a raw socket, by our identifier) and by the
// target's address; what matches no try in flight is dropped.

#include "engine/Icmpecho.h"
#include "engine/Tryloop.h"
#include "engine/Tryoutcome.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>

class TPingChannel {
public:
    using TDone = std::function<void(const TTryOutcome& outcome)>;
    // Replies that may arrive at once without being dropped.
    static constexpr int kReceiveBuffer = 4 << 20;

    TPingChannel(TTryLoop& loop, int family);
    ~TPingChannel();
    TPingChannel(const TPingChannel&) = delete;
    TPingChannel& operator=(const TPingChannel&) = delete;

    // Loop thread. Sends one request carrying data (which must outlive the
    // try) to target and waits at most timeout ms, less when *abort turns
    // true; done runs once on the loop thread, never before Start returns.
    void Start(const sockaddr_storage& target, socklen_t targetLength, const void* data, size_t size,
               int32_t timeout, const std::atomic<bool>* abort, TDone done);

    // What became of a request sent with a hop limit.
    struct TProbeAnswer {
        enum class TKind { Lost, Reply, TimeExceeded, Unreachable, Failed };
        TKind Kind = TKind::Lost;
        sockaddr_storage From{};  // who answered: the target, or a hop on the way to it
        std::chrono::microseconds Elapsed{0};
        TTryOutcome Failure;  // Failed: why the request could not be sent
    };
    using TProbeDone = std::function<void(const TProbeAnswer& answer)>;

    // The same as Start with hopLimit (1 to 255) as the request's time to
    // live: a hop on the way that answers with an ICMP error quoting the
    // request is an answer too, not a failure.
    void Probe(const sockaddr_storage& target, socklen_t targetLength, const void* data, size_t size, int hopLimit,
               int32_t timeout, const std::atomic<bool>* abort, TProbeDone done);

    size_t InFlight() const { return FPending.size(); }

private:
    struct TPending {
        sockaddr_in6 To{};  // or a sockaddr_in: thousands in flight, each kept small
        const void* Data = nullptr;
        size_t Size = 0;
        std::chrono::microseconds Sent{0};
        const std::atomic<bool>* Abort = nullptr;
        TTryLoop::TTimerId Timer = 0;
        TDone Done;            // a Ping try's
        TProbeDone ProbeDone;  // or a hop-limited request's
    };

    bool EnsureOpen();
    bool FreeSequence(uint16_t& sequence);
    void Begin(const sockaddr_storage& target, socklen_t targetLength, const void* data, size_t size, int hopLimit,
               int32_t timeout, const std::atomic<bool>* abort, TDone done, TProbeDone probeDone);
    void FailSoon(TDone done, TProbeDone probeDone, const TTryOutcome& outcome);
    void Drain();
    void Answered(TIcmpEcho::TRead read, const TIcmpEcho::TAnswer& answer);
    void End(uint16_t sequence, const TTryOutcome& outcome, const TProbeAnswer& probe);

    TTryLoop& FLoop;
    const int FFamily;
    std::unique_ptr<TIcmpEcho> FEcho;  // null until a try needs it; again when it could not be opened
    std::unordered_map<uint16_t, TPending> FPending;
    uint16_t FNextSequence = 1;
    unsigned FSentSinceDrain = 0;
};
