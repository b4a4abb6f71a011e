#include "engine/Thread.h"
#include "engine/Tryloop.h"
#include "tests/support/Netns.h"
#include "tests/support/Waitfor.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using TTime = TTryLoop::TTime;

int ThreadCount()
{
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(tasks))
            count += entry->d_name[0] != '.';
        closedir(tasks);
    }
    return count;
}

// Runs task on loop and waits for what it returns.
template <class TResult>
TResult OnLoop(TTryLoop& loop, std::function<TResult()> task)
{
    std::promise<TResult> result;
    loop.Post([&] { result.set_value(task()); });
    return result.get_future().get();
}

class TryLoopTest : public ::testing::Test {
protected:
    ~TryLoopTest() override { TThread::JoinAll(); }
};

TEST_F(TryLoopTest, PostedTasksRunInOrderOnTheLoopsOneThread)
{
    TTryLoop& loop = TTryLoop::Hold();
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    std::promise<void> done;
    for (int i = 0; i < 100; ++i) {
        loop.Post([&, i] {
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
            if (i == 99)
                done.set_value();
        });
    }
    done.get_future().wait();
    loop.Release();
    TThread::JoinAll();
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[static_cast<size_t>(i)], i);
    EXPECT_NE(threads.front(), std::this_thread::get_id());
    for (const std::thread::id& thread : threads)
        EXPECT_EQ(thread, threads.front());
}

TEST_F(TryLoopTest, TimersFireByTheirTimeAndAnAbortFiresThemEarly)
{
    TTryLoop& loop = TTryLoop::Hold();
    std::atomic<bool> abort{false};
    std::mutex mutex;
    std::vector<std::string> fired;
    std::promise<void> allFired;
    const auto note = [&](const char* name) {
        std::lock_guard lock(mutex);
        fired.push_back(name);
        if (fired.size() == 3)
            allFired.set_value();
    };
    const TTime start = std::chrono::steady_clock::now();
    OnLoop<int>(loop, [&] {
        loop.AddTimer(start + 200ms, nullptr, [&] { note("late"); });
        loop.AddTimer(start + 50ms, nullptr, [&] { note("early"); });
        const TTryLoop::TTimerId cancelled = loop.AddTimer(start + 10ms, nullptr, [&] { note("cancelled"); });
        loop.CancelTimer(cancelled);
        loop.AddTimer(start + 60s, &abort, [&] { note("aborted"); });
        return 0;
    });
    std::this_thread::sleep_for(100ms);
    abort = true;
    ASSERT_EQ(allFired.get_future().wait_for(10s), std::future_status::ready);
    loop.Release();
    TThread::JoinAll();
    EXPECT_EQ(fired, (std::vector<std::string>{"early", "aborted", "late"}));
}

TEST_F(TryLoopTest, TheThreadEndsWhenNobodyHoldsTheLoopAndANewOneStartsWhenNeeded)
{
    // After a first round: a sanitizer's runtime may start a thread of its own.
    TTryLoop::Hold().Release();
    TThread::JoinAll();
    std::this_thread::sleep_for(50ms);  // a joined thread may stay listed in /proc for a moment
    const int before = ThreadCount();
    for (int round = 0; round < 3; ++round) {
        TTryLoop& loop = TTryLoop::Hold();
        TTryLoop& again = TTryLoop::Hold();
        EXPECT_EQ(&loop, &again);  // one loop for the namespace
        EXPECT_EQ(OnLoop<int>(loop, [] { return 7; }), 7);
        loop.Release();
        again.Release();
        TThread::JoinAll();  // would hang if the loop's thread went on
        EXPECT_TRUE(WaitFor([&] { return ThreadCount() == before; }, 2s)) << ThreadCount() << " threads, not " << before;
    }
}

TEST_F(TryLoopTest, EachNetworkNamespaceHasALoopOfItsOwn)
{
    TTryLoop& outside = TTryLoop::Hold();
    {
        TThreadNetns netns;
        if (!netns.Ok()) {
            outside.Release();
            GTEST_SKIP() << "no network namespace of our own: " << netns.Why();
        }
        TTryLoop& inside = TTryLoop::Hold();
        EXPECT_NE(&inside, &outside);
        inside.Release();
    }
    EXPECT_EQ(&TTryLoop::Hold(), &outside);
    outside.Release();
    outside.Release();
}

}  // namespace
