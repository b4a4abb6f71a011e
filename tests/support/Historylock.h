#pragma once
// Another program's hold on a history: its write lock, taken with a
// connection of the test's own and kept until released. Link SQLite::SQLite3.
// A write lock lets readers through the WAL; an exclusive hold keeps them out
// too, as a program does that opens the file in exclusive locking mode.

#include "history/Historydb.h"

#include <sqlite3.h>

#include <string>

class THistoryLock {
public:
    enum class THold { Writers, Everyone };

    // Creates the history first, so that it is in WAL mode as ours are.
    explicit THistoryLock(const std::string& path, THold hold = THold::Writers)
    {
        { THistoryDb create(path); }
        const char* take =
            hold == THold::Writers ? "BEGIN EXCLUSIVE" : "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE";
        if (sqlite3_open(path.c_str(), &FDb) != SQLITE_OK ||
            sqlite3_exec(FDb, take, nullptr, nullptr, nullptr) != SQLITE_OK) {
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
