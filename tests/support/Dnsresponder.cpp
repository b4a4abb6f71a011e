#include "tests/support/Dnsresponder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <system_error>

namespace dnsmsg {

std::string Word(uint16_t value)
{
    return {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

std::string Long(uint32_t value)
{
    return Word(static_cast<uint16_t>(value >> 16)) + Word(static_cast<uint16_t>(value & 0xFFFF));
}

std::string Name(const std::string& dotted)
{
    std::string bytes;
    size_t start = 0;
    while (start < dotted.size()) {
        size_t dot = dotted.find('.', start);
        if (dot == std::string::npos)
            dot = dotted.size();
        bytes += static_cast<char>(dot - start);
        bytes += dotted.substr(start, dot - start);
        start = dot + 1;
    }
    return bytes + '\0';
}

std::string Pointer(uint16_t offset)
{
    return Word(static_cast<uint16_t>(0xC000 | offset));
}

std::string Header(uint16_t id, uint16_t flags, uint16_t qd, uint16_t an, uint16_t ns, uint16_t ar)
{
    return Word(id) + Word(flags) + Word(qd) + Word(an) + Word(ns) + Word(ar);
}

std::string Question(const std::string& name, uint16_t type, uint16_t qclass)
{
    return name + Word(type) + Word(qclass);
}

std::string Record(const std::string& name, uint16_t type, uint32_t ttl, const std::string& data, uint16_t rclass)
{
    return name + Word(type) + Word(rclass) + Long(ttl) + Word(static_cast<uint16_t>(data.size())) + data;
}

std::string AData(const std::string& dotted)
{
    in_addr address{};
    inet_pton(AF_INET, dotted.c_str(), &address);
    return std::string(reinterpret_cast<const char*>(&address), 4);
}

uint16_t QueryId(const std::string& query)
{
    if (query.size() < 2)
        return 0;
    return static_cast<uint16_t>(static_cast<uint8_t>(query[0]) << 8 | static_cast<uint8_t>(query[1]));
}

std::string QuestionOf(const std::string& query)
{
    size_t at = 12;
    while (at < query.size() && query[at] != '\0')
        at += 1 + static_cast<uint8_t>(query[at]);
    size_t end = at + 1 + 4;  // the zero byte, QTYPE and QCLASS
    return end <= query.size() ? query.substr(12, end - 12) : std::string();
}

std::string Reply(const std::string& query, uint16_t flags, uint16_t an, uint16_t ns, uint16_t ar,
    const std::string& records)
{
    std::string question = QuestionOf(query);
    return Header(QueryId(query), flags, question.empty() ? 0 : 1, an, ns, ar) + question + records;
}

std::string Query(uint16_t id, const std::string& name)
{
    return Header(id, 0x0100, 1, 0, 0, 0) + Question(Name(name));
}

}  // namespace dnsmsg

namespace {

// ip is a dotted IPv4 address or an IPv6 one ("::1").
sockaddr_storage Address(const std::string& ip, uint16_t port, socklen_t& length)
{
    sockaddr_storage storage{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (inet_pton(AF_INET, ip.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        length = sizeof *v4;
    } else if (inet_pton(AF_INET6, ip.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        length = sizeof *v6;
    } else {
        throw std::system_error(EINVAL, std::generic_category(), "not an IP address: " + ip);
    }
    return storage;
}

int BoundSocket(const std::string& ip, uint16_t port)
{
    socklen_t length = 0;
    sockaddr_storage address = Address(ip, port, length);
    int handle = socket(address.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (handle < 0)
        throw std::system_error(errno, std::generic_category(), "socket");
    if (bind(handle, reinterpret_cast<sockaddr*>(&address), length) < 0) {
        int error = errno;
        close(handle);
        throw std::system_error(error, std::generic_category(), "bind " + ip + ":" + std::to_string(port));
    }
    return handle;
}

uint16_t LocalPort(int handle)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

}  // namespace

TDnsResponder::TDnsResponder(THandler handler, const std::string& ip, uint16_t port)
    : FHandler(std::move(handler)), FIP(ip)
{
    FSocket = BoundSocket(ip, port);
    int size = 1 << 20;  // room for the 64 KiB datagrams of the garbage case
    setsockopt(FSocket, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    FPort = LocalPort(FSocket);
    FThread = std::thread([this] { Serve(); });
}

TDnsResponder::~TDnsResponder()
{
    {
        std::lock_guard<std::mutex> lock(FLock);
        FStop = true;
    }
    FWake.notify_all();
    FThread.join();
    close(FSocket);
}

int TDnsResponder::QueryCount() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return static_cast<int>(FQueries.size());
}

std::vector<std::string> TDnsResponder::Queries() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FQueries;
}

std::vector<std::string> TDnsResponder::Replies() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FReplies;
}

uint16_t TDnsResponder::UnusedPort(const std::string& ip)
{
    int handle = BoundSocket(ip, 0);
    uint16_t port = LocalPort(handle);
    close(handle);
    return port;
}

bool TDnsResponder::SleepUnlessStopped(int ms)
{
    std::unique_lock<std::mutex> lock(FLock);
    return !FWake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return FStop.load(); });
}

void TDnsResponder::Serve()
{
    std::string buffer(65536, '\0');
    while (!FStop) {
        pollfd readable{FSocket, POLLIN, 0};
        if (poll(&readable, 1, 20) <= 0)
            continue;
        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        ssize_t received = recvfrom(FSocket, buffer.data(), buffer.size(), MSG_DONTWAIT,
            reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (received < 0)
            continue;
        std::string query = buffer.substr(0, static_cast<size_t>(received));
        int index;
        {
            std::lock_guard<std::mutex> lock(FLock);
            index = static_cast<int>(FQueries.size());
            FQueries.push_back(query);
        }
        TDnsResponse response = FHandler(query, index);
        if (response.Foreign)
            SendForeign(response, from, fromLength);
        if (!SendEarly(response, from, fromLength))
            return;
        if (response.DelayMs > 0 && !SleepUnlessStopped(response.DelayMs))
            return;
        if (response.Bytes)
            SendReply(*response.Bytes, from, fromLength);
    }
}

// False when the responder was stopped meanwhile.
bool TDnsResponder::SendEarly(const TDnsResponse& response, const sockaddr_storage& to, socklen_t toLength)
{
    for (size_t i = 0; i < response.Early.size(); ++i) {
        if (i > 0 && response.EarlyGapMs > 0 && !SleepUnlessStopped(response.EarlyGapMs))
            return false;
        SendReply(response.Early[i], to, toLength);
    }
    return true;
}

void TDnsResponder::SendReply(const std::string& bytes, const sockaddr_storage& to, socklen_t toLength)
{
    sendto(FSocket, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), toLength);
    std::lock_guard<std::mutex> lock(FLock);
    FReplies.push_back(bytes);
}

void TDnsResponder::SendForeign(const TDnsResponse& response, const sockaddr_storage& to, socklen_t toLength)
{
    const bool otherAddress = !response.ForeignIP.empty();
    int handle = -1;
    try {
        handle = BoundSocket(otherAddress ? response.ForeignIP : FIP, otherAddress ? FPort : 0);
    } catch (const std::system_error& error) {
        std::fprintf(stderr, "TDnsResponder: no foreign socket: %s\n", error.what());
        return;
    }
    sendto(handle, response.Foreign->data(), response.Foreign->size(), 0, reinterpret_cast<const sockaddr*>(&to),
        toLength);
    close(handle);
}
