#include "history/Historyrecorder.h"

#include "history/Historydb.h"
#include "tests/support/Historylock.h"
#include "tests/support/Runrecord.h"
#include "tests/support/Scratchdir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

size_t RunsIn(const std::string& path)
{
    THistoryDb db(path);
    return db.Runs("", {}, std::chrono::system_clock::time_point(std::chrono::seconds(1'000'000))).size();
}

TEST(Historyrecorder, WritesOnItsOwnThreadAndTellsTheOutcome)
{
    TScratchDir dir;
    const std::string path = dir.File(THistoryDb::kFileName);
    std::promise<std::pair<std::thread::id, std::optional<std::string>>> told;
    {
        THistoryRecorder recorder(path);
        recorder.Record(MakeRun(1), [&told](std::optional<std::string> error) {
            told.set_value({std::this_thread::get_id(), std::move(error)});
        });
        const auto [thread, error] = told.get_future().get();
        EXPECT_NE(thread, std::this_thread::get_id());
        EXPECT_FALSE(error) << *error;
    }
    EXPECT_EQ(RunsIn(path), 1u);
}

// Closing waits for every run handed in: none is lost at exit.
TEST(Historyrecorder, ClosingKeepsEveryRunHandedIn)
{
    TScratchDir dir;
    const std::string path = dir.File(THistoryDb::kFileName);
    std::atomic<int> recorded = 0;
    {
        THistoryRecorder recorder(path);
        for (int i = 0; i < 20; ++i)
            recorder.Record(MakeRun(i), [&recorded](const std::optional<std::string>& error) {
                if (!error)
                    ++recorded;
            });
    }
    EXPECT_EQ(recorded, 20);
    EXPECT_EQ(RunsIn(path), 20u);
}

// A history that cannot be opened is told of run by run; the recorder goes on
// and records once the folder is there.
TEST(Historyrecorder, TellsAFailureAndGoesOn)
{
    TScratchDir dir;
    const std::string folder = dir.File("later");
    const std::string path = folder + "/" + THistoryDb::kFileName;
    THistoryRecorder recorder(path);
    std::promise<std::optional<std::string>> first;
    recorder.Record(MakeRun(1), [&first](std::optional<std::string> error) { first.set_value(error); });
    const std::optional<std::string> error = first.get_future().get();
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("无法创建或打开数据库文件"), std::string::npos) << *error;

    std::filesystem::create_directory(folder);
    std::promise<std::optional<std::string>> second;
    recorder.Record(MakeRun(2), [&second](std::optional<std::string> error) { second.set_value(error); });
    EXPECT_FALSE(second.get_future().get());
    EXPECT_EQ(RunsIn(path), 1u);
}

// Another program holding the lock makes the recorder wait, never the caller.
TEST(Historyrecorder, CallerDoesNotWaitForALockedHistory)
{
    TScratchDir dir;
    const std::string path = dir.File(THistoryDb::kFileName);
    { THistoryDb create(path); }
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    THistoryRecorder recorder(path);
    std::promise<std::optional<std::string>> done;
    recorder.Record(MakeRun(1), [&done](std::optional<std::string> error) { done.set_value(error); });
    std::future<std::optional<std::string>> outcome = done.get_future();
    EXPECT_EQ(outcome.wait_for(300ms), std::future_status::timeout);  // still waiting for the lock

    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_FALSE(outcome.get());
    EXPECT_EQ(RunsIn(path), 1u);
}

std::vector<int64_t> StartsIn(const std::string& path)
{
    THistoryDb db(path);
    std::vector<int64_t> starts;
    for (const TRunSummary& run : db.Runs("", {}, std::chrono::system_clock::time_point(std::chrono::seconds(1'000'000))))
        starts.push_back(std::chrono::duration_cast<std::chrono::seconds>(run.Started.time_since_epoch()).count());
    return starts;
}

// While a lock holds the write up, runs handed in wait; a full queue lets the
// oldest waiting one go, and Record returns at once all the same.
TEST(Historyrecorder, AFullQueueDropsTheOldestWaitingRunAndNeverWaits)
{
    TScratchDir dir;
    const std::string path = dir.File(THistoryDb::kFileName);
    THistoryLock lock(path);
    std::atomic<int> told = 0;
    int dropped = 0;
    {
        THistoryRecorder recorder(path, 3);
        const auto started = std::chrono::steady_clock::now();
        for (int i = 1; i <= 10; ++i)
            if (recorder.Record(MakeRun(i), [&told](const std::optional<std::string>&) { ++told; }) ==
                THistoryRecorder::TQueued::DroppedOldest)
                ++dropped;
        EXPECT_LT(std::chrono::steady_clock::now() - started, 1s) << "Record waited for the lock";
        lock.Release();
    }
    // The three newest waited; one older run may have been taken for writing
    // (held up by the lock) before the rest came.
    const std::vector<int64_t> starts = StartsIn(path);
    ASSERT_GE(starts.size(), 3u);
    ASSERT_LE(starts.size(), 4u) << ::testing::PrintToString(starts);
    EXPECT_EQ(std::vector<int64_t>(starts.end() - 3, starts.end()), (std::vector<int64_t>{8, 9, 10}));
    EXPECT_EQ(dropped + static_cast<int>(starts.size()), 10);
    EXPECT_EQ(told, static_cast<int>(starts.size())) << "a dropped run was told of";
}

// At the end the waiting runs get a bounded time in all, not the busy timeout
// each: what is still waiting then is given up and counted, never told of.
// The first run is being written by then: with the wait it began with (and
// recorded once the lock goes), or, if it began after Finish, with only the
// time that was left (and not recorded).
TEST(Historyrecorder, FinishGivesUpWhatWaitsPastTheDeadline)
{
    TScratchDir dir;
    const std::string path = dir.File(THistoryDb::kFileName);
    THistoryLock lock(path);
    THistoryRecorder recorder(path);
    std::atomic<int> told = 0;
    for (int i = 1; i <= 3; ++i)
        recorder.Record(MakeRun(i), [&told](const std::optional<std::string>&) { ++told; });
    std::thread releaser([&lock] {
        std::this_thread::sleep_for(1500ms);  // well past the deadline, well before the busy timeout
        lock.Release();
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(recorder.Finish(500ms), 2u);
    const auto took = std::chrono::steady_clock::now() - started;
    releaser.join();
    EXPECT_LT(took, THistoryDb::kBusyTimeout) << "Finish waited for the lock's whole timeout";
    EXPECT_EQ(told, 1) << "the write under way ends before Finish returns";
    EXPECT_LE(RunsIn(path), 1u);
    EXPECT_EQ(recorder.Record(MakeRun(4), nullptr), THistoryRecorder::TQueued::Finished);
}

TEST(Historyrecorder, FinishWritesEverythingInTime)
{
    TScratchDir dir;
    const std::string path = dir.File(THistoryDb::kFileName);
    THistoryRecorder recorder(path);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(recorder.Record(MakeRun(i), nullptr), THistoryRecorder::TQueued::Queued);
    EXPECT_EQ(recorder.Finish(THistoryDb::kBusyTimeout), 0u);
    EXPECT_EQ(RunsIn(path), 20u);
    EXPECT_EQ(recorder.Finish(THistoryDb::kBusyTimeout), 0u);  // once is enough
}

}  // namespace
