#include "engine/Thread.h"
#include "engine/Uiexecutor.h"
#include "tests/support/Waitfor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

namespace {

using namespace std::chrono_literals;

struct TProbe {
    std::atomic<bool> Destroyed{false};
    std::thread::id BodyThread;
    std::thread::id SyncThread;
    bool SyncDoneBeforeReturn = false;
};

class TProbeThread final : public TThread {
public:
    TProbeThread(TProbe& probe, bool throwInBody) : FProbe(probe), FThrow(throwInBody) { Start(); }
    ~TProbeThread() override { FProbe.Destroyed = true; }

protected:
    void Execute() override
    {
        FProbe.BodyThread = std::this_thread::get_id();
        if (FThrow)
            throw std::runtime_error("body failed");
        bool ran = false;
        Synchronize([&] {
            FProbe.SyncThread = std::this_thread::get_id();
            ran = true;
        });
        FProbe.SyncDoneBeforeReturn = ran;
    }

private:
    TProbe& FProbe;
    bool FThrow;
};

class ThreadTest : public ::testing::Test {
protected:
    // As the program does before it exits: a finished thread is still joined.
    ~ThreadTest() override { TThread::JoinAll(); }

    TQueueUiExecutor Executor;
    TUiExecutorScope Scope{Executor};
};

TEST_F(ThreadTest, BodyRunsOnItsOwnThreadSynchronizeOnTheUiThreadThenItDeletesItself)
{
    TProbe probe;
    new TProbeThread(probe, false);
    ASSERT_TRUE(Executor.RunUntil([&] { return probe.Destroyed.load(); }, 10s));
    EXPECT_NE(probe.BodyThread, std::this_thread::get_id());
    EXPECT_EQ(probe.SyncThread, std::this_thread::get_id());
    EXPECT_TRUE(probe.SyncDoneBeforeReturn);
}

// A body that throws would leave whoever waits for its report waiting for
// ever: the program ends with one line instead.
TEST(ThreadDeathTest, ABodyThatThrowsEndsTheProgramWithOneLine)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            TQueueUiExecutor executor;
            TUiExecutorScope scope(executor);
            TProbe probe;
            new TProbeThread(probe, true);
            executor.RunUntil([] { return false; }, 10s);
        },
        ::testing::ExitedWithCode(2), "^test_Thread: body failed \\(a thread of the run\\)\n$");
}

TEST_F(ThreadTest, RunAndWaitOnTheUiThreadRunsAtOnce)
{
    bool ran = false;
    RunOnUiThread([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST_F(ThreadTest, AnErrorOfTheTaskReachesTheWaitingThread)
{
    std::atomic<bool> caught{false};
    std::thread worker([&] {
        try {
            RunOnUiThread([] { throw std::runtime_error("report failed"); });
        } catch (const std::runtime_error&) {
            caught = true;
        }
    });
    EXPECT_TRUE(Executor.RunUntil([&] { return caught.load(); }, 10s));
    worker.join();
}

TEST_F(ThreadTest, AReservedTaskRunsOnceOnTheUiThreadAndItsErrorReachesTheWaitingThread)
{
    int runs = 0;
    std::thread::id ranOn;
    TUiExecutor::TReservedTask task([&] {
        ++runs;
        ranOn = std::this_thread::get_id();
        throw std::runtime_error("report failed");
    });
    std::atomic<bool> caught{false};
    std::thread worker([&] {
        try {
            RunOnUiThread(task);
        } catch (const std::runtime_error&) {
            caught = true;
        }
        RunOnUiThread(task);  // spent: nothing runs, nothing waits
    });
    EXPECT_TRUE(Executor.RunUntil([&] { return caught.load(); }, 10s));
    worker.join();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

// Nobody waits for a posted task: what it throws reaches the loop that serves
// the queue, which would otherwise wait for what the task was to do.
TEST_F(ThreadTest, AnErrorOfAPostedTaskReachesTheLoopServingTheQueue)
{
    std::thread poster([this] {
        Executor.Post(TUiExecutor::TReservedTask([] { throw std::bad_alloc(); }));
        Executor.Post([] { throw std::runtime_error("second"); });
    });
    poster.join();
    EXPECT_THROW(Executor.WaitAndRun(1s), std::bad_alloc);
    EXPECT_FALSE(Executor.WaitAndRun(10ms));  // the first error only, and only once
}

TEST_F(ThreadTest, ManyThreadsWaitTheirTurnAndEachTaskRunsOnce)
{
    constexpr int kThreads = 20;
    int count = 0;  // only touched on the UI thread
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&] {
            RunOnUiThread([&] { ++count; });
            ++done;
        });
    EXPECT_TRUE(Executor.RunUntil([&] { return done.load() == kThreads; }, 10s));
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(count, kThreads);
}

// Libraries keep per-thread state that is freed only as the thread ends; a
// program that exits right after its workers reported must still see it freed.
std::atomic<int> threadLocalsAlive{0};

struct TSlowThreadLocal {
    TSlowThreadLocal() { ++threadLocalsAlive; }
    ~TSlowThreadLocal()
    {
        std::this_thread::sleep_for(50ms);
        --threadLocalsAlive;
    }
};

class TThreadLocalUser final : public TThread {
public:
    explicit TThreadLocalUser(std::atomic<int>& done) : FDone(done) { Start(); }
    ~TThreadLocalUser() override { ++FDone; }

protected:
    void Execute() override
    {
        thread_local TSlowThreadLocal state;
        (void)state;
    }

private:
    std::atomic<int>& FDone;
};

TEST_F(ThreadTest, JoinAllWaitsForThreadLocalCleanUp)
{
    std::atomic<int> done{0};
    for (int i = 0; i < 4; ++i)
        new TThreadLocalUser(done);
    ASSERT_TRUE(WaitFor([&] { return done == 4; }, 30s));
    TThread::JoinAll();
    EXPECT_EQ(threadLocalsAlive, 0);
    TThread::JoinAll();  // nothing left: returns at once
}

}  // namespace
