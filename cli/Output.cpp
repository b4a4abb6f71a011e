#include "cli/Output.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <system_error>

namespace {

bool IsClosed(int fd)
{
    return ::fcntl(fd, F_GETFD) == -1 && errno == EBADF;
}

// A non-blocking output left full by its reader: wait until it takes more.
// A failure shows in the next write.
void WaitWritable(int fd)
{
    pollfd output{fd, POLLOUT, 0};
    while (::poll(&output, 1, -1) < 0 && errno == EINTR) {
    }
}

}  // namespace

bool HoldStandardDescriptors()
{
    bool outputClosed = false;
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (!IsClosed(fd))
            continue;
        // The lower ones are open, so this one is the lowest free number.
        const int held = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (held >= 0 && held != fd)
            ::close(held);
        outputClosed = outputClosed || fd == STDOUT_FILENO;
    }
    return outputClosed;
}

TOutput::TOutput(int fd, bool closed) : FFd(fd), FError(closed ? EBADF : 0) {}

bool TOutput::Write(std::string_view text)
{
    while (!FError && !text.empty()) {
        const ssize_t written = ::write(FFd, text.data(), text.size());
        if (written > 0)
            text.remove_prefix(static_cast<size_t>(written));
        else if (written == 0)
            FError = EIO;  // no progress and no reason: do not spin
        else if (errno == EAGAIN || errno == EWOULDBLOCK)
            WaitWritable(FFd);
        else if (errno != EINTR)
            FError = errno;
    }
    return !FError;
}

std::string TOutput::FailureText() const
{
    return FError ? "cannot write the output: " + std::string(std::strerror(FError)) : std::string();
}

TOutputWatch::TOutputWatch(int fd, std::function<void()> gone) : FFd(fd), FOnGone(std::move(gone))
{
    FWake = ::eventfd(0, EFD_CLOEXEC);
    if (FWake < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    FThread = std::thread(&TOutputWatch::Watch, this);
}

TOutputWatch::~TOutputWatch()
{
    const uint64_t one = 1;
    while (::write(FWake, &one, sizeof one) < 0 && errno == EINTR) {
    }
    FThread.join();
    ::close(FWake);
}

void TOutputWatch::Watch()
{
    // No events asked for: poll reports only the errors and hang-ups that
    // come unasked, and a file, which is always writable, does not wake it.
    pollfd watched[2] = {{FFd, 0, 0}, {FWake, POLLIN, 0}};
    for (;;) {
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (watched[1].revents != 0 || (watched[0].revents & POLLNVAL) != 0)
            return;
        if ((watched[0].revents & (POLLERR | POLLHUP)) != 0)
            break;
    }
    FGone = true;
    try {
        FOnGone();
    } catch (...) {
        // The caller's handler must not end the program from this thread.
    }
}
