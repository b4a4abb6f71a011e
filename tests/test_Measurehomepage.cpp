// Home-page tries in flight together on the fetch thread of their network
// namespace, each with its own result, limit and abort.
#include "engine/Homepagefetches.h"
#include "engine/Measurehomepage.h"
#include "engine/Thread.h"
#include "tests/support/Certificates.h"
#include "tests/support/Httpserver.h"
#include "tests/support/Netns.h"
#include "tests/support/Noproxy.h"
#include "tests/support/Testclock.h"
#include "tests/support/Waitfor.h"
#include "vqlib/Vqhttp.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using TWallClock = std::chrono::steady_clock;

THttpServer::TResponse Page(size_t bodySize, int delayMs = 0)
{
    THttpServer::TResponse response;
    response.BodySize = bodySize;
    response.DelayMs = delayMs;
    return response;
}

// What the done of each of a number of tries reported, and how often.
class TResults {
public:
    struct TResult {
        int Calls = 0;
        bool Ok = false;
        std::chrono::microseconds Elapsed{0};
        int Shortage = -1;
        std::thread::id Thread;
        TWallClock::time_point At;
        TTryOutcome Outcome;
    };

    explicit TResults(size_t count) : FResults(count) {}

    THomePageDone Done(size_t index)
    {
        return [this, index](TTryOutcome outcome) {
            std::lock_guard lock(FMutex);
            TResult& result = FResults[index];
            ++result.Calls;
            result = {result.Calls,           outcome.Ok,        outcome.Elapsed, outcome.Shortage,
                      std::this_thread::get_id(), TWallClock::now(), std::move(outcome)};
            ++FCalls;
        };
    }

    bool WaitAll(std::chrono::milliseconds deadline)
    {
        return WaitFor([this] { return Calls() >= FResults.size(); }, deadline);
    }

    size_t Calls() const
    {
        std::lock_guard lock(FMutex);
        return FCalls;
    }

    TResult operator[](size_t index) const
    {
        std::lock_guard lock(FMutex);
        return FResults[index];
    }

private:
    mutable std::mutex FMutex;
    std::vector<TResult> FResults;
    size_t FCalls = 0;
};

class HomePageFetchesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ClearProxyEnvironment(); }

    // Every fetch thread has ended: nothing of one test reaches into the next.
    void TearDown() override
    {
        EXPECT_TRUE(WaitFor([] { return !HomePageFetches().Running(); }, 5s));
        TThread::JoinAll();
    }

    THttpServer Server;
};

TEST_F(HomePageFetchesTest, TwoHundredTriesInFlightAtOnceEachGetTheirOwnResult)
{
    constexpr size_t kTries = 200;
    const std::string refused = "127.0.0.1:" + std::to_string(THttpServer::RefusedPort());
    // Every page keeps its try waiting: one after the other they would take minutes.
    for (size_t i = 0; i < kTries; ++i)
        Server.SetResponseFor("/p" + std::to_string(i), Page(i * 100, i % 2 ? 1000 : 0));
    TResults results(kTries);
    std::vector<TWallClock::time_point> startedAt(kTries);
    const auto start = TWallClock::now();
    for (size_t i = 0; i < kTries; ++i) {
        const std::string target = i % 10 == 9 ? refused : Server.HostPort() + "/p" + std::to_string(i);
        startedAt[i] = TWallClock::now();
        StartHomePage(target, std::nullopt, nullptr, results.Done(i));
    }
    ASSERT_TRUE(results.WaitAll(20s)) << results.Calls() << " of " << kTries << " reported";
    const auto took = TWallClock::now() - start;
    std::printf("%zu tries took %.3f s\n", kTries, std::chrono::duration<double>(took).count());
    EXPECT_LT(took, 10s);
    for (size_t i = 0; i < kTries; ++i) {
        const TResults::TResult result = results[i];
        EXPECT_EQ(result.Calls, 1) << i;
        EXPECT_NE(result.Thread, std::this_thread::get_id()) << i;
        EXPECT_EQ(result.Shortage, 0) << i;
        if (i % 10 == 9) {
            EXPECT_FALSE(result.Ok) << i;
            continue;
        }
        EXPECT_TRUE(result.Ok) << i;
        // Each try is timed on its own: within its own start and end, and
        // the delayed ones at least their delay.
        EXPECT_LE(result.Elapsed, result.At - startedAt[i]) << i;
        if (i % 2) {
            EXPECT_GE(result.Elapsed, 1000ms) << i;
        }
    }
    const auto requests = Server.Requests();
    EXPECT_EQ(requests.size(), kTries - kTries / 10);
    for (const auto& request : requests) {
        EXPECT_EQ(THttpServer::HeaderValue(request, "User-Agent"), "vqweb_" + std::to_string(gettid()));
        EXPECT_EQ(THttpServer::HeaderValue(request, "Cache-Control"), "no-cache");
    }
}

TEST_F(HomePageFetchesTest, ASilentOrStalledServerFailsAtTheLimitWhileTheOthersSucceed)
{
    THttpServer silent;
    silent.SetResponse(Page(10, 60000));
    THttpServer stalled;
    THttpServer::TResponse half = Page(100000);
    half.StallBody = true;
    stalled.SetResponse(half);
    Server.SetResponse(Page(5000, 100));
    constexpr size_t kEach = 10;
    TResults results(3 * kEach);
    const auto start = TWallClock::now();
    for (size_t i = 0; i < kEach; ++i) {
        StartHomePage(silent.HostPort(), 600ms, nullptr, results.Done(i));
        StartHomePage(stalled.HostPort(), 600ms, nullptr, results.Done(kEach + i));
        StartHomePage(Server.HostPort(), 600ms, nullptr, results.Done(2 * kEach + i));
    }
    ASSERT_TRUE(results.WaitAll(10s));
    for (size_t i = 0; i < 3 * kEach; ++i) {
        const TResults::TResult result = results[i];
        const bool good = i >= 2 * kEach;
        EXPECT_EQ(result.Ok, good) << i;
        EXPECT_EQ(result.Calls, 1) << i;
        EXPECT_EQ(result.Shortage, 0) << i;
        if (!good) {
            EXPECT_GE(result.At - start, 550ms) << i;
            EXPECT_LT(result.At - start, 1600ms) << i;
        }
    }
}

// The stall is watched per try, not only by the overall limit.
TEST_F(HomePageFetchesTest, AStalledTryEndsAtItsStallLimitWithoutEndingTheOthers)
{
    THttpServer stalled;
    THttpServer::TResponse half = Page(100000);
    half.StallBody = true;
    stalled.SetResponse(half);
    THttpServer::TResponse drip = Page(30);
    drip.DripBytesPerSecond = 20;  // never stalled, done after about 1.5 s
    Server.SetResponse(drip);
    vqlib::THttpLimits limits;
    limits.Stall = 400ms;
    limits.Overall = 30s;
    vqlib::THttpLimitsScope scope(limits);
    TResults results(2);
    const auto start = TWallClock::now();
    StartHomePage(stalled.HostPort(), std::nullopt, nullptr, results.Done(0));
    StartHomePage(Server.HostPort(), std::nullopt, nullptr, results.Done(1));
    ASSERT_TRUE(results.WaitAll(10s));
    EXPECT_FALSE(results[0].Ok);
    EXPECT_GE(results[0].At - start, 350ms);
    EXPECT_LT(results[0].At - start, 1200ms);
    EXPECT_TRUE(results[1].Ok);
    EXPECT_GE(results[1].Elapsed, 1s);
}

// Aborted with the thread woken, or left to find the flag on its next round.
TEST_F(HomePageFetchesTest, AnAbortEndsEveryTryInFlightAtOnce)
{
    constexpr size_t kTries = 100;
    Server.SetResponse(Page(10, 60000));
    THttpServer stalled;
    THttpServer::TResponse half = Page(100000);
    half.StallBody = true;
    stalled.SetResponse(half);
    for (const bool wake : {false, true}) {
        const size_t requested = Server.Requests().size() + stalled.Requests().size();
        std::atomic<bool> abort{false};
        TResults results(kTries);
        for (size_t i = 0; i < kTries; ++i)
            StartHomePage(i % 2 ? stalled.HostPort() : Server.HostPort(), std::nullopt, &abort, results.Done(i));
        ASSERT_TRUE(WaitFor(
            [&] { return Server.Requests().size() + stalled.Requests().size() == requested + kTries; }, 10s));
        std::this_thread::sleep_for(100ms);  // into the waits for what comes after the requests
        EXPECT_EQ(results.Calls(), 0u);
        const auto abortedAt = TWallClock::now();
        abort = true;
        if (wake)
            WakeHomePageFetches();
        ASSERT_TRUE(results.WaitAll(5s));
        TWallClock::duration latest{0};
        for (size_t i = 0; i < kTries; ++i) {
            const TResults::TResult result = results[i];
            EXPECT_FALSE(result.Ok) << i;
            EXPECT_EQ(result.Calls, 1) << i;
            latest = std::max(latest, result.At - abortedAt);
        }
        std::printf("the last of %zu tries ended %.1f ms after the abort%s\n", kTries,
                    std::chrono::duration<double, std::milli>(latest).count(), wake ? " and the wake" : "");
        EXPECT_LT(latest, 100ms) << wake;
    }
}

TEST_F(HomePageFetchesTest, AnAbortedOrUnfetchableTryReportsWithoutARequest)
{
    using namespace std::string_literals;
    Server.SetResponse(Page(10));
    std::atomic<bool> abort{true};
    TResults results(2);
    StartHomePage(Server.HostPort(), std::nullopt, &abort, results.Done(0));
    StartHomePage(Server.HostPort() + "\0junk"s, std::nullopt, nullptr, results.Done(1));
    ASSERT_TRUE(results.WaitAll(5s));
    for (size_t i : {0, 1}) {
        EXPECT_FALSE(results[i].Ok) << i;
        EXPECT_EQ(results[i].Shortage, 0) << i;
        EXPECT_NE(results[i].Thread, std::this_thread::get_id()) << i;
    }
    EXPECT_TRUE(Server.Requests().empty());
}

TEST_F(HomePageFetchesTest, TheThreadEndsWhenIdleAndALaterTryMakesANewOne)
{
    Server.SetResponse(Page(100));
    for (int round = 0; round < 3; ++round) {
        TResults results(1);
        StartHomePage(Server.HostPort(), std::nullopt, nullptr, results.Done(0));
        ASSERT_TRUE(results.WaitAll(5s)) << round;
        EXPECT_TRUE(results[0].Ok) << round;
        ASSERT_TRUE(WaitFor([] { return !HomePageFetches().Running(); }, 5s)) << round;
        TThread::JoinAll();  // would never return while the thread waited for more
    }
    EXPECT_EQ(Server.Requests().size(), 3u);
}

TEST_F(HomePageFetchesTest, AFamilyLimitsTheAddressesANameIsFetchedAt)
{
    // The server listens on 127.0.0.1 only: localhost is reached over IPv4 alone.
    Server.SetResponse(Page(100));
    const std::string target = "localhost:" + std::to_string(Server.Port());
    TResults results(3);
    StartHomePage(target, std::nullopt, nullptr, results.Done(0), {}, false, AF_INET);
    StartHomePage(target, std::nullopt, nullptr, results.Done(1), {}, false, AF_INET6);
    StartHomePage(target, std::nullopt, nullptr, results.Done(2));
    ASSERT_TRUE(results.WaitAll(5s));
    EXPECT_TRUE(results[0].Ok);
    EXPECT_FALSE(results[1].Ok);
    EXPECT_TRUE(results[2].Ok);
}

TEST_F(HomePageFetchesTest, ATryStartedFromItsOwnDoneRuns)
{
    Server.SetResponse(Page(100));
    TResults results(2);
    const THomePageDone second = results.Done(1);
    const std::string target = Server.HostPort();
    StartHomePage(target, std::nullopt, nullptr,
                  [first = results.Done(0), second, target](TTryOutcome outcome) {
                      first(std::move(outcome));
                      StartHomePage(target, std::nullopt, nullptr, second);
                  });
    ASSERT_TRUE(results.WaitAll(5s));
    EXPECT_TRUE(results[0].Ok);
    EXPECT_TRUE(results[1].Ok);
    EXPECT_EQ(results[0].Thread, results[1].Thread);
}

TEST_F(HomePageFetchesTest, TheTrustOfTheStartingScopeHolds)
{
    TTestCertificates certificates;
    if (!certificates.Ok())
        GTEST_SKIP() << "no test certificates: " << certificates.Why();
    THttpServer good(THttpServer::TOptions{AF_INET, certificates.Good(), certificates.KeyFile()});
    THttpServer wrongName(THttpServer::TOptions{AF_INET, certificates.WrongName(), certificates.KeyFile()});
    good.SetResponse(Page(1000));
    wrongName.SetResponse(Page(1000));
    TResults results(3);
    {
        vqlib::THttpTrustScope trust(certificates.CaFile());
        StartHomePage(good.Url(), std::nullopt, nullptr, results.Done(0));
        StartHomePage(wrongName.Url(), std::nullopt, nullptr, results.Done(1));
    }
    StartHomePage(good.Url(), std::nullopt, nullptr, results.Done(2));  // the system's store knows it not
    ASSERT_TRUE(results.WaitAll(10s));
    EXPECT_TRUE(results[0].Ok);
    EXPECT_FALSE(results[1].Ok);
    EXPECT_FALSE(results[2].Ok);
}

// Opens descriptors until none is left, under a low limit; gives them back,
// and the limit, when it goes.
class TDescriptorsUsedUp {
public:
    TDescriptorsUsedUp()
    {
        getrlimit(RLIMIT_NOFILE, &FSaved);
        rlimit lowered = FSaved;
        lowered.rlim_cur = std::min<rlim_t>(FSaved.rlim_cur, 256);
        setrlimit(RLIMIT_NOFILE, &lowered);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            FHeld.push_back(fd);
    }
    ~TDescriptorsUsedUp()
    {
        for (int fd : FHeld)
            ::close(fd);
        setrlimit(RLIMIT_NOFILE, &FSaved);
    }
    TDescriptorsUsedUp(const TDescriptorsUsedUp&) = delete;
    TDescriptorsUsedUp& operator=(const TDescriptorsUsedUp&) = delete;

private:
    rlimit FSaved{};
    std::vector<int> FHeld;
};

TEST_F(HomePageFetchesTest, ATryThatGetsNoDescriptorTellsTheShortage)
{
#ifdef ORVEL_UNDEFINED_SANITIZER
    GTEST_SKIP() << "the sanitizer's checks need descriptors of their own";
#endif
    Server.SetResponse(Page(10));
    TResults results(1);
    {
        TDescriptorsUsedUp used;
        StartHomePage(Server.HostPort(), 2000ms, nullptr, results.Done(0));
        ASSERT_TRUE(results.WaitAll(5s));
    }
    EXPECT_FALSE(results[0].Ok);
    EXPECT_EQ(results[0].Shortage, EMFILE);
    TResults again(1);
    StartHomePage(Server.HostPort(), 2000ms, nullptr, again.Done(0));
    ASSERT_TRUE(again.WaitAll(5s));
    EXPECT_TRUE(again[0].Ok);
    EXPECT_EQ(again[0].Shortage, 0);
}

// A server in a namespace of the test's own is reached only by a try started
// there; the fetch thread of the test's namespace stays apart.
TEST_F(HomePageFetchesTest, ATryStartedInANamespaceFetchesThere)
{
    Server.SetResponse(Page(10));
    std::string why;
    bool made = false;
    TResults results(2);
    std::unique_ptr<THttpServer> inner;
    std::thread inside([&] {
        TThreadNetns netns;
        if (!netns.Ok()) {
            why = netns.Why();
            return;
        }
        made = true;
        inner = std::make_unique<THttpServer>();  // its threads are in the namespace too
        inner->SetResponse(Page(10));
        StartHomePage(inner->HostPort(), 2000ms, nullptr, results.Done(0));
        // The test's own server is not there; nobody listens at its port.
        StartHomePage(Server.HostPort(), 2000ms, nullptr, results.Done(1));
        results.WaitAll(5s);
    });
    inside.join();
    if (!made)
        GTEST_SKIP() << "no network namespace of our own: " << why;
    ASSERT_TRUE(results.WaitAll(5s));
    EXPECT_TRUE(results[0].Ok);
    EXPECT_FALSE(results[1].Ok);
    EXPECT_TRUE(Server.Requests().empty());
    EXPECT_EQ(inner->Requests().size(), 1u);
    TResults outside(1);
    StartHomePage(Server.HostPort(), 2000ms, nullptr, outside.Done(0));
    ASSERT_TRUE(outside.WaitAll(5s));
    EXPECT_TRUE(outside[0].Ok);
    inner.reset();
}

}  // namespace

namespace {

using std::chrono::microseconds;

microseconds PhaseSum(const THttpTry& http)
{
    return http.Resolve + http.Connect + http.Tls + http.Processing + http.Transfer;
}

// One try, waited for.
TTryOutcome FetchOne(const std::string& target, bool failOnHttpError = false,
                     std::optional<std::chrono::milliseconds> limit = std::nullopt,
                     const std::atomic<bool>* abort = nullptr)
{
    auto ended = std::make_shared<std::promise<TTryOutcome>>();
    std::future<TTryOutcome> outcome = ended->get_future();
    StartHomePage(
        target, limit, abort, [ended](TTryOutcome result) { ended->set_value(std::move(result)); }, {},
        failOnHttpError);
    if (outcome.wait_for(10s) != std::future_status::ready)
        throw std::runtime_error("the try never ended");
    return outcome.get();
}

// The certificate's notAfter, read by OpenSSL itself.
int64_t NotAfter(const std::string& certificateFile)
{
    FILE* file = std::fopen(certificateFile.c_str(), "r");
    if (!file)
        return -1;
    X509* certificate = PEM_read_X509(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    std::tm when{};
    const bool read = certificate && ASN1_TIME_to_tm(X509_get0_notAfter(certificate), &when) == 1;
    X509_free(certificate);
    return read ? static_cast<int64_t>(timegm(&when)) : -1;
}

vqlib::THttpResult Timers(int64_t nameLookup, int64_t connected, int64_t tlsDone, int64_t firstByte, bool https)
{
    vqlib::THttpResult result;
    result.Started = true;
    result.Https = https;
    result.NameLookup = microseconds(nameLookup);
    result.Connected = microseconds(connected);
    result.TlsDone = microseconds(tlsDone);
    result.PreTransfer = microseconds(https ? tlsDone : connected);
    result.FirstByte = microseconds(firstByte);
    return result;
}

}  // namespace

TEST(HttpTryOf, PhasesAreTheDifferencesOfTheTimersAndTransferTheRestOfTheTime)
{
    const THttpTry plain = HttpTryOf(Timers(100, 300, 0, 1300, false), 1600us);
    EXPECT_EQ(plain.Resolve, 100us);
    EXPECT_EQ(plain.Connect, 200us);
    EXPECT_EQ(plain.Tls, 0us);
    EXPECT_EQ(plain.Processing, 1000us);
    EXPECT_EQ(plain.Transfer, 300us);

    const THttpTry secure = HttpTryOf(Timers(100, 300, 800, 1300, true), 1600us);
    EXPECT_EQ(secure.Connect, 200us);
    EXPECT_EQ(secure.Tls, 500us);
    EXPECT_EQ(secure.Processing, 500us);
    EXPECT_EQ(secure.Transfer, 300us);
}

TEST(HttpTryOf, TimersBeyondTheTriesTimeAreScaledDownSoThePhasesStillSumToIt)
{
    const vqlib::THttpResult result = Timers(100, 300, 800, 1300, true);
    EXPECT_EQ(PhaseSum(HttpTryOf(result, 0us)), 0us);  // a test's clock that stands still
    const THttpTry half = HttpTryOf(result, 650us);
    EXPECT_EQ(PhaseSum(half), 650us);
    EXPECT_EQ(half.Resolve, 50us);
    EXPECT_EQ(half.Tls, 250us);
    for (const int64_t odd : {1, 7, 333, 1299})
        EXPECT_EQ(PhaseSum(HttpTryOf(result, microseconds(odd))), microseconds(odd)) << odd;
}

TEST(HttpTryOf, AFailedFetchSpendsTheRestInThePhaseItNeverFinished)
{
    const THttpTry refused = HttpTryOf(Timers(100, 0, 0, 0, false), 900us);
    EXPECT_EQ(refused.Resolve, 100us);
    EXPECT_EQ(refused.Connect, 800us);
    EXPECT_EQ(refused.Transfer, 0us);
    const THttpTry handshake = HttpTryOf(Timers(100, 300, 0, 0, true), 900us);
    EXPECT_EQ(handshake.Tls, 600us);
    EXPECT_EQ(handshake.Processing, 0us);
    vqlib::THttpResult untrusted = Timers(100, 0, 0, 0, true);
    untrusted.Failure = vqlib::THttpFailure::TlsUntrusted;
    EXPECT_EQ(HttpTryOf(untrusted, 900us).Tls, 800us);
    const THttpTry unresolved = HttpTryOf(Timers(0, 0, 0, 0, false), 900us);
    EXPECT_EQ(unresolved.Resolve, 900us);
    const THttpTry silent = HttpTryOf(Timers(100, 300, 0, 0, false), 900us);
    EXPECT_EQ(silent.Processing, 600us);
}

using HomePageOutcomeTest = HomePageFetchesTest;

TEST_F(HomePageOutcomeTest, ALateFirstByteIsProcessingAndTheFivePhasesSumToTheTime)
{
    Server.SetResponse(Page(1000, 50));
    const TTryOutcome outcome = FetchOne(Server.HostPort());
    ASSERT_TRUE(outcome.Ok);
    ASSERT_TRUE(outcome.Http);
    const THttpTry& http = *outcome.Http;
    EXPECT_EQ(PhaseSum(http), outcome.Elapsed);
    EXPECT_GE(http.Processing, 50ms);
    EXPECT_LT(http.Transfer, 50ms);
    EXPECT_EQ(http.Tls, 0us);
    EXPECT_GT(http.Connect, 0us);
    EXPECT_EQ(http.Status, 200);
    EXPECT_EQ(http.Address, "127.0.0.1");
    EXPECT_EQ(http.BodyBytes, 1000);
    EXPECT_EQ(http.CertExpiry, 0);
}

TEST_F(HomePageOutcomeTest, ASlowBodyIsTransfer)
{
    THttpServer::TResponse dripping = Page(6);
    dripping.DripBytesPerSecond = 100;
    Server.SetResponse(dripping);
    const TTryOutcome outcome = FetchOne(Server.HostPort());
    ASSERT_TRUE(outcome.Ok && outcome.Http);
    EXPECT_GE(outcome.Http->Transfer, 40ms);
    EXPECT_LT(outcome.Http->Processing, 40ms);
    EXPECT_EQ(PhaseSum(*outcome.Http), outcome.Elapsed);
}

TEST_F(HomePageOutcomeTest, ByATestsClockThePhasesStillSumToTheTriesTime)
{
    TTestClock clock;
    clock.SetTicks(5000);
    TClockScope scope(clock);
    Server.SetResponse(Page(100, 5));
    const TTryOutcome outcome = FetchOne(Server.HostPort());
    ASSERT_TRUE(outcome.Ok && outcome.Http);
    EXPECT_EQ(outcome.Elapsed, 0us);
    EXPECT_EQ(PhaseSum(*outcome.Http), 0us);
    EXPECT_EQ(outcome.Http->BodyBytes, 100);
}

TEST_F(HomePageOutcomeTest, AnIPv6ServerIsTheAddressConnectedTo)
{
    std::unique_ptr<THttpServer> server;
    try {
        server = std::make_unique<THttpServer>(THttpServer::TOptions{AF_INET6, {}, {}});
    } catch (const std::runtime_error& failure) {
        GTEST_SKIP() << "no IPv6 loopback: " << failure.what();
    }
    server->SetResponse(Page(10));
    const TTryOutcome outcome = FetchOne(server->HostPort());
    ASSERT_TRUE(outcome.Ok && outcome.Http);
    EXPECT_EQ(outcome.Http->Address, "::1");
}

TEST_F(HomePageOutcomeTest, AnErrorStatusIsAnAnswerUnlessErrorsFail)
{
    for (const int status : {404, 500}) {
        THttpServer::TResponse error = Page(30);
        error.Status = status;
        Server.SetResponse(error);
        const TTryOutcome kept = FetchOne(Server.HostPort());
        EXPECT_TRUE(kept.Ok) << status;
        EXPECT_EQ(kept.Cause, TTryCause::None) << status;
        ASSERT_TRUE(kept.Http);
        EXPECT_EQ(kept.Http->Status, status);
        EXPECT_EQ(kept.Http->BodyBytes, 30);

        const TTryOutcome failed = FetchOne(Server.HostPort(), true);
        EXPECT_FALSE(failed.Ok) << status;
        EXPECT_EQ(failed.Cause, TTryCause::HttpStatus) << status;
        ASSERT_TRUE(failed.Http);
        EXPECT_EQ(failed.Http->Status, status);
        EXPECT_EQ(PhaseSum(*failed.Http), failed.Elapsed);
    }
    Server.SetResponse(Page(30));
    EXPECT_TRUE(FetchOne(Server.HostPort(), true).Ok);  // below 400 still an answer
}

TEST_F(HomePageOutcomeTest, ConnectionFailuresTellTheirCause)
{
    const TTryOutcome refused = FetchOne("127.0.0.1:" + std::to_string(THttpServer::RefusedPort()));
    EXPECT_FALSE(refused.Ok);
    EXPECT_EQ(refused.Cause, TTryCause::Refused);
    ASSERT_TRUE(refused.Http);
    EXPECT_EQ(refused.Http->Status, 0);
    EXPECT_EQ(PhaseSum(*refused.Http), refused.Elapsed);

    Server.SetResponse(Page(10, 3000));
    const TTryOutcome late = FetchOne(Server.HostPort(), false, 200ms);
    EXPECT_EQ(late.Cause, TTryCause::Timeout);
    ASSERT_TRUE(late.Http);
    EXPECT_GE(late.Http->Processing, 150ms);  // connected, then nothing came

    std::atomic<bool> abort{true};
    EXPECT_EQ(FetchOne(Server.HostPort(), false, std::nullopt, &abort).Cause, TTryCause::Aborted);
}

TEST_F(HomePageOutcomeTest, EachBadCertificateTellsWhatIsWrongWithIt)
{
    TTestCertificates certificates;
    if (!certificates.Ok())
        GTEST_SKIP() << "no test certificates: " << certificates.Why();
    auto serve = [&](const std::string& certificate) {
        auto server = std::make_unique<THttpServer>(
            THttpServer::TOptions{AF_INET, certificate, certificates.KeyFile()});
        server->SetResponse(Page(100));
        return server;
    };
    const auto good = serve(certificates.Good());
    const auto selfSigned = serve(certificates.SelfSigned());
    const auto wrongName = serve(certificates.WrongName());
    const auto expired = serve(certificates.Expired());
    vqlib::THttpTrustScope trust(certificates.CaFile());

    const TTryOutcome fine = FetchOne(good->Url());
    ASSERT_TRUE(fine.Ok && fine.Http);
    EXPECT_GT(fine.Http->Tls, 0us);
    EXPECT_EQ(PhaseSum(*fine.Http), fine.Elapsed);
    EXPECT_EQ(fine.Http->CertExpiry, NotAfter(certificates.Good()));
    EXPECT_GT(fine.Http->CertExpiry, 0);

    EXPECT_EQ(FetchOne(selfSigned->Url()).Cause, TTryCause::TlsUntrusted);
    EXPECT_EQ(FetchOne(wrongName->Url()).Cause, TTryCause::TlsWrongName);
    EXPECT_EQ(FetchOne(expired->Url()).Cause, TTryCause::TlsExpired);
    const TTryOutcome failed = FetchOne(expired->Url());
    ASSERT_TRUE(failed.Http);
    EXPECT_EQ(failed.Http->Address, "127.0.0.1");
    EXPECT_EQ(PhaseSum(*failed.Http), failed.Elapsed);
}

// In a network and mount namespace of its own, where the only name server is
// one on its own loopback that nobody runs: no query can leave the machine.
TEST(MeasureHomePageOutcome, ANameWithoutAnAddressIsNotResolved)
{
    ClearProxyEnvironment();
    std::string why;
    const int rc = RunInOwnNetns(
        [] {
            char resolvConf[] = "/tmp/orvel-resolv-XXXXXX";
            const int fd = mkstemp(resolvConf);
            if (fd < 0)
                return 124;
            close(fd);
            std::ofstream(resolvConf) << "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n";
            const bool own = unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
                && mount(resolvConf, "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0;
            unlink(resolvConf);
            if (!own)
                return 124;
            std::chrono::microseconds elapsed{0};
            TTryOutcome outcome;
            if (MeasureHomePage("http://no-such-host.invalid/", elapsed, nullptr, 5000ms, nullptr, &outcome))
                return 1;
            if (outcome.Cause != TTryCause::NameNotResolved)
                return 10 + static_cast<int>(outcome.Cause);
            return 0;
        },
        why);
    if (rc == -1 || rc == 124)
        GTEST_SKIP() << "no namespaces of our own: " << why;
    EXPECT_EQ(rc, 0) << "check " << rc << " failed in the namespace (10 + the cause)";
}
