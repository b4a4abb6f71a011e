// The resolution phase of a run against a slow name server: 200 names that
// each answer after 100 ms, looked up as a run does now (all at once, off the
// UI thread) and, side by side, one after another on the UI thread as runs did
// before. Prints how long each phase took and the longest time that a task
// posted to the UI thread meanwhile had to wait for it: the window's stall.
// The name server is first the host-lookup seam, then (as root) a DNS
// responder on loopback inside a network and mount namespace of the bench's
// own, named by a resolv.conf of its own there, so that the system's
// getaddrinfo does the lookups; no query leaves the process or namespace.

#include "engine/Hostresolution.h"
#include "engine/Testrun.h"
#include "engine/Uiexecutor.h"
#include "tests/support/Dnsresponder.h"
#include "tests/support/Heldlookups.h"
#include "tests/support/Netns.h"
#include "vqlib/Vqnet.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kNames = 200;
constexpr std::chrono::milliseconds kAnswerDelay{100};

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Posts a task to the UI thread every 2 ms from a thread of its own; each
// task notes how long it waited to run.
class THeartbeat {
public:
    explicit THeartbeat(TUiExecutor& executor) : FExecutor(executor), FThread([this] { Beat(); }) {}
    ~THeartbeat() { Stop(); }

    // Stops the beats; the UI thread then runs those still queued.
    void Stop()
    {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
        FExecutor.RunPending();
    }
    double LongestWaitMs() const { return FLongestWaitMs; }  // UI thread

private:
    void Beat()
    {
        while (!FStop) {
            const Clock::time_point posted = Clock::now();
            FExecutor.Post([this, posted] { FLongestWaitMs = std::max(FLongestWaitMs, MsSince(posted)); });
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    TUiExecutor& FExecutor;
    std::atomic<bool> FStop{false};
    double FLongestWaitMs = 0;
    std::thread FThread;
};

struct TPhase {
    double Ms = 0;
    double StallMs = 0;
    double StartMs = 0;  // the call that starts the phase
    int Resolved = 0;
};

std::vector<TDNSDispInfo> NamedPingItems()
{
    std::vector<TDNSDispInfo> items(kNames);
    for (int i = 0; i < kNames; ++i) {
        items[i].Name = "item" + std::to_string(i);
        items[i].DomainIP = "host" + std::to_string(i) + ".bench";
        items[i].DoType = dtPing;
    }
    return items;
}

int CountResolved(const std::vector<TDNSDispInfo>& items)
{
    return static_cast<int>(
        std::count_if(items.begin(), items.end(), [](const TDNSDispInfo& item) { return !item.IP.empty(); }));
}

// As runs did before: one name after another on the UI thread.
TPhase Sequential(TQueueUiExecutor& executor)
{
    std::vector<TDNSDispInfo> items = NamedPingItems();
    THeartbeat heartbeat(executor);
    const Clock::time_point start = Clock::now();
    TWASTool tool;
    for (TDNSDispInfo& item : items) {
        std::string ip;
        if (tool.ResolveHostIP(item.DomainIP, ip))
            item.IP = ip;
    }
    TPhase phase;
    phase.Ms = MsSince(start);
    heartbeat.Stop();
    phase.StallMs = heartbeat.LongestWaitMs();
    phase.Resolved = CountResolved(items);
    return phase;
}

// As a run does now, the UI thread serving its queue meanwhile.
TPhase Concurrent(TQueueUiExecutor& executor)
{
    std::vector<TDNSDispInfo> items = NamedPingItems();
    TTestRun run(items, TTestRun::kTryTimeout, TTestRun::kTriesPerItem);
    THeartbeat heartbeat(executor);
    bool resolved = false;
    const Clock::time_point start = Clock::now();
    run.ResolveHosts([&resolved] { resolved = true; });
    const double startMs = MsSince(start);
    executor.RunUntil([&resolved] { return resolved; }, std::chrono::minutes(2));
    TPhase phase;
    phase.Ms = MsSince(start);
    heartbeat.Stop();
    phase.StallMs = heartbeat.LongestWaitMs();
    phase.StartMs = startMs;
    phase.Resolved = CountResolved(items);
    return phase;
}

// Both phases, and the figures side by side; mostInFlight() says how many
// lookups the name server saw waiting at once during the first.
void Compare(const std::function<int()>& mostInFlight)
{
    TQueueUiExecutor executor;
    TUiExecutorScope scope(executor);
    const TPhase now = Concurrent(executor);
    const int most = mostInFlight();
    const TPhase before = Sequential(executor);
    std::printf("%-36s %10s %22s %9s\n", "", "phase", "longest UI-thread wait", "resolved");
    std::printf("%-36s %7.0f ms %19.1f ms %5d/%d\n", "all at once, off the UI thread", now.Ms, now.StallMs,
                now.Resolved, kNames);
    std::printf("%-36s %7.0f ms %19.1f ms %5d/%d\n", "one after another on the UI thread", before.Ms, before.StallMs,
                before.Resolved, kNames);
    std::printf("starting the lookups took the UI thread %.1f ms; most lookups in flight at once: %d\n", now.StartMs,
                most);
    std::printf("phase %.1fx faster; targets: phase <= 500 ms, wait < 50 ms: %s\n", before.Ms / now.Ms,
                now.Ms <= 500 && now.StallMs < 50 && now.Resolved == kNames ? "met" : "NOT met");
}

// Answers every query on 127.0.0.1:53 after a fixed delay, however many wait
// at once: an A query with 127.0.0.1, any other with no record.
class TLateNameServer {
public:
    explicit TLateNameServer(std::chrono::milliseconds delay) : FDelay(delay)
    {
        FSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(53);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (FSocket < 0 || bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return;
        FReceiver = std::thread([this] { Receive(); });
        FSender = std::thread([this] { Send(); });
    }
    ~TLateNameServer()
    {
        {
            std::lock_guard lock(FMutex);
            FStop = true;
            FChanged.notify_all();
        }
        if (FReceiver.joinable())
            FReceiver.join();
        if (FSender.joinable())
            FSender.join();
        if (FSocket >= 0)
            close(FSocket);
    }
    bool Ok() const { return FReceiver.joinable(); }
    int MostWaiting()
    {
        std::lock_guard lock(FMutex);
        return FMostWaiting;
    }

private:
    struct TPending {
        Clock::time_point Due;
        std::string Reply;
        sockaddr_in To;
    };

    static std::string Answer(const std::string& query)
    {
        const std::string question = dnsmsg::QuestionOf(query);
        const std::string typeA("\0\1\0\1", 4);  // type A, class IN
        const bool a = question.size() >= 4 && question.compare(question.size() - 4, 4, typeA) == 0;
        if (!a)
            return dnsmsg::Reply(query, 0x8180, 0, 0, 0);
        return dnsmsg::Reply(query, 0x8180, 1, 0, 0,
                             dnsmsg::Record(dnsmsg::Pointer(12), 1, 60, dnsmsg::AData("127.0.0.1")));
    }

    bool Stopping()
    {
        std::lock_guard lock(FMutex);
        return FStop;
    }

    void Receive()
    {
        char buffer[1500];
        while (!Stopping()) {
            pollfd ready{FSocket, POLLIN, 0};
            if (poll(&ready, 1, 50) <= 0)
                continue;
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t got =
                recvfrom(FSocket, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (got <= 0)
                continue;
            std::lock_guard lock(FMutex);
            FPending.push_back({Clock::now() + FDelay, Answer(std::string(buffer, static_cast<size_t>(got))), from});
            FMostWaiting = std::max(FMostWaiting, static_cast<int>(FPending.size()));
            FChanged.notify_all();
        }
    }

    // The delay is the same for all, so the first queued is the first due.
    void Send()
    {
        std::unique_lock lock(FMutex);
        while (!FStop) {
            if (FPending.empty()) {
                FChanged.wait(lock);
                continue;
            }
            if (FChanged.wait_until(lock, FPending.front().Due, [this] { return FStop; }))
                break;
            if (Clock::now() < FPending.front().Due)
                continue;
            const TPending due = FPending.front();
            FPending.pop_front();
            sendto(FSocket, due.Reply.data(), due.Reply.size(), 0, reinterpret_cast<const sockaddr*>(&due.To),
                   sizeof due.To);
        }
    }

    std::chrono::milliseconds FDelay;
    int FSocket = -1;
    std::mutex FMutex;
    std::condition_variable FChanged;
    bool FStop = false;
    std::deque<TPending> FPending;
    int FMostWaiting = 0;
    std::thread FReceiver;
    std::thread FSender;
};

// In a mount namespace of its own: resolv.conf names only 127.0.0.1, and
// names are looked up in the hosts file and DNS alone.
bool UseOwnResolverFiles(std::string& why)
{
    char folder[] = "/tmp/bench_resolve.XXXXXX";
    if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || mkdtemp(folder) == nullptr) {
        why = std::string("no mount namespace of our own: ") + std::strerror(errno);
        return false;
    }
    const std::string resolvConf = std::string(folder) + "/resolv.conf";
    const std::string nsswitchConf = std::string(folder) + "/nsswitch.conf";
    std::ofstream(resolvConf) << "nameserver 127.0.0.1\noptions timeout:5 attempts:1\n";
    std::ofstream(nsswitchConf) << "hosts: files dns\n";
    const bool bound = mount(resolvConf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0
                    && mount(nsswitchConf.c_str(), "/etc/nsswitch.conf", nullptr, MS_BIND, nullptr) == 0;
    if (!bound)
        why = std::string("cannot bind our resolver files: ") + std::strerror(errno);
    // The mounts keep the files for as long as this namespace lives.
    std::remove(resolvConf.c_str());
    std::remove(nsswitchConf.c_str());
    rmdir(folder);
    return bound;
}

}  // namespace

int main()
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("== resolution phase: %d names, each answered after %lld ms, at most %d lookups in flight ==\n",
                kNames, static_cast<long long>(kAnswerDelay.count()), THostResolution::kMaxInFlight);
    {
        std::printf("-- through the host-lookup seam --\n");
        auto server = std::make_shared<THeldLookups>(
            [](const std::string&) { return std::optional<std::string>("127.0.0.1"); }, kAnswerDelay);
        THostLookupScope lookup(server->Lookup());
        Compare([&server] { return server->MostInFlight(); });
    }
    std::printf("-- getaddrinfo against a DNS responder in a namespace of our own --\n");
    std::string why;
    const int rc = RunInOwnNetns(
        [] {
            std::string failure;
            if (!UseOwnResolverFiles(failure)) {
                std::printf("skipped: %s\n", failure.c_str());
                return 0;
            }
            TLateNameServer server(kAnswerDelay);
            if (!server.Ok()) {
                std::printf("skipped: cannot bind 127.0.0.1:53\n");
                return 0;
            }
            Compare([&server] { return server.MostWaiting(); });
            std::fflush(stdout);
            return 0;
        },
        why);
    if (rc != 0)
        std::printf("skipped: %s (code %d)\n", why.empty() ? "namespace set-up failed" : why.c_str(), rc);
    return 0;
}
