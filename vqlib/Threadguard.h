#pragma once
// The last stop of an exception that reaches the top of a thread, or of a
// callback that nobody above could hear from: one line on standard error and
// the end of the program, rather than a run that waits for ever for a report
// that will never come.

#include <utility>

// The status a program ends with here, as for any other error of its own.
inline constexpr int kUncaughtExitStatus = 2;

// Inside a catch block only. Writes "<program>: <what> (<where>)" and ends
// the program at once; needs no memory, which may be what ran out.
[[noreturn]] void EndProgramOnException(const char* where) noexcept;

// Runs body; whatever it throws ends the program as above.
template <class F>
void RunThreadBody(const char* where, F&& body) noexcept
{
    try {
        std::forward<F>(body)();
    } catch (...) {
        EndProgramOnException(where);
    }
}
