#pragma once
// The one thread that waits on every try in flight of its network namespace:
// the shared ICMP sockets, the DNS queries' sockets, each try's deadline and
// the pauses between tries. Workers hand their tries to it instead of
// blocking a thread each. It runs while anyone holds it and ends by itself
// when the last holder has let go, so a program's last TThread::JoinAll()
// finds it gone.

#include <sys/epoll.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <queue>
#include <thread>
#include <unordered_map>
#include <vector>

class TPingChannel;

class TTryLoop {
public:
    using TTime = std::chrono::steady_clock::time_point;
    using TTask = std::function<void()>;
    using TTimerId = uint64_t;
    // How long an abort may go unseen by a waiting try or pause.
    static constexpr std::chrono::milliseconds kAbortSweep{10};

    // The loop of the calling thread's network namespace, started when none
    // runs; held until Release. Any thread. Throws when it cannot be made.
    static TTryLoop& Hold();
    // One more hold of a loop already held (its own thread, or a holder's).
    void Retain();
    // Lets go of what Hold or Retain gave; the loop may end at once. Any thread; the
    // loop must not be touched by the caller after it.
    void Release();

    // A task with its place in the loop's queue made beforehand, so that
    // handing it over needs no memory.
    class TReservedTask {
    public:
        explicit TReservedTask(TTask task) { FPlace.push_back(std::move(task)); }

    private:
        friend class TTryLoop;
        std::list<TTask> FPlace;  // one task, spliced into the queue
    };

    // Runs task on the loop's thread soon, in the order posted. Any thread;
    // throws std::bad_alloc.
    void Post(TTask task);
    // The same without allocating.
    void Post(TReservedTask task) noexcept;

    // The rest only on the loop's thread.

    // fired runs once: at due, or within kAbortSweep of *abort turning true
    // (abort may be null), unless cancelled before.
    TTimerId AddTimer(TTime due, const std::atomic<bool>* abort, TTask fired);
    void CancelTimer(TTimerId timer);

    // ready runs whenever fd is readable (or, for EPOLLOUT, writable) or has
    // an error waiting, until Unwatch; false with errno when epoll refuses it.
    bool Watch(int fd, std::function<void()> ready, uint32_t events = EPOLLIN);
    void Unwatch(int fd);

    // The shared echo socket of family (AF_INET, AF_INET6), made on first use.
    TPingChannel& PingChannel(int family);

    ~TTryLoop();
    TTryLoop(const TTryLoop&) = delete;
    TTryLoop& operator=(const TTryLoop&) = delete;

private:
    class TThreadBody;
    struct TTimer {
        TTime Due;
        const std::atomic<bool>* Abort;
        TTask Fired;
    };
    struct TDue {
        TTime Due;
        TTimerId Timer;
        bool operator>(const TDue& other) const { return Due > other.Due; }
    };

    explicit TTryLoop(uint64_t netns);
    void Run();
    void Wake() noexcept;
    int WaitMilliseconds(TTime now) const;
    void RunPosted();
    void FireDue(TTime now);
    void SweepAborts(TTime now);
    void Fire(TTimerId timer);
    void RebuildDueOrder();
    // True when nobody holds the loop and nothing is left to run; then it
    // is no longer found by Hold.
    bool Finished();

    const uint64_t FNetns;
    int FHolders = 0;  // guarded by the registry's mutex
    int FEpoll = -1;
    int FWakeup = -1;  // an eventfd: posts and releases

    std::mutex FPostMutex;
    std::list<TTask> FPosted;

    // Loop thread only.
    TTimerId FLastTimer = 0;
    std::unordered_map<TTimerId, TTimer> FTimers;
    std::priority_queue<TDue, std::vector<TDue>, std::greater<>> FDueOrder;  // cancelled ones skipped
    size_t FAbortable = 0;  // timers with an abort flag
    TTime FLastSweep{};
    std::unordered_map<int, std::shared_ptr<std::function<void()>>> FWatched;
    std::unique_ptr<TPingChannel> FPing4;
    std::unique_ptr<TPingChannel> FPing6;
};
