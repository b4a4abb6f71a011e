#pragma once
// Our ICMP echo facility: echo requests to IPv4 addresses (ICMP) or IPv6
// addresses (ICMPv6) and the replies and errors that answer them, either one
// request awaited at a time (Echo) or many in flight on one socket (Send and
// ReadOne, engine/Pingchannel.h). It uses a datagram socket where
// the system allows them (net.ipv4.ping_group_range, which governs ICMPv6
// too), else a raw socket (which needs the right to open one).

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

class TIcmpEcho {
public:
    enum class TKind { Any, Datagram, Raw };

    // Opens a socket of the kind asked for; Any tries a datagram socket first.
    // family: AF_INET (ICMP) or AF_INET6 (ICMPv6).
    explicit TIcmpEcho(TKind kind = TKind::Any, int family = AF_INET);
    ~TIcmpEcho();
    TIcmpEcho(const TIcmpEcho&) = delete;
    TIcmpEcho& operator=(const TIcmpEcho&) = delete;

    bool IsOpen() const { return FSocket >= 0; }
    TKind Kind() const { return FKind; }
    int Family() const { return FFamily; }
    int OpenError() const { return FOpenError; }  // errno of the failed open
    // errno of the failed open, else of the last request that could not be sent; 0: none.
    int SystemError() const { return FOpenError ? FOpenError : FSendError; }
    // Not open for want of rights: no socket of the kinds asked for may be
    // opened by this process (EPERM or EACCES for each).
    bool Denied() const { return FDenied; }

    // Sends one request carrying data (no IP options) and waits at most
    // timeout ms, less when *abort turns true. True with the round-trip time
    // in elapsed when an echo reply from target with our sequence number and
    // data arrived; an ICMP error about our request is a failure at once.
    bool Echo(in_addr target, const void* data, size_t size, int32_t timeout, std::chrono::microseconds& elapsed,
              const std::atomic<bool>* abort = nullptr);
    // The same over ICMPv6, on a socket opened for AF_INET6; the target's
    // scope (zone) counts for a link-local address.
    bool Echo(const sockaddr_in6& target, const void* data, size_t size, int32_t timeout,
              std::chrono::microseconds& elapsed, const std::atomic<bool>* abort = nullptr);

    // What a socket had waiting: nothing, a packet that is none of ours, an
    // echo reply or an ICMP error about one of our requests.
    enum class TRead { Nothing, Other, Reply, Error };
    // What an ICMP error says of the request it quotes.
    enum class TError { None, TimeExceeded, Unreachable, Other };
    struct TAnswer {
        uint16_t Sequence = 0;
        sockaddr_storage Peer{};  // the reply's source, or the errored request's destination
        sockaddr_storage From{};  // who sent the reply or the error
        TError Error = TError::None;
        const unsigned char* Data = nullptr;  // a reply's data, valid until the next read
        size_t Size = 0;
    };

    int Socket() const { return FSocket; }
    // Sends one request with sequence and data, with hopLimit as its time to
    // live when above 0 (else the system's); false with SystemError set.
    bool Send(const sockaddr_storage& to, socklen_t toLength, uint16_t sequence, const void* data, size_t size,
              int hopLimit = 0);
    // Takes one waiting packet or queued error without blocking.
    TRead ReadOne(TAnswer& answer);
    // A bigger receive buffer, so that a burst of replies is not dropped;
    // beyond the system's limit only with CAP_NET_ADMIN.
    void EnlargeReceiveBuffer(int bytes);

private:
    struct TRequest;
    bool EchoTo(const TRequest& request, int32_t timeout, std::chrono::microseconds& elapsed,
                const std::atomic<bool>* abort);
    TRead Classify(const unsigned char* packet, size_t length, const sockaddr_storage& from, TAnswer& answer) const;
    TRead ReadQueuedError(TAnswer& answer);
    bool QuotedRequest(const unsigned char* icmp, size_t length, TAnswer& answer) const;
    bool SetHopLimit(int hopLimit);

    int FSocket = -1;
    TKind FKind = TKind::Any;
    int FFamily = AF_INET;
    int FOpenError = 0;
    int FSendError = 0;
    bool FDenied = false;
    uint16_t FIdentifier = 0;  // ours on a raw socket; the kernel's on a datagram one
    unsigned char FPacket[1500];
};

// Whether a and b hold the same address (ports and scopes aside).
bool SameAddress(const sockaddr_storage& a, const sockaddr_storage& b);

// The internet checksum of RFC 1071 over length bytes.
uint16_t IcmpChecksum(const void* data, size_t length);
