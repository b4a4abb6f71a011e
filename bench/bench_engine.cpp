// Measures the engine against reference tools on loopback and prints figures:
// the home-page fetch against curl's time_total, Ping against the system
// ping (at larger delays inside a namespace of its own with a late
// responder), and a run of 100 items against its bound, with the longest
// stall of the UI thread.

#include "bench/Benchtools.h"
#include "engine/Measurehomepage.h"
#include "engine/Measureping.h"
#include "engine/Measuretcp.h"
#include "engine/Tryloop.h"
#include "engine/Testrun.h"
#include "engine/Uiexecutor.h"
#include "tests/support/Httpserver.h"
#include "tests/support/Noproxy.h"
#include "tests/support/Netns.h"
#include "vqlib/Vqtick.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTries = 40;

void PrintComparison(const char* method, int delay, const char* reference, double engine, double other)
{
    std::printf("%-9s D=%3d ms  engine %8.3f ms  %-14s %8.3f ms  diff %+7.3f ms  ratio %6.3f\n", method, delay,
                engine, reference, other, engine - other, other > 0 ? engine / other : NAN);
}

void BenchHomePage()
{
    for (int delay : {0, 20, 100}) {
        THttpServer server;
        THttpServer::TResponse page;
        page.BodySize = 16 * 1024;
        page.DelayMs = delay;
        server.SetResponse(page);
        std::vector<double> engine, curl;
        std::chrono::microseconds elapsed{0};
        MeasureHomePage(server.HostPort(), elapsed);  // warm-up, like curl's first fetch
        for (int round = 0; round < 4; ++round) {
            for (int i = 0; i < kTries / 4; ++i)
                if (MeasureHomePage(server.HostPort(), elapsed))
                    engine.push_back(Milliseconds(elapsed));
            for (double time : CurlTimes("http://" + server.HostPort(), kTries / 4))
                curl.push_back(time);
        }
        PrintComparison("home page", delay, "curl", Mean(engine), Mean(curl));
    }
}

double EnginePingAverage(int count)
{
    std::vector<double> values;
    for (int i = 0; i < count; ++i) {
        std::chrono::microseconds elapsed{0};
        if (MeasurePing("127.0.0.1", 5000, elapsed))
            values.push_back(Milliseconds(elapsed));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return Mean(values);
}

void BenchPing()
{
    PrintComparison("ping", 0, "system ping", EnginePingAverage(kTries), SystemPingAverage("127.0.0.1", kTries));
    for (int delay : {20, 100}) {
        std::string why;
        const int rc = RunInOwnNetns(
            [delay] {
                if (!WriteSysctl("net/ipv4/ping_group_range", "0 2147483647")
                    || !WriteSysctl("net/ipv4/icmp_echo_ignore_all", "1"))
                    return 2;
                TEchoResponder responder(TEchoResponder::TMode::Reply, delay);
                if (!responder.Ok())
                    return 3;
                const double engine = EnginePingAverage(kTries);
                PrintComparison("ping", delay, "system ping", engine, SystemPingAverage("127.0.0.1", kTries));
                std::fflush(stdout);
                return 0;
            },
            why);
        if (rc != 0)
            std::printf("ping      D=%3d ms  skipped: %s (code %d)\n", delay, why.empty() ? "namespace set-up failed" : why.c_str(), rc);
    }
}

// A queue executor that times how long the UI thread is busy in one go.
class TTimedExecutor : public TQueueUiExecutor {
public:
    double LongestMs = 0;

protected:
    void RunTask(const std::function<void()>& task) override
    {
        const auto start = Clock::now();
        task();
        LongestMs = std::max(LongestMs, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
};

void BenchRun(const char* label, int8_t method, int delay)
{
    constexpr int kItems = 100;
    THttpServer server;
    THttpServer::TResponse page;
    page.BodySize = 16 * 1024;
    page.DelayMs = delay;
    server.SetResponse(page);

    TTimedExecutor executor;
    TUiExecutorScope scope(executor);
    std::vector<TDNSDispInfo> items(kItems);
    for (int i = 0; i < kItems; ++i) {
        items[i].Name = "item" + std::to_string(i);
        items[i].DomainIP = method == dtHomePage ? server.HostPort() : "127.0.0.1";
        items[i].DoType = method;
    }
    std::atomic<int64_t> trySum{0}, tryCount{0};  // microseconds, tries
    bool completed = false;
    TTestRun run(items, 5000, 5);
    run.SetTryObserver([&](const TDNSDispInfo&, int, const TTryOutcome& outcome) {
        if (outcome.Ok) {
            trySum += outcome.Elapsed.count();
            ++tryCount;
        }
    });
    run.Listener.Completed = [&] { completed = true; };

    const auto start = Clock::now();
    run.Execute();
    const double startStall = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    executor.RunUntil([&] { return completed; }, std::chrono::minutes(5));
    const double wall = std::chrono::duration<double, std::milli>(Clock::now() - start).count();

    const double tryMs = tryCount ? double(trySum) / 1000.0 / double(tryCount) : NAN;
    const double bound = std::ceil(kItems / 20.0) * 5 * (tryMs + 100.0);
    int done = 0;
    for (const TDNSDispInfo& item : items)
        done += item.State == tsDone;
    std::printf("run of %d %s items: wall %.1f ms, bound %.1f ms (try %.2f ms), wall/bound %.3f, "
                "%d done; longest UI stall %.2f ms (start of the run %.2f ms, longest report %.2f ms)\n",
                kItems, label, wall, bound, tryMs, wall / bound, done, std::max(startStall, executor.LongestMs),
                startStall, executor.LongestMs);
}

}  // namespace

// One TCP connect on the try loop, as a run's worker makes it; ms, or NAN.
double EngineTcpConnect(uint16_t port)
{
    TTryLoop& loop = TTryLoop::Hold();
    std::promise<TTryOutcome> outcome;
    loop.Post([&] { StartTcpConnect(loop, "127.0.0.1", port, 5000, nullptr, [&](const TTryOutcome& ended) { outcome.set_value(ended); }); });
    const TTryOutcome ended = outcome.get_future().get();
    loop.Release();
    return ended.Ok ? Milliseconds(ended.Elapsed) : NAN;
}

void BenchTcpConnect()
{
    THttpServer server;
    const uint16_t port = static_cast<uint16_t>(std::stoi(server.HostPort().substr(server.HostPort().rfind(':') + 1)));
    std::vector<double> engine, curl;
    EngineTcpConnect(port);  // warm-up, like curl's first fetch
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < kTries / 4; ++i)
            engine.push_back(EngineTcpConnect(port));
        for (double time : CurlTimes("http://" + server.HostPort(), kTries / 4, "", "time_connect"))
            curl.push_back(time);
    }
    PrintComparison("TCP", 0, "curl connect", Mean(engine), Mean(curl));
}

int main()
{
    ClearProxyEnvironment();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("== home-page fetch vs curl (%d tries each) ==\n", kTries);
    BenchHomePage();
    std::printf("== TCP connect vs curl's time_connect (%d tries each) ==\n", kTries);
    BenchTcpConnect();
    std::printf("== Ping vs system ping (%d tries each) ==\n", kTries);
    BenchPing();
    std::printf("== runs of 100 loopback items ==\n");
    BenchRun("home-page (D=0)", dtHomePage, 0);
    BenchRun("home-page (D=20)", dtHomePage, 20);
    BenchRun("Ping 127.0.0.1", dtPing, 0);
    return 0;
}
