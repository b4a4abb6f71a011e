#include "history/Historydb.h"

#include "tests/support/Asuser.h"
#include "tests/support/Filesizelimit.h"
#include "tests/support/Outcomes.h"
#include "tests/support/Scratchdir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <random>
#include <thread>

namespace {

using namespace std::chrono_literals;
using TTimePoint = THistoryDb::time_point;

TTimePoint At(int64_t seconds) { return TTimePoint(std::chrono::seconds(seconds)); }

TItemRecord Item(const std::string& name, TTryTimes tries, const std::string& address = "127.0.0.1")
{
    return {name, "host-" + name, 1, address, std::move(tries), {}};
}

TRunRecord MakeRun(const std::string& plan, int64_t started, std::vector<TItemRecord> items)
{
    TRunRecord run;
    run.Plan = plan;
    run.Started = At(started);
    run.Ended = At(started) + 1500ms;
    run.Items = std::move(items);
    return run;
}

// The first column of the first row, as text, through a connection of its own.
std::string Query(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    std::string result = "(cannot open)";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        result = "(error)";
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
            result.clear();
            if (sqlite3_step(statement) == SQLITE_ROW)
                if (const auto* text = sqlite3_column_text(statement, 0))
                    result = reinterpret_cast<const char*>(text);
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close_v2(db);
    return result;
}

void ExecOn(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

// Runs body in a child process; its exit status, or 128 + the signal.
int InChild(const std::function<int()>& body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        int status = 1;
        try {
            status = body();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "child: %s\n", error.what());
        }
        ::_exit(status);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The schema of the first version, as it made it.
const char* const kVersion1Schema =
    "CREATE TABLE runs (id INTEGER PRIMARY KEY, plan TEXT NOT NULL, started INTEGER NOT NULL,"
    " ended INTEGER NOT NULL);"
    "CREATE INDEX runs_by_plan ON runs (plan, started);"
    "CREATE TABLE items (run INTEGER NOT NULL REFERENCES runs (id) ON DELETE CASCADE,"
    " position INTEGER NOT NULL, name TEXT NOT NULL, host TEXT NOT NULL, method INTEGER NOT NULL,"
    " address TEXT NOT NULL, tries TEXT NOT NULL, average REAL, PRIMARY KEY (run, position))"
    " WITHOUT ROWID;";

// What the second version added to it.
const char* const kVersion2Steps = "ALTER TABLE runs ADD COLUMN average REAL;"
                                   "ALTER TABLE runs ADD COLUMN answered INTEGER NOT NULL DEFAULT 0;"
                                   "ALTER TABLE runs ADD COLUMN total INTEGER NOT NULL DEFAULT 0;"
                                   "CREATE INDEX runs_by_start ON runs (started);"
                                   "CREATE INDEX items_by_name ON items (name, run, average);";

// A file of the second version with one run of three items, as it wrote them.
void MakeVersion2File(const std::string& path)
{
    ExecOn(path, std::string(kVersion1Schema) + kVersion2Steps +
                     "INSERT INTO runs VALUES (7, 'old', 100000000, 101000000, 3.0, 2, 3);"
                     "INSERT INTO items VALUES (7, 0, 'page', 'ha', 1, '10.0.0.1', '2000,,4000', 3.0);"
                     "INSERT INTO items VALUES (7, 1, 'dns', 'hb', 2, '', ',', NULL);"
                     "INSERT INTO items VALUES (7, 2, 'gw', 'hc', 0, '10.0.0.2', '3000', 3.0);"
                     "PRAGMA user_version = 2;");
}

TTryOutcome Fetched(TTryOutcome outcome, int status)
{
    outcome.Http = THttpTry{100us, 200us, 300us, 400us, 500us, status, "127.0.0.1", 4096, 1'900'000'000};
    return outcome;
}

// An item as the window and orvel-cli record it: its times from its outcomes.
TItemRecord ItemWithOutcomes(const std::string& name, int method, TTryOutcomes outcomes)
{
    TItemRecord item = Item(name, TimesOf(outcomes));
    item.Method = method;
    item.Outcomes = std::move(outcomes);
    return item;
}

class Historydb : public ::testing::Test {
protected:
    TScratchDir Dir;
    std::string Path = Dir.File(THistoryDb::kFileName);
};

TEST_F(Historydb, RecordsARunAndReadsItBack)
{
    THistoryDb db(Path);
    TRunRecord run = MakeRun("办公室", 1'700'000'000, {Item("网关", {1500us, std::nullopt, 2500us, 43us, 1ms}),
                                                    Item("坏", TTryTimes(5), ""), Item("空", {})});
    run.Started += 123456us;  // microseconds survive
    const int64_t id = db.Record(run);
    EXPECT_GT(id, 0);

    const TRunRecord back = db.Run(id);
    EXPECT_EQ(back.Id, id);
    EXPECT_EQ(back.Plan, run.Plan);
    EXPECT_EQ(back.Started, run.Started);
    EXPECT_EQ(back.Ended, run.Ended);
    ASSERT_EQ(back.Items.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(back.Items[i].Name, run.Items[i].Name);
        EXPECT_EQ(back.Items[i].Host, run.Items[i].Host);
        EXPECT_EQ(back.Items[i].Method, run.Items[i].Method);
        EXPECT_EQ(back.Items[i].Address, run.Items[i].Address);
        EXPECT_EQ(back.Items[i].Tries, run.Items[i].Tries) << i;
    }

    const std::vector<TRunSummary> runs = db.Runs("", At(0), At(2'000'000'000));
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].Id, id);
    ASSERT_TRUE(runs[0].Average);
    EXPECT_NEAR(*runs[0].Average, (1.5 + 2.5 + 0.043 + 1) / 4, 1e-9);
    EXPECT_EQ(runs[0].Answered, 1);
    EXPECT_EQ(runs[0].Total, 3);
    EXPECT_THROW(db.Run(id + 1), THistoryError);
}

TEST_F(Historydb, RunsByPlanAndHalfOpenRange)
{
    THistoryDb db(Path);
    db.Record(MakeRun("a", 300, {Item("x", {2ms})}));
    db.Record(MakeRun("a", 100, {Item("x", {4ms}), Item("y", {6ms})}));
    db.Record(MakeRun("b", 200, {Item("x", TTryTimes(2))}));
    db.Record(MakeRun("a", 400, {}));

    auto starts = [](const std::vector<TRunSummary>& runs) {
        std::vector<TTimePoint> times;
        for (const TRunSummary& run : runs)
            times.push_back(run.Started);
        return times;
    };
    EXPECT_EQ(starts(db.Runs("a", At(0), At(1000))), (std::vector{At(100), At(300), At(400)}));
    EXPECT_EQ(starts(db.Runs("a", At(100), At(300))), (std::vector{At(100)}));
    EXPECT_EQ(starts(db.Runs("", At(0), At(1000))), (std::vector{At(100), At(200), At(300), At(400)}));
    EXPECT_TRUE(db.Runs("c", At(0), At(1000)).empty());

    const std::vector<TRunSummary> all = db.Runs("", At(0), At(1000));
    EXPECT_EQ(*all[0].Average, 5.0);
    EXPECT_FALSE(all[1].Average);  // nothing answered: no average, not zero
    EXPECT_EQ(all[1].Answered, 0);
    EXPECT_EQ(all[1].Total, 1);
    EXPECT_FALSE(all[3].Average);
    EXPECT_EQ(all[3].Total, 0);
}

TEST_F(Historydb, ItemSeriesHasGapsForUnansweredRuns)
{
    THistoryDb db(Path);
    db.Record(MakeRun("p", 100, {Item("网关", {1ms, 3ms}), Item("dns", {5ms})}));
    db.Record(MakeRun("p", 200, {Item("网关", TTryTimes(5)), Item("dns", {7ms})}));
    db.Record(MakeRun("p", 300, {Item("dns", {9ms})}));
    db.Record(MakeRun("q", 250, {Item("其他", {1ms}), Item("网关", {1ms})}));

    EXPECT_EQ(db.ItemNames("p", At(0), At(1000)), (std::vector<std::string>{"dns", "网关"}));
    EXPECT_EQ(db.ItemNames("p", At(250), At(1000)), (std::vector<std::string>{"dns"}));
    using TSeries = std::vector<std::pair<TTimePoint, std::optional<double>>>;
    EXPECT_EQ(db.ItemSeries("p", "网关", At(0), At(1000)),
              (TSeries{{At(100), 2.0}, {At(200), std::nullopt}}));
    EXPECT_EQ(db.ItemSeries("p", "dns", At(150), At(300)), (TSeries{{At(200), 7.0}}));
    EXPECT_TRUE(db.ItemSeries("p", "none", At(0), At(1000)).empty());
}

TEST_F(Historydb, NewFileIsCurrentWalAndQueriesUseTheIndexes)
{
    THistoryDb db(Path);
    EXPECT_EQ(Query(Path, "PRAGMA user_version"), std::to_string(THistoryDb::kSchemaVersion));
    EXPECT_EQ(Query(Path, "PRAGMA journal_mode"), "wal");
    using TQuery = THistoryDb::TQuery;
    EXPECT_NE(db.QueryPlan(TQuery::Runs).find("INDEX runs_by_start"), std::string::npos);
    EXPECT_NE(db.QueryPlan(TQuery::RunsOfPlan).find("INDEX runs_by_plan"), std::string::npos);
    EXPECT_NE(db.QueryPlan(TQuery::ItemNames).find("INDEX runs_by_plan"), std::string::npos);
    const std::string series = db.QueryPlan(TQuery::ItemSeries);
    EXPECT_NE(series.find("INDEX runs_by_plan"), std::string::npos) << series;
    EXPECT_NE(series.find("COVERING INDEX items_by_name"), std::string::npos) << series;
    EXPECT_EQ(series.find("TEMP B-TREE"), std::string::npos) << series;
}

// A file of the first version, made by hand: its runs gain their summaries.
TEST_F(Historydb, BringsAnOlderSchemaForward)
{
    ExecOn(Path, std::string(kVersion1Schema) +
                     "INSERT INTO runs VALUES (7, 'old', 100000000, 101000000);"
                 "INSERT INTO items VALUES (7, 0, 'a', 'ha', 0, '10.0.0.1', '2000,,4000', 3.0);"
                 "INSERT INTO items VALUES (7, 1, 'b', 'hb', 2, '', ',', NULL);"
                 "PRAGMA user_version = 1;");
    THistoryDb db(Path);
    EXPECT_EQ(Query(Path, "PRAGMA user_version"), std::to_string(THistoryDb::kSchemaVersion));
    const std::vector<TRunSummary> runs = db.Runs("old", At(0), At(1000));
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].Id, 7);
    EXPECT_EQ(runs[0].Average, 3.0);
    EXPECT_EQ(runs[0].Answered, 1);
    EXPECT_EQ(runs[0].Total, 2);
    const TRunRecord old = db.Run(7);
    ASSERT_EQ(old.Items.size(), 2u);
    EXPECT_EQ(old.Items[0].Tries, (TTryTimes{2000us, std::nullopt, 4000us}));
    EXPECT_EQ(old.Items[1].Tries, TTryTimes(2));
    EXPECT_TRUE(old.Items[0].Outcomes.empty());
    EXPECT_TRUE(old.Items[1].Outcomes.empty());
    EXPECT_EQ(db.ItemSeries("old", "a", At(0), At(1000)).size(), 1u);
    db.Record(MakeRun("old", 200, {Item("a", {1ms})}));
    EXPECT_EQ(db.Runs("old", At(0), At(1000)).size(), 2u);
}

// The second version kept no outcomes: its runs read as they did, Outcomes
// empty, and new runs keep theirs beside them.
TEST_F(Historydb, BringsTheSecondVersionForward)
{
    MakeVersion2File(Path);
    THistoryDb db(Path);
    EXPECT_EQ(Query(Path, "PRAGMA user_version"), "3");
    EXPECT_EQ(Query(Path, "SELECT count(*) FROM items WHERE outcomes IS NULL"), "3");
    const std::vector<TRunSummary> runs = db.Runs("old", At(0), At(1000));
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].Average, 3.0);
    EXPECT_EQ(runs[0].Answered, 2);
    EXPECT_EQ(runs[0].Total, 3);
    const TRunRecord old = db.Run(7);
    ASSERT_EQ(old.Items.size(), 3u);
    EXPECT_EQ(old.Items[0].Tries, (TTryTimes{2000us, std::nullopt, 4000us}));
    EXPECT_EQ(old.Items[1].Tries, TTryTimes(2));
    EXPECT_EQ(old.Items[2].Tries, TTryTimes{3000us});
    for (const TItemRecord& item : old.Items)
        EXPECT_TRUE(item.Outcomes.empty()) << item.Name;
    EXPECT_EQ(db.ItemNames("old", At(0), At(1000)), (std::vector<std::string>{"dns", "gw", "page"}));
    using TSeries = std::vector<std::pair<TTimePoint, std::optional<double>>>;
    EXPECT_EQ(db.ItemSeries("old", "page", At(0), At(1000)), (TSeries{{At(100), 3.0}}));

    const int64_t id = db.Record(MakeRun(
        "old", 200, {ItemWithOutcomes("page", 1, {Fetched(Succeeded(1500us), 200), Failed(TTryCause::Timeout)})}));
    const TRunRecord added = db.Run(id);
    ASSERT_EQ(added.Items[0].Outcomes.size(), 2u);
    EXPECT_EQ(added.Items[0].Outcomes[1]->Cause, TTryCause::Timeout);
    EXPECT_TRUE(db.Run(7).Items[0].Outcomes.empty());
}

// Programs opening an old file at once: one brings it forward, the others
// find it done.
TEST_F(Historydb, SeveralProgramsBringAFileForwardAtOnce)
{
    MakeVersion2File(Path);
    constexpr int kPrograms = 4;
    std::vector<pid_t> children;
    for (int i = 0; i < kPrograms; ++i) {
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(InChild([this, i] {
                THistoryDb db(Path);
                db.Record(MakeRun("new", i, {ItemWithOutcomes("a", 0, {Failed(TTryCause::Refused)})}));
                return db.Run(db.Runs("new", At(i), At(i + 1)).at(0).Id).Items.at(0).Outcomes.size() == 1 ? 0 : 2;
            }));
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_EQ(Query(Path, "PRAGMA user_version"), "3");
    EXPECT_EQ(Query(Path, "SELECT count(*) FROM runs"), std::to_string(kPrograms + 1));
    EXPECT_EQ(Query(Path, "PRAGMA integrity_check"), "ok");
}

// The cause of each failed try, a DNS answer's code and a home page's phases,
// status and address come back as recorded; the figures come from the times
// alone, as before.
TEST_F(Historydb, KeepsHowEachTryEnded)
{
    THistoryDb db(Path);
    TTryOutcome expired = Failed(TTryCause::TlsExpired);
    expired.Http = THttpTry{};
    expired.Http->Connect = 250us;
    expired.Http->Address = "::1";
    TRunRecord run = MakeRun(
        "p", 100,
        {ItemWithOutcomes("page", 1,
                          {Fetched(Succeeded(1500us), 200), Fetched(Failed(TTryCause::HttpStatus), 503), expired}),
         ItemWithOutcomes("dns", 2,
                          {Succeeded(800us), Failed(TTryCause::DnsAnswer, 2), Failed(TTryCause::DnsAnswer, 3),
                           Failed(TTryCause::Timeout), std::nullopt}),
         Item("gw", {1ms, std::nullopt}), ItemWithOutcomes("once", 3, {Failed(TTryCause::Refused)})});
    const int64_t id = db.Record(run);
    EXPECT_EQ(Query(Path, "SELECT count(*) FROM items WHERE outcomes IS NULL"), "1");

    const TRunRecord back = db.Run(id);
    ASSERT_EQ(back.Items.size(), 4u);
    const TTryOutcomes& page = back.Items[0].Outcomes;
    ASSERT_EQ(page.size(), 3u);
    EXPECT_TRUE(page[0]->Ok);
    EXPECT_EQ(page[0]->Elapsed, 1500us);
    ASSERT_TRUE(page[0]->Http);
    EXPECT_EQ(page[0]->Http->Resolve, 100us);
    EXPECT_EQ(page[0]->Http->Processing, 400us);
    EXPECT_EQ(page[0]->Http->Transfer, 500us);
    EXPECT_EQ(page[0]->Http->Status, 200);
    EXPECT_EQ(page[0]->Http->Address, "127.0.0.1");
    EXPECT_EQ(page[0]->Http->BodyBytes, 4096);
    EXPECT_EQ(page[0]->Http->CertExpiry, 1'900'000'000);
    EXPECT_EQ(page[1]->Cause, TTryCause::HttpStatus);
    EXPECT_EQ(CauseText(*page[1]), "HTTP错误 503");
    EXPECT_EQ(page[2]->Cause, TTryCause::TlsExpired);
    EXPECT_EQ(page[2]->Http->Connect, 250us);
    EXPECT_EQ(page[2]->Http->Address, "::1");
    EXPECT_EQ(page[2]->Http->Status, 0);

    const TTryOutcomes& dns = back.Items[1].Outcomes;
    ASSERT_EQ(dns.size(), 5u);
    EXPECT_FALSE(dns[0]->Http);
    EXPECT_EQ(CauseCode(*dns[1]), "dns_servfail");
    EXPECT_EQ(CauseCode(*dns[2]), "dns_nxdomain");
    EXPECT_EQ(dns[3]->Cause, TTryCause::Timeout);
    EXPECT_FALSE(dns[4]);
    EXPECT_EQ(back.Items[1].Tries, TimesOf(run.Items[1].Outcomes));

    EXPECT_EQ(back.Items[2].Tries, (TTryTimes{1ms, std::nullopt}));
    EXPECT_TRUE(back.Items[2].Outcomes.empty());
    // A single failed try keeps the same text of times as no try at all.
    EXPECT_EQ(back.Items[3].Tries, TTryTimes(1));
    ASSERT_EQ(back.Items[3].Outcomes.size(), 1u);
    EXPECT_EQ(back.Items[3].Outcomes[0]->Cause, TTryCause::Refused);

    const std::vector<TRunSummary> runs = db.Runs("p", At(0), At(1000));
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_TRUE(runs[0].Average);
    EXPECT_NEAR(*runs[0].Average, (1.5 + 0.8 + 1.0) / 3, 1e-9);
    EXPECT_EQ(runs[0].Answered, 3);
}

// Whatever a damaged or hostile file holds where the outcomes are, the run
// reads with its times, and no outcomes rather than made-up ones.
TEST_F(Historydb, DamagedOutcomesReadAsNone)
{
    THistoryDb db(Path);
    const int64_t id = db.Record(
        MakeRun("p", 100, {ItemWithOutcomes("a", 1, {Fetched(Succeeded(1000us), 200), Failed(TTryCause::Timeout)})}));
    const TTryTimes tries{1000us, std::nullopt};
    ASSERT_EQ(db.Run(id).Items.at(0).Outcomes.size(), 2u);
    const char* const damaged[] = {
        "'not json'",
        "X'00ff5b7b'",
        "12345",
        "1.5",
        "''",
        "'[null]'",
        "'[null,null,null]'",
        R"('{"us":1000}')",
        R"('[{"cause":"timeout"},{"us":1000}]')",
        R"('[{"us":1000},{"us":5}]')",
        R"('[{"us":18446744073709551616},{}]')",
        R"('[{"us":1000},7]')",
        "'[' || replace(hex(zeroblob(20000)), '00', 'null,') || 'null]'",
        "replace(hex(zeroblob(5000000)), '00', '[[')",
        R"('[{"us":1000,"http":' || replace(hex(zeroblob(200)), '00', '{"a":') || '1' ||)"
        R"( replace(hex(zeroblob(200)), '00', '}}') || '},{}]')",
    };
    for (const char* value : damaged) {
        ExecOn(Path, std::string("UPDATE items SET outcomes = ") + value);
        TRunRecord back;
        ASSERT_NO_THROW(back = db.Run(id)) << value;
        ASSERT_EQ(back.Items.size(), 1u);
        EXPECT_EQ(back.Items[0].Tries, tries) << value;
        EXPECT_TRUE(back.Items[0].Outcomes.empty()) << value;
    }
    // Values it does not know, in the right shape, are sanitised, not dropped.
    ExecOn(Path, R"(UPDATE items SET outcomes = '[{"us":1000,"http":{"status":-1,"resolve":1e300,)"
                 R"("address":"x y"}},{"cause":"from_a_later_version","errno":-4}]')");
    const TTryOutcomes sanitised = db.Run(id).Items.at(0).Outcomes;
    ASSERT_EQ(sanitised.size(), 2u);
    EXPECT_EQ(sanitised[0]->Http->Status, 0);
    EXPECT_EQ(sanitised[0]->Http->Resolve, 0us);
    EXPECT_EQ(sanitised[0]->Http->Address, "");
    EXPECT_EQ(sanitised[1]->Cause, TTryCause::Other);
    EXPECT_EQ(sanitised[1]->Shortage, 0);
    EXPECT_EQ(db.Runs("p", At(0), At(1000)).at(0).Answered, 1);
}

// What is not ours to change is reported and left as it is.
TEST_F(Historydb, LeavesNewerForeignAndCorruptFilesAlone)
{
    auto refused = [this](const std::string& reason) {
        const std::string before = ReadBytes(Path);
        try {
            THistoryDb db(Path);
            ADD_FAILURE() << "opened";
        } catch (const THistoryError& error) {
            EXPECT_NE(std::string(error.what()).find(reason), std::string::npos) << error.what();
        }
        EXPECT_EQ(ReadBytes(Path), before);
    };
    ExecOn(Path, "CREATE TABLE runs (x); PRAGMA user_version = 99;");
    refused("更新版本");
    std::filesystem::remove(Path);
    ExecOn(Path, "CREATE TABLE notes (text TEXT); INSERT INTO notes VALUES ('mine');");
    refused("不是测速历史数据库");
    std::filesystem::remove(Path);

    WriteBytes(Path, std::string(4096, 'x'));
    refused("损坏");
    // A real history whose pages were overwritten.
    std::filesystem::remove(Path);
    {
        THistoryDb db(Path);
        for (int i = 0; i < 50; ++i)
            db.Record(MakeRun("p", i, {Item("a", {1ms}), Item(std::string(500, 'n'), {2ms})}));
    }
    ExecOn(Path, "PRAGMA wal_checkpoint(TRUNCATE)");
    std::string bytes = ReadBytes(Path);
    ASSERT_GT(bytes.size(), 8192u);
    for (size_t i = 4096; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7);
    WriteBytes(Path, bytes);
    bool reported = false;
    try {
        THistoryDb db(Path);
        db.Runs("", At(0), At(1000));
        db.Record(MakeRun("p", 999, {Item("a", {1ms})}));
    } catch (const THistoryError& error) {
        reported = true;
        EXPECT_NE(std::string(error.what()).find("损坏"), std::string::npos) << error.what();
    }
    EXPECT_TRUE(reported);
}

// As root, a History.db linked to /etc/passwd was opened for writing. A link,
// even one to a history or to nothing, and whatever is no plain file are
// refused before SQLite opens anything, and say why.
TEST_F(Historydb, RefusesALinkAndAnythingButAPlainFile)
{
    auto refusal = [this]() -> std::string {
        try {
            THistoryDb db(Path);
        } catch (const THistoryError& error) {
            return error.what();
        }
        return "opened";
    };
    const std::string other = Dir.File("other.db");
    {
        THistoryDb db(other);
        db.Record(MakeRun("p", 1, {Item("a", {1ms})}));
    }
    const std::string before = ReadBytes(other);
    std::filesystem::create_symlink(other, Path);
    EXPECT_EQ(refusal(), "无法创建或打开数据库文件 (" + Path + " 是符号链接，不予打开)");
    EXPECT_EQ(ReadBytes(other), before);
    EXPECT_FALSE(std::filesystem::exists(other + "-wal"));

    std::filesystem::remove(Path);
    std::filesystem::create_symlink(Dir.File("nowhere.db"), Path);
    EXPECT_NE(refusal().find("是符号链接"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(Dir.File("nowhere.db")));

    std::filesystem::remove(Path);
    std::filesystem::create_directory(Path);
    EXPECT_EQ(refusal(), "无法创建或打开数据库文件 (" + Path + " 不是普通文件，不予打开)");

    // SQLite would open it, and only then fail to read it.
    std::filesystem::remove(Path);
    ASSERT_EQ(::mkfifo(Path.c_str(), 0600), 0);
    EXPECT_NE(refusal().find("不是普通文件"), std::string::npos);
}

// A store reached through a linked folder keeps its history; the files SQLite
// keeps beside the history are not opened through a link either.
TEST_F(Historydb, ALinkedFolderIsFollowedButNoLinkBesideTheFile)
{
    std::filesystem::create_directory(Dir.File("real"));
    std::filesystem::create_directory_symlink("real", Dir.File("linked"));
    const std::string linked = Dir.File("linked") + "/" + THistoryDb::kFileName;
    {
        THistoryDb db(linked);
        db.Record(MakeRun("p", 1, {Item("a", {1ms})}));
        EXPECT_EQ(THistoryDb(linked).Runs("", At(0), At(10)).size(), 1u);
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(Dir.File("real/History.db")));

    const std::string victim = Dir.File("victim");
    WriteBytes(victim, "keep");
    for (const char* beside : {"-wal", "-shm"}) {
        std::filesystem::create_symlink(victim, linked + beside);
        try {
            THistoryDb db(linked);
            db.Record(MakeRun("p", 2, {Item("a", {1ms})}));
            ADD_FAILURE() << "recorded with a link at " << beside;
        } catch (const THistoryError& error) {
            EXPECT_NE(std::string(error.what()).find("无法创建或打开数据库文件"), std::string::npos) << error.what();
        }
        EXPECT_EQ(ReadBytes(victim), "keep");
        std::filesystem::remove(linked + beside);
    }
}

TEST_F(Historydb, UnwritableFolderIsReported)
{
    const std::string folder = Dir.Path().string();
    LetOrdinaryUserIn(folder);
    const TUserRun run = RunAsOrdinaryUser(folder, [this] {
        THistoryDb db(Path);
        return std::string("opened");
    });
    if (!run.Ran)
        GTEST_SKIP() << run.SkipReason;
    EXPECT_EQ(run.Result.rfind("error: 无法创建或打开数据库文件", 0), 0u) << run.Result;
    EXPECT_FALSE(std::filesystem::exists(Path));
}

// Another program holding the write lock longer than the wait: the run is
// refused whole, and the next one goes in.
TEST_F(Historydb, LockedBeyondTheWaitIsReported)
{
    THistoryDb db(Path, 200ms);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(Path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    try {
        db.Record(MakeRun("p", 1, {Item("a", {1ms})}));
        ADD_FAILURE() << "recorded";
    } catch (const THistoryError& error) {
        EXPECT_NE(std::string(error.what()).find("占用"), std::string::npos) << error.what();
    }
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    db.Record(MakeRun("p", 2, {Item("a", {1ms})}));
    EXPECT_EQ(db.Runs("", At(0), At(10)).size(), 1u);
}

// A write that hits the file-size limit, as on a full disk, keeps nothing of
// its run and spoils nothing recorded before.
TEST_F(Historydb, FullDiskKeepsWhatWasRecorded)
{
    {
        THistoryDb db(Path);
        db.Record(MakeRun("p", 1, {Item("a", {1ms})}));
    }
    const int status = InChild([this] {
        THistoryDb db(Path);
        TFileSizeLimit limit(64 * 1024);
        std::vector<TItemRecord> items;
        for (int i = 0; i < 200; ++i)
            items.push_back(Item(std::string(2000, 'a' + i % 26) + std::to_string(i), {1ms}));
        try {
            db.Record(MakeRun("p", 2, items));
        } catch (const THistoryError& error) {
            return std::string(error.what()).find("(") != std::string::npos ? 0 : 3;
        }
        return 4;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Query(Path, "PRAGMA integrity_check"), "ok");
    THistoryDb db(Path);
    EXPECT_EQ(db.Runs("", At(0), At(10)).size(), 1u);
    db.Record(MakeRun("p", 3, {Item("a", {1ms})}));
    EXPECT_EQ(db.Runs("", At(0), At(10)).size(), 2u);
}

// Two programs starting on a file that is not there yet, both creating it and
// recording at once.
TEST_F(Historydb, TwoProcessesRecordingLoseNoRun)
{
    constexpr int kRuns = 40;
    auto writer = [this](const std::string& plan) {
        return InChild([this, plan] {
            for (int i = 0; i < kRuns; ++i) {
                THistoryDb db(Path);
                db.Record(MakeRun(plan, i, {Item("a", {1ms}), Item("b", {2ms})}));
            }
            return 0;
        });
    };
    const pid_t first = ::fork();
    if (first == 0)
        ::_exit(writer("one"));
    const int second = writer("two");
    int status = 0;
    ::waitpid(first, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(second, 0);
    THistoryDb db(Path);
    EXPECT_EQ(db.Runs("one", At(0), At(kRuns)).size(), size_t{kRuns});
    EXPECT_EQ(db.Runs("two", At(0), At(kRuns)).size(), size_t{kRuns});
    EXPECT_EQ(Query(Path, "PRAGMA integrity_check"), "ok");
}

// A writer killed at random moments loses at most the run it was writing.
TEST_F(Historydb, KilledWriterLosesAtMostTheRunInProgress)
{
    std::mt19937 random(15);
    size_t acknowledged = 0;
    for (int round = 0; round < 12; ++round) {
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(pipeFds[0]);
            try {
                THistoryDb db(Path);
                std::vector<TItemRecord> items;
                for (int i = 0; i < 100; ++i)
                    items.push_back(Item("item" + std::to_string(i), {1ms, 2ms, std::nullopt, 3ms, 4ms}));
                for (int i = 0;; ++i) {
                    db.Record(MakeRun("p", i, items));
                    if (::write(pipeFds[1], "+", 1) != 1)
                        break;
                }
            } catch (...) {
            }
            ::_exit(1);
        }
        ::close(pipeFds[1]);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution(1, 60)(random)));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        char buffer[256];
        ssize_t got;
        while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
            acknowledged += static_cast<size_t>(got);
        ::close(pipeFds[0]);

        ASSERT_EQ(Query(Path, "PRAGMA integrity_check"), "ok") << "round " << round;
        // A kill while the file was being made leaves one that opens.
        EXPECT_NO_THROW(THistoryDb reopened(Path)) << "round " << round;
        const size_t kept = std::stoul(Query(Path, "SELECT count(*) FROM runs"));
        EXPECT_GE(kept, acknowledged);
        EXPECT_LE(kept, acknowledged + 1);
        EXPECT_EQ(Query(Path, "SELECT count(*) FROM items"), std::to_string(kept * 100));
        acknowledged = kept;  // a run committed but not told of counts from here on
    }
}

}  // namespace
