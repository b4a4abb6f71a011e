#include "engine/Icmpecho.h"

#include "vqlib/Vqtick.h"

#include <linux/errqueue.h>
#include <netinet/icmp6.h>
#include <netinet/ip.h>
#include <netinet/ip6.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr int kIcmpFilter = 1;  // ICMP_FILTER of linux/icmp.h, whose types clash with glibc's
constexpr int kAbortPollMs = 20;  // how long a wait may go on unaware of an abort
constexpr size_t kHeaderSize = 8;  // type, code, checksum, identifier, sequence
constexpr int kSendAttempts = 16;

std::atomic<uint16_t> nextSequence{1};
std::atomic<uint16_t> nextIdentifier{static_cast<uint16_t>(getpid() * 97)};

bool IsErrorType(uint8_t type)
{
    return type == ICMP_DEST_UNREACH || type == ICMP_SOURCE_QUENCH || type == ICMP_REDIRECT
        || type == ICMP_TIME_EXCEEDED || type == ICMP_PARAMETERPROB;
}

uint16_t Read16(const unsigned char* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// Skips the IP header that a raw socket hands over; null when malformed.
const unsigned char* SkipIpHeader(const unsigned char* packet, size_t& length)
{
    if (length < sizeof(iphdr))
        return nullptr;
    const size_t headerLength = (packet[0] & 0x0f) * 4u;
    if (headerLength < sizeof(iphdr) || headerLength > length)
        return nullptr;
    length -= headerLength;
    return packet + headerLength;
}

bool IsErrorTypeV6(uint8_t type)
{
    return type == ICMP6_DST_UNREACH || type == ICMP6_PACKET_TOO_BIG || type == ICMP6_TIME_EXCEEDED
        || type == ICMP6_PARAM_PROB;
}

TIcmpEcho::TError ErrorOfType(int family, uint8_t type)
{
    if (type == (family == AF_INET6 ? ICMP6_TIME_EXCEEDED : ICMP_TIME_EXCEEDED))
        return TIcmpEcho::TError::TimeExceeded;
    if (type == (family == AF_INET6 ? ICMP6_DST_UNREACH : ICMP_DEST_UNREACH))
        return TIcmpEcho::TError::Unreachable;
    return TIcmpEcho::TError::Other;
}

// The queued error's ICMP type and its sender, from the control messages
// that came with it.
void ReadExtendedError(msghdr& message, int family, TIcmpEcho::TAnswer& answer)
{
    answer.Error = TIcmpEcho::TError::Other;
    for (cmsghdr* part = CMSG_FIRSTHDR(&message); part; part = CMSG_NXTHDR(&message, part)) {
        const bool ours = (part->cmsg_level == SOL_IP && part->cmsg_type == IP_RECVERR)
            || (part->cmsg_level == SOL_IPV6 && part->cmsg_type == IPV6_RECVERR);
        if (!ours || part->cmsg_len < CMSG_LEN(sizeof(sock_extended_err)))
            continue;
        sock_extended_err error{};
        std::memcpy(&error, CMSG_DATA(part), sizeof error);
        if (error.ee_origin != SO_EE_ORIGIN_ICMP && error.ee_origin != SO_EE_ORIGIN_ICMP6)
            return;
        answer.Error = ErrorOfType(family, error.ee_type);
        // The sender's address follows the error in the same message.
        const size_t room = part->cmsg_len - CMSG_LEN(sizeof error);
        const size_t size = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        sockaddr_storage offender{};
        if (room >= size) {
            std::memcpy(&offender, CMSG_DATA(part) + sizeof error, size);
            if (offender.ss_family == family)
                answer.From = offender;
        }
        return;
    }
}

bool IsRightsError(int error) { return error == EPERM || error == EACCES; }

bool IsErrorOfAnEarlierRequest(int error)
{
    return error == EHOSTUNREACH || error == ENETUNREACH || error == ECONNREFUSED || error == EHOSTDOWN
        || error == EPROTO || error == EMSGSIZE || error == ETIMEDOUT;
}

void RestrictRawSocket(int fd)
{
    // Wake only for echo replies and errors, not for every request on the host.
    uint32_t blocked = ~0u;
    for (int type : {ICMP_ECHOREPLY, ICMP_DEST_UNREACH, ICMP_SOURCE_QUENCH, ICMP_REDIRECT, ICMP_TIME_EXCEEDED,
                     ICMP_PARAMETERPROB})
        blocked &= ~(1u << type);
    setsockopt(fd, SOL_RAW, kIcmpFilter, &blocked, sizeof blocked);
}

void RestrictRawSocketV6(int fd)
{
    icmp6_filter filter{};
    ICMP6_FILTER_SETBLOCKALL(&filter);
    for (int type : {ICMP6_ECHO_REPLY, ICMP6_DST_UNREACH, ICMP6_PACKET_TOO_BIG, ICMP6_TIME_EXCEEDED, ICMP6_PARAM_PROB})
        ICMP6_FILTER_SETPASS(type, &filter);
    setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
}

int OpenSocket(int family, int type)
{
    const int protocol = family == AF_INET6 ? static_cast<int>(IPPROTO_ICMPV6) : static_cast<int>(IPPROTO_ICMP);
    const int fd = socket(family, type | SOCK_CLOEXEC, protocol);
    if (fd < 0)
        return fd;
    const int one = 1;
    if (type == SOCK_DGRAM) {
        // ICMP errors about our requests arrive on the error queue.
        if (family == AF_INET6)
            setsockopt(fd, SOL_IPV6, IPV6_RECVERR, &one, sizeof one);
        else
            setsockopt(fd, SOL_IP, IP_RECVERR, &one, sizeof one);
    } else if (family == AF_INET6) {
        RestrictRawSocketV6(fd);
    } else {
        RestrictRawSocket(fd);
    }
    return fd;
}

}  // namespace

bool SameAddress(const sockaddr_storage& a, const sockaddr_storage& b)
{
    if (a.ss_family != b.ss_family)
        return false;
    if (a.ss_family == AF_INET6)
        return IN6_ARE_ADDR_EQUAL(&reinterpret_cast<const sockaddr_in6*>(&a)->sin6_addr,
                                  &reinterpret_cast<const sockaddr_in6*>(&b)->sin6_addr);
    return reinterpret_cast<const sockaddr_in*>(&a)->sin_addr.s_addr
        == reinterpret_cast<const sockaddr_in*>(&b)->sin_addr.s_addr;
}

struct TIcmpEcho::TRequest {
    sockaddr_storage To{};
    socklen_t ToLength = 0;
    uint16_t Sequence = 0;
    const void* Data = nullptr;
    size_t Size = 0;
};

uint16_t IcmpChecksum(const void* data, size_t length)
{
    const auto* p = static_cast<const unsigned char*>(data);
    uint32_t sum = 0;
    for (; length > 1; p += 2, length -= 2)
        sum += static_cast<uint32_t>(p[0] << 8 | p[1]);
    if (length == 1)
        sum += static_cast<uint32_t>(p[0] << 8);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

TIcmpEcho::TIcmpEcho(TKind kind, int family) : FFamily(family)
{
    int datagramError = 0;
    if (kind != TKind::Raw) {
        FSocket = OpenSocket(family, SOCK_DGRAM);
        datagramError = FSocket < 0 ? errno : 0;
        FKind = TKind::Datagram;
    }
    if (FSocket < 0 && kind != TKind::Datagram) {
        FSocket = OpenSocket(family, SOCK_RAW);
        FKind = TKind::Raw;
    }
    if (FSocket < 0) {
        FOpenError = kind == TKind::Datagram ? datagramError : errno;
        FKind = kind;
        FDenied = IsRightsError(FOpenError) && (kind != TKind::Any || IsRightsError(datagramError));
    }
    FIdentifier = nextIdentifier.fetch_add(1);
}

TIcmpEcho::~TIcmpEcho()
{
    if (FSocket >= 0)
        close(FSocket);
}

bool TIcmpEcho::Echo(in_addr target, const void* data, size_t size, int32_t timeout,
                     std::chrono::microseconds& elapsed, const std::atomic<bool>* abort)
{
    if (FFamily != AF_INET)
        return false;
    TRequest request{{}, sizeof(sockaddr_in), 0, data, size};
    auto* to = reinterpret_cast<sockaddr_in*>(&request.To);
    to->sin_family = AF_INET;
    to->sin_addr = target;
    return EchoTo(request, timeout, elapsed, abort);
}

bool TIcmpEcho::Echo(const sockaddr_in6& target, const void* data, size_t size, int32_t timeout,
                     std::chrono::microseconds& elapsed, const std::atomic<bool>* abort)
{
    if (FFamily != AF_INET6)
        return false;
    TRequest request{{}, sizeof(sockaddr_in6), 0, data, size};
    std::memcpy(&request.To, &target, sizeof target);
    reinterpret_cast<sockaddr_in6*>(&request.To)->sin6_port = 0;  // a raw socket takes it for the protocol
    return EchoTo(request, timeout, elapsed, abort);
}

bool TIcmpEcho::SetHopLimit(int hopLimit)
{
    // -1 gives the system's own back.
    if (FFamily == AF_INET6)
        return setsockopt(FSocket, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &hopLimit, sizeof hopLimit) == 0;
    return setsockopt(FSocket, IPPROTO_IP, IP_TTL, &hopLimit, sizeof hopLimit) == 0;
}

bool TIcmpEcho::Send(const sockaddr_storage& to, socklen_t toLength, uint16_t sequence, const void* data,
                     size_t size, int hopLimit)
{
    if (!IsOpen())
        return false;
    if (hopLimit > 0) {
        // Set for this request alone: the socket is shared with other tries.
        if (hopLimit > 255 || !SetHopLimit(hopLimit)) {
            FSendError = hopLimit > 255 ? EINVAL : errno;
            return false;
        }
        const bool sent = Send(to, toLength, sequence, data, size, 0);
        const int sendError = FSendError;
        SetHopLimit(-1);
        FSendError = sendError;
        return sent;
    }
    unsigned char packet[sizeof FPacket];
    if (kHeaderSize + size > sizeof packet) {
        FSendError = EMSGSIZE;
        return false;
    }
    std::memset(packet, 0, kHeaderSize);
    packet[0] = FFamily == AF_INET6 ? ICMP6_ECHO_REQUEST : ICMP_ECHO;
    packet[4] = static_cast<unsigned char>(FIdentifier >> 8);
    packet[5] = static_cast<unsigned char>(FIdentifier);
    packet[6] = static_cast<unsigned char>(sequence >> 8);
    packet[7] = static_cast<unsigned char>(sequence);
    std::memcpy(packet + kHeaderSize, data, size);
    // The kernel sums ICMPv6 itself: the sum covers a pseudo-header of addresses it picks.
    if (FFamily == AF_INET) {
        const uint16_t checksum = IcmpChecksum(packet, kHeaderSize + size);
        packet[2] = static_cast<unsigned char>(checksum >> 8);
        packet[3] = static_cast<unsigned char>(checksum);
    }
    for (int attempt = 0;; ++attempt) {
        if (sendto(FSocket, packet, kHeaderSize + size, 0, reinterpret_cast<const sockaddr*>(&to), toLength) >= 0)
            return true;
        // A datagram socket fails the send after an ICMP error with that
        // error, though it was about an earlier request (to another target,
        // perhaps): the error is cleared by that, and the send is made again.
        // More may arrive meanwhile: a path's hops answer in a burst.
        if (attempt >= kSendAttempts - 1 || FKind != TKind::Datagram || !IsErrorOfAnEarlierRequest(errno)) {
            FSendError = errno;
            return false;
        }
    }
}

void TIcmpEcho::EnlargeReceiveBuffer(int bytes)
{
    if (!IsOpen())
        return;
    if (setsockopt(FSocket, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        setsockopt(FSocket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

bool TIcmpEcho::EchoTo(const TRequest& requestTo, int32_t timeout, std::chrono::microseconds& elapsed,
                       const std::atomic<bool>* abort)
{
    if (!IsOpen())
        return false;
    TRequest request = requestTo;
    request.Sequence = nextSequence.fetch_add(1);
    const TStopwatch watch;
    if (!Send(request.To, request.ToLength, request.Sequence, request.Data, request.Size))
        return false;

    for (;;) {
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(watch.Elapsed()).count();
        if (timeout <= 0 || waited >= timeout)
            return false;
        if (abort && abort->load())
            return false;
        int wait = static_cast<int>(timeout - waited);
        if (abort)
            wait = std::min(wait, kAbortPollMs);
        pollfd pfd{FSocket, POLLIN, 0};
        const int ready = poll(&pfd, 1, wait);
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready <= 0)
            continue;
        for (;;) {
            TAnswer answer;
            const TRead read = ReadOne(answer);
            if (read == TRead::Nothing)
                break;
            if (read == TRead::Other || answer.Sequence != request.Sequence || !SameAddress(answer.Peer, request.To))
                continue;
            if (read == TRead::Error)
                return false;
            if (answer.Size == request.Size && std::memcmp(answer.Data, request.Data, request.Size) == 0) {
                elapsed = watch.Elapsed();
                return true;
            }
        }
    }
}

TIcmpEcho::TRead TIcmpEcho::ReadOne(TAnswer& answer)
{
    if (!IsOpen())
        return TRead::Nothing;
    sockaddr_storage from{};
    socklen_t fromLength = sizeof from;
    const ssize_t got =
        recvfrom(FSocket, FPacket, sizeof FPacket, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (got >= 0)
        return Classify(FPacket, static_cast<size_t>(got), from, answer);
    if (errno == EINTR)
        return TRead::Other;
    // A datagram socket hears of errors about its requests on its error queue.
    if (FKind == TKind::Datagram)
        return ReadQueuedError(answer);
    return TRead::Nothing;
}

TIcmpEcho::TRead TIcmpEcho::ReadQueuedError(TAnswer& answer)
{
    // The queued error carries our request as sent: its ICMP header first,
    // addressed to the destination it names.
    sockaddr_storage to{};
    iovec part{FPacket, sizeof FPacket};
    unsigned char control[512];
    msghdr message{};
    message.msg_name = &to;
    message.msg_namelen = sizeof to;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(FSocket, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (got < 0)
        return errno == EINTR ? TRead::Other : TRead::Nothing;
    if (static_cast<size_t>(got) < kHeaderSize || message.msg_namelen == 0)
        return TRead::Other;
    answer.Sequence = Read16(FPacket + 6);
    answer.Peer = to;
    ReadExtendedError(message, FFamily, answer);
    return TRead::Error;
}

TIcmpEcho::TRead TIcmpEcho::Classify(const unsigned char* packet, size_t length, const sockaddr_storage& from,
                                     TAnswer& answer) const
{
    const bool raw = FKind == TKind::Raw;
    const bool v6 = FFamily == AF_INET6;
    // A raw IPv6 socket hands over no IP header; a raw IPv4 one does.
    const unsigned char* icmp = raw && !v6 ? SkipIpHeader(packet, length) : packet;
    if (!icmp || length < kHeaderSize)
        return TRead::Other;
    const uint8_t type = icmp[0];
    if (type == (v6 ? ICMP6_ECHO_REPLY : ICMP_ECHOREPLY)) {
        // The kernel rewrites the identifier of a datagram socket's request;
        // there only the socket's own replies arrive. A raw socket sees every
        // reply on the host, so the identifier must be ours as well.
        if (raw && Read16(icmp + 4) != FIdentifier)
            return TRead::Other;
        answer.Sequence = Read16(icmp + 6);
        answer.Peer = from;
        answer.From = from;
        answer.Data = icmp + kHeaderSize;
        answer.Size = length - kHeaderSize;
        return TRead::Reply;
    }
    // A datagram socket hears of errors on its error queue instead.
    if (raw && (v6 ? IsErrorTypeV6(type) : IsErrorType(type)) && QuotedRequest(icmp, length, answer)) {
        answer.From = from;
        answer.Error = ErrorOfType(FFamily, type);
        return TRead::Error;
    }
    return TRead::Other;
}

bool TIcmpEcho::QuotedRequest(const unsigned char* icmp, size_t length, TAnswer& answer) const
{
    // The error quotes our request: its IP header and at least 8 bytes more.
    const unsigned char* quotedIp = icmp + kHeaderSize;
    size_t quotedLength = length - kHeaderSize;
    const unsigned char* quoted = nullptr;
    sockaddr_storage destination{};
    destination.ss_family = static_cast<sa_family_t>(FFamily);
    if (FFamily == AF_INET6) {
        // Ours carries no extension headers: the ICMPv6 header follows at once.
        constexpr size_t kIp6HeaderSize = sizeof(ip6_hdr);
        if (quotedLength < kIp6HeaderSize + kHeaderSize || quotedIp[6] != IPPROTO_ICMPV6)
            return false;
        quoted = quotedIp + kIp6HeaderSize;
        std::memcpy(&reinterpret_cast<sockaddr_in6*>(&destination)->sin6_addr, quotedIp + 24, sizeof(in6_addr));
    } else {
        quoted = SkipIpHeader(quotedIp, quotedLength);
        if (!quoted || quotedLength < kHeaderSize)
            return false;
        std::memcpy(&reinterpret_cast<sockaddr_in*>(&destination)->sin_addr, quotedIp + 16, sizeof(in_addr));
    }
    const uint8_t echoRequest = FFamily == AF_INET6 ? ICMP6_ECHO_REQUEST : ICMP_ECHO;
    if (quoted[0] != echoRequest || Read16(quoted + 4) != FIdentifier)
        return false;
    answer.Sequence = Read16(quoted + 6);
    answer.Peer = destination;
    return true;
}
