#include "vqlib/Threadguard.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <new>

namespace {

void WriteText(const char* text) noexcept
{
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, text, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        text += written;
        left -= static_cast<size_t>(written);
    }
}

// The message of the exception being handled; none is copied.
const char* CurrentExceptionText() noexcept
{
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return "out of memory";
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "unexpected error";
    }
}

}  // namespace

void EndProgramOnException(const char* where) noexcept
{
    WriteText(program_invocation_short_name);
    WriteText(": ");
    WriteText(CurrentExceptionText());
    WriteText(" (");
    WriteText(where);
    WriteText(")\n");
    // Not exit(): other threads may still hold the locks its clean-up takes.
    ::_exit(kUncaughtExitStatus);
}
