#pragma once
// A DNS responder on loopback for tests and benchmarks: every query is given
// to a handler that decides the reply bytes (or silence) and a delay.

#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Builders of DNS message pieces, network byte order.
namespace dnsmsg {
std::string Word(uint16_t value);
std::string Long(uint32_t value);
std::string Name(const std::string& dotted);  // labels and the closing zero
std::string Pointer(uint16_t offset);
std::string Header(uint16_t id, uint16_t flags, uint16_t qd, uint16_t an, uint16_t ns, uint16_t ar);
std::string Question(const std::string& name, uint16_t type = 1, uint16_t qclass = 1);
std::string Record(const std::string& name, uint16_t type, uint32_t ttl, const std::string& data, uint16_t rclass = 1);
std::string AData(const std::string& dotted);  // 4 address bytes

uint16_t QueryId(const std::string& query);
// The query's first question (empty when it has none or is cut short);
// whatever follows it, such as an EDNS record, is left out.
std::string QuestionOf(const std::string& query);
// A reply to query: its identifier and question, the given flags, counts and
// record bytes.
std::string Reply(const std::string& query, uint16_t flags, uint16_t an, uint16_t ns, uint16_t ar,
    const std::string& records = std::string());
// The standard query the DNS method sends, with the identifier given.
std::string Query(uint16_t id, const std::string& name);
}  // namespace dnsmsg

struct TDnsResponse {
    TDnsResponse() = default;
    TDnsResponse(std::optional<std::string> bytes, int delayMs = 0) : Bytes(std::move(bytes)), DelayMs(delayMs) {}

    std::optional<std::string> Bytes;  // nothing: stay silent
    int DelayMs = 0;
    // Sent at once, before the delay, from a socket that is not the
    // responder's: from ForeignIP at the responder's port, or, when ForeignIP
    // is empty, from the responder's address at another port.
    std::optional<std::string> Foreign;
    std::string ForeignIP;
    // Sent from the responder's own socket before the delay, EarlyGapMs
    // apart, each as if it were the reply.
    std::vector<std::string> Early;
    int EarlyGapMs = 0;
};

class TDnsResponder {
public:
    // index counts the queries received, from 0.
    using THandler = std::function<TDnsResponse(const std::string& query, int index)>;

    // Binds ip:port (0: any free port), ip IPv4 or IPv6; throws std::system_error when it cannot.
    explicit TDnsResponder(THandler handler, const std::string& ip = "127.0.0.1", uint16_t port = 0);
    ~TDnsResponder();
    TDnsResponder(const TDnsResponder&) = delete;
    TDnsResponder& operator=(const TDnsResponder&) = delete;

    uint16_t Port() const { return FPort; }
    const std::string& IP() const { return FIP; }
    int QueryCount() const;
    std::vector<std::string> Queries() const;
    std::vector<std::string> Replies() const;  // as sent, in order

    // A port on ip where nothing listens (bound, then closed again).
    static uint16_t UnusedPort(const std::string& ip = "127.0.0.1");

private:
    void Serve();
    bool SleepUnlessStopped(int ms);
    void SendForeign(const TDnsResponse& response, const sockaddr_storage& to, socklen_t toLength);
    bool SendEarly(const TDnsResponse& response, const sockaddr_storage& to, socklen_t toLength);
    void SendReply(const std::string& bytes, const sockaddr_storage& to, socklen_t toLength);

    THandler FHandler;
    std::string FIP;
    uint16_t FPort = 0;
    int FSocket = -1;
    std::atomic<bool> FStop{false};
    mutable std::mutex FLock;
    std::condition_variable FWake;
    std::vector<std::string> FQueries;
    std::vector<std::string> FReplies;
    std::thread FThread;
};
