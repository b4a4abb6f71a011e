#include "engine/Measurehomepage.h"
#include "tests/support/Certificates.h"
#include "tests/support/Httpserver.h"
#include "tests/support/Noproxy.h"
#include "tests/support/Waitfor.h"
#include "vqlib/Vqhttp.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <cstdio>
#include <thread>
#include <utility>

namespace {

using namespace std::chrono_literals;

THttpServer::TResponse Page(int status, size_t bodySize)
{
    THttpServer::TResponse response;
    response.Status = status;
    response.BodySize = bodySize;
    return response;
}

class HttpTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ClearProxyEnvironment();
    }

    THttpServer Server;
};

TEST_F(HttpTest, AnErrorPageIsASuccessfulFetch)
{
    Server.SetResponse(Page(404, 120));
    vqlib::THttp http;
    std::string body;
    EXPECT_TRUE(http.GetURL("http://" + Server.HostPort() + "/missing", &body));
    EXPECT_EQ(body, std::string(120, 'x'));
}

TEST_F(HttpTest, AMeasuredFetchTellsItsPhasesStatusAndCause)
{
    Server.SetResponse(Page(404, 120));
    std::chrono::microseconds elapsed{0};
    TTryOutcome outcome;
    ASSERT_TRUE(MeasureHomePage(Server.HostPort(), elapsed, nullptr, std::nullopt, nullptr, &outcome));
    EXPECT_TRUE(outcome.Ok);
    EXPECT_EQ(outcome.Elapsed, elapsed);
    ASSERT_TRUE(outcome.Http);
    EXPECT_EQ(outcome.Http->Status, 404);
    EXPECT_EQ(outcome.Http->BodyBytes, 120);
    EXPECT_EQ(outcome.Http->Address, "127.0.0.1");
    EXPECT_EQ(outcome.Http->Resolve + outcome.Http->Connect + outcome.Http->Tls + outcome.Http->Processing
                  + outcome.Http->Transfer,
              elapsed);

    EXPECT_FALSE(MeasureHomePage("127.0.0.1:" + std::to_string(THttpServer::RefusedPort()), elapsed, nullptr,
                                 std::nullopt, nullptr, &outcome));
    EXPECT_EQ(outcome.Cause, TTryCause::Refused);
    std::atomic<bool> abort{true};
    EXPECT_FALSE(MeasureHomePage(Server.HostPort(), elapsed, &abort, std::nullopt, nullptr, &outcome));
    EXPECT_EQ(outcome.Cause, TTryCause::Aborted);
}

TEST_F(HttpTest, ABodyOverOneMebibyteIsReadToItsEnd)
{
    const size_t size = 3 * vqlib::THttp::kBufferSize + 17;
    Server.SetResponse(Page(200, size));
    vqlib::THttp http;
    std::string body = "left over";
    EXPECT_TRUE(http.GetURL("http://" + Server.HostPort(), &body));
    EXPECT_EQ(body.size(), size);
    std::chrono::microseconds elapsed{77};
    EXPECT_TRUE(MeasureHomePage(Server.HostPort(), elapsed));
    EXPECT_NE(elapsed, 77us);
}

TEST_F(HttpTest, AnEmptyBodySucceeds)
{
    Server.SetResponse(Page(200, 0));
    vqlib::THttp http;
    std::string body = "old";
    EXPECT_TRUE(http.GetURL("http://" + Server.HostPort(), &body));
    EXPECT_TRUE(body.empty());
    std::chrono::microseconds elapsed{77};
    EXPECT_TRUE(MeasureHomePage(Server.HostPort(), elapsed));
}

TEST_F(HttpTest, ARefusedConnectionFailsAndLeavesTheTimeAlone)
{
    std::chrono::microseconds elapsed{77};
    EXPECT_FALSE(MeasureHomePage("127.0.0.1:" + std::to_string(THttpServer::RefusedPort()), elapsed));
    EXPECT_EQ(elapsed, 77us);
}

TEST_F(HttpTest, ABodyCutOffPartWayFails)
{
    THttpServer::TResponse cut = Page(200, 200000);
    cut.CutBody = true;
    Server.SetResponse(cut);
    std::chrono::microseconds elapsed{77};
    EXPECT_FALSE(MeasureHomePage(Server.HostPort(), elapsed));
    EXPECT_EQ(elapsed, 77us);
}

TEST_F(HttpTest, TheRequestNamesUsAsksForAFreshCopyAndFollowsRedirects)
{
    THttpServer::TResponse moved = Page(302, 0);
    moved.Location = "/final";
    Server.SetResponseFor("/", moved);
    Server.SetResponseFor("/final", Page(200, 5));
    vqlib::THttp http;
    std::string body;
    ASSERT_TRUE(http.GetURL("http://" + Server.HostPort(), &body));
    EXPECT_EQ(body, "xxxxx");
    const auto requests = Server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].substr(0, 16), "GET / HTTP/1.1\r\n");
    EXPECT_EQ(requests[1].substr(0, 21), "GET /final HTTP/1.1\r\n");
    EXPECT_EQ(THttpServer::HeaderValue(requests[0], "User-Agent"), "vqweb_" + std::to_string(gettid()));
    EXPECT_EQ(THttpServer::HeaderValue(requests[0], "Cache-Control"), "no-cache");
    EXPECT_EQ(THttpServer::HeaderValue(requests[0], "Pragma"), "no-cache");
}

TEST_F(HttpTest, TheTargetIsUsedVerbatimPathIncluded)
{
    Server.SetResponse(Page(200, 1));
    std::chrono::microseconds elapsed{0};
    ASSERT_TRUE(MeasureHomePage(Server.HostPort() + "/sub/page.html", elapsed));
    ASSERT_EQ(Server.Requests().size(), 1u);
    EXPECT_EQ(Server.Requests()[0].substr(0, 25), "GET /sub/page.html HTTP/1");
}

// curl reads the address only up to a zero byte: "host:port\0junk" is no
// address of that server, and nothing is fetched; nor for a control byte.
TEST_F(HttpTest, AnAddressWithAZeroOrControlByteFetchesNothing)
{
    using namespace std::string_literals;
    Server.SetResponse(Page(200, 1));
    std::chrono::microseconds elapsed{77};
    EXPECT_FALSE(MeasureHomePage(Server.HostPort() + "\0junk"s, elapsed));
    EXPECT_EQ(elapsed.count(), 77);
    vqlib::THttp http;
    EXPECT_FALSE(http.GetURL("http://" + Server.HostPort() + "/\0"s));
    EXPECT_FALSE(http.GetURL("http://" + Server.HostPort() + "/a\x01z"));
    EXPECT_TRUE(Server.Requests().empty());
}

TEST(HomePageURL, TypedSchemesAreKeptAnythingElseGetsHttp)
{
    EXPECT_EQ(HomePageURL("www.example.com"), "http://www.example.com");
    EXPECT_EQ(HomePageURL("[::1]:8080/a"), "http://[::1]:8080/a");
    EXPECT_EQ(HomePageURL("http://127.0.0.1:8080/"), "http://127.0.0.1:8080/");
    EXPECT_EQ(HomePageURL("HTTPS://Example.COM"), "HTTPS://Example.COM");
    EXPECT_EQ(HomePageURL("hTtP://x"), "hTtP://x");
    // Not a scheme of ours, or not quite one: fetched after "http://" as before.
    EXPECT_EQ(HomePageURL("ftp://x"), "http://ftp://x");
    EXPECT_EQ(HomePageURL("http:/x"), "http://http:/x");
    EXPECT_EQ(HomePageURL(" http://x"), "http:// http://x");
    EXPECT_EQ(HomePageURL("https"), "http://https");
    EXPECT_EQ(HomePageURL(""), "http://");
    // A bare IPv6 address is a host, not a host and a port.
    EXPECT_EQ(HomePageURL("::1"), "http://[::1]");
}

TEST(HomePageURL, ATargetThatCannotBeFetchedSaysWhy)
{
    EXPECT_EQ(HomePageTargetFault("127.0.0.1:8080"), THomePageFault::None);
    EXPECT_EQ(HomePageTargetFault("::1"), THomePageFault::None);
    EXPECT_EQ(HomePageTargetFault(""), THomePageFault::Empty);
    EXPECT_EQ(HomePageTargetFault("gopher://x/"), THomePageFault::Scheme);
    EXPECT_EQ(HomePageTargetFault("x/y://z"), THomePageFault::None);  // no scheme: a path
    EXPECT_EQ(HomePageTargetFault("http://[::1"), THomePageFault::Malformed);
    EXPECT_EQ(HomePageTargetFault("https://"), THomePageFault::Malformed);
    EXPECT_EQ(HomePageTargetFault("x:0"), THomePageFault::BadPort);
    EXPECT_EQ(HomePageTargetFault("x:65536"), THomePageFault::BadPort);
    EXPECT_EQ(HomePageTargetFault(std::string(254, 'h')), THomePageFault::LongHost);
    EXPECT_EQ(HomePageTargetFault("x/" + std::string(2047, 'p')), THomePageFault::LongUrl);
}

TEST_F(HttpTest, ATypedHttpAddressIsFetchedAsTyped)
{
    Server.SetResponse(Page(200, 10));
    std::chrono::microseconds elapsed{0};
    ASSERT_TRUE(MeasureHomePage("http://" + Server.HostPort() + "/typed", elapsed));
    ASSERT_TRUE(MeasureHomePage("HTTP://" + Server.HostPort() + "/upper", elapsed));
    ASSERT_EQ(Server.Requests().size(), 2u);
    EXPECT_EQ(Server.Requests()[0].substr(0, 16), "GET /typed HTTP/");
    EXPECT_EQ(Server.Requests()[1].substr(0, 16), "GET /upper HTTP/");
}

TEST(HttpIPv6, AHomePageAtAnIPv6HostIsFetched)
{
    ClearProxyEnvironment();
    std::unique_ptr<THttpServer> server;
    try {
        server = std::make_unique<THttpServer>(THttpServer::TOptions{AF_INET6, "", ""});
    } catch (const std::runtime_error& error) {
        GTEST_SKIP() << "no IPv6 loopback here: " << error.what();
    }
    server->SetResponse(Page(200, 1000));
    EXPECT_EQ(server->HostPort().substr(0, 6), "[::1]:");
    std::chrono::microseconds elapsed{77};
    ASSERT_TRUE(MeasureHomePage(server->HostPort(), elapsed));
    EXPECT_LT(elapsed, std::chrono::seconds(2));
    ASSERT_TRUE(MeasureHomePage(server->Url() + "/page", elapsed));
    EXPECT_EQ(server->Requests().size(), 2u);
    EXPECT_EQ(THttpServer::HeaderValue(server->Requests()[0], "Host"), server->HostPort());
}

// Every HTTPS case verifies against the test's own authority; only the good
// certificate passes, over IPv4 and IPv6 alike.
class HttpsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ClearProxyEnvironment(); }

    void SetUp() override
    {
        if (!Certificates.Ok())
            GTEST_SKIP() << "no test certificates: " << Certificates.Why();
    }

    // nullopt when the server cannot be had (no IPv6 loopback).
    std::optional<bool> Fetch(const std::string& certificate, int family = AF_INET, const char* host = nullptr)
    {
        std::unique_ptr<THttpServer> server;
        try {
            server = std::make_unique<THttpServer>(
                THttpServer::TOptions{family, certificate, Certificates.KeyFile()});
        } catch (const std::runtime_error& error) {
            std::printf("no server: %s\n", error.what());
            return std::nullopt;
        }
        server->SetResponse(Page(200, 5000));
        const std::string target =
            host ? "https://" + std::string(host) + ":" + std::to_string(server->Port()) + "/" : server->Url() + "/";
        std::chrono::microseconds elapsed{77};
        const bool ok = MeasureHomePage(target, elapsed);
        if (!ok) {
            EXPECT_EQ(elapsed, std::chrono::microseconds(77)) << "time touched on failure";
        }
        return ok;
    }

    TTestCertificates Certificates;
    vqlib::THttpTrustScope Trust{Certificates.CaFile()};
};

TEST_F(HttpsTest, OnlyAGoodCertificateIsAccepted)
{
    EXPECT_EQ(Fetch(Certificates.Good()), true);
    EXPECT_EQ(Fetch(Certificates.Good(), AF_INET, "localhost"), true);
    EXPECT_EQ(Fetch(Certificates.WrongName()), false);
    EXPECT_EQ(Fetch(Certificates.Expired()), false);
    EXPECT_EQ(Fetch(Certificates.SelfSigned()), false);
}

TEST_F(HttpsTest, OverIPv6Too)
{
    const std::optional<bool> good = Fetch(Certificates.Good(), AF_INET6);
    if (!good)
        GTEST_SKIP() << "no IPv6 loopback here";
    EXPECT_TRUE(*good);
    EXPECT_EQ(Fetch(Certificates.WrongName(), AF_INET6), false);
}

TEST_F(HttpsTest, WithoutOurAuthorityTheSystemStoreDecidesAndKnowsItNot)
{
    std::optional<vqlib::THttpTrustScope> system;
    system.emplace("");  // back to the system's store for this scope
    EXPECT_EQ(Fetch(Certificates.Good()), false);
}

TEST_F(HttpsTest, ARedirectFromHttpsToPlainHttpIsFollowed)
{
    THttpServer plain;
    plain.SetResponse(Page(200, 3));
    THttpServer secure(THttpServer::TOptions{AF_INET, Certificates.Good(), Certificates.KeyFile()});
    THttpServer::TResponse moved;
    moved.Status = 302;
    moved.Location = plain.Url() + "/landing";
    secure.SetResponse(moved);
    std::chrono::microseconds elapsed{0};
    ASSERT_TRUE(MeasureHomePage(secure.Url(), elapsed));
    ASSERT_EQ(plain.Requests().size(), 1u);
    EXPECT_EQ(plain.Requests()[0].substr(0, 18), "GET /landing HTTP/");
}

TEST_F(HttpTest, TwoWorkersSendDifferentAgentsEachTheSameOnEveryTry)
{
    Server.SetResponse(Page(200, 10));
    auto twoTries = [&] {
        std::chrono::microseconds elapsed{0};
        MeasureHomePage(Server.HostPort(), elapsed);
        MeasureHomePage(Server.HostPort(), elapsed);
    };
    std::thread first(twoTries);
    first.join();
    std::thread second(twoTries);
    second.join();
    const auto requests = Server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    std::vector<std::string> agents;
    for (const auto& request : requests)
        agents.push_back(THttpServer::HeaderValue(request, "User-Agent"));
    EXPECT_EQ(agents[0], agents[1]);
    EXPECT_EQ(agents[2], agents[3]);
    EXPECT_NE(agents[0], agents[2]);
    EXPECT_EQ(agents[0].rfind("vqweb_", 0), 0u);
}

TEST_F(HttpTest, TheProxyOfTheEnvironmentIsUsed)
{
    Server.SetResponse(Page(200, 3));
    setenv("http_proxy", ("http://" + Server.HostPort()).c_str(), 1);
    vqlib::THttp http;
    const bool ok = http.GetURL("http://127.0.0.9:1/page");  // only the proxy is reached
    unsetenv("http_proxy");
    EXPECT_TRUE(ok);
    ASSERT_EQ(Server.Requests().size(), 1u);
    EXPECT_EQ(Server.Requests()[0].substr(0, 31), "GET http://127.0.0.9:1/page HTT");
}

vqlib::THttpLimits ShortLimits(std::chrono::milliseconds stall, std::chrono::milliseconds overall)
{
    vqlib::THttpLimits limits;
    limits.Stall = stall;
    limits.Overall = overall;
    return limits;
}

using TWallClock = std::chrono::steady_clock;

double Seconds(TWallClock::duration duration) { return std::chrono::duration<double>(duration).count(); }

TEST(HttpLimits, TheProductsLimitsAreTheDefault)
{
    vqlib::THttp http;
    EXPECT_EQ(http.Limits().Connect, 30s);
    EXPECT_EQ(http.Limits().Stall, 30s);
    EXPECT_EQ(http.Limits().Overall, 60s);
}

TEST_F(HttpTest, HostileBodiesEndAsFailedFetchesWithinTheirLimits)
{
    struct TCase {
        const char* Name;
        THttpServer::TResponse Response;
        std::chrono::milliseconds Stall;
        std::chrono::milliseconds Overall;
        std::chrono::milliseconds Expected;  // the limit that should end it
    };
    THttpServer::TResponse drip = Page(200, 100000);
    drip.DripBytesPerSecond = 12;  // never slow enough to count as stalled
    THttpServer::TResponse endless = Page(200, 0);
    endless.Endless = true;
    THttpServer::TResponse stalled = Page(200, 100000);
    stalled.StallBody = true;
    THttpServer::TResponse silent = Page(200, 10);
    silent.DelayMs = 60000;  // no status line either
    const TCase cases[] = {
        {"drip", drip, 600ms, 1200ms, 1200ms},
        {"endless", endless, 600ms, 1200ms, 1200ms},
        {"stalled body", stalled, 600ms, 30s, 600ms},
        {"stalled head", silent, 600ms, 30s, 600ms},
    };
    for (const TCase& c : cases) {
        Server.SetResponse(c.Response);
        vqlib::THttpLimitsScope limits(ShortLimits(c.Stall, c.Overall));  // the product's again after it
        vqlib::THttp http;
        std::string body;
        const auto start = TWallClock::now();
        EXPECT_FALSE(http.GetURL("http://" + Server.HostPort(), &body)) << c.Name;
        const auto took = TWallClock::now() - start;
        std::printf("%s: failed after %.3f s (limit %.3f s), %zu bytes read\n", c.Name, Seconds(took),
                    Seconds(c.Expected), body.size());
        EXPECT_GE(took, c.Expected - 50ms) << c.Name;
        EXPECT_LT(took, c.Expected + 1000ms) << c.Name;
        std::chrono::microseconds elapsed{77};
        EXPECT_FALSE(MeasureHomePage(Server.HostPort(), elapsed)) << c.Name;
        EXPECT_EQ(elapsed, 77us) << c.Name;
    }
}

// Starts a fetch against a server that keeps it waiting, aborts it once the
// server has its request and a little later, and returns how long the fetch
// took to notice.
TWallClock::duration AbortLatency(THttpServer& server)
{
    std::atomic<bool> abort{false};
    std::atomic<TWallClock::rep> abortedAt{0};
    const size_t requested = server.Requests().size();
    std::thread aborter([&] {
        EXPECT_TRUE(WaitFor([&] { return server.Requests().size() > requested; }, 10s));
        std::this_thread::sleep_for(100ms);  // into the wait for what comes after the request
        abortedAt = TWallClock::now().time_since_epoch().count();
        abort = true;
    });
    std::chrono::microseconds elapsed{77};
    const bool ok = MeasureHomePage(server.HostPort(), elapsed, &abort);
    const auto ended = TWallClock::now();
    aborter.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(elapsed, 77us);
    return ended - TWallClock::time_point(TWallClock::duration(abortedAt.load()));
}

TEST_F(HttpTest, AnAbortCutsAFetchOffWhereverItWaits)
{
    THttpServer::TResponse silent = Page(200, 10);
    silent.DelayMs = 60000;
    THttpServer::TResponse stalled = Page(200, 100000);
    stalled.StallBody = true;
    THttpServer::TResponse drip = Page(200, 100000);
    drip.DripBytesPerSecond = 12;
    for (auto [name, response] : {std::pair{"before the head", silent}, std::pair{"in a stalled body", stalled},
                                  std::pair{"in a dripping body", drip}}) {
        Server.SetResponse(response);
        const auto latency = AbortLatency(Server);
        std::printf("abort %s: fetch ended %.1f ms after the abort\n", name, Seconds(latency) * 1000);
        EXPECT_LT(latency, 500ms) << name;  // 20 ms expected; generous for loaded machines
    }
}

TEST_F(HttpTest, AnAbortBeforeTheFetchSendsNothing)
{
    Server.SetResponse(Page(200, 10));
    std::atomic<bool> abort{true};
    std::chrono::microseconds elapsed{77};
    EXPECT_FALSE(MeasureHomePage(Server.HostPort(), elapsed, &abort));
    EXPECT_TRUE(Server.Requests().empty());
}

}  // namespace
