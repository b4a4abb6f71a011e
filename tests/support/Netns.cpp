#include "tests/support/Netns.h"

#include "engine/Icmpecho.h"
#include "engine/Thread.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/icmp6.h>
#include <netinet/ip.h>
#include <netinet/ip6.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <deque>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

bool BringLoopbackUp()
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP | IFF_RUNNING;
    ok = ok && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    close(fd);
    return ok;
}

sockaddr_storage AnyAddress(int family, const char* text)
{
    sockaddr_storage storage{};
    if (family == AF_INET6) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
        v6->sin6_family = AF_INET6;
        inet_pton(AF_INET6, text, &v6->sin6_addr);
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
        v4->sin_family = AF_INET;
        inet_pton(AF_INET, text, &v4->sin_addr);
    }
    return storage;
}

socklen_t LengthOf(int family) { return family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in); }

// struct in6_ifreq of linux/ipv6.h, whose other declarations clash with glibc's.
struct TIn6Ifreq {
    in6_addr Address;
    uint32_t PrefixLength;
    int InterfaceIndex;
};

}  // namespace

bool AddLoopbackIPv6(const std::string& address)
{
    const int fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    TIn6Ifreq request{};
    request.PrefixLength = 128;
    request.InterfaceIndex = static_cast<int>(if_nametoindex("lo"));
    const bool ok = inet_pton(AF_INET6, address.c_str(), &request.Address) == 1
        && ioctl(fd, SIOCSIFADDR, &request) == 0;
    close(fd);
    return ok;
}

unsigned long EchoRequestsSent()
{
    // Pairs of lines: the names of a protocol's counters, then their values.
    std::ifstream counters("/proc/thread-self/net/snmp");
    std::string names, values;
    while (std::getline(counters, names) && std::getline(counters, values)) {
        if (!names.starts_with("Icmp:"))
            continue;
        std::istringstream name(names), value(values);
        std::string field, number;
        while (name >> field && value >> number)
            if (field == "OutEchos")
                return std::stoul(number);
    }
    return 0;
}

int RunInOwnNetns(const std::function<int()>& body, std::string& why)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        why = "pipe failed";
        return -1;
    }
    const pid_t child = fork();
    if (child < 0) {
        why = std::string("fork failed: ") + std::strerror(errno);
        return -1;
    }
    if (child == 0) {
        close(pipeFds[0]);
        std::string failure;
        if (unshare(CLONE_NEWNET) != 0)
            failure = std::string("unshare(CLONE_NEWNET) failed: ") + std::strerror(errno);
        else if (!BringLoopbackUp())
            failure = "cannot bring lo up in the new namespace";
        if (!failure.empty()) {
            (void)!write(pipeFds[1], failure.data(), failure.size());
            _exit(125);
        }
        close(pipeFds[1]);
        const int rc = body();
        TThread::JoinAll();  // the engine's threads, which end once idle
        _exit(rc);
    }
    close(pipeFds[1]);
    char text[256];
    const ssize_t got = read(pipeFds[0], text, sizeof text);
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (got > 0) {
        why.assign(text, static_cast<size_t>(got));
        return -1;
    }
    if (!WIFEXITED(status)) {
        why = "the child ended by a signal";
        return 126;
    }
    return WEXITSTATUS(status);
}

TThreadNetns::TThreadNetns()
{
    FOriginal = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (FOriginal < 0)
        FWhy = std::string("cannot open this thread's namespace: ") + std::strerror(errno);
    else if (unshare(CLONE_NEWNET) != 0)
        FWhy = std::string("unshare(CLONE_NEWNET) failed: ") + std::strerror(errno);
    else if (!BringLoopbackUp())
        FWhy = "cannot bring lo up in the new namespace";
    else
        FOk = true;
}

TThreadNetns::~TThreadNetns()
{
    if (FOriginal < 0)
        return;
    if (setns(FOriginal, CLONE_NEWNET) != 0)
        std::fprintf(stderr, "TThreadNetns: cannot go back to the original namespace: %s\n", std::strerror(errno));
    close(FOriginal);
}

bool WriteSysctl(const std::string& name, const std::string& value)
{
    std::ofstream file("/proc/sys/" + name);
    file << value;
    file.close();
    return !file.fail();
}

TEchoResponder::TEchoResponder(TMode mode, int delayMs, int family) : FMode(mode), FDelayMs(delayMs), FFamily(family)
{
    const int protocol = family == AF_INET6 ? static_cast<int>(IPPROTO_ICMPV6) : static_cast<int>(IPPROTO_ICMP);
    FSocket = socket(family, SOCK_RAW | SOCK_CLOEXEC, protocol);
    FSender = socket(family, SOCK_RAW | SOCK_CLOEXEC, protocol);
    if (FSender >= 0 && mode == TMode::WrongSource) {
        const sockaddr_storage source = AnyAddress(family, family == AF_INET6 ? "::2" : "127.0.0.2");
        // A fresh IPv6 address may still be tentative; bind to it all the same.
        const int one = 1;
        if (family == AF_INET6)
            setsockopt(FSender, SOL_IPV6, IPV6_FREEBIND, &one, sizeof one);
        if (bind(FSender, reinterpret_cast<const sockaddr*>(&source), LengthOf(family)) != 0) {
            close(FSender);
            FSender = -1;
        }
    }
    if (Ok())
        FThread = std::thread(&TEchoResponder::Loop, this);
}

TEchoResponder::~TEchoResponder()
{
    FStop = true;
    if (FThread.joinable())
        FThread.join();
    if (FSocket >= 0)
        close(FSocket);
    if (FSender >= 0)
        close(FSender);
}

std::vector<unsigned char> TEchoResponder::LastRequestData() const
{
    std::lock_guard lock(FMutex);
    return FLastRequestData;
}

void TEchoResponder::Loop()
{
    struct TPending {
        std::chrono::steady_clock::time_point Due;
        sockaddr_storage To;
        std::vector<unsigned char> Packet;
    };
    std::deque<TPending> pending;
    unsigned char buffer[1500];
    while (!FStop) {
        int wait = 20;
        const auto now = std::chrono::steady_clock::now();
        while (!pending.empty() && pending.front().Due <= now) {
            TPending& answer = pending.front();
            ++FAnswered;  // before the send: the asker may look as soon as the answer lands
            sendto(FSender, answer.Packet.data(), answer.Packet.size(), 0, reinterpret_cast<sockaddr*>(&answer.To),
                   LengthOf(FFamily));
            pending.pop_front();
        }
        if (!pending.empty())
            wait = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(pending.front().Due - now).count()) + 1;
        pollfd pfd{FSocket, POLLIN, 0};
        if (poll(&pfd, 1, std::min(wait, 20)) <= 0)
            continue;
        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got = recvfrom(FSocket, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got <= 0)
            continue;
        std::vector<unsigned char> packet = Answer(buffer, static_cast<size_t>(got), from);
        if (!packet.empty())
            pending.push_back({std::chrono::steady_clock::now() + std::chrono::milliseconds(FDelayMs), from, std::move(packet)});
    }
}

std::vector<unsigned char> TEchoResponder::Answer(const unsigned char* buffer, size_t got, const sockaddr_storage& from)
{
    const bool v6 = FFamily == AF_INET6;
    // A raw IPv6 socket hands over no IP header.
    const size_t ipLength = v6 ? 0 : (buffer[0] & 0x0f) * 4u;
    const uint8_t echoRequest = v6 ? ICMP6_ECHO_REQUEST : ICMP_ECHO;
    if (got < ipLength + 8 || buffer[ipLength] != echoRequest)
        return {};
    const unsigned char* request = buffer + ipLength;
    const size_t requestLength = got - ipLength;
    {
        std::lock_guard lock(FMutex);
        FLastRequestData.assign(request + 8, request + requestLength);
    }

    std::vector<unsigned char> packet;
    if (FMode == TMode::Unreachable) {
        // Host unreachable, quoting the request's IP header and (at least) its first 8 bytes.
        packet.assign(8, 0);
        packet[0] = v6 ? ICMP6_DST_UNREACH : ICMP_DEST_UNREACH;
        packet[1] = v6 ? ICMP6_DST_UNREACH_ADDR : ICMP_HOST_UNREACH;
        if (v6) {
            ip6_hdr header{};
            header.ip6_vfc = 0x60;
            header.ip6_plen = htons(static_cast<uint16_t>(requestLength));
            header.ip6_nxt = IPPROTO_ICMPV6;
            header.ip6_hlim = 64;
            header.ip6_src = reinterpret_cast<const sockaddr_in6*>(&from)->sin6_addr;
            inet_pton(AF_INET6, "::1", &header.ip6_dst);
            const auto* bytes = reinterpret_cast<const unsigned char*>(&header);
            packet.insert(packet.end(), bytes, bytes + sizeof header);
            packet.insert(packet.end(), request, request + requestLength);
        } else {
            packet.insert(packet.end(), buffer, buffer + ipLength + 8);
        }
    } else {
        packet.assign(request, request + requestLength);
        packet[0] = v6 ? ICMP6_ECHO_REPLY : ICMP_ECHOREPLY;
        if (FMode == TMode::WrongPayload && packet.size() > 8)
            packet[8] ^= 0xff;
    }
    packet[2] = packet[3] = 0;
    if (!v6) {  // the kernel sums ICMPv6
        const uint16_t checksum = IcmpChecksum(packet.data(), packet.size());
        packet[2] = static_cast<unsigned char>(checksum >> 8);
        packet[3] = static_cast<unsigned char>(checksum);
    }
    return packet;
}
