#pragma once
// "Run this on the UI thread and wait": the one way a worker reaches the
// thread that owns the window (or, in a program without one, its main loop).
// The program installs one executor at start-up; tests install a plain queue.

#include "vqlib/Vqhook.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

class TUiExecutor {
    struct TJob;

public:
    // A task with its place in the UI thread's queue made beforehand, so that
    // handing it over needs no memory: a worker's report must not be lost to
    // an allocation that fails at the end of its work.
    class TReservedTask {
    public:
        // Allocates here; throws std::bad_alloc.
        explicit TReservedTask(std::function<void()> task);

    private:
        friend class TUiExecutor;
        std::list<std::shared_ptr<TJob>> FPlace;  // one job, spliced into the queue
    };

    virtual ~TUiExecutor();
    TUiExecutor(const TUiExecutor&) = delete;
    TUiExecutor& operator=(const TUiExecutor&) = delete;

    // Runs task on the UI thread and returns once it has run; on the UI thread
    // itself it runs at once. What the task throws is thrown here again.
    void RunAndWait(const std::function<void()>& task);
    // The same without allocating; a task is run this way once.
    void RunAndWait(TReservedTask& task);

    // Queues task to run on the UI thread later and returns at once; from any
    // thread. Nobody waits for it; what it throws is kept for
    // RethrowUnwaitedError (the first since the last call).
    void Post(const std::function<void()>& task);
    // The same without allocating.
    void Post(TReservedTask task) noexcept;

    // UI thread: runs every task queued so far. Also called by code that has
    // to wait on the UI thread for workers which may be reporting meanwhile.
    void RunPending();

    bool IsUiThread() const { return std::this_thread::get_id() == FUiThread; }

protected:
    // The thread that constructs the executor is its UI thread.
    TUiExecutor();
    // A task was queued: make the UI thread call RunPending soon. Any thread;
    // it must not fail, nor allocate.
    virtual void Wake() noexcept = 0;
    // Runs one task on the UI thread; a program may guard it its own way.
    virtual void RunTask(const std::function<void()>& task) { task(); }

    std::mutex FMutex;  // guards the queue
    bool QueueEmpty() const { return FQueue.empty(); }  // with FMutex held
    // UI thread: throws what a posted task threw, so that the loop serving
    // the queue hears of it instead of waiting for what the task was to do.
    void RethrowUnwaitedError();

private:
    // The waiting thread holds its job, not the executor, when it wakes.
    struct TJob {
        std::function<void()> Task;
        std::mutex Mutex;
        std::condition_variable Finished;
        bool Done = false;
        bool Waited = false;  // a thread waits for it and takes its error
        std::exception_ptr Error;
    };
    void Enqueue(std::list<std::shared_ptr<TJob>>& place) noexcept;
    static void AwaitDone(TJob& job);

    // A list rather than a deque: a job joins it by a splice, which never
    // allocates.
    std::list<std::shared_ptr<TJob>> FQueue;
    std::exception_ptr FUnwaitedError;  // UI thread
    std::thread::id FUiThread;
};

// A queue that the UI thread drains itself: for tests and programs without a
// window. Create it on the thread that will drain it.
class TQueueUiExecutor : public TUiExecutor {
public:
    // Waits up to timeout for a task, then runs what is queued; true if any
    // ran. What a posted task threw is thrown here.
    bool WaitAndRun(std::chrono::milliseconds timeout);
    // Runs tasks as they come until done() holds or timeout passes; returns done().
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

protected:
    void Wake() noexcept override;

private:
    std::condition_variable FQueued;
};

// The program's executor, installed for the rest of its life (nullptr takes
// it away again); not owned. Tests use TUiExecutorScope.
void InstallUiExecutor(TUiExecutor* executor);
TUiExecutor* InstalledUiExecutor();
// Runs task on the UI thread through the installed executor and waits.
void RunOnUiThread(const std::function<void()>& task);
// The same without allocating (TUiExecutor::TReservedTask).
void RunOnUiThread(TUiExecutor::TReservedTask& task);

// Queues task on the UI thread through the installed executor; nobody waits.
void PostOnUiThread(TUiExecutor::TReservedTask task) noexcept;

// Installs an executor for one scope (tests, a run of orvel-cli), the
// previous one again after.
class TUiExecutorScope {
public:
    explicit TUiExecutorScope(TUiExecutor& executor);

private:
    THookScope<TUiExecutor*> FScope;
};
