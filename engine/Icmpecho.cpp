#include "engine/Icmpecho.h"

#include "vqlib/Vqtick.h"

#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

constexpr int kIcmpFilter = 1;  // ICMP_FILTER of linux/icmp.h, whose types clash with glibc's
constexpr int kAbortPollMs = 20;  // how long a wait may go on unaware of an abort
constexpr size_t kHeaderSize = 8;  // type, code, checksum, identifier, sequence

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

bool IsRightsError(int error) { return error == EPERM || error == EACCES; }

void RestrictRawSocket(int fd)
{
    // Wake only for echo replies and errors, not for every request on the host.
    uint32_t blocked = ~0u;
    for (int type : {ICMP_ECHOREPLY, ICMP_DEST_UNREACH, ICMP_SOURCE_QUENCH, ICMP_REDIRECT, ICMP_TIME_EXCEEDED,
                     ICMP_PARAMETERPROB})
        blocked &= ~(1u << type);
    setsockopt(fd, SOL_RAW, kIcmpFilter, &blocked, sizeof blocked);
}

}  // namespace

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

TIcmpEcho::TIcmpEcho(TKind kind)
{
    int datagramError = 0;
    if (kind != TKind::Raw) {
        FSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
        datagramError = FSocket < 0 ? errno : 0;
        FKind = TKind::Datagram;
        // ICMP errors about our requests arrive on the error queue.
        const int one = 1;
        if (FSocket >= 0)
            setsockopt(FSocket, SOL_IP, IP_RECVERR, &one, sizeof one);
    }
    if (FSocket < 0 && kind != TKind::Datagram) {
        FSocket = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        FKind = TKind::Raw;
        if (FSocket >= 0)
            RestrictRawSocket(FSocket);
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
    if (!IsOpen())
        return false;
    const uint16_t sequence = nextSequence.fetch_add(1);
    std::vector<unsigned char> request(kHeaderSize + size);
    request[0] = ICMP_ECHO;
    request[4] = static_cast<unsigned char>(FIdentifier >> 8);
    request[5] = static_cast<unsigned char>(FIdentifier);
    request[6] = static_cast<unsigned char>(sequence >> 8);
    request[7] = static_cast<unsigned char>(sequence);
    std::memcpy(request.data() + kHeaderSize, data, size);
    const uint16_t checksum = IcmpChecksum(request.data(), request.size());
    request[2] = static_cast<unsigned char>(checksum >> 8);
    request[3] = static_cast<unsigned char>(checksum);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = target;
    const TStopwatch watch;
    if (sendto(FSocket, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
        return false;

    unsigned char reply[1500];
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
        if (pfd.revents & POLLERR)
            return false;  // an ICMP error about our request (datagram socket)
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got =
            recvfrom(FSocket, reply, sizeof reply, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            return false;
        }
        switch (Classify(reply, static_cast<size_t>(got), from, target, sequence, data, size)) {
        case TAnswer::Reply:
            elapsed = watch.Elapsed();
            return true;
        case TAnswer::Error:
            return false;
        case TAnswer::None:
            break;
        }
    }
}

TIcmpEcho::TAnswer TIcmpEcho::Classify(const unsigned char* packet, size_t length, const sockaddr_in& from,
                                       in_addr target, uint16_t sequence, const void* data, size_t size) const
{
    const bool raw = FKind == TKind::Raw;
    const unsigned char* icmp = raw ? SkipIpHeader(packet, length) : packet;
    if (!icmp || length < kHeaderSize)
        return TAnswer::None;
    const uint8_t type = icmp[0];

    if (type == ICMP_ECHOREPLY) {
        // The kernel rewrites the identifier of a datagram socket's request;
        // there only the socket's own replies arrive. A raw socket sees every
        // reply on the host, so the identifier must be ours as well.
        if (from.sin_addr.s_addr != target.s_addr || Read16(icmp + 6) != sequence)
            return TAnswer::None;
        if (raw && Read16(icmp + 4) != FIdentifier)
            return TAnswer::None;
        if (length != kHeaderSize + size || std::memcmp(icmp + kHeaderSize, data, size) != 0)
            return TAnswer::None;
        return TAnswer::Reply;
    }

    if (raw && IsErrorType(type)) {
        // The error quotes our request: its IP header and first 8 bytes.
        size_t quotedLength = length - kHeaderSize;
        const unsigned char* quotedIp = icmp + kHeaderSize;
        const unsigned char* quoted = SkipIpHeader(quotedIp, quotedLength);
        if (!quoted || quotedLength < kHeaderSize)
            return TAnswer::None;
        in_addr quotedTarget{};
        std::memcpy(&quotedTarget, quotedIp + 16, sizeof quotedTarget);
        if (quoted[0] == ICMP_ECHO && Read16(quoted + 4) == FIdentifier && Read16(quoted + 6) == sequence
            && quotedTarget.s_addr == target.s_addr)
            return TAnswer::Error;
    }
    return TAnswer::None;
}
