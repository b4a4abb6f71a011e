// The checked standard output: every failure kept and said in the user's
// words, a full non-blocking pipe waited for, a reader gone seen at once.

#include "cli/Output.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

struct TPipe {
    int Read = -1, Write = -1;
    explicit TPipe(int flags = 0)
    {
        int ends[2];
        EXPECT_EQ(::pipe2(ends, O_CLOEXEC | flags), 0);
        Read = ends[0];
        Write = ends[1];
    }
    ~TPipe()
    {
        CloseRead();
        if (Write >= 0)
            ::close(Write);
    }
    void CloseRead()
    {
        if (Read >= 0)
            ::close(Read);
        Read = -1;
    }
};

TEST(Output, AFailureIsKeptAndSaidAsTheSystemSaysIt)
{
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    TOutput output(full);
    EXPECT_FALSE(output.Failed());
    EXPECT_EQ(output.FailureText(), "");
    EXPECT_FALSE(output.Write("results\n"));
    EXPECT_TRUE(output.Failed());
    EXPECT_EQ(output.FailureText(), "cannot write the output: No space left on device");
    ::close(full);

    TOutput closed(STDOUT_FILENO, true);
    EXPECT_FALSE(closed.Write("x"));
    EXPECT_EQ(closed.FailureText(), "cannot write the output: Bad file descriptor");

    // With SIGPIPE ignored, a reader that has gone is EPIPE; later writes write nothing.
    struct sigaction ignore{}, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous);
    TPipe pipe;
    pipe.CloseRead();
    TOutput gone(pipe.Write);
    EXPECT_FALSE(gone.Write("x"));
    EXPECT_FALSE(gone.Write("y"));
    EXPECT_EQ(gone.FailureText(), "cannot write the output: Broken pipe");
    ::sigaction(SIGPIPE, &previous, nullptr);
}

// An output left non-blocking by whoever gave it: a text longer than the
// pipe holds arrives whole, once the reader takes it.
TEST(Output, ANonBlockingOutputGetsAllOfALongText)
{
    TPipe pipe(O_NONBLOCK);
    std::string text(1 << 20, '\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>('a' + i % 26);
    std::string received;
    std::thread reader([&] {
        ::fcntl(pipe.Read, F_SETFL, 0);
        char buffer[65536];
        for (ssize_t got; (got = ::read(pipe.Read, buffer, sizeof buffer)) > 0;)
            received.append(buffer, static_cast<size_t>(got));
    });
    TOutput output(pipe.Write);
    EXPECT_TRUE(output.Write(text)) << output.FailureText();
    ::close(pipe.Write);
    pipe.Write = -1;
    reader.join();
    EXPECT_TRUE(received == text) << received.size() << " of " << text.size() << " bytes";
}

TEST(Output, TheWatchTellsAtOnceWhenTheReaderGoes)
{
    TPipe pipe;
    std::mutex mutex;
    std::condition_variable told;
    int calls = 0;
    TOutputWatch watch(pipe.Write, [&] {
        std::lock_guard lock(mutex);
        ++calls;
        told.notify_all();
    });
    EXPECT_FALSE(watch.Gone());
    pipe.CloseRead();
    std::unique_lock lock(mutex);
    EXPECT_TRUE(told.wait_for(lock, 10s, [&] { return calls > 0; }));
    EXPECT_TRUE(watch.Gone());
    EXPECT_EQ(calls, 1);
}

// A file is always writable and never goes: the watch stays quiet and ends
// when it is destroyed.
TEST(Output, TheWatchOfAFileStaysQuiet)
{
    char name[] = "/tmp/orvel-output-XXXXXX";
    const int file = ::mkstemp(name);
    ASSERT_GE(file, 0);
    ::unlink(name);
    std::mutex mutex;
    std::condition_variable told;
    bool called = false;
    {
        TOutputWatch watch(file, [&] {
            std::lock_guard lock(mutex);
            called = true;
            told.notify_all();
        });
        std::unique_lock lock(mutex);
        EXPECT_FALSE(told.wait_for(lock, 300ms, [&] { return called; }));
    }
    EXPECT_FALSE(called);
    ::close(file);
}

// In a child: with standard output closed, the next file opened would get
// its number; held, it does not, and the output counts as closed.
TEST(Output, AClosedStandardDescriptorIsHeld)
{
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(STDOUT_FILENO);
        ::close(STDIN_FILENO);
        const bool closed = HoldStandardDescriptors();
        const int opened = ::open("/dev/null", O_RDONLY);
        const bool heldAgain = HoldStandardDescriptors();  // nothing closed now
        ::_exit(closed && !heldAgain && opened > STDERR_FILENO && ::fcntl(STDOUT_FILENO, F_GETFD) != -1 ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
