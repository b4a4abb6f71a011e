// The cost of the run history.
//
// 1. Recording a run of 100 items through THistoryRecorder: the time from
//    handing the run over until it is recorded, and how long the caller's
//    thread is held by the hand-over (its longest stall), into a fresh history
//    and into a large one.
// 2. A generated history of 100,000 runs of 20 items over a year: the time of
//    `orvel-cli --history --since` (30 days back) as a process, beside the
//    sqlite3 shell doing the same query, and the 30-day queries of the
//    history window (Runs, ItemNames, ItemSeries of every item), each with the
//    query plan that shows the indexes used.
//
//   bench_history [runs] [items]   (default 100000 and 20)

#include "history/Historydb.h"
#include "history/Historyrecorder.h"
#include "tests/support/Scratchdir.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;
using TTimePoint = std::chrono::system_clock::time_point;
using namespace std::chrono_literals;

double Ms(TClock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double TimeMs(const std::function<void()>& action)
{
    const auto start = TClock::now();
    action();
    return Ms(TClock::now() - start);
}

struct TSpread {
    double Median = 0, Max = 0;
};

TSpread Spread(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.back()};
}

std::string ItemName(int i) { return "测速项" + std::to_string(i); }

// A try as a run hands it over: home pages (method 1) with their phases, the
// third try failed with a cause.
std::optional<TTryOutcome> BenchOutcome(int method, int index, std::chrono::microseconds time)
{
    TTryOutcome outcome;
    outcome.Ok = index != 2;
    outcome.Elapsed = outcome.Ok ? time : 0us;
    outcome.Cause = outcome.Ok ? TTryCause::None : method == 2 ? TTryCause::DnsAnswer : TTryCause::Timeout;
    outcome.DnsRcode = outcome.Cause == TTryCause::DnsAnswer ? 2 : 0;
    if (method == 1 && outcome.Ok)
        outcome.Http = THttpTry{time / 5, time / 5, time / 5, time / 5, time - 4 * (time / 5), 200, "127.0.0.1",
                                51'234, 1'900'000'000};
    return outcome;
}

TRunRecord HundredItemRun(TTimePoint started)
{
    TRunRecord run;
    run.Plan = "基准";
    run.Started = started;
    run.Ended = started + 3s;
    for (int i = 0; i < 100; ++i) {
        const std::vector<std::chrono::microseconds> times{1500us, 1600us, 0us, 1700us,
                                                            std::chrono::microseconds(1000 + i)};
        TTryOutcomes outcomes;
        for (size_t t = 0; t < times.size(); ++t)
            outcomes.push_back(BenchOutcome(i % 3, int(t), times[t]));
        run.Items.push_back({ItemName(i), "host" + std::to_string(i) + ".example", i % 3,
                             "127.0.0." + std::to_string(1 + i % 250), TimesOf(outcomes), outcomes});
    }
    return run;
}

// Hands over runs one after another, each when the one before is recorded.
void Recording(const std::string& path, const char* label)
{
    THistoryRecorder recorder(path);
    std::vector<double> latencies, stalls;
    int failures = 0;
    for (int i = 0; i < 30; ++i) {
        std::mutex mutex;
        std::condition_variable recorded;
        std::optional<TClock::time_point> doneAt;
        TRunRecord run = HundredItemRun(std::chrono::system_clock::now());
        const auto handedAt = TClock::now();
        recorder.Record(std::move(run), [&](std::optional<std::string> error) {
            std::lock_guard lock(mutex);
            failures += error ? 1 : 0;
            doneAt = TClock::now();
            recorded.notify_one();
        });
        stalls.push_back(Ms(TClock::now() - handedAt));
        std::unique_lock lock(mutex);
        recorded.wait(lock, [&] { return doneAt.has_value(); });
        latencies.push_back(Ms(*doneAt - handedAt));
    }
    const TSpread latency = Spread(latencies), stall = Spread(stalls);
    std::printf("  %-28s handed over to recorded: median %7.2f ms, max %7.2f ms; caller's longest stall "
                "%.3f ms%s\n",
                label, latency.Median, latency.Max, stall.Max, failures ? " (SOME FAILED)" : "");

    // The recorder's two steps, timed on this thread.
    std::vector<double> opens, writes;
    for (int i = 0; i < 10; ++i) {
        std::optional<THistoryDb> db;
        opens.push_back(TimeMs([&] { db.emplace(path); }));
        writes.push_back(TimeMs([&] { db->Record(HundredItemRun(std::chrono::system_clock::now())); }));
    }
    std::printf("  %-28s of which opening: median %7.2f ms; the transaction: median %7.2f ms\n", "",
                Spread(opens).Median, Spread(writes).Median);
}

void Check(int rc, sqlite3* db, const char* what)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "bench_history: %s: %s\n", what, sqlite3_errmsg(db));
        std::exit(1);
    }
}

// A year of runs ending now, one plan run three times as often as the other;
// one item in twenty does not answer, one run in a hundred gets no answer.
void Generate(const std::string& path, int runs, int items)
{
    { THistoryDb create(path); }
    sqlite3* db = nullptr;
    Check(sqlite3_open(path.c_str(), &db), db, "open");
    Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
    sqlite3_stmt* insertRun = nullptr;
    sqlite3_stmt* insertItem = nullptr;
    Check(sqlite3_prepare_v2(db, "INSERT INTO runs (id, plan, started, ended, average, answered, total)"
                                 " VALUES (?, ?, ?, ?, ?, ?, ?)", -1, &insertRun, nullptr), db, "prepare");
    Check(sqlite3_prepare_v2(db, "INSERT INTO items (run, position, name, host, method, address, tries, average)"
                                 " VALUES (?, ?, ?, ?, ?, ?, ?, ?)", -1, &insertItem, nullptr), db, "prepare");
    std::mt19937 random(15);
    std::uniform_int_distribution<int> micros(800, 90'000), percent(0, 99);
    const int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::system_clock::now().time_since_epoch()).count();
    const int64_t year = int64_t{365} * 24 * 3600 * 1'000'000;
    for (int r = 0; r < runs; ++r) {
        const int64_t started = now - year + year / runs * r;
        const bool deadRun = percent(random) == 0;
        double sum = 0;
        int answered = 0;
        for (int i = 0; i < items; ++i) {
            const bool answers = !deadRun && percent(random) >= 5;
            std::string tries;
            double itemSum = 0;
            for (int t = 0; t < 5; ++t) {
                const int time = micros(random);
                if (answers) {
                    tries += std::to_string(time);
                    itemSum += time / 1000.0;
                }
                if (t < 4)
                    tries += ',';
            }
            sqlite3_reset(insertItem);
            sqlite3_bind_int64(insertItem, 1, r + 1);
            sqlite3_bind_int(insertItem, 2, i);
            const std::string name = ItemName(i), host = "host" + std::to_string(i) + ".example";
            sqlite3_bind_text(insertItem, 3, name.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insertItem, 4, host.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(insertItem, 5, i % 3);
            sqlite3_bind_text(insertItem, 6, "127.0.0.1", -1, SQLITE_STATIC);
            sqlite3_bind_text(insertItem, 7, tries.c_str(), -1, SQLITE_TRANSIENT);
            if (answers) {
                sqlite3_bind_double(insertItem, 8, itemSum / 5);
                sum += itemSum / 5;
                ++answered;
            } else {
                sqlite3_bind_null(insertItem, 8);
            }
            Check(sqlite3_step(insertItem), db, "insert item");
        }
        sqlite3_reset(insertRun);
        sqlite3_bind_int64(insertRun, 1, r + 1);
        sqlite3_bind_text(insertRun, 2, r % 4 == 3 ? "办公室" : "家里", -1, SQLITE_STATIC);
        sqlite3_bind_int64(insertRun, 3, started);
        sqlite3_bind_int64(insertRun, 4, started + 3'000'000);
        if (answered)
            sqlite3_bind_double(insertRun, 5, sum / answered);
        else
            sqlite3_bind_null(insertRun, 5);
        sqlite3_bind_int(insertRun, 6, answered);
        sqlite3_bind_int(insertRun, 7, items);
        Check(sqlite3_step(insertRun), db, "insert run");
    }
    sqlite3_finalize(insertRun);
    sqlite3_finalize(insertItem);
    Check(sqlite3_exec(db, "COMMIT; PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr), db, "commit");
    sqlite3_close(db);
}

std::string LocalDate(TTimePoint time)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

std::string ProgramDir()
{
    return std::filesystem::canonical("/proc/self/exe").parent_path().string();
}

// The best of five, as a process with its output thrown away.
double CommandMs(const std::string& command)
{
    std::vector<double> times;
    for (int i = 0; i < 5; ++i)
        times.push_back(TimeMs([&] {
            if (std::system((command + " >/dev/null").c_str()) != 0)
                std::fprintf(stderr, "bench_history: failed: %s\n", command.c_str());
        }));
    return *std::min_element(times.begin(), times.end());
}

void PrintPlan(const char* label, const std::string& plan)
{
    std::printf("    %s:\n", label);
    size_t start = 0;
    for (size_t end; (end = plan.find('\n', start)) != std::string::npos; start = end + 1)
        std::printf("      %s\n", plan.substr(start, end - start).c_str());
}

}  // namespace

int main(int argc, char* argv[])
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 100'000;
    const int items = argc > 2 ? std::atoi(argv[2]) : 20;
    TScratchDir dir;
    const std::string fresh = dir.File("fresh.db");
    const std::string path = dir.File(THistoryDb::kFileName);

    std::printf("Recording a run of 100 items (30 runs):\n");
    Recording(fresh, "into a fresh history");

    const double generated = TimeMs([&] { Generate(path, runs, items); });
    std::printf("\nGenerated %d runs of %d items over a year in %.1f s: %.1f MB\n", runs, items, generated / 1000,
                std::filesystem::file_size(path) / 1e6);
    Recording(path, "into that history");

    const TTimePoint now = std::chrono::system_clock::now();
    const TTimePoint since = now - std::chrono::hours(24 * 30);
    const std::string sinceDate = LocalDate(since);
    const std::string cli = "'" + ProgramDir() + "/orvel-cli' --dir '" + dir.Path().string() + "' --history --since " +
                            sinceDate;
    std::printf("\norvel-cli --history --since %s (best of 5, as a process; target < 500 ms):\n", sinceDate.c_str());
    std::printf("  table, every plan        %7.1f ms\n", CommandMs(cli));
    std::printf("  json, --plan 家里        %7.1f ms\n", CommandMs(cli + " --plan 家里 --format json"));
    if (std::system("command -v sqlite3 >/dev/null 2>&1") == 0) {
        const int64_t sinceMicros =
            std::chrono::duration_cast<std::chrono::microseconds>(since.time_since_epoch()).count();
        std::printf("  sqlite3 shell, same rows %7.1f ms\n",
                    CommandMs("sqlite3 '" + path + "' 'SELECT id, started, ended, plan, average, answered, total"
                              " FROM runs WHERE started >= " + std::to_string(sinceMicros) +
                              " ORDER BY started, id'"));
    }

    THistoryDb db(path);
    std::printf("\nThe history window's queries for the last 30 days of plan 家里 (first call, then best of 5):\n");
    auto timed = [](const char* label, const std::function<size_t()>& query) {
        size_t rows = 0;
        const double first = TimeMs([&] { rows = query(); });
        double best = first;
        for (int i = 0; i < 5; ++i)
            best = std::min(best, TimeMs([&] { query(); }));
        std::printf("  %-34s %6zu rows  %7.2f ms  %7.2f ms\n", label, rows, first, best);
    };
    timed("Runs", [&] { return db.Runs("家里", since, now).size(); });
    timed("ItemNames", [&] { return db.ItemNames("家里", since, now).size(); });
    timed("ItemSeries of one item", [&] { return db.ItemSeries("家里", ItemName(0), since, now).size(); });
    timed("ItemSeries of every item", [&] {
        size_t rows = 0;
        for (int i = 0; i < items; ++i)
            rows += db.ItemSeries("家里", ItemName(i), since, now).size();
        return rows;
    });
    timed("Runs of every plan (orvel-cli)", [&] { return db.Runs("", since, now).size(); });

    std::printf("\nQuery plans (EXPLAIN QUERY PLAN):\n");
    using TQuery = THistoryDb::TQuery;
    PrintPlan("Runs of every plan", db.QueryPlan(TQuery::Runs));
    PrintPlan("Runs of a plan", db.QueryPlan(TQuery::RunsOfPlan));
    PrintPlan("ItemNames", db.QueryPlan(TQuery::ItemNames));
    PrintPlan("ItemSeries", db.QueryPlan(TQuery::ItemSeries));
    return 0;
}
