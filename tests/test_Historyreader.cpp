#include "history/Historyreader.h"

#include "history/Historydb.h"
#include "tests/support/Historylock.h"
#include "tests/support/Scratchdir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using TProblem = THistoryReader::TProblem;

constexpr auto kRetry = 20ms;

// What the reader told, in order, from its thread.
class TReports {
public:
    THistoryReader::TReport Sink()
    {
        return [this](TProblem problem, const std::string& reason) {
            const std::lock_guard<std::mutex> lock(FMutex);
            FSeen.emplace_back(problem, reason);
        };
    }
    std::vector<std::pair<TProblem, std::string>> Seen()
    {
        const std::lock_guard<std::mutex> lock(FMutex);
        return FSeen;
    }
    bool Saw(TProblem problem)
    {
        for (const auto& [seen, reason] : Seen())
            if (seen == problem)
                return true;
        return false;
    }

private:
    std::mutex FMutex;
    std::vector<std::pair<TProblem, std::string>> FSeen;
};

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline = 5s)
{
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

size_t RunCount(const THistoryDb& db)
{
    return db.Runs("", {}, std::chrono::system_clock::time_point::max()).size();
}

void RecordOne(const std::string& path)
{
    THistoryDb db(path);
    TRunRecord run;
    run.Plan = "p";
    run.Started = std::chrono::system_clock::now();
    run.Ended = run.Started + 1s;
    run.Items.push_back({"a", "127.0.0.1", 0, "127.0.0.1", {1ms}, {}});
    db.Record(run);
}

}  // namespace

// Jobs run in the order given, on the reader's thread, each with the history.
TEST(Historyreader, RunsJobsInOrderOnItsOwnThread)
{
    TScratchDir dir;
    const std::string path = dir.File(THistoryDb::kFileName);
    RecordOne(path);
    TReports reports;
    std::vector<int> order;
    std::promise<std::thread::id> last;
    {
        THistoryReader reader(path, reports.Sink(), kRetry);
        reader.Post([&](const THistoryDb& db) { order.push_back(int(RunCount(db))); });
        reader.Post([&](const THistoryDb&) { order.push_back(2); });
        reader.Post([&](const THistoryDb&) { last.set_value(std::this_thread::get_id()); });
        auto told = last.get_future();
        ASSERT_EQ(told.wait_for(5s), std::future_status::ready);
        EXPECT_NE(told.get(), std::this_thread::get_id());
    }
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_TRUE(reports.Seen().empty());
}

// A history not there is told as such and not made; a file that is no
// history, or a job that fails, is told with its reason and the reader goes on.
TEST(Historyreader, TellsAMissingOrBrokenHistoryAndGoesOn)
{
    TScratchDir dir;
    const std::string missing = dir.File("none.db");
    {
        TReports reports;
        THistoryReader reader(missing, reports.Sink(), kRetry);
        reader.Post([](const THistoryDb&) { FAIL() << "ran without a history"; });
        ASSERT_TRUE(WaitUntil([&] { return reports.Saw(TProblem::Missing); }));
    }
    EXPECT_FALSE(std::filesystem::exists(missing));

    const std::string junk = dir.File("junk.db");
    WriteBytes(junk, std::string(8192, 'x'));
    TReports reports;
    THistoryReader reader(junk, reports.Sink(), kRetry);
    reader.Post([](const THistoryDb&) {});
    ASSERT_TRUE(WaitUntil([&] { return reports.Saw(TProblem::Failed); }));
    EXPECT_NE(reports.Seen().at(0).second.find("数据库"), std::string::npos) << reports.Seen().at(0).second;

    const std::string path = dir.File(THistoryDb::kFileName);
    RecordOne(path);
    TReports failing;
    std::promise<void> after;
    THistoryReader good(path, failing.Sink(), kRetry);
    good.Post([](const THistoryDb&) { throw THistoryError("kaputt"); });
    good.Post([&](const THistoryDb&) { after.set_value(); });
    ASSERT_EQ(after.get_future().wait_for(5s), std::future_status::ready);
    ASSERT_EQ(failing.Seen().size(), 1u);
    EXPECT_EQ(failing.Seen()[0], std::make_pair(TProblem::Failed, std::string("kaputt")));
}

// While another program keeps every reader out, the job is told busy and
// runs again until the hold is gone; then it reads.
TEST(Historyreader, RetriesWhileTheHistoryIsHeld)
{
    TScratchDir dir;
    const std::string path = dir.File(THistoryDb::kFileName);
    RecordOne(path);
    THistoryLock lock(path, THistoryLock::THold::Everyone);
    TReports reports;
    std::promise<size_t> read;
    THistoryReader reader(path, reports.Sink(), kRetry, 10ms);
    reader.Post([&](const THistoryDb& db) { read.set_value(RunCount(db)); });
    ASSERT_TRUE(WaitUntil([&] { return reports.Seen().size() >= 2; }));
    for (const auto& [problem, reason] : reports.Seen())
        EXPECT_EQ(problem, TProblem::Busy) << reason;
    auto result = read.get_future();
    EXPECT_EQ(result.wait_for(0s), std::future_status::timeout);

    lock.Release();
    ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(result.get(), 1u);
}

// Going away or dropping waiting jobs while the history is held ends the
// retries at once: nothing of them runs afterwards.
TEST(Historyreader, GoesAndDropsWithoutWaitingForTheHold)
{
    TScratchDir dir;
    const std::string path = dir.File(THistoryDb::kFileName);
    RecordOne(path);
    THistoryLock lock(path, THistoryLock::THold::Everyone);
    std::atomic<int> ran{0};
    {
        TReports reports;
        std::promise<void> next;
        THistoryReader reader(path, reports.Sink(), 10s);  // a retry the test would notice
        reader.Post([&](const THistoryDb&) { ++ran; });
        reader.Post([&](const THistoryDb&) { ++ran; });
        ASSERT_TRUE(WaitUntil([&] { return reports.Saw(TProblem::Busy); }));
        const auto start = std::chrono::steady_clock::now();
        reader.DropWaiting();
        reader.Post([&](const THistoryDb&) { next.set_value(); });
        // The next job is tried at once, not after the first one's pause.
        ASSERT_TRUE(WaitUntil([&] { return reports.Seen().size() >= 2; }, 3s));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    }
    EXPECT_EQ(ran.load(), 0);

    TReports reports;
    auto reader = std::make_unique<THistoryReader>(path, reports.Sink(), 10s);
    reader->Post([&](const THistoryDb&) { ++ran; });
    const auto start = std::chrono::steady_clock::now();
    reader.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(ran.load(), 0);
}
