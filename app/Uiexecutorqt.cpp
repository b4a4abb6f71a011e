#include "app/Uiexecutorqt.h"

#include "app/Apperror.h"

#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <system_error>

TQtUiExecutor::TQtUiExecutor() : FEventFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (FEventFd < 0)
        throw std::system_error(errno, std::generic_category(), "cannot make the UI thread's wake-up");
    FNotifier = std::make_unique<QSocketNotifier>(FEventFd, QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, [this] { Woken(); });
}

TQtUiExecutor::~TQtUiExecutor()
{
    FNotifier.reset();
    ::close(FEventFd);
}

void TQtUiExecutor::Wake() noexcept
{
    const uint64_t one = 1;
    // A full counter (never, at 2^64 - 2) or EAGAIN still leaves it readable.
    while (::write(FEventFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void TQtUiExecutor::Woken()
{
    uint64_t count = 0;
    while (::read(FEventFd, &count, sizeof count) < 0 && errno == EINTR) {
    }
    RunPending();
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
