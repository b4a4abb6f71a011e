#pragma once
// Another program's hold on a history: its write lock, taken with a
// connection of the test's own and kept until released. Link SQLite::SQLite3.

#include "history/Historydb.h"

#include <sqlite3.h>

#include <string>

class THistoryLock {
public:
    // Creates the history first, so that it is in WAL mode as ours are.
    explicit THistoryLock(const std::string& path)
    {
        { THistoryDb create(path); }
        if (sqlite3_open(path.c_str(), &FDb) != SQLITE_OK ||
            sqlite3_exec(FDb, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK) {
            sqlite3_close(FDb);
            throw THistoryError("cannot lock " + path);
        }
    }
    ~THistoryLock() { Release(); }
    THistoryLock(const THistoryLock&) = delete;
    THistoryLock& operator=(const THistoryLock&) = delete;

    void Release()
    {
        if (!FDb)
            return;
        sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(FDb);
        FDb = nullptr;
    }

private:
    sqlite3* FDb = nullptr;
};
