#include "engine/Tryloop.h"

#include "engine/Netnamespace.h"
#include "engine/Pingchannel.h"
#include "engine/Thread.h"

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <system_error>

namespace {

constexpr int kEventsPerWait = 256;
constexpr size_t kStaleEntriesKept = 1024;
// A wait is never longer, so a loop is never stuck on a lost wake-up.
constexpr std::chrono::milliseconds kLongestWait{1000};

class TLoopRegistry {
public:
    std::mutex Mutex;
    std::unordered_map<uint64_t, std::shared_ptr<TTryLoop>> Loops;
};

TLoopRegistry* registry = nullptr;

// A forked child has none of its parent's loop threads, and maybe a mutex
// another thread held: it starts with a registry of its own.
void ForgetParentLoops() { registry = new TLoopRegistry; }

TLoopRegistry& Registry()
{
    // Never destroyed: a loop still ending at exit takes itself out of it.
    static const bool made = [] {
        registry = new TLoopRegistry;
        pthread_atfork(nullptr, nullptr, ForgetParentLoops);
        return true;
    }();
    (void)made;
    return *registry;
}

}  // namespace

class TTryLoop::TThreadBody final : public TThread {
public:
    explicit TThreadBody(std::shared_ptr<TTryLoop> loop) : FLoop(std::move(loop)) { Start(); }

private:
    void Execute() override { FLoop->Run(); }
    std::shared_ptr<TTryLoop> FLoop;
};

TTryLoop& TTryLoop::Hold()
{
    TLoopRegistry& registry = Registry();
    const uint64_t netns = CurrentNetNamespace();
    std::lock_guard lock(registry.Mutex);
    std::shared_ptr<TTryLoop>& place = registry.Loops[netns];
    if (!place) {
        try {
            place.reset(new TTryLoop(netns));
            // Started from here, the thread is in the caller's namespace.
            new TThreadBody(place);
        } catch (...) {
            registry.Loops.erase(netns);
            throw;
        }
    }
    ++place->FHolders;
    return *place;
}

void TTryLoop::Retain()
{
    std::lock_guard lock(Registry().Mutex);
    ++FHolders;
}

void TTryLoop::Release()
{
    // Woken with the lock held: once it is let go, the loop may end and be
    // gone, its descriptors perhaps someone else's.
    std::lock_guard lock(Registry().Mutex);
    --FHolders;
    Wake();
}

TTryLoop::TTryLoop(uint64_t netns) : FNetns(netns)
{
    FEpoll = epoll_create1(EPOLL_CLOEXEC);
    FWakeup = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = FWakeup;
    if (FEpoll < 0 || FWakeup < 0 || epoll_ctl(FEpoll, EPOLL_CTL_ADD, FWakeup, &event) != 0) {
        const int error = errno;
        if (FEpoll >= 0)
            close(FEpoll);
        if (FWakeup >= 0)
            close(FWakeup);
        throw std::system_error(error, std::generic_category(), "try loop");
    }
}

TTryLoop::~TTryLoop()
{
    FPing4.reset();
    FPing6.reset();
    close(FWakeup);
    close(FEpoll);
}

void TTryLoop::Post(TTask task)
{
    Post(TReservedTask(std::move(task)));
}

void TTryLoop::Post(TReservedTask task) noexcept
{
    {
        std::lock_guard lock(FPostMutex);
        FPosted.splice(FPosted.end(), task.FPlace);
    }
    Wake();
}

void TTryLoop::Wake() noexcept
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(FWakeup, &one, sizeof one);
}

TTryLoop::TTimerId TTryLoop::AddTimer(TTime due, const std::atomic<bool>* abort, TTask fired)
{
    const TTimerId timer = ++FLastTimer;
    // Should the second step fail, the order's entry is skipped as a cancelled one's.
    FDueOrder.push({due, timer});
    FTimers.emplace(timer, TTimer{due, abort, std::move(fired)});
    if (abort)
        ++FAbortable;
    return timer;
}

void TTryLoop::CancelTimer(TTimerId timer)
{
    const auto found = FTimers.find(timer);
    if (found == FTimers.end())
        return;
    if (found->second.Abort)
        --FAbortable;
    FTimers.erase(found);
    // Most deadlines are cancelled by the answer long before they are due:
    // their entries would pile up in the order until then.
    if (FDueOrder.size() > 2 * FTimers.size() + kStaleEntriesKept)
        RebuildDueOrder();
}

void TTryLoop::RebuildDueOrder()
{
    std::vector<TDue> live;
    live.reserve(FTimers.size());
    for (const auto& [timer, entry] : FTimers)
        live.push_back({entry.Due, timer});
    FDueOrder = decltype(FDueOrder)(std::greater<>(), std::move(live));
}

void TTryLoop::Fire(TTimerId timer)
{
    const auto found = FTimers.find(timer);
    if (found == FTimers.end())
        return;
    if (found->second.Abort)
        --FAbortable;
    TTask fired = std::move(found->second.Fired);
    FTimers.erase(found);
    fired();
}

bool TTryLoop::Watch(int fd, std::function<void()> ready, uint32_t events)
{
    epoll_event event{};
    event.events = events;
    event.data.fd = fd;
    FWatched[fd] = std::make_shared<std::function<void()>>(std::move(ready));
    if (epoll_ctl(FEpoll, EPOLL_CTL_ADD, fd, &event) != 0) {
        const int error = errno;
        FWatched.erase(fd);
        errno = error;
        return false;
    }
    return true;
}

void TTryLoop::Unwatch(int fd)
{
    if (FWatched.erase(fd))
        epoll_ctl(FEpoll, EPOLL_CTL_DEL, fd, nullptr);
}

TPingChannel& TTryLoop::PingChannel(int family)
{
    std::unique_ptr<TPingChannel>& channel = family == AF_INET6 ? FPing6 : FPing4;
    if (!channel)
        channel = std::make_unique<TPingChannel>(*this, family);
    return *channel;
}

int TTryLoop::WaitMilliseconds(TTime now) const
{
    auto wait = kLongestWait;
    if (!FDueOrder.empty()) {
        const auto untilDue = std::chrono::ceil<std::chrono::milliseconds>(FDueOrder.top().Due - now);
        wait = std::clamp(untilDue, std::chrono::milliseconds(0), wait);
    }
    if (FAbortable > 0)
        wait = std::min(wait, std::chrono::duration_cast<std::chrono::milliseconds>(kAbortSweep));
    return static_cast<int>(wait.count());
}

void TTryLoop::RunPosted()
{
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(FWakeup, &count, sizeof count);
    std::list<TTask> posted;
    {
        std::lock_guard lock(FPostMutex);
        posted.swap(FPosted);
    }
    for (TTask& task : posted)
        task();
}

void TTryLoop::FireDue(TTime now)
{
    while (!FDueOrder.empty() && FDueOrder.top().Due <= now) {
        const TTimerId timer = FDueOrder.top().Timer;
        FDueOrder.pop();
        Fire(timer);
    }
}

void TTryLoop::SweepAborts(TTime now)
{
    FLastSweep = now;
    std::vector<TTimerId> aborted;
    for (const auto& [timer, entry] : FTimers) {
        if (entry.Abort && entry.Abort->load())
            aborted.push_back(timer);
    }
    for (TTimerId timer : aborted)
        Fire(timer);
}

bool TTryLoop::Finished()
{
    if (!FTimers.empty())
        return false;
    std::lock_guard registryLock(Registry().Mutex);
    if (FHolders > 0)
        return false;
    {
        std::lock_guard lock(FPostMutex);
        if (!FPosted.empty())
            return false;
    }
    const auto place = Registry().Loops.find(FNetns);
    if (place != Registry().Loops.end() && place->second.get() == this)
        Registry().Loops.erase(place);
    return true;
}

void TTryLoop::Run()
{
    epoll_event events[kEventsPerWait];
    for (;;) {
        const int ready = epoll_wait(FEpoll, events, kEventsPerWait, WaitMilliseconds(std::chrono::steady_clock::now()));
        for (int i = 0; i < ready; ++i) {
            if (events[i].data.fd == FWakeup) {
                RunPosted();
                continue;
            }
            const auto found = FWatched.find(events[i].data.fd);
            if (found == FWatched.end())
                continue;  // unwatched by an earlier event of this wait
            // Held here: the handler may unwatch itself.
            const std::shared_ptr<std::function<void()>> handler = found->second;
            (*handler)();
        }
        const TTime now = std::chrono::steady_clock::now();
        FireDue(now);
        if (FAbortable > 0 && now - FLastSweep >= kAbortSweep)
            SweepAborts(now);
        if (Finished())
            return;
    }
}
