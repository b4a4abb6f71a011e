#include "net/IdStack.h"

#include "net/IdException.h"
#include "vqlib/Vqnet.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <linux/errqueue.h>
#include <poll.h>
#include <sys/socket.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

std::mutex GStackLock;
std::unique_ptr<TIdStack> GStack;
int GUserCount = 0;

// The stack keeps no per-call state; the last error is the calling thread's.
thread_local int GLastError = 0;

int Fail(int error)
{
    GLastError = TIdStack::ErrorFromErrno(error);
    return Id_SOCKET_ERROR;
}

// A strict literal as it is; an IPv6 address with a zone ("fe80::1%eth0")
// through the numeric lookup, which keeps the zone inet_pton refuses.
std::optional<TSocketAddress> SocketAddress(const std::string& ip, int port)
{
    if (std::optional<TSocketAddress> strict = StrictSocketAddress(ip, static_cast<uint16_t>(port)))
        return strict;
    if (!IsIPv6Literal(ip))
        return std::nullopt;
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* answer = nullptr;
    const std::string service = std::to_string(static_cast<uint16_t>(port));
    if (getaddrinfo(ip.c_str(), service.c_str(), &hints, &answer) != 0)
        return std::nullopt;
    TSocketAddress result;
    std::memcpy(&result.Storage, answer->ai_addr, answer->ai_addrlen);
    result.Length = answer->ai_addrlen;
    freeaddrinfo(answer);
    return result;
}

std::string NumericText(const sockaddr_storage& address, socklen_t length)
{
    char text[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, text, sizeof text, nullptr, 0,
                    NI_NUMERICHOST) != 0)
        return "";
    return text;
}

int PortOf(const sockaddr_storage& address)
{
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

int LookupError(int eai, int systemError)
{
    switch (eai) {
    case EAI_AGAIN:
        return Id_WSATRY_AGAIN;
    case EAI_FAIL:
        return Id_WSANO_RECOVERY;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
        return Id_WSANO_DATA;
    case EAI_SYSTEM:
        return TIdStack::ErrorFromErrno(systemError);
    default:
        return Id_WSAHOST_NOT_FOUND;
    }
}

// An ICMP error queued by IP_RECVERR, or 0 when none is queued.
int TakeQueuedError(int handle)
{
    char data[64];
    char control[512];
    iovec iov{data, sizeof data};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    if (recvmsg(handle, &msg, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
        return 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if ((c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR)
            || (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR)) {
            sock_extended_err error{};
            std::memcpy(&error, CMSG_DATA(c), sizeof error);
            return error.ee_errno != 0 ? static_cast<int>(error.ee_errno) : EIO;
        }
    }
    return EIO;
}

void DrainErrorQueue(int handle)
{
    while (TakeQueuedError(handle) != 0) {
    }
}

}  // namespace

std::string TIdStack::ResolveAddress(const std::string& host)
{
    if (strcasecmp(host.c_str(), "LOCALHOST") == 0)
        return "127.0.0.1";
    if (StrictAddressFamily(host) == AF_INET || IsIPv6Literal(host))
        return host;
    std::optional<std::string> address = LookupHost(host);
    if (!address)
        RaiseSocketError(LastError());
    return *address;
}

int TIdStack::FamilyOf(const std::string& ip)
{
    if (StrictAddressFamily(ip) == AF_INET)
        return AF_INET;
    return IsIPv6Literal(ip) ? AF_INET6 : AF_UNSPEC;
}

void TIdStack::CheckResult(int result) const
{
    if (result == Id_SOCKET_ERROR)
        RaiseSocketError(LastError());
}

void TIdStack::RaiseSocketError(int code)
{
    char number[16];
    std::snprintf(number, sizeof number, "%d", code);
    throw EIdSocketError(code, std::string("Socket Error # ") + number + "\r\n" + SocketErrorText(code));
}

std::string TIdStack::SocketErrorText(int code)
{
    switch (code) {
    case 10004: return "Interrupted system call.";
    case 10009: return "Bad file number.";
    case 10013: return "Access denied.";
    case 10014: return "Bad address.";
    case 10022: return "Invalid argument.";
    case 10024: return "Too many open files.";
    case 10035: return "Operation would block.";
    case 10036: return "Operation now in progress.";
    case 10037: return "Operation already in progress.";
    case 10038: return "Socket operation on non-socket.";
    case 10039: return "Destination address required.";
    case 10040: return "Message too long.";
    case 10041: return "Protocol wrong type for socket.";
    case 10042: return "Bad protocol option.";
    case 10043: return "Protocol not supported.";
    case 10044: return "Socket type not supported.";
    case 10045: return "Operation not supported on socket.";
    case 10046: return "Protocol family not supported.";
    case 10047: return "Address family not supported by protocol family.";
    case 10048: return "Address already in use.";
    case 10049: return "Cannot assign requested address.";
    case 10050: return "Network is down.";
    case 10051: return "Network is unreachable.";
    case 10052: return "Net dropped connection or reset.";
    case 10053: return "Software caused connection abort.";
    case 10054: return "Connection reset by peer.";
    case 10055: return "No buffer space available.";
    case 10056: return "Socket is already connected.";
    case 10057: return "Socket is not connected.";
    case 10058: return "Cannot send or receive after socket is closed.";
    case 10059: return "Too many references, cannot splice.";
    case 10060: return "Connection timed out.";
    case 10061: return "Connection refused.";
    case 10062: return "Too many levels of symbolic links.";
    case 10063: return "File name too long.";
    case 10064: return "Host is down.";
    case 10065: return "No route to host.";
    case 10066: return "Directory not empty.";
    default: return "";
    }
}

int TIdStack::ErrorFromErrno(int error)
{
    switch (error) {
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES:
    case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE:
    case ENFILE: return 10024;
    case EWOULDBLOCK: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return 10054;
    case ENOBUFS: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    default: return error;  // no text: shown by number alone
    }
}

std::optional<timeval> TIdStack::TimeLimit(int32_t timeout)
{
    if (timeout == -2)
        return std::nullopt;
    timeval limit{};
    limit.tv_sec = timeout / 1000;
    limit.tv_usec = (timeout % 1000) * 1000;
    return limit;
}

TIdStack& TIdStack::Acquire()
{
    std::lock_guard<std::mutex> lock(GStackLock);
    if (!GStack)
        GStack = std::make_unique<TIdStackBSD>();
    ++GUserCount;
    return *GStack;
}

void TIdStack::Release()
{
    std::lock_guard<std::mutex> lock(GStackLock);
    if (GUserCount == 0)
        return;
    if (--GUserCount == 0)
        GStack.reset();
}

int TIdStack::UserCount()
{
    std::lock_guard<std::mutex> lock(GStackLock);
    return GUserCount;
}

bool TIdStack::Started()
{
    std::lock_guard<std::mutex> lock(GStackLock);
    return GStack != nullptr;
}

TIdStackBSD::TIdStackBSD() : TIdStack("BSD socket stack") {}

int TIdStackBSD::CreateSocket(int family)
{
    int handle = socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (handle < 0)
        return Fail(errno);
    // Without it an unconnected socket never hears of a refused port.
    int on = 1;
    if (family == AF_INET6)
        setsockopt(handle, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on);
    else
        setsockopt(handle, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    return handle;
}

int TIdStackBSD::SetBroadcast(int handle, bool enabled)
{
    int value = enabled ? -1 : 0;
    if (setsockopt(handle, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) < 0)
        return Fail(errno);
    return 0;
}

int TIdStackBSD::Connect(int handle, const std::string& ip, int port)
{
    std::optional<TSocketAddress> to = SocketAddress(ip, port);
    if (!to)
        return Fail(EINVAL);
    if (connect(handle, to->Address(), to->Length) < 0)
        return Fail(errno);
    return 0;
}

int TIdStackBSD::SendTo(int handle, const std::string& bytes, const std::string& ip, int port)
{
    std::optional<TSocketAddress> to = SocketAddress(ip, port);
    if (!to)
        return Fail(EINVAL);
    ssize_t sent = sendto(handle, bytes.data(), bytes.size(), 0, to->Address(), to->Length);
    if (sent < 0) {
        int error = errno;
        DrainErrorQueue(handle);
        return Fail(error);
    }
    return static_cast<int>(sent);
}

int TIdStackBSD::WaitForRead(int handle, int32_t timeout)
{
    std::optional<timeval> limit = TimeLimit(timeout);
    timespec wait{};
    if (limit) {
        if (limit->tv_sec < 0 || limit->tv_usec < 0)
            return Fail(EINVAL);
        wait.tv_sec = limit->tv_sec;
        wait.tv_nsec = limit->tv_usec * 1000;
    }
    // ppoll rather than select: no FD_SETSIZE bound on the handle.
    pollfd readable{handle, POLLIN, 0};
    int ready = ppoll(&readable, 1, limit ? &wait : nullptr, nullptr);
    if (ready < 0)
        return Fail(errno);
    return ready;
}

int TIdStackBSD::ReceiveFrom(int handle, std::string& buffer, std::string& peerIP, int& peerPort)
{
    sockaddr_storage from{};
    iovec iov{buffer.data(), buffer.size()};
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    // Never block: readiness may come from a queued error alone.
    ssize_t received = recvmsg(handle, &msg, MSG_DONTWAIT);
    if (received < 0) {
        int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK) {
            if (int queued = TakeQueuedError(handle))
                error = queued;
        }
        DrainErrorQueue(handle);
        return Fail(error);
    }
    if (msg.msg_flags & MSG_TRUNC)
        return Fail(EMSGSIZE);
    peerIP = NumericText(from, msg.msg_namelen);
    peerPort = PortOf(from);
    return static_cast<int>(received);
}

void TIdStackBSD::DiscardPending(int handle)
{
    // Bounded, so a peer that keeps sending cannot hold the try here.
    constexpr int MaxDiscarded = 1024;
    char scrap[1];
    for (int i = 0; i < MaxDiscarded; ++i) {
        if (recv(handle, scrap, sizeof scrap, MSG_DONTWAIT | MSG_TRUNC) >= 0)
            continue;
        // A reported ICMP error is consumed by the call; look further.
        if (errno != ECONNREFUSED && errno != EHOSTUNREACH && errno != ENETUNREACH)
            break;
    }
    DrainErrorQueue(handle);
}

void TIdStackBSD::Close(int handle)
{
    shutdown(handle, SHUT_WR);
    close(handle);
}

std::optional<std::string> TIdStackBSD::LookupHost(const std::string& host)
{
    THostAddress found = LookupHostAddress(host);
    if (!found.Address)
        GLastError = LookupError(found.Error, found.SystemError);
    return found.Address;
}

int TIdStackBSD::LastError() const
{
    return GLastError;
}
