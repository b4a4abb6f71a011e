#include "engine/Pingchannel.h"
#include "engine/Thread.h"
#include "engine/Tryloop.h"
#include "tests/support/Jointhreads.h"
#include "tests/support/Netns.h"
#include "tests/support/Waitfor.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

const unsigned char kData[] = {0x61, 0x62, 0x63, 0x64, 0x00};

sockaddr_storage V4(const std::string& dotted)
{
    sockaddr_storage address{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    v4->sin_family = AF_INET;
    inet_pton(AF_INET, dotted.c_str(), &v4->sin_addr);
    return address;
}

size_t OpenSockets()
{
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        count += std::filesystem::read_symlink(entry.path(), error).string().rfind("socket:", 0) == 0;
    }
    return count;
}

// Tries started on the loop of this thread's namespace, their outcomes
// gathered as they end.
class TPingTries {
public:
    TPingTries() : FLoop(TTryLoop::Hold()) {}
    // The loop ends by itself once its last holder has let go.
    ~TPingTries() { FLoop.Release(); }

    // Starts one try per target at once, in one task of the loop; returns
    // how many sockets the process opened for them.
    size_t StartAll(const std::vector<std::string>& targets, int32_t timeout, const std::atomic<bool>* abort = nullptr)
    {
        {
            std::lock_guard lock(FMutex);
            FOutcomes.assign(targets.size(), std::nullopt);
        }
        std::promise<size_t> inFlight;
        const size_t before = OpenSockets();
        FLoop.Post([&] {
            TPingChannel& channel = FLoop.PingChannel(AF_INET);
            for (size_t i = 0; i < targets.size(); ++i) {
                channel.Start(V4(targets[i]), sizeof(sockaddr_in), kData, sizeof kData, timeout, abort,
                              [this, i](const TTryOutcome& outcome) { Ended(i, outcome); });
            }
            inFlight.set_value(OpenSockets() - before);
        });
        return inFlight.get_future().get();
    }

    bool WaitAll(std::chrono::milliseconds within)
    {
        std::unique_lock lock(FMutex);
        return FChanged.wait_for(lock, within, [this] { return FEnded == FOutcomes.size(); });
    }

    std::vector<std::optional<TTryOutcome>> Outcomes()
    {
        std::lock_guard lock(FMutex);
        return FOutcomes;
    }

    bool EndedTwice()
    {
        std::lock_guard lock(FMutex);
        return FTwice;
    }

    int Succeeded()
    {
        int count = 0;
        for (const auto& outcome : Outcomes())
            count += outcome && outcome->Ok;
        return count;
    }

private:
    void Ended(size_t index, const TTryOutcome& outcome)
    {
        std::lock_guard lock(FMutex);
        if (FOutcomes[index])
            FTwice = true;
        FOutcomes[index] = outcome;
        ++FEnded;
        FChanged.notify_all();
    }

    TTryLoop& FLoop;
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::vector<std::optional<TTryOutcome>> FOutcomes;
    size_t FEnded = 0;
    bool FTwice = false;
};

std::vector<std::string> LoopbackTargets(int count)
{
    std::vector<std::string> targets;
    for (int i = 0; i < count; ++i)
        targets.push_back("127.1." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250));
    return targets;
}

bool CanPing()
{
    return TIcmpEcho().IsOpen();
}

int Report(int check, const char* what)
{
    std::fprintf(stderr, "check %d: %s\n", check, what);
    return check;
}

TEST(PingChannel, TwoHundredTriesInFlightOnOneSocketEachGetTheirOwnReply)
{
    if (!CanPing())
        GTEST_SKIP() << "no ICMP socket may be opened here";
    TPingTries tries;
    EXPECT_EQ(tries.StartAll(LoopbackTargets(200), 5000), 1u);
    ASSERT_TRUE(tries.WaitAll(10s));
    EXPECT_EQ(tries.Succeeded(), 200);
    EXPECT_FALSE(tries.EndedTwice());
    for (const auto& outcome : tries.Outcomes())
        EXPECT_LT(outcome->Elapsed, 5s);
}

TEST(PingChannel, TheDatagramPathMatchesRepliesOfManyTriesToo)
{
    RUN_IN_NAMESPACE([] { return true; }, [] {
        if (TIcmpEcho().Kind() != TIcmpEcho::TKind::Datagram)
            return Report(1, "the namespace gives no datagram socket");
        TPingTries tries;
        if (tries.StartAll(LoopbackTargets(200), 5000) != 1)
            return Report(2, "not one socket for all");
        if (!tries.WaitAll(10s) || tries.Succeeded() != 200 || tries.EndedTwice())
            return Report(3, "a try did not get its own reply");
        return 0;
    });
}

TEST(PingChannel, AReplyForATryThatHasEndedIsNotTakenForTheNextOnesToTheSameTarget)
{
    RUN_IN_NAMESPACE([] { return WriteSysctl("net/ipv4/icmp_echo_ignore_all", "1"); }, [] {
        TEchoResponder responder(TEchoResponder::TMode::Reply, 300);
        if (!responder.Ok())
            return Report(1, "no responder");
        TPingTries first;
        first.StartAll({"127.0.0.1"}, 100);  // gone by the time its reply comes
        if (!first.WaitAll(5s) || first.Succeeded() != 0 || first.Outcomes()[0]->Cause != TTryCause::Timeout)
            return Report(2, "the first try did not time out");
        TPingTries second;
        second.StartAll({"127.0.0.1"}, 2000);
        if (!second.WaitAll(5s) || second.Succeeded() != 1)
            return Report(3, "the second try failed");
        // The first reply came about 200 ms into the second try.
        if (second.Outcomes()[0]->Elapsed < 280ms)
            return Report(4, "the second try took the first one's reply");
        return 0;
    });
}

TEST(PingChannel, RepliesFromElsewhereOrWithOtherDataAreDropped)
{
    for (const TEchoResponder::TMode mode : {TEchoResponder::TMode::WrongSource, TEchoResponder::TMode::WrongPayload}) {
        RUN_IN_NAMESPACE([] { return WriteSysctl("net/ipv4/icmp_echo_ignore_all", "1"); },
                         [mode] {
                             // WrongSource answers from 127.0.0.2, which loopback has.
                             TEchoResponder responder(mode, 0);
                             if (!responder.Ok())
                                 return Report(1, "no responder");
                             TPingTries tries;
                             tries.StartAll({"127.0.0.1", "127.0.0.1", "127.0.0.1"}, 300);
                             if (!tries.WaitAll(5s) || tries.Succeeded() != 0)
                                 return Report(2, "a foreign reply counted");
                             if (responder.Answered() < 3)
                                 return Report(3, "the responder did not answer every try");
                             return 0;
                         });
    }
}

TEST(PingChannel, AnICMPErrorEndsItsOwnTryAtOnceAndNoOther)
{
    if (std::system("command -v nft >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "nft is not installed";
    RUN_IN_NAMESPACE(
        [] {
            // Requests to one address are refused with an ICMP error, as a router would.
            return std::system("nft add table ip t && nft add chain ip t out '{ type filter hook output priority 0; }'"
                               " && nft add rule ip t out ip daddr 127.1.0.77 icmp type echo-request"
                               " reject with icmp type host-unreachable")
                == 0;
        },
        [] {
            TPingTries tries;
            const std::vector<std::string> targets = LoopbackTargets(100);
            const auto started = std::chrono::steady_clock::now();
            tries.StartAll(targets, 4000);
            if (!tries.WaitAll(10s))
                return Report(1, "the tries did not end");
            if (std::chrono::steady_clock::now() - started > 3s)
                return Report(2, "the error did not end its try before its time limit");
            const auto outcomes = tries.Outcomes();
            for (size_t i = 0; i < targets.size(); ++i) {
                const bool refused = targets[i] == "127.1.0.77";
                if (refused && outcomes[i]->Cause != TTryCause::Unreachable)
                    return Report(4, "the refused try was not told unreachable");
                if (outcomes[i]->Ok == refused) {
                    std::fprintf(stderr, "%s: %s\n", targets[i].c_str(), outcomes[i]->Ok ? "answered" : "failed");
                    return Report(3, refused ? "the refused try succeeded" : "another try failed");
                }
            }
            return 0;
        });
}

TEST(PingChannel, AnAbortEndsThousandsOfTriesInFlightAtOnce)
{
    RUN_IN_NAMESPACE([] { return WriteSysctl("net/ipv4/icmp_echo_ignore_all", "1"); }, [] {
        std::atomic<bool> abort{false};
        TPingTries tries;
        tries.StartAll(LoopbackTargets(5000), 5000, &abort);
        const auto aborted = std::chrono::steady_clock::now();
        abort = true;
        if (!tries.WaitAll(4s))
            return Report(1, "the tries did not end before their time limit");
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - aborted);
        std::fprintf(stderr, "5000 tries ended %lld ms after the abort\n", static_cast<long long>(took.count()));
        if (tries.Succeeded() != 0)
            return Report(2, "an unanswered try succeeded");
        for (const auto& outcome : tries.Outcomes())
            if (outcome->Cause != TTryCause::Aborted)
                return Report(3, "an aborted try was told otherwise");
        return 0;
    });
}

}  // namespace
