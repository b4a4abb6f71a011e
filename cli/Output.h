#pragma once
// orvel-cli's standard output with every write checked: a full disk, a closed
// output or a reader that has gone is an error the program ends with, not a
// silent loss.

#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

// Opens /dev/null onto each of descriptors 0, 1 and 2 that is closed, so that
// no file the program opens later (History.db) takes its number and gets the
// output. Call first thing in main. Returns whether standard output was closed.
bool HoldStandardDescriptors();

class TOutput {
public:
    // closed: the descriptor was closed at start, and every write fails as
    // writing to it would have (EBADF).
    explicit TOutput(int fd, bool closed = false);

    // Writes all of text, waiting while a non-blocking output is full. False
    // when this or an earlier write failed; after a failure nothing is written.
    bool Write(std::string_view text);
    bool Failed() const { return FError != 0; }
    // "cannot write the output: No space left on device"; empty while none failed.
    std::string FailureText() const;

private:
    int FFd;
    int FError = 0;  // errno of the first failure
};

// Tells, from a thread of its own, when nothing will read the output any
// more: the reader of a pipe has gone, or a socket is shut. It writes
// nothing; a file or a terminal that is not hung up never tells.
class TOutputWatch {
public:
    // gone is called once, on the watching thread.
    TOutputWatch(int fd, std::function<void()> gone);
    ~TOutputWatch();
    TOutputWatch(const TOutputWatch&) = delete;
    TOutputWatch& operator=(const TOutputWatch&) = delete;

    bool Gone() const { return FGone; }

private:
    void Watch();

    const int FFd;
    const std::function<void()> FOnGone;
    int FWake = -1;  // an eventfd that ends the watch
    std::atomic<bool> FGone{false};
    std::thread FThread;
};
