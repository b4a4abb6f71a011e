#pragma once
// A thread object that runs Execute on a thread of its own, deletes itself when
// Execute returns, and can run a function on the UI thread and wait for it.

#include "engine/Uiexecutor.h"

#include <cstdint>
#include <functional>
#include <thread>

class TThread {
public:
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Waits until every thread started so far has ended, thread-local clean-up
    // included. Only for a caller none of them still waits for (their owner
    // after they have all reported); a program calls it before it exits.
    static void JoinAll();

protected:
    TThread();
    // Starts the thread. The most derived constructor calls it as its last
    // statement, so Execute never sees a half-built object; if it throws, no
    // thread was started and the object is destroyed by the failed new.
    void Start();
    // The body. What it throws ends the program with one line
    // (vqlib/Threadguard.h): whoever waits for its report would wait for ever.
    virtual void Execute() = 0;
    // Runs method on the UI thread (the installed executor) and waits for it.
    void Synchronize(const std::function<void()>& method);
    // The same without allocating.
    void Synchronize(TUiExecutor::TReservedTask& method);

private:
    void Run(uint64_t serial);
};
