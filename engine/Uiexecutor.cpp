#include "engine/Uiexecutor.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

THook<TUiExecutor*>& ExecutorHook()
{
    // Never destroyed: a worker may still report while the program exits.
    static THook<TUiExecutor*>* hook = new THook<TUiExecutor*>(nullptr);
    return *hook;
}

}  // namespace

TUiExecutor::TUiExecutor() : FUiThread(std::this_thread::get_id()) {}

TUiExecutor::~TUiExecutor() = default;

void TUiExecutor::RunAndWait(const std::function<void()>& task)
{
    if (IsUiThread()) {
        task();
        return;
    }
    auto job = std::make_shared<TJob>();
    job->Task = task;
    {
        std::lock_guard lock(FMutex);
        FQueue.push_back(job);
    }
    Wake();
    std::unique_lock lock(job->Mutex);
    job->Finished.wait(lock, [&] { return job->Done; });
    if (job->Error)
        std::rethrow_exception(job->Error);
}

void TUiExecutor::Post(const std::function<void()>& task)
{
    auto job = std::make_shared<TJob>();
    job->Task = task;
    {
        std::lock_guard lock(FMutex);
        FQueue.push_back(job);
    }
    Wake();
}

void TUiExecutor::RunPending()
{
    std::deque<std::shared_ptr<TJob>> jobs;
    {
        std::lock_guard lock(FMutex);
        jobs.swap(FQueue);
    }
    for (auto& job : jobs) {
        std::exception_ptr error;
        try {
            RunTask(job->Task);
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(job->Mutex);
        job->Error = error;
        job->Done = true;
        job->Finished.notify_one();
    }
}

bool TQueueUiExecutor::WaitAndRun(std::chrono::milliseconds timeout)
{
    {
        std::unique_lock lock(FMutex);
        if (!FQueued.wait_for(lock, timeout, [this] { return !FQueue.empty(); }))
            return false;
    }
    RunPending();
    return true;
}

bool TQueueUiExecutor::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return false;
        // Short slices: done() may turn true without any task being queued.
        WaitAndRun(std::min(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now),
                            std::chrono::milliseconds(10)));
    }
    return true;
}

void TQueueUiExecutor::Wake()
{
    std::lock_guard lock(FMutex);
    FQueued.notify_all();
}

void InstallUiExecutor(TUiExecutor* executor)
{
    static auto* program = new std::optional<TUiExecutorScope>;
    program->reset();
    if (executor)
        program->emplace(*executor);
}

TUiExecutor* InstalledUiExecutor() { return ExecutorHook().Get(); }

TUiExecutorScope::TUiExecutorScope(TUiExecutor& executor) : FScope(ExecutorHook(), &executor) {}

void RunOnUiThread(const std::function<void()>& task)
{
    TUiExecutor* executor = InstalledUiExecutor();
    if (!executor) {
        // Running it here instead would race with the UI thread.
        std::fputs("RunOnUiThread: no UI executor installed\n", stderr);
        std::abort();
    }
    executor->RunAndWait(task);
}
