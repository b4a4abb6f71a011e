#include "history/Historyrecorder.h"

#include "history/Historydb.h"
#include "tests/support/Scratchdir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <future>
#include <thread>

namespace {

using namespace std::chrono_literals;

TRunRecord MakeRun(int64_t started)
{
    TRunRecord run;
    run.Plan = "p";
    run.Started = std::chrono::system_clock::time_point(std::chrono::seconds(started));
    run.Ended = run.Started + 1s;
    run.Items.push_back({"a", "127.0.0.1", 0, "127.0.0.1", {1ms, std::nullopt}});
    return run;
}

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

}  // namespace
