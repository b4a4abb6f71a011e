#include "engine/Thread.h"

#include "engine/Uiexecutor.h"

TThread::TThread() = default;

TThread::~TThread() = default;

void TThread::Start()
{
    std::thread(&TThread::Run, this).detach();
}

void TThread::Run()
{
    try {
        Execute();
    } catch (...) {
        // A thread body has nobody to report to.
    }
    delete this;
}

void TThread::Synchronize(const std::function<void()>& method)
{
    RunOnUiThread(method);
}
