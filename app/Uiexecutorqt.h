#pragma once
// The UI executor of the window program: workers' reports run in the Qt
// event loop of the UI thread, each through RunGuarded.

#include "engine/Uiexecutor.h"

class TQtUiExecutor final : public TUiExecutor {
protected:
    // Queued, not blocking: a UI thread that waits for workers (closing the
    // window during a run) can then still serve their reports itself.
    void Wake() override;
    void RunTask(const std::function<void()>& task) override;
};

// Creates the program's executor and installs it; on the UI thread, once the
// QApplication exists. Later calls do nothing.
void InstallQtUiExecutor();
