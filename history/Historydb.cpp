#include "history/Historydb.h"

#include "history/Outcomesjson.h"

#include <sqlite3.h>

#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string_view>
#include <thread>

namespace {

using TTimePoint = THistoryDb::time_point;

// Times are kept as microseconds since 1970 (UTC).
int64_t ToMicros(TTimePoint time)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
}

TTimePoint FromMicros(int64_t micros)
{
    return TTimePoint(std::chrono::duration_cast<TTimePoint::duration>(std::chrono::microseconds(micros)));
}

[[noreturn]] void Fail(sqlite3* db, const std::string& doing)
{
    const int code = db ? sqlite3_errcode(db) : SQLITE_CANTOPEN;
    std::string reason;
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: reason = "数据库正被另一个程序占用"; break;
    case SQLITE_FULL: reason = "磁盘已满"; break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: reason = "数据库文件已损坏"; break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN: reason = "无法创建或打开数据库文件"; break;
    case SQLITE_IOERR: reason = "读写数据库文件出错"; break;
    default: reason = "数据库出错"; break;
    }
    const char* message = db ? sqlite3_errmsg(db) : "out of memory";
    const std::string text = reason + " (" + doing + ": " + message + ")";
    if ((code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED)
        throw THistoryBusyError(text);
    throw THistoryError(text);
}

// A prepared statement, finalized when it goes.
class TStatement {
public:
    TStatement(sqlite3* db, const char* sql) : FDb(db)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &FStmt, nullptr) != SQLITE_OK)
            Fail(db, "prepare");
    }
    ~TStatement() { sqlite3_finalize(FStmt); }
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    TStatement& Bind(int index, int64_t value)
    {
        Check(sqlite3_bind_int64(FStmt, index, value));
        return *this;
    }
    TStatement& Bind(int index, const std::string& value)
    {
        Check(sqlite3_bind_text(FStmt, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT));
        return *this;
    }
    // Empty text: NULL.
    TStatement& BindTextOrNull(int index, const std::string& value)
    {
        return value.empty() ? BindNull(index) : Bind(index, value);
    }
    TStatement& BindNull(int index)
    {
        Check(sqlite3_bind_null(FStmt, index));
        return *this;
    }
    TStatement& Bind(int index, std::optional<double> value)
    {
        Check(value ? sqlite3_bind_double(FStmt, index, *value) : sqlite3_bind_null(FStmt, index));
        return *this;
    }
    // True while there is a row.
    bool Step()
    {
        const int rc = sqlite3_step(FStmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            Fail(FDb, "step");
        return false;
    }
    void Run()
    {
        while (Step()) {
        }
        sqlite3_reset(FStmt);
    }
    void Reset()
    {
        sqlite3_reset(FStmt);
        sqlite3_clear_bindings(FStmt);
    }
    int64_t Int(int column) const { return sqlite3_column_int64(FStmt, column); }
    std::string Text(int column) const
    {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(FStmt, column));
        return text ? std::string(text, sqlite3_column_bytes(FStmt, column)) : std::string();
    }
    // Valid until the next step: for a text to be looked at before it is copied.
    std::string_view TextView(int column) const
    {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(FStmt, column));
        return text ? std::string_view(text, size_t(sqlite3_column_bytes(FStmt, column))) : std::string_view();
    }
    std::optional<double> Real(int column) const
    {
        if (sqlite3_column_type(FStmt, column) == SQLITE_NULL)
            return std::nullopt;
        return sqlite3_column_double(FStmt, column);
    }

private:
    void Check(int rc)
    {
        if (rc != SQLITE_OK)
            Fail(FDb, "bind");
    }
    sqlite3* FDb;
    sqlite3_stmt* FStmt = nullptr;
};

void Exec(sqlite3* db, const char* sql)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        Fail(db, std::string(sql).substr(0, 24));  // enough to tell which; a migration is long
}

// Rolls back unless committed: an error half-way keeps nothing of a run.
class TTransaction {
public:
    explicit TTransaction(sqlite3* db) : FDb(db) { Exec(db, "BEGIN IMMEDIATE"); }
    ~TTransaction()
    {
        if (!FDone)
            sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    void Commit()
    {
        Exec(FDb, "COMMIT");
        FDone = true;
    }

private:
    sqlite3* FDb;
    bool FDone = false;
};

// The tries as microseconds separated by commas, empty for a failure.
std::string TriesText(const TTryTimes& tries)
{
    std::string text;
    for (size_t i = 0; i < tries.size(); ++i) {
        if (i > 0)
            text += ',';
        if (tries[i])
            text += std::to_string(tries[i]->count());
    }
    return text;
}

TTryTimes ParseTries(const std::string& text)
{
    TTryTimes tries;
    if (text.empty())
        return tries;
    std::istringstream in(text);
    std::string field;
    while (std::getline(in, field, ','))
        if (field.empty())
            tries.emplace_back();
        else
            tries.emplace_back(std::chrono::microseconds(std::strtoll(field.c_str(), nullptr, 10)));
    if (text.back() == ',')
        tries.emplace_back();
    return tries;
}

// The empty text of tries is both no try and a single failed one; the
// outcomes, where kept, tell which.
std::pair<TTryTimes, TTryOutcomes> TriesAndOutcomes(const std::string& triesText, std::string_view outcomesText)
{
    TTryTimes tries = ParseTries(triesText);
    if (triesText.empty()) {
        TTryOutcomes single = OutcomesOfJson(outcomesText, TTryTimes(1));
        if (!single.empty())
            return {TTryTimes(1), std::move(single)};
    }
    TTryOutcomes outcomes = OutcomesOfJson(outcomesText, tries);
    return {std::move(tries), std::move(outcomes)};
}

const char* const kRunsSql = "SELECT id, started, ended, plan, average, answered, total FROM runs"
                             " WHERE started >= ?2 AND started < ?3 ORDER BY started, id";
const char* const kRunsOfPlanSql = "SELECT id, started, ended, plan, average, answered, total FROM runs"
                                   " WHERE plan = ?1 AND started >= ?2 AND started < ?3 ORDER BY started, id";
const char* const kItemNamesSql = "SELECT DISTINCT items.name FROM runs JOIN items ON items.run = runs.id"
                                  " WHERE runs.plan = ?1 AND runs.started >= ?2 AND runs.started < ?3"
                                  " ORDER BY items.name";
// An item a plan holds twice under one name counts once per run.
const char* const kItemSeriesSql = "SELECT runs.started, avg(items.average) FROM runs"
                                   " JOIN items ON items.name = ?2 AND items.run = runs.id"
                                   " WHERE runs.plan = ?1 AND runs.started >= ?3 AND runs.started < ?4"
                                   " GROUP BY runs.started, runs.id ORDER BY runs.started, runs.id";

// Each step brings the schema from the version before it to its own.
// Version 1 kept the runs and their items; version 2 adds each run's
// summary, so that the list of runs reads no items, and the indexes that
// find the runs of all plans by time and an item's series by name. Version 3
// keeps how each try ended (Outcomesjson.h); NULL in the items recorded before.
const char* const kMigrations[] = {
    // to 1
    "CREATE TABLE runs ("
    "  id INTEGER PRIMARY KEY,"
    "  plan TEXT NOT NULL,"
    "  started INTEGER NOT NULL,"
    "  ended INTEGER NOT NULL);"
    "CREATE INDEX runs_by_plan ON runs (plan, started);"
    "CREATE TABLE items ("
    "  run INTEGER NOT NULL REFERENCES runs (id) ON DELETE CASCADE,"
    "  position INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  host TEXT NOT NULL,"
    "  method INTEGER NOT NULL,"
    "  address TEXT NOT NULL,"
    "  tries TEXT NOT NULL,"
    "  average REAL,"
    "  PRIMARY KEY (run, position)) WITHOUT ROWID;",
    // to 2
    "ALTER TABLE runs ADD COLUMN average REAL;"
    "ALTER TABLE runs ADD COLUMN answered INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE runs ADD COLUMN total INTEGER NOT NULL DEFAULT 0;"
    "UPDATE runs SET"
    "  average = (SELECT avg(average) FROM items WHERE run = runs.id),"
    "  answered = (SELECT count(average) FROM items WHERE run = runs.id),"
    "  total = (SELECT count(*) FROM items WHERE run = runs.id);"
    "CREATE INDEX runs_by_start ON runs (started);"
    "CREATE INDEX items_by_name ON items (name, run, average);",
    // to 3
    "ALTER TABLE items ADD COLUMN outcomes TEXT;",
};
static_assert(std::size(kMigrations) == THistoryDb::kSchemaVersion);

int UserVersion(sqlite3* db)
{
    TStatement query(db, "PRAGMA user_version");
    return query.Step() ? static_cast<int>(query.Int(0)) : 0;
}

// A file of a newer program, or a database that is not a history at all, is
// not ours to change. One statement reads both, so that another program's
// migration cannot fall between them.
void CheckOurs(sqlite3* db, const std::string& path)
{
    TStatement query(db, "SELECT (SELECT user_version FROM pragma_user_version),"
                         " (SELECT count(*) FROM sqlite_master)");
    if (!query.Step())
        Fail(db, "schema");
    const int64_t version = query.Int(0), tables = query.Int(1);
    if (version > THistoryDb::kSchemaVersion)
        throw THistoryError("数据库由更新版本的程序创建 (" + path + ")");
    if (version == 0 && tables > 0)
        throw THistoryError("不是测速历史数据库 (" + path + ")");
}

void Migrate(sqlite3* db, const std::string& path)
{
    if (UserVersion(db) == THistoryDb::kSchemaVersion)
        return;
    TTransaction transaction(db);
    // Another program may have migrated it while this one waited.
    CheckOurs(db, path);
    const int version = UserVersion(db);
    for (int step = version; step < THistoryDb::kSchemaVersion; ++step)
        Exec(db, kMigrations[step]);
    Exec(db, ("PRAGMA user_version = " + std::to_string(THistoryDb::kSchemaVersion)).c_str());
    transaction.Commit();
}

// Readers then never wait for the writer, and a killed writer leaves a log
// that the next opening rolls back or forward.
void SetWal(sqlite3* db)
{
    TStatement mode(db, "PRAGMA journal_mode = WAL");
    if (!mode.Step() || mode.Text(0) != "wal")
        Fail(db, "journal_mode");
}

std::string NotOpened(const std::string& why, const std::string& path)
{
    return "无法创建或打开数据库文件 (" + path + " " + why + "，不予打开)";
}

// A link would have SQLite open and write whatever it points at, as root
// /etc/passwd too; a FIFO or a device SQLite opens before it finds it cannot
// read it, and opening one can do things. A missing file is made by SQLite;
// other errors are SQLite's to report.
void RefuseAllButAPlainFile(const std::string& opened, const std::string& path)
{
    struct stat info {};
    if (::lstat(opened.c_str(), &info) != 0)
        return;
    if (S_ISLNK(info.st_mode))
        throw THistoryError(NotOpened("是符号链接", path));
    if (!S_ISREG(info.st_mode))
        throw THistoryError(NotOpened("不是普通文件", path));
}

// SQLite's NOFOLLOW refuses a link anywhere in the path; only the file itself
// is refused, so a store reached through a linked folder keeps its history.
std::string WithRealFolder(const std::string& path)
{
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(folder.empty() ? "/" : folder.c_str(), nullptr),
                                                     &std::free);
    if (!real)
        return path;
    const std::string resolved(real.get());
    return (resolved == "/" ? "" : resolved) + "/" + name;
}

}  // namespace

THistoryDb::THistoryDb(const std::string& path, std::chrono::milliseconds busyTimeout) : FPath(path)
{
    const std::string opened = WithRealFolder(path);
    RefuseAllButAPlainFile(opened, path);
    // NOFOLLOW refuses a link that took the file's place since the check.
    // SQLite opens the journal and WAL files beside it never through a link.
    const int rc = sqlite3_open_v2(opened.c_str(), &FDb,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr);
    try {
        if (sqlite3_extended_errcode(FDb) == SQLITE_CANTOPEN_SYMLINK)
            throw THistoryError(NotOpened("是符号链接", path));
        if (rc != SQLITE_OK)
            Fail(FDb, "open " + path);
        sqlite3_extended_result_codes(FDb, 1);
        sqlite3_busy_timeout(FDb, static_cast<int>(busyTimeout.count()));
        Exec(FDb, "PRAGMA foreign_keys = ON");
        // While another program creates the file or changes its journal, SQLite
        // may refuse at once rather than wait.
        const auto deadline = std::chrono::steady_clock::now() + busyTimeout;
        for (;;) {
            try {
                Prepare(path);
                break;
            } catch (const THistoryBusyError&) {
                if (std::chrono::steady_clock::now() >= deadline)
                    throw;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
    } catch (...) {
        sqlite3_close_v2(FDb);
        throw;
    }
}

void THistoryDb::Prepare(const std::string& path)
{
    // Reading the schema first finds a file that is not a database.
    CheckOurs(FDb, path);
    SetWal(FDb);
    // In WAL a kill loses no committed run even so; a power cut may lose the
    // last ones, never the file. It saves an fsync per run.
    Exec(FDb, "PRAGMA synchronous = NORMAL");
    Migrate(FDb, path);
}

THistoryDb::~THistoryDb() { sqlite3_close_v2(FDb); }

int64_t THistoryDb::Record(const TRunRecord& run)
{
    int answered = 0;
    std::vector<std::optional<double>> averages;
    for (const TItemRecord& item : run.Items) {
        const std::optional<TTryFigures> figures = TryFigures(item.Tries);
        averages.push_back(figures ? std::optional<double>(figures->Mean) : std::nullopt);
        answered += figures ? 1 : 0;
    }
    const std::optional<double> average = MeanOfAverages(averages);

    TTransaction transaction(FDb);
    TStatement insertRun(FDb, "INSERT INTO runs (plan, started, ended, average, answered, total)"
                              " VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    insertRun.Bind(1, run.Plan).Bind(2, ToMicros(run.Started)).Bind(3, ToMicros(run.Ended));
    insertRun.Bind(4, average).Bind(5, int64_t{answered}).Bind(6, static_cast<int64_t>(run.Items.size()));
    insertRun.Run();
    const int64_t id = sqlite3_last_insert_rowid(FDb);
    TStatement insertItem(FDb, "INSERT INTO items (run, position, name, host, method, address, tries, average,"
                               " outcomes) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
    for (size_t i = 0; i < run.Items.size(); ++i) {
        const TItemRecord& item = run.Items[i];
        insertItem.Reset();
        insertItem.Bind(1, id).Bind(2, static_cast<int64_t>(i)).Bind(3, item.Name).Bind(4, item.Host);
        insertItem.Bind(5, int64_t{item.Method}).Bind(6, item.Address).Bind(7, TriesText(item.Tries));
        insertItem.Bind(8, averages[i]).BindTextOrNull(9, OutcomesJson(item.Outcomes));
        insertItem.Run();
    }
    transaction.Commit();
    return id;
}

std::vector<TRunSummary> THistoryDb::Runs(const std::string& plan, time_point since, time_point until) const
{
    TStatement query(FDb, plan.empty() ? kRunsSql : kRunsOfPlanSql);
    if (!plan.empty())
        query.Bind(1, plan);
    query.Bind(2, ToMicros(since)).Bind(3, ToMicros(until));
    std::vector<TRunSummary> runs;
    while (query.Step()) {
        runs.push_back({query.Int(0), FromMicros(query.Int(1)), FromMicros(query.Int(2)), query.Text(3),
                        query.Real(4), static_cast<int>(query.Int(5)), static_cast<int>(query.Int(6))});
    }
    return runs;
}

TRunRecord THistoryDb::Run(int64_t id) const
{
    TStatement runQuery(FDb, "SELECT started, ended, plan FROM runs WHERE id = ?1");
    runQuery.Bind(1, id);
    if (!runQuery.Step())
        throw THistoryError("没有这次测速的记录 (" + std::to_string(id) + ")");
    TRunRecord run;
    run.Id = id;
    run.Started = FromMicros(runQuery.Int(0));
    run.Ended = FromMicros(runQuery.Int(1));
    run.Plan = runQuery.Text(2);
    TStatement items(FDb, "SELECT name, host, method, address, tries, outcomes FROM items WHERE run = ?1"
                          " ORDER BY position");
    items.Bind(1, id);
    while (items.Step()) {
        auto [tries, outcomes] = TriesAndOutcomes(items.Text(4), items.TextView(5));
        run.Items.push_back({items.Text(0), items.Text(1), static_cast<int>(items.Int(2)), items.Text(3),
                             std::move(tries), std::move(outcomes)});
    }
    return run;
}

std::vector<std::string> THistoryDb::ItemNames(const std::string& plan, time_point since, time_point until) const
{
    TStatement query(FDb, kItemNamesSql);
    query.Bind(1, plan).Bind(2, ToMicros(since)).Bind(3, ToMicros(until));
    std::vector<std::string> names;
    while (query.Step())
        names.push_back(query.Text(0));
    return names;
}

std::vector<std::pair<THistoryDb::time_point, std::optional<double>>>
THistoryDb::ItemSeries(const std::string& plan, const std::string& itemName, time_point since,
                       time_point until) const
{
    TStatement query(FDb, kItemSeriesSql);
    query.Bind(1, plan).Bind(2, itemName).Bind(3, ToMicros(since)).Bind(4, ToMicros(until));
    std::vector<std::pair<time_point, std::optional<double>>> series;
    while (query.Step())
        series.emplace_back(FromMicros(query.Int(0)), query.Real(1));
    return series;
}

std::string THistoryDb::QueryPlan(TQuery query) const
{
    const char* sql = query == TQuery::Runs         ? kRunsSql
                      : query == TQuery::RunsOfPlan ? kRunsOfPlanSql
                      : query == TQuery::ItemNames  ? kItemNamesSql
                                                    : kItemSeriesSql;
    TStatement explain(FDb, ("EXPLAIN QUERY PLAN " + std::string(sql)).c_str());
    std::string plan;
    while (explain.Step())
        plan += explain.Text(3) + "\n";
    return plan;
}
