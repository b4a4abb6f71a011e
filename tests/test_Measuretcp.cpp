#include "engine/Measuretcp.h"
#include "engine/Testrun.h"
#include "engine/Tryloop.h"
#include "engine/Uiexecutor.h"
#include "tests/support/Jointhreads.h"
#include "tests/support/Listener.h"
#include "tests/support/Netns.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>

namespace {

using namespace std::chrono_literals;

TTryOutcome Connect(const std::string& address, uint16_t port, int32_t timeout, const std::atomic<bool>* abort = nullptr)
{
    TTryLoop& loop = TTryLoop::Hold();
    std::mutex mutex;
    std::condition_variable ended;
    std::optional<TTryOutcome> outcome;
    loop.Post([&] {
        StartTcpConnect(loop, address, port, timeout, abort, [&](const TTryOutcome& result) {
            std::lock_guard lock(mutex);
            outcome = result;
            ended.notify_all();
        });
    });
    std::unique_lock lock(mutex);
    ended.wait(lock, [&] { return outcome.has_value(); });
    lock.unlock();
    loop.Release();
    return *outcome;
}

TEST(ParseTcpTarget, TakesHostColonPortAndBracketedIPv6)
{
    const auto named = ParseTcpTarget("host.example:443");
    ASSERT_TRUE(named);
    EXPECT_EQ(named->Host, "host.example");
    EXPECT_EQ(named->Port, 443);
    const auto v6 = ParseTcpTarget("[::1]:8080");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->Host, "::1");
    EXPECT_EQ(v6->Port, 8080);
    EXPECT_EQ(ParseTcpTarget("127.0.0.1:65535")->Port, 65535);
    for (const char* bad : {"127.0.0.1", ":80", "host:", "host:0", "host:65536", "host:8a", "host:+80", "::1:80",
                            "[::1]80", "[::1]:", "[zz]:80", "[127.0.0.1]:80", "a:b:80"})
        EXPECT_FALSE(ParseTcpTarget(bad)) << bad;
    EXPECT_FALSE(ParseTcpTarget(std::string("ho\0st:80", 8)));
}

TEST(TcpTargetFault, TellsAMissingPortFromABadPortAndABadHost)
{
    for (const char* good : {"host.example:443", "[::1]:8080", "127.0.0.1:1"})
        EXPECT_EQ(TcpTargetFault(good), TTcpTargetFault::None) << good;
    for (const char* noPort : {"127.0.0.1", "host:", "::1", "::1:80", "a:b:80", "[::1]", "[::1]80", "[::1]:"})
        EXPECT_EQ(TcpTargetFault(noPort), TTcpTargetFault::NoPort) << noPort;
    for (const char* badPort : {"host:0", "host:65536", "host:8a", "host:+80", "[::1]:99999", "h:000080"})
        EXPECT_EQ(TcpTargetFault(badPort), TTcpTargetFault::BadPort) << badPort;
    for (const char* badHost : {":80", "[zz]:80", "[127.0.0.1]:80", "[]:80"})
        EXPECT_EQ(TcpTargetFault(badHost), TTcpTargetFault::BadHost) << badHost;
}

TEST(StartTcpConnect, AListeningPortIsReachedOverIPv4AndIPv6)
{
    TListener v4;
    const TTryOutcome reached = Connect("127.0.0.1", v4.Port(), 5000);
    EXPECT_TRUE(reached.Ok);
    EXPECT_LT(reached.Elapsed, 1s);
    TListener v6(AF_INET6);
    if (v6.Port() == 0)
        GTEST_SKIP() << "no IPv6 loopback here";
    EXPECT_TRUE(Connect("::1", v6.Port(), 5000).Ok);
}

TEST(StartTcpConnect, ARefusalFailsAtOnce)
{
    TListener closed;
    const uint16_t port = closed.Port();
    closed.Close();
    const auto started = std::chrono::steady_clock::now();
    const TTryOutcome refused = Connect("127.0.0.1", port, 5000);
    EXPECT_FALSE(refused.Ok);
    EXPECT_EQ(refused.Cause, TTryCause::Refused);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
    const TTryOutcome nowhere = Connect("not an address", 80, 5000);
    EXPECT_FALSE(nowhere.Ok);
    EXPECT_EQ(nowhere.Cause, TTryCause::BadTarget);
}

TEST(StartTcpConnect, ASilentPortFailsAtTheTimeLimitOrAtAnAbort)
{
    if (std::system("command -v nft >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "nft is not installed";
    std::string why;
    const int rc = RunInOwnNetns(
        [] {
            if (std::system("nft add table ip t && nft add chain ip t in '{ type filter hook input priority 0; }'"
                            " && nft add rule ip t in tcp dport 9 drop")
                != 0)
                return 124;
            const auto started = std::chrono::steady_clock::now();
            const TTryOutcome silent = Connect("127.0.0.1", 9, 300);
            if (silent.Ok || silent.Cause != TTryCause::Timeout)
                return 1;
            const auto waited = std::chrono::steady_clock::now() - started;
            if (waited < 290ms || waited > 3s)
                return 2;
            std::atomic<bool> abort{true};
            const auto aborting = std::chrono::steady_clock::now();
            const TTryOutcome stopped = Connect("127.0.0.1", 9, 5000, &abort);
            if (stopped.Ok || stopped.Cause != TTryCause::Aborted || std::chrono::steady_clock::now() - aborting > 1s)
                return 3;
            return 0;
        },
        why);
    if (rc == -1 || rc == 124)
        GTEST_SKIP() << "no namespace or nft rule of our own: " << why;
    EXPECT_EQ(rc, 0) << "check " << rc << " failed in the namespace";
}

TEST(TestRunTcpConnect, ARunMeasuresTcpItemsByTheirHostAndPort)
{
    TQueueUiExecutor executor;
    TUiExecutorScope scope(executor);
    TListener open;
    TListener closed;
    const uint16_t refusedPort = closed.Port();
    closed.Close();
    std::vector<TDNSDispInfo> items(3);
    items[0].DomainIP = "127.0.0.1:" + std::to_string(open.Port());
    items[1].DomainIP = "127.0.0.1:" + std::to_string(refusedPort);
    items[2].DomainIP = "127.0.0.1";  // no port: nothing to connect to
    for (TDNSDispInfo& item : items)
        item.DoType = dtTCPConnect;
    TTestRun run(items, 2000, 2);
    run.SetPauseBetweenTries(0ms);
    bool completed = false;
    run.Listener.Completed = [&] { completed = true; };
    run.Execute();
    ASSERT_TRUE(executor.RunUntil([&] { return completed; }, 30s));
    EXPECT_EQ(items[0].State, tsDone);
    EXPECT_EQ(items[0].FailCount, 0);
    EXPECT_EQ(items[0].IP, "127.0.0.1");
    EXPECT_EQ(items[1].State, tsNoResponse);
    EXPECT_EQ(items[2].State, tsNoResponse);
    EXPECT_EQ(items[2].FailCount, 2);
}

}  // namespace
