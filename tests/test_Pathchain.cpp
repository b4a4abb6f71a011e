// The chain is proved with the system's ping alone, so that a fault of the
// path trace is never hidden by the same fault in the chain.
#include "bench/Benchtools.h"
#include "tests/support/Netns.h"
#include "tests/support/Pathchain.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

// One echo request with the given hop limit (0: the default); ping's output.
std::string Ping(const std::string& address, int hopLimit = 0)
{
    const std::string limit = hopLimit ? " -t " + std::to_string(hopLimit) : "";
    return Capture("ping -n -c 1 -W 1" + limit + " " + address + " 2>&1");
}

bool Answered(const std::string& output) { return output.find(" 0% packet loss") != std::string::npos; }

// A time-exceeded error from exactly this address ("From 10.77.0.2 icmp_seq=1
// Time to live exceeded", "From fd77::2 icmp_seq=1 Time exceeded: Hop limit").
bool TimeExceededFrom(const std::string& output, const std::string& address)
{
    const size_t from = output.find("From " + address + " ");
    return from != std::string::npos && output.find("exceeded", from) != std::string::npos;
}

bool AnyTimeExceeded(const std::string& output) { return output.find("exceeded") != std::string::npos; }

const char* FamilyName(int family) { return family == AF_INET6 ? "IPv6" : "IPv4"; }

// Inside the namespace: a failed check says what it saw and gives its number.
#define CHECK(number, condition, output)                                                        \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "check %d failed: %s\n%s\n", number, #condition, (output).c_str()); \
            return number;                                                                      \
        }                                                                                       \
    } while (0)

#define RUN_WITH_CHAIN(setup, body)                                                             \
    do {                                                                                        \
        std::string why;                                                                        \
        const int rc = RunInOwnNetns(                                                           \
            [&]() -> int {                                                                      \
                TPathChain chain(setup);                                                        \
                if (!chain.Ok()) {                                                              \
                    std::fprintf(stderr, "no chain: %s\n", chain.Why().c_str());                \
                    return 124;                                                                 \
                }                                                                               \
                return (body)(chain);                                                           \
            },                                                                                  \
            why);                                                                               \
        if (rc == -1)                                                                           \
            GTEST_SKIP() << "no network namespace of our own: " << why;                         \
        if (rc == 124)                                                                          \
            GTEST_SKIP() << "cannot build the chain (see stderr; needs root, ip and nft)";      \
        EXPECT_EQ(rc, 0) << "check number " << rc << " failed in the namespace (see stderr)";   \
    } while (0)

// The namespaces this process has named and still holds.
std::string OurNamespaces()
{
    return Capture("ip netns list | grep -o '^orvel-" + std::to_string(getpid()) + "-[0-9-]*'");
}

TEST(PathChain, EveryHopAnswersInTurnAndTheDestinationEchoes)
{
    RUN_WITH_CHAIN(TPathChainSetup{}, [](const TPathChain& chain) -> int {
        CHECK(1, chain.Hops() == 4, std::string());
        for (int family : {AF_INET, AF_INET6}) {
            const int base = family == AF_INET6 ? 10 : 0;
            std::fprintf(stderr, "%s, destination %s\n", FamilyName(family), chain.Destination(family).c_str());
            std::string output = Ping(chain.Destination(family));
            CHECK(base + 2, Answered(output), output);
            for (int hop = 1; hop < chain.Hops(); ++hop) {
                output = Ping(chain.Destination(family), hop);
                CHECK(base + 3, TimeExceededFrom(output, chain.HopAddress(hop, family)), output);
            }
            output = Ping(chain.Destination(family), chain.Hops());
            CHECK(base + 4, Answered(output), output);
        }
        CHECK(21, chain.HopAddress(1, AF_INET) == "10.77.0.2", chain.HopAddress(1, AF_INET));
        CHECK(22, chain.HopAddress(1, AF_INET6) == "fd77::2", chain.HopAddress(1, AF_INET6));
        CHECK(23, chain.Destination(AF_INET6) == "fd77:0:0:3::2", chain.Destination(AF_INET6));
        CHECK(24, chain.HopAddress(0, AF_INET).empty() && chain.HopAddress(5, AF_INET).empty(), std::string());
        return 0;
    });
}

TEST(PathChain, ASilentRouterSendsNoErrorsButForwards)
{
    TPathChainSetup setup;
    setup.SilentRouter = 2;
    RUN_WITH_CHAIN(setup, [](const TPathChain& chain) -> int {
        for (int family : {AF_INET, AF_INET6}) {
            const int base = family == AF_INET6 ? 10 : 0;
            std::string output = Ping(chain.Destination(family), 2);
            CHECK(base + 1, !AnyTimeExceeded(output) && !Answered(output), output);
            output = Ping(chain.Destination(family), 1);
            CHECK(base + 2, TimeExceededFrom(output, chain.HopAddress(1, family)), output);
            output = Ping(chain.Destination(family), 3);
            CHECK(base + 3, TimeExceededFrom(output, chain.HopAddress(3, family)), output);
            output = Ping(chain.Destination(family));
            CHECK(base + 4, Answered(output), output);
        }
        return 0;
    });
}

TEST(PathChain, ASilentDestinationAnswersNoEchoesWhileTheRoutersDo)
{
    TPathChainSetup setup;
    setup.SilentDestination = true;
    RUN_WITH_CHAIN(setup, [](const TPathChain& chain) -> int {
        for (int family : {AF_INET, AF_INET6}) {
            const int base = family == AF_INET6 ? 10 : 0;
            std::string output = Ping(chain.Destination(family));
            CHECK(base + 1, !Answered(output) && output.find("1 packets transmitted") != std::string::npos, output);
            output = Ping(chain.Destination(family), 3);
            CHECK(base + 2, TimeExceededFrom(output, chain.HopAddress(3, family)), output);
        }
        return 0;
    });
}

TEST(PathChain, ThirtyHopsAreBuiltInSecondsAndReached)
{
    TPathChainSetup setup;
    setup.Routers = 29;
    const auto started = std::chrono::steady_clock::now();
    RUN_WITH_CHAIN(setup, [&](const TPathChain& chain) -> int {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::fprintf(stderr, "built 30 hops in %.2f s\n", seconds);
        CHECK(1, seconds < 10, std::string());
        for (int family : {AF_INET, AF_INET6}) {
            const int base = family == AF_INET6 ? 10 : 0;
            std::string output = Ping(chain.Destination(family), 29);
            CHECK(base + 2, TimeExceededFrom(output, chain.HopAddress(29, family)), output);
            output = Ping(chain.Destination(family), 30);
            CHECK(base + 3, Answered(output), output);
        }
        return 0;
    });
}

TEST(PathChain, NothingIsLeftBehindAfterUseOrAFailedSetUp)
{
    std::string why;
    const int rc = RunInOwnNetns(
        [&]() -> int {
            {
                TPathChain chain;
                CHECK(1, chain.Ok(), chain.Why());
                CHECK(2, !OurNamespaces().empty(), OurNamespaces());
            }
            CHECK(3, OurNamespaces().empty(), OurNamespaces());
            CHECK(4, Capture("ip -o link show | grep orvchain").empty(), Capture("ip -o link show"));
            TPathChainSetup setup;
            setup.SilentRouter = 4;  // there are three: the last step fails
            {
                TPathChain chain(setup);
                CHECK(5, !chain.Ok() && chain.Why().find("router 4") != std::string::npos, chain.Why());
            }
            CHECK(6, OurNamespaces().empty(), OurNamespaces());
            CHECK(7, Capture("ip -o link show | grep orvchain").empty(), Capture("ip -o link show"));
            // A second chain where the first was is built afresh.
            TPathChain again;
            CHECK(8, again.Ok() && Answered(Ping(again.Destination(AF_INET))), again.Why());
            return 0;
        },
        why);
    if (rc == -1)
        GTEST_SKIP() << "no network namespace of our own: " << why;
    if (rc == 1)
        GTEST_SKIP() << "cannot build the chain (see stderr; needs root, ip and nft)";
    EXPECT_EQ(rc, 0) << "check number " << rc << " failed in the namespace (see stderr)";
}

}  // namespace
