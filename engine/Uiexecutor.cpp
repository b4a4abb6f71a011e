#include "engine/Uiexecutor.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

namespace {

THook<TUiExecutor*>& ExecutorHook()
{
    // Never destroyed: a worker may still report while the program exits.
    static THook<TUiExecutor*>* hook = new THook<TUiExecutor*>(nullptr);
    return *hook;
}

}  // namespace

TUiExecutor::TReservedTask::TReservedTask(std::function<void()> task)
{
    FPlace.push_back(std::make_shared<TJob>());
    FPlace.front()->Task = std::move(task);
}

TUiExecutor::TUiExecutor() : FUiThread(std::this_thread::get_id()) {}

TUiExecutor::~TUiExecutor() = default;

void TUiExecutor::RunAndWait(const std::function<void()>& task)
{
    if (IsUiThread()) {
        task();
        return;
    }
    TReservedTask reserved(task);
    RunAndWait(reserved);
}

void TUiExecutor::RunAndWait(TReservedTask& task)
{
    if (task.FPlace.empty())
        return;  // run already
    if (IsUiThread()) {
        const std::shared_ptr<TJob> job = std::move(task.FPlace.front());
        task.FPlace.clear();
        job->Task();
        return;
    }
    // The job stays alive through this reference once it has left the list.
    const std::shared_ptr<TJob> job = task.FPlace.front();
    job->Waited = true;
    Enqueue(task.FPlace);
    AwaitDone(*job);
    if (job->Error)
        std::rethrow_exception(job->Error);
}

void TUiExecutor::Post(const std::function<void()>& task)
{
    Post(TReservedTask(task));
}

void TUiExecutor::Post(TReservedTask task) noexcept
{
    Enqueue(task.FPlace);
}

void TUiExecutor::Enqueue(std::list<std::shared_ptr<TJob>>& place) noexcept
{
    {
        std::lock_guard lock(FMutex);
        FQueue.splice(FQueue.end(), place);
    }
    Wake();
}

void TUiExecutor::AwaitDone(TJob& job)
{
    std::unique_lock lock(job.Mutex);
    job.Finished.wait(lock, [&] { return job.Done; });
}

void TUiExecutor::RunPending()
{
    std::list<std::shared_ptr<TJob>> jobs;
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
        if (error && !job->Waited && !FUnwaitedError)
            FUnwaitedError = error;
        job->Error = error;
        job->Done = true;
        job->Finished.notify_one();
    }
}

void TUiExecutor::RethrowUnwaitedError()
{
    if (std::exception_ptr error = std::exchange(FUnwaitedError, nullptr))
        std::rethrow_exception(error);
}

bool TQueueUiExecutor::WaitAndRun(std::chrono::milliseconds timeout)
{
    {
        std::unique_lock lock(FMutex);
        if (!FQueued.wait_for(lock, timeout, [this] { return !QueueEmpty(); }))
            return false;
    }
    RunPending();
    RethrowUnwaitedError();
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

void TQueueUiExecutor::Wake() noexcept
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

namespace {

TUiExecutor& ProgramExecutor()
{
    TUiExecutor* executor = InstalledUiExecutor();
    if (!executor) {
        // Running it here instead would race with the UI thread.
        std::fputs("RunOnUiThread: no UI executor installed\n", stderr);
        std::abort();
    }
    return *executor;
}

}  // namespace

void RunOnUiThread(const std::function<void()>& task)
{
    ProgramExecutor().RunAndWait(task);
}

void PostOnUiThread(TUiExecutor::TReservedTask task) noexcept
{
    ProgramExecutor().Post(std::move(task));
}

void RunOnUiThread(TUiExecutor::TReservedTask& task)
{
    ProgramExecutor().RunAndWait(task);
}
