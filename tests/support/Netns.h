#pragma once
// Network namespaces of a test's own, and an ICMP echo responder to run in
// one, so Ping can be measured against loopback with known delays and faults.

#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Runs body in a child process inside a new network namespace whose loopback
// is up, and returns the body's result (a process exit code, 0 = fine). When
// the namespace cannot be made, returns -1 and says why in why.
int RunInOwnNetns(const std::function<int()>& body, std::string& why);

// Moves the calling thread, and the threads it starts from then on, into a
// new network namespace whose loopback is up; back to its own when destroyed.
// For a process that cannot fork its body off, such as one with a window.
class TThreadNetns {
public:
    TThreadNetns();
    ~TThreadNetns();
    TThreadNetns(const TThreadNetns&) = delete;
    TThreadNetns& operator=(const TThreadNetns&) = delete;

    bool Ok() const { return FOk; }
    const std::string& Why() const { return FWhy; }  // when not Ok

private:
    int FOriginal = -1;
    bool FOk = false;
    std::string FWhy;
};

// For a gtest test: runs body, a callable returning 0 when all its checks
// hold or the number of the first that failed, in a namespace of its own
// where datagram ping sockets are allowed and setup (a callable returning
// false when it cannot set the namespace up) has run; skips the test when
// that cannot be had.
#define RUN_IN_NAMESPACE(setup, body)                                                                    \
    do {                                                                                                 \
        std::string why;                                                                                 \
        const int rc = RunInOwnNetns(                                                                    \
            [&]() -> int {                                                                               \
                if (!WriteSysctl("net/ipv4/ping_group_range", "0 2147483647") || !(setup)())             \
                    return 124;                                                                          \
                return (body)();                                                                         \
            },                                                                                           \
            why);                                                                                        \
        if (rc == -1)                                                                                    \
            GTEST_SKIP() << "no network namespace of our own: " << why;                                  \
        if (rc == 124)                                                                                   \
            GTEST_SKIP() << "cannot set the namespace up";                                               \
        EXPECT_EQ(rc, 0) << "check number " << rc << " failed in the namespace (see stderr)";            \
    } while (0)

// Writes a sysctl of the current network namespace, e.g.
// WriteSysctl("net/ipv4/ping_group_range", "0 2147483647").
bool WriteSysctl(const std::string& name, const std::string& value);

// Adds an IPv6 address (such as "::2") to the loopback of the current namespace.
bool AddLoopbackIPv6(const std::string& address);

// The ICMP echo requests the calling thread's network namespace has sent so
// far, by ping and raw sockets alike: a try that has sent one is waiting.
unsigned long EchoRequestsSent();

// Answers echo requests to loopback from a raw socket, late or wrongly, for a
// namespace whose kernel answers none (net/ipv4/icmp_echo_ignore_all = 1, for
// ICMPv6 net/ipv6/icmp/echo_ignore_all = 1).
class TEchoResponder {
public:
    enum class TMode {
        Reply,         // an echo reply after the delay
        Unreachable,   // a host-unreachable error quoting the request
        WrongSource,   // an echo reply, but from 127.0.0.2 (::2, which AddLoopbackIPv6 must have added)
        WrongPayload,  // an echo reply whose data differs
    };

    // family: AF_INET answers ICMP, AF_INET6 ICMPv6.
    TEchoResponder(TMode mode, int delayMs, int family = AF_INET);
    ~TEchoResponder();
    TEchoResponder(const TEchoResponder&) = delete;
    TEchoResponder& operator=(const TEchoResponder&) = delete;

    bool Ok() const { return FSocket >= 0 && FSender >= 0; }
    int Answered() const { return FAnswered.load(); }
    std::vector<unsigned char> LastRequestData() const;  // the data of the last request seen

private:
    void Loop();
    // The answer to a request as received (with its IP header for IPv4); none to ignore it.
    std::vector<unsigned char> Answer(const unsigned char* packet, size_t length, const sockaddr_storage& from);

    TMode FMode;
    int FDelayMs;
    int FFamily;
    int FSocket = -1;  // receives the requests
    int FSender = -1;  // sends the answers, bound to the source address
    std::atomic<bool> FStop{false};
    std::atomic<int> FAnswered{0};
    mutable std::mutex FMutex;
    std::vector<unsigned char> FLastRequestData;
    std::thread FThread;
};
