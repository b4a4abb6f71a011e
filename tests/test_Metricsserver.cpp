// The /metrics endpoint, asked by a raw client on loopback that can also
// misbehave: say half a request, nothing at all, or far too much, alone or
// in crowds from several loopback addresses.

#include "cli/Metricsserver.h"
#include "tests/support/Slowclients.h"
#include "tests/support/Waitfor.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

const std::string kOpenMetricsType = "application/openmetrics-text; version=1.0.0; charset=utf-8";
const std::string kPrometheusType = "text/plain; version=0.0.4; charset=utf-8";
// What Prometheus itself sends.
const std::string kPrometheusAccept = "application/openmetrics-text;version=1.0.0,application/openmetrics-text;"
                                      "version=0.0.1;q=0.75,text/plain;version=0.0.4;q=0.5,*/*;q=0.1";

class TClient {
public:
    // from: the IPv4 source address, any if empty. receiveBuffer: the
    // socket's receive buffer when not 0, small to keep a big answer from
    // being taken in at once.
    TClient(const std::string& host, uint16_t port, const std::string& from = "", int receiveBuffer = 0)
    {
        sockaddr_storage storage{};
        auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
        socklen_t length = sizeof(sockaddr_in);
        if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
            v4->sin_family = AF_INET;
            v4->sin_port = htons(port);
        } else {
            EXPECT_EQ(inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr), 1);
            v6->sin6_family = AF_INET6;
            v6->sin6_port = htons(port);
            length = sizeof(sockaddr_in6);
        }
        FFd = socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        EXPECT_GE(FFd, 0);
        if (receiveBuffer > 0)
            setsockopt(FFd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        if (!from.empty())
            Bind(from);
        // A handshake the server's queue drops is retried for minutes.
        const timeval connectWait{3, 0};
        setsockopt(FFd, SOL_SOCKET, SO_SNDTIMEO, &connectWait, sizeof connectWait);
        EXPECT_EQ(connect(FFd, reinterpret_cast<sockaddr*>(&storage), length), 0) << std::strerror(errno);
    }
    ~TClient() { Close(); }

    void Close()
    {
        if (FFd >= 0)
            close(FFd);
        FFd = -1;
    }

    void Send(const std::string& data)
    {
        size_t sent = 0;
        while (sent < data.size()) {
            const ssize_t n = send(FFd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return;  // the server may close on a request it refuses
            sent += static_cast<size_t>(n);
        }
    }

    // Everything until the server closes; nullopt when it stays silent and
    // open for the whole wait.
    std::optional<std::string> ReadToEnd(std::chrono::milliseconds wait)
    {
        const timeval timeout{static_cast<time_t>(wait.count() / 1000),
                              static_cast<suseconds_t>(wait.count() % 1000 * 1000)};
        setsockopt(FFd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        std::string data;
        char buffer[4096];
        for (;;) {
            const ssize_t n = recv(FFd, buffer, sizeof buffer, 0);
            if (n > 0) {
                data.append(buffer, static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return std::nullopt;
            return data;  // closed (or reset)
        }
    }

    // Until some of the answer has come; false when none came within the wait.
    bool WaitAnswerBegun(std::chrono::milliseconds wait)
    {
        const timeval timeout{static_cast<time_t>(wait.count() / 1000),
                              static_cast<suseconds_t>(wait.count() % 1000 * 1000)};
        setsockopt(FFd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        char first;
        return recv(FFd, &first, 1, MSG_PEEK) == 1;
    }

private:
    void Bind(const std::string& from)
    {
        sockaddr_in source{};
        source.sin_family = AF_INET;
        EXPECT_EQ(inet_pton(AF_INET, from.c_str(), &source.sin_addr), 1) << from;
        EXPECT_EQ(bind(FFd, reinterpret_cast<sockaddr*>(&source), sizeof source), 0) << std::strerror(errno);
    }

    int FFd = -1;
};

struct TAnswer {
    int Status = 0;  // 0: none came
    std::map<std::string, std::string> Headers;  // names in lower case
    std::string Body;

    std::string Header(const std::string& name) const
    {
        const auto found = Headers.find(name);
        return found == Headers.end() ? "" : found->second;
    }
};

TAnswer Parse(const std::string& raw)
{
    TAnswer answer;
    const auto headEnd = raw.find("\r\n\r\n");
    if (raw.rfind("HTTP/1.", 0) != 0 || headEnd == std::string::npos)
        return answer;
    answer.Status = std::stoi(raw.substr(9, 3));
    size_t line = raw.find("\r\n") + 2;
    while (line < headEnd) {
        const size_t end = raw.find("\r\n", line);
        const std::string header = raw.substr(line, end - line);
        const size_t colon = header.find(':');
        std::string name = header.substr(0, colon);
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        answer.Headers[name] = header.substr(header.find_first_not_of(' ', colon + 1));
        line = end + 2;
    }
    answer.Body = raw.substr(headEnd + 4);
    return answer;
}

TAnswer Ask(uint16_t port, const std::string& method, const std::string& path, const std::string& extraHeaders = "",
            const std::string& host = "127.0.0.1")
{
    TClient client(host, port);
    client.Send(method + " " + path + " HTTP/1.1\r\nHost: probe\r\nConnection: close\r\n" + extraHeaders + "\r\n");
    return Parse(client.ReadToEnd(10s).value_or(""));
}

TAnswer Get(uint16_t port, const std::string& accept = "", const std::string& host = "127.0.0.1")
{
    return Ask(port, "GET", "/metrics", accept.empty() ? "" : "Accept: " + accept + "\r\n", host);
}

TMetricsServerLimits Small()
{
    TMetricsServerLimits limits;
    limits.Connections = 4;
    limits.ConnectionsPerAddress = 4;
    limits.IdleTimeout = 10s;  // longer than any wait of a test that holds connections open
    return limits;
}

const std::string kOpenMetricsBody = "orvel_run_duration_seconds{plan=\"\"} 1.5\n# EOF\n";
const std::string kPrometheusBody = "orvel_run_duration_seconds{plan=\"\"} 1.5\n";
// Far more than the sockets between server and a client that reads nothing
// hold: answering it keeps the server busy with that client.
const std::string kHugeBody(8 * 1024 * 1024, 'x');

// A client the server is answering, that takes in nothing of the answer.
std::unique_ptr<TClient> BeingAnswered(uint16_t port, const std::string& from = "")
{
    auto client = std::make_unique<TClient>("127.0.0.1", port, from, 4096);
    client->Send("GET /metrics HTTP/1.1\r\nHost: probe\r\n\r\n");
    EXPECT_TRUE(client->WaitAnswerBegun(5s)) << "no answer began";
    return client;
}

// The connections to a loopback port that wait in its listen queue: for a
// listening socket the kernel's table gives the accept queue as rx_queue.
size_t WaitingToBeAccepted(uint16_t port)
{
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues;
        fields >> slot >> local >> remote >> state >> queues;
        if (state == "0A" && std::stoul(local.substr(local.find(':') + 1), nullptr, 16) == port)
            return std::stoul(queues.substr(queues.find(':') + 1), nullptr, 16);
    }
    ADD_FAILURE() << "nobody listens on port " << port;
    return 0;
}

TEST(MetricsServer, ServesTheLatestRunInTheFlavourAsked)
{
    TMetricsServer server("127.0.0.1", 0);
    ASSERT_NE(server.Port(), 0);

    const TAnswer early = Get(server.Port());
    EXPECT_EQ(early.Status, 503);

    server.Publish(kOpenMetricsBody, kPrometheusBody);
    for (const std::string& accept : {std::string("application/openmetrics-text; version=1.0.0"), kPrometheusAccept}) {
        const TAnswer answer = Get(server.Port(), accept);
        EXPECT_EQ(answer.Status, 200) << accept;
        EXPECT_EQ(answer.Header("content-type"), kOpenMetricsType) << accept;
        EXPECT_EQ(answer.Body, kOpenMetricsBody) << accept;
        EXPECT_EQ(answer.Header("vary"), "Accept");
    }
    for (const std::string& accept : {std::string(""), std::string("text/plain"), std::string("*/*"),
                                     std::string("application/openmetrics-text;q=0, text/plain")}) {
        const TAnswer answer = Get(server.Port(), accept);
        EXPECT_EQ(answer.Status, 200) << accept;
        EXPECT_EQ(answer.Header("content-type"), kPrometheusType) << accept;
        EXPECT_EQ(answer.Body, kPrometheusBody) << accept;
    }

    const TAnswer head = Ask(server.Port(), "HEAD", "/metrics", "Accept: " + kPrometheusAccept + "\r\n");
    EXPECT_EQ(head.Status, 200);
    EXPECT_EQ(head.Header("content-type"), kOpenMetricsType);
    EXPECT_EQ(head.Header("content-length"), std::to_string(kOpenMetricsBody.size()));
    EXPECT_EQ(head.Body, "");

    server.Publish("second\n# EOF\n", "second\n");
    EXPECT_EQ(Get(server.Port()).Body, "second\n");
    EXPECT_EQ(Ask(server.Port(), "GET", "/metrics?target=x").Body, "second\n");
}

TEST(MetricsServer, AcceptHeaders)
{
    EXPECT_TRUE(WantsOpenMetrics("application/openmetrics-text"));
    EXPECT_TRUE(WantsOpenMetrics(kPrometheusAccept));
    EXPECT_TRUE(WantsOpenMetrics("text/plain;q=0.5, Application/OpenMetrics-Text ; version=1.0.0 ; q=0.9"));
    EXPECT_FALSE(WantsOpenMetrics(""));
    EXPECT_FALSE(WantsOpenMetrics("text/plain; version=0.0.4"));
    EXPECT_FALSE(WantsOpenMetrics("application/openmetrics-text; q=0"));
    EXPECT_FALSE(WantsOpenMetrics("application/openmetrics-text;Q=0.000, text/plain"));
    EXPECT_FALSE(WantsOpenMetrics("application/openmetrics-textual"));
}

TEST(MetricsServer, OtherPathsAndMethodsAreRefused)
{
    TMetricsServer server("127.0.0.1", 0);
    server.Publish(kOpenMetricsBody, kPrometheusBody);

    for (const char* path : {"/", "/metrics/", "/metricsx", "/Metrics", "/favicon.ico"})
        EXPECT_EQ(Ask(server.Port(), "GET", path).Status, 404) << path;

    for (const char* method : {"POST", "PUT", "DELETE", "OPTIONS", "BREW"}) {
        const TAnswer answer = Ask(server.Port(), method, "/metrics");
        EXPECT_EQ(answer.Status, 405) << method;
        EXPECT_EQ(answer.Header("allow"), "GET, HEAD") << method;
    }
    // A body nobody reads is not waited for.
    const TAnswer posted = Ask(server.Port(), "POST", "/metrics",
                               "Content-Length: 100000\r\n\r\n" + std::string(100000, 'x'));
    EXPECT_EQ(posted.Status, 405);
    EXPECT_EQ(Get(server.Port()).Status, 200);
}

TEST(MetricsServer, RefusesARequestLargerThanTheLimit)
{
    TMetricsServer server("127.0.0.1", 0);
    server.Publish(kOpenMetricsBody, kPrometheusBody);

    const TAnswer bigHeader = Ask(server.Port(), "GET", "/metrics", "X-Padding: " + std::string(64 * 1024, 'x') + "\r\n");
    EXPECT_GE(bigHeader.Status, 400);
    EXPECT_LT(bigHeader.Status, 500);
    const TAnswer longPath = Ask(server.Port(), "GET", "/metrics?" + std::string(64 * 1024, 'x'));
    EXPECT_GE(longPath.Status, 400);
    EXPECT_LT(longPath.Status, 500);

    EXPECT_EQ(Get(server.Port()).Status, 200);
}

TEST(MetricsServer, MoreConnectionsThanTheLimitWaitTheirTurn)
{
    TMetricsServer server("127.0.0.1", 0, Small());
    server.Publish(kHugeBody, kHugeBody);

    std::vector<std::unique_ptr<TClient>> busy;
    for (int i = 0; i < 4; ++i)
        busy.push_back(BeingAnswered(server.Port()));

    TClient extra("127.0.0.1", server.Port());  // the kernel still accepts it into the queue
    extra.Send("GET /metrics HTTP/1.1\r\nHost: probe\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(extra.ReadToEnd(300ms), std::nullopt);

    busy.clear();
    EXPECT_EQ(Parse(extra.ReadToEnd(10s).value_or("")).Body, kHugeBody);
}

TEST(MetricsServer, LimitsConnectionsFromOneAddress)
{
    TMetricsServerLimits limits = Small();
    limits.Connections = 8;
    limits.ConnectionsPerAddress = 2;
    TMetricsServer server("127.0.0.1", 0, limits);
    server.Publish(kHugeBody, kHugeBody);

    const auto first = BeingAnswered(server.Port()), second = BeingAnswered(server.Port());
    TClient third("127.0.0.1", server.Port());
    third.Send("GET /metrics HTTP/1.1\r\nHost: probe\r\n\r\n");
    EXPECT_EQ(third.ReadToEnd(5s), std::string());  // closed at once, unanswered
    const auto fromElsewhere = BeingAnswered(server.Port(), "127.0.0.2");
}

TEST(MetricsServer, ConnectionsThatOweARequestGiveWayOldestFirst)
{
    TMetricsServerLimits limits = Small();  // a quarter of the 4 stays free: the third idle one fills the rest
    limits.FirstChance = 0ms;  // the idle ones have had theirs when the scrape comes
    TMetricsServer server("127.0.0.1", 0, limits);
    server.Publish(kOpenMetricsBody, kPrometheusBody);

    // The listen queue is first come, first served: the server takes them in this order.
    TClient oldest("127.0.0.1", server.Port()), halfRequest("127.0.0.1", server.Port()), newest("127.0.0.1", server.Port());
    halfRequest.Send("GET /metr");
    EXPECT_EQ(Get(server.Port()).Status, 200);
    EXPECT_EQ(oldest.ReadToEnd(5s), std::string()) << "the oldest was not closed for the scrape";
    EXPECT_EQ(halfRequest.ReadToEnd(200ms), std::nullopt);
    EXPECT_EQ(newest.ReadToEnd(200ms), std::nullopt);

    // From one address: the oldest of its own gives way, even with room in all.
    limits.Connections = 8;
    limits.ConnectionsPerAddress = 2;
    TMetricsServer perAddress("127.0.0.1", 0, limits);
    perAddress.Publish(kOpenMetricsBody, kPrometheusBody);
    TClient first("127.0.0.1", perAddress.Port()), second("127.0.0.1", perAddress.Port());
    TClient elsewhere("127.0.0.1", perAddress.Port(), "127.0.0.2");
    EXPECT_EQ(Get(perAddress.Port()).Status, 200);
    EXPECT_EQ(first.ReadToEnd(5s), std::string());
    EXPECT_EQ(second.ReadToEnd(200ms), std::nullopt);
    EXPECT_EQ(elsewhere.ReadToEnd(200ms), std::nullopt);
}

TEST(MetricsServer, AWholeRequestHasADeadlineNotJustAnIdleTime)
{
    TMetricsServerLimits limits = Small();
    limits.RequestDeadline = 1s;  // the idle timeout stays 10 s
    TMetricsServer server("127.0.0.1", 0, limits);
    server.Publish(kOpenMetricsBody, kPrometheusBody);

    // A byte at a time, never idle for long.
    const auto start = std::chrono::steady_clock::now();
    TClient trickling("127.0.0.1", server.Port());
    trickling.Send("GET /metrics HTTP/1.1\r\nX-Slow: ");
    std::optional<std::string> end;
    while (!end && std::chrono::steady_clock::now() - start < 5s) {
        trickling.Send("x");
        end = trickling.ReadToEnd(100ms);
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(end, std::string()) << "still open after 5 s, or answered";
    EXPECT_GE(took, 900ms);

}

TEST(MetricsServer, ASlowClientStallsNobodyAndIsDropped)
{
    TMetricsServerLimits limits = Small();
    limits.IdleTimeout = 1s;
    TMetricsServer server("127.0.0.1", 0, limits);
    server.Publish(kOpenMetricsBody, kPrometheusBody);

    TClient halfRequest("127.0.0.1", server.Port());
    halfRequest.Send("GET /metr");
    TClient silent("127.0.0.1", server.Port());
    ASSERT_TRUE(WaitFor([&] { return WaitingToBeAccepted(server.Port()) == 0; }, 10s)) << "both not taken";

    server.Publish("meanwhile\n# EOF\n", "meanwhile\n");
    EXPECT_EQ(Get(server.Port()).Body, "meanwhile\n");

    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE(halfRequest.ReadToEnd(10s), std::nullopt) << "still open after 10 s";
    EXPECT_NE(silent.ReadToEnd(10s), std::nullopt) << "still open after 10 s";
    EXPECT_GE(std::chrono::steady_clock::now() - start, 500ms) << "dropped before its timeout";
}

TEST(MetricsServer, ABoundPortIsReportedAsInUse)
{
    const int taken = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(taken, 1), 0);
    socklen_t length = sizeof address;
    getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length);
    const uint16_t port = ntohs(address.sin_port);

    try {
        TMetricsServer server("127.0.0.1", port);
        ADD_FAILURE() << "bound a port in use";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()),
                  "cannot listen on 127.0.0.1:" + std::to_string(port) + ": Address already in use");
    }
    close(taken);

    for (const char* bad : {"", "example.org", "127.0.0.256", "::1::", "[127.0.0.1"})
        EXPECT_THROW(TMetricsServer(bad, 0), std::runtime_error) << bad;
}

TEST(MetricsServer, GivesItsPortBackWhenGone)
{
    uint16_t port;
    {
        TMetricsServer server("localhost", 0);
        port = server.Port();
        server.Publish(kOpenMetricsBody, kPrometheusBody);
        EXPECT_EQ(Get(port).Status, 200);
    }
    TMetricsServer again("127.0.0.1", port);
    EXPECT_EQ(again.Port(), port);
}

TEST(MetricsServer, ListensOnIPv6Loopback)
{
    const int probe = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    const bool hasIPv6 = probe >= 0 && bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (probe >= 0)
        close(probe);
    if (!hasIPv6)
        GTEST_SKIP() << "no ::1 here";

    for (const char* host : {"::1", "[::1]"}) {
        TMetricsServer server(host, 0);
        server.Publish(kOpenMetricsBody, kPrometheusBody);
        EXPECT_EQ(Get(server.Port(), "", "::1").Body, kPrometheusBody);
    }
}

// One scrape as Prometheus makes it, timed from the connect to the last byte.
struct TScrape {
    int Status = 0;
    std::chrono::milliseconds Took{};
};

TScrape Scrape(uint16_t port, const std::string& from)
{
    const auto start = std::chrono::steady_clock::now();
    TClient client("127.0.0.1", port, from);
    client.Send("GET /metrics HTTP/1.1\r\nHost: probe\r\nAccept: " + kPrometheusAccept +
                "\r\nConnection: close\r\n\r\n");
    const int status = Parse(client.ReadToEnd(2s).value_or("")).Status;
    return {status, std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)};
}

// Scrapes for a while, from an address of no crowd and from a crowded one
// in turn; the first scrape not answered within a second fails the test.
void ExpectEveryScrapeAnsweredWithinASecond(uint16_t port, std::chrono::milliseconds during)
{
    const auto until = std::chrono::steady_clock::now() + during;
    int scrapes = 0;
    while (std::chrono::steady_clock::now() < until) {
        for (const char* from : {"127.0.0.1", "127.0.0.2"}) {
            const TScrape scrape = Scrape(port, from);
            ++scrapes;
            if (scrape.Status != 200 || scrape.Took >= 1s) {
                ADD_FAILURE() << "scrape " << scrapes << " from " << from << ": status " << scrape.Status
                              << " after " << scrape.Took.count() << " ms";
                return;
            }
        }
    }
}

const std::vector<std::string> kCrowdAddresses = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"};

// The clients of the fault report, against the endpoint as orvel-cli opens it.
TEST(MetricsServer, SlowClientsDoNotDenyScrapes)
{
    TMetricsServer server("127.0.0.1", 0);
    server.Publish(kOpenMetricsBody, kPrometheusBody);
    TSlowClients::TOptions crowd;
    crowd.Port = server.Port();
    crowd.From = kCrowdAddresses;
    crowd.PerAddress = 16;
    crowd.Manner = TSlowClients::TManner::Trickling;
    crowd.ByteEvery = 3s;
    TSlowClients clients(crowd);
    ASSERT_TRUE(clients.WaitConnected(64, 10s));

    ExpectEveryScrapeAnsweredWithinASecond(server.Port(), 3s);
}

struct TCrowd {
    unsigned PerAddress;
    TSlowClients::TManner Manner;
};

class MetricsServerCrowd : public testing::TestWithParam<TCrowd> {};

TEST_P(MetricsServerCrowd, ScrapesAreAnsweredWithinASecond)
{
    TMetricsServerLimits limits;
    limits.RequestDeadline = 500ms;
    TMetricsServer server("127.0.0.1", 0, limits);
    server.Publish(kOpenMetricsBody, kPrometheusBody);
    TSlowClients::TOptions crowd;
    crowd.Port = server.Port();
    crowd.From = kCrowdAddresses;
    crowd.PerAddress = GetParam().PerAddress;
    crowd.Manner = GetParam().Manner;
    crowd.ByteEvery = 200ms;
    TSlowClients clients(crowd);
    ASSERT_TRUE(clients.WaitConnected(crowd.PerAddress * kCrowdAddresses.size(), 10s));

    ExpectEveryScrapeAnsweredWithinASecond(server.Port(), 2s);
    EXPECT_GT(clients.Dropped(), 0u) << "the crowd never pressed the limits";
}

INSTANTIATE_TEST_SUITE_P(, MetricsServerCrowd,
                         testing::Values(TCrowd{16, TSlowClients::TManner::Trickling},
                                         TCrowd{16, TSlowClients::TManner::Silent},
                                         TCrowd{100, TSlowClients::TManner::Trickling},
                                         TCrowd{100, TSlowClients::TManner::Silent}),
                         [](const testing::TestParamInfo<TCrowd>& info) {
                             return std::to_string(info.param.PerAddress) +
                                    (info.param.Manner == TSlowClients::TManner::Silent ? "Silent" : "Trickling");
                         });

}  // namespace
