#pragma once
// The history of completed runs: a SQLite database beside the plan store.
// Several programs may write it at once; each run is one transaction.

#include "history/Runrecord.h"

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

struct sqlite3;

// what() is a reason to show the user.
class THistoryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Another program holds the file; trying again later may succeed.
class THistoryBusyError : public THistoryError {
public:
    using THistoryError::THistoryError;
};

class THistoryDb {
public:
    using time_point = std::chrono::system_clock::time_point;
    static constexpr const char* kFileName = "History.db";
    static constexpr int kSchemaVersion = 3;
    // How long a write waits for another program's before it gives up.
    static constexpr std::chrono::milliseconds kBusyTimeout{5000};

    // Opens the file, creating it if it is not there, and brings an older
    // schema forward. Throws THistoryError.
    explicit THistoryDb(const std::string& path, std::chrono::milliseconds busyTimeout = kBusyTimeout);
    ~THistoryDb();
    THistoryDb(const THistoryDb&) = delete;
    THistoryDb& operator=(const THistoryDb&) = delete;

    // Returns the run's id. Throws THistoryError; nothing of the run is kept then.
    int64_t Record(const TRunRecord& run);

    // Runs started in [since, until), oldest first; plan empty: every plan.
    std::vector<TRunSummary> Runs(const std::string& plan, time_point since, time_point until) const;
    // Throws THistoryError when there is no such run.
    TRunRecord Run(int64_t id) const;
    // The names of the plan's items in runs started in [since, until), sorted.
    std::vector<std::string> ItemNames(const std::string& plan, time_point since, time_point until) const;
    // The item's average in each of the plan's runs started in [since, until)
    // that had it, oldest first; none where it did not answer (a gap).
    std::vector<std::pair<time_point, std::optional<double>>> ItemSeries(const std::string& plan,
                                                                       const std::string& itemName,
                                                                       time_point since, time_point until) const;

    // How SQLite answers each query, for the benchmark and the tests: the
    // indexes it uses.
    enum class TQuery { Runs, RunsOfPlan, ItemNames, ItemSeries };
    std::string QueryPlan(TQuery query) const;

    const std::string& FileName() const { return FPath; }

private:
    void Prepare(const std::string& path);

    std::string FPath;
    sqlite3* FDb = nullptr;
};
