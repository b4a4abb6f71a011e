#include "app/Uiexecutorqt.h"

#include "app/Apperror.h"

#include <QCoreApplication>
#include <QMetaObject>

void TQtUiExecutor::Wake()
{
    QMetaObject::invokeMethod(qApp, [this] { RunPending(); }, Qt::QueuedConnection);
}

void TQtUiExecutor::RunTask(const std::function<void()>& task)
{
    RunGuarded(task);
}

void InstallQtUiExecutor()
{
    // Lives as long as the program: reports may be queued until the very end.
    static TQtUiExecutor* executor = [] {
        auto* created = new TQtUiExecutor;
        InstallUiExecutor(created);
        return created;
    }();
    (void)executor;
}
