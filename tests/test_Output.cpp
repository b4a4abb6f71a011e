// The checked standard output: the first failure kept and said in the
// system's words, a full non-blocking pipe waited for, a closed descriptor
// held. (The watch on a reader that goes is tried end to end, in
// test_Orvelcli.)

#include "cli/Output.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>

namespace {

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
        ::close(Read);
        if (Write >= 0)
            ::close(Write);
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
    EXPECT_FALSE(output.Write("more\n")) << "wrote after a failure";
    ::close(full);
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
