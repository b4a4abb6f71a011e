// Real SIGINT and SIGTERM, sent to the process as kill(1) or a terminal
// sends them. Each case that sends one runs in a child process of its own,
// made while the test has no other thread, as main starts: the test
// program's own mask and pending signals stay as they were.

#include "cli/Stopsignals.h"
#include "cli/Watch.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <thread>

namespace {

using namespace std::chrono_literals;

// The wait status of a child that ran body and exited with what it returned.
int InChild(const std::function<int()>& body)
{
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(60);  // a child that hangs dies of SIGALRM
        int code = 99;
        try {
            code = body();
        } catch (...) {
        }
        std::_Exit(code);
    }
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    return status;
}

int ExitCode(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// A run in which an item got no answer: exit status 1.
TRunReport Unanswered()
{
    TRunReport report;
    report.Items.emplace_back().Info.State = tsNoResponse;
    return report;
}

TEST(StopSignals, EitherSignalRequestsTheStop)
{
    for (int number : {SIGINT, SIGTERM}) {
        const int status = InChild([number] {
            TRunStop stop;
            TStopSignals signals(stop);
            kill(getpid(), number);
            return stop.WaitFor(30s) ? 0 : 1;
        });
        EXPECT_EQ(ExitCode(status), 0) << strsignal(number);
    }
}

// Run 1 completes with status 1, run 2 with 0; run 3 is in flight, with a
// worker thread of its own, when SIGTERM comes from outside.
TEST(StopSignals, AWatchStoppedBySignalEndsWithItsLastCompletedRun)
{
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(60);
        close(ready[0]);
        TRunStop stop;
        TStopSignals signals(stop);
        int runs = 0;
        const int status = RunWatch(
            10ms, stop,
            [&](TRunStop& runStop) {
                if (++runs == 1)
                    return Unanswered();
                if (runs == 2)
                    return TRunReport{};  // nothing unanswered: exit status 0
                // A thread made now inherits the mask: were it not so, the
                // signal could reach it and kill the process.
                std::thread worker([&runStop] { runStop.WaitFor(30s); });
                [[maybe_unused]] const ssize_t written = write(ready[1], "r", 1);
                worker.join();
                TRunReport aborted = Unanswered();
                aborted.Aborted = runStop.Requested();
                return aborted;
            },
            [](const TRunReport&) {});
        std::_Exit(status);
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(ExitCode(status), 0);
}

TEST(StopSignals, ASecondSignalEndsTheProgramAtOnce)
{
    const int status = InChild([] {
        TRunStop stop;
        TStopSignals signals(stop);
        kill(getpid(), SIGINT);
        if (!stop.WaitFor(30s))
            return 1;
        kill(getpid(), SIGINT);
        std::this_thread::sleep_for(30s);  // winding down hangs
        return 2;
    });
    EXPECT_EQ(ExitCode(status), -SIGINT);
}

TEST(StopSignals, ASignalIgnoredAtTheStartStaysIgnored)
{
    const int status = InChild([] {
        signal(SIGINT, SIG_IGN);  // as a shell starts a background job
        TRunStop stop;
        TStopSignals signals(stop);
        kill(getpid(), SIGINT);
        if (stop.WaitFor(300ms))
            return 1;
        kill(getpid(), SIGTERM);
        return stop.WaitFor(30s) ? 0 : 2;
    });
    EXPECT_EQ(ExitCode(status), 0);
}

TEST(StopSignals, GoingAwayPutsTheMaskBackAndRequestsNothing)
{
    sigset_t before, during, after;
    pthread_sigmask(SIG_BLOCK, nullptr, &before);
    ASSERT_FALSE(sigismember(&before, SIGTERM));
    TRunStop stop;
    {
        TStopSignals signals(stop);
        pthread_sigmask(SIG_BLOCK, nullptr, &during);
        EXPECT_TRUE(sigismember(&during, SIGINT));
        EXPECT_TRUE(sigismember(&during, SIGTERM));
    }
    pthread_sigmask(SIG_BLOCK, nullptr, &after);
    EXPECT_FALSE(sigismember(&after, SIGINT));
    EXPECT_FALSE(sigismember(&after, SIGTERM));
    EXPECT_FALSE(stop.Requested());
}

}  // namespace
