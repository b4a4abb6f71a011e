// The /metrics endpoint, asked by a raw client on loopback that can also
// misbehave: say half a request, nothing at all, or far too much.

#include "cli/Metricsserver.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
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
    TClient(const std::string& host, uint16_t port)
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

private:
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
    server.Publish(kOpenMetricsBody, kPrometheusBody);

    std::vector<std::unique_ptr<TClient>> idle;
    for (int i = 0; i < 4; ++i)
        idle.push_back(std::make_unique<TClient>("127.0.0.1", server.Port()));
    std::this_thread::sleep_for(200ms);  // taken by the server

    TClient extra("127.0.0.1", server.Port());  // the kernel still accepts it into the queue
    extra.Send("GET /metrics HTTP/1.1\r\nHost: probe\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(extra.ReadToEnd(300ms), std::nullopt);

    idle.clear();
    EXPECT_EQ(Parse(extra.ReadToEnd(10s).value_or("")).Status, 200);
}

TEST(MetricsServer, LimitsConnectionsFromOneAddress)
{
    TMetricsServerLimits limits = Small();
    limits.Connections = 8;
    limits.ConnectionsPerAddress = 2;
    TMetricsServer server("127.0.0.1", 0, limits);
    server.Publish(kOpenMetricsBody, kPrometheusBody);

    TClient first("127.0.0.1", server.Port()), second("127.0.0.1", server.Port());
    std::this_thread::sleep_for(200ms);
    TClient third("127.0.0.1", server.Port());
    third.Send("GET /metrics HTTP/1.1\r\nHost: probe\r\n\r\n");
    EXPECT_EQ(third.ReadToEnd(5s), std::string());  // closed at once, unanswered
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
    std::this_thread::sleep_for(200ms);

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

}  // namespace
