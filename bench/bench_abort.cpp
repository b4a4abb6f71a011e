// How soon a try of each kind ends after an abort (promised: within 100 ms),
// and how soon a run whose workers are all inside a try is shut down, which
// is what closing the window waits for (promised: about half a second).
// Every target keeps its try waiting: a stalled HTTP server, a silent DNS
// responder and, inside a network namespace of the benchmark's own, a
// loopback that answers no echo.

#include "engine/Measuredns.h"
#include "engine/Measurehomepage.h"
#include "engine/Measureping.h"
#include "engine/Testrun.h"
#include "engine/Uiexecutor.h"
#include "net/IdDNSResolver.h"
#include "tests/support/Dnsresponder.h"
#include "tests/support/Httpserver.h"
#include "tests/support/Netns.h"
#include "tests/support/Noproxy.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSamples = 20;
constexpr double kTryPromiseMs = 100;
constexpr double kShutdownPromiseMs = 500;

double Ms(Clock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

void PrintFigures(const char* what, std::vector<double> ms, double promiseMs)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%-26s n=%2zu  min %7.2f  median %7.2f  max %7.2f ms  (promised < %.0f ms)%s\n", what, ms.size(),
                ms.front(), ms[ms.size() / 2], ms.back(), promiseMs, ms.back() < promiseMs ? "" : "  OVER");
}

// One try started on this thread, aborted from another after a varying
// moment; the time from the abort to the try's return.
double AbortLatency(const std::function<bool(const std::atomic<bool>&)>& tryOnce, int sample)
{
    std::atomic<bool> abort{false};
    std::atomic<Clock::rep> abortedAt{0};
    std::thread aborter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50 + 7 * sample));
        abortedAt = Clock::now().time_since_epoch().count();
        abort = true;
    });
    tryOnce(abort);
    const Clock::time_point ended = Clock::now();
    aborter.join();
    return Ms(ended - Clock::time_point(Clock::duration(abortedAt.load())));
}

void BenchTry(const char* what, const std::function<bool(const std::atomic<bool>&)>& tryOnce)
{
    std::vector<double> ms;
    for (int i = 0; i < kSamples; ++i)
        ms.push_back(AbortLatency(tryOnce, i));
    PrintFigures(what, ms, kTryPromiseMs);
}

// Twenty items all inside their first try, then the run is shut down.
void BenchShutdown(const char* what, int8_t method, const std::string& target)
{
    std::vector<double> ms;
    for (int sample = 0; sample < 5; ++sample) {
        TQueueUiExecutor executor;
        TUiExecutorScope scope(executor);
        std::vector<TDNSDispInfo> items;
        for (int i = 0; i < TTestRun::kFirstWorkers; ++i) {
            TDNSDispInfo item;
            item.Name = "item" + std::to_string(i);
            item.DomainIP = target;
            item.DoType = method;
            items.push_back(std::move(item));
        }
        TTestRun run(items, TTestRun::kTryTimeout, TTestRun::kTriesPerItem);
        run.Execute();
        executor.RunUntil([] { return false; }, std::chrono::milliseconds(300));
        const Clock::time_point start = Clock::now();
        run.Shutdown();
        ms.push_back(Ms(Clock::now() - start));
    }
    PrintFigures(what, ms, kShutdownPromiseMs);
}

}  // namespace

int main()
{
    ClearProxyEnvironment();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    TThreadNetns netns;
    const bool ownNetwork = netns.Ok() && WriteSysctl("net/ipv4/icmp_echo_ignore_all", "1");
    if (!ownNetwork)
        std::printf("(no network namespace of our own: %s; Ping and the DNS run are left out)\n", netns.Why().c_str());

    THttpServer stalled;
    THttpServer::TResponse page;
    page.BodySize = 100000;
    page.StallBody = true;
    stalled.SetResponse(page);
    TDnsResponder silent([](const std::string&, int) { return TDnsResponse{}; });

    std::printf("== one try, from the abort to its end ==\n");
    BenchTry("home page, stalled body", [&](const std::atomic<bool>& abort) {
        std::chrono::microseconds elapsed{0};
        return MeasureHomePage(stalled.HostPort(), elapsed, &abort);
    });
    BenchTry("DNS, silent server", [&](const std::atomic<bool>& abort) {
        TIdDNSResolver resolver;
        resolver.SetPort(silent.Port());
        std::chrono::microseconds elapsed{0};
        return MeasureDNSQuery(resolver, "127.0.0.1", TTestRun::kTryTimeout, elapsed, &abort);
    });
    if (ownNetwork) {
        BenchTry("Ping, no echo reply", [](const std::atomic<bool>& abort) {
            std::chrono::microseconds elapsed{0};
            return MeasurePing("127.0.0.1", TTestRun::kTryTimeout, elapsed, &abort);
        });
    }

    std::printf("== shutting down a run of %d items inside their tries ==\n", TTestRun::kFirstWorkers);
    BenchShutdown("home page, stalled body", dtHomePage, stalled.HostPort());
    if (ownNetwork) {
        // Port 53 is the DNS method's; here it is the namespace's own.
        TDnsResponder silent53([](const std::string&, int) { return TDnsResponse{}; }, "127.0.0.1", 53);
        BenchShutdown("DNS, silent server", dtDNSQuery, "127.0.0.1");
        BenchShutdown("Ping, no echo reply", dtPing, "127.0.0.1");
    }
    return 0;
}
