#pragma once
// The UI executor of the window program: workers' reports run in the Qt
// event loop of the UI thread, each through RunGuarded.

#include "engine/Uiexecutor.h"

#include <memory>

class QSocketNotifier;

class TQtUiExecutor final : public TUiExecutor {
public:
    // On the UI thread, once the QApplication exists.
    TQtUiExecutor();
    ~TQtUiExecutor() override;

protected:
    // Queued, not blocking: a UI thread that waits for workers (closing the
    // window during a run) can then still serve their reports itself. An
    // eventfd the event loop watches, rather than a posted event: writing to
    // it needs no memory, so a report cannot be stranded when memory is short.
    void Wake() noexcept override;
    void RunTask(const std::function<void()>& task) override;

private:
    void Woken();

    int FEventFd = -1;
    std::unique_ptr<QSocketNotifier> FNotifier;
};

// Creates the program's executor and installs it; on the UI thread, once the
// QApplication exists. Later calls do nothing.
void InstallQtUiExecutor();
