#include "engine/Trytimes.h"

#include "tests/support/Outcomes.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Sub-millisecond tries keep their microseconds; the deviation is the
// population's, so one try has none.
TEST(Trytimes, FiguresOfTheSuccessfulTries)
{
    EXPECT_FALSE(TryFigures({}));
    EXPECT_FALSE(TryFigures(TTryTimes(5)));
    std::optional<TTryFigures> one = TryFigures({std::nullopt, 43us});
    ASSERT_TRUE(one);
    EXPECT_DOUBLE_EQ(one->Fastest, 0.043);
    EXPECT_DOUBLE_EQ(one->Mean, 0.043);
    EXPECT_DOUBLE_EQ(one->Slowest, 0.043);
    EXPECT_DOUBLE_EQ(one->StdDev, 0.0);
    std::optional<TTryFigures> four = TryFigures({41us, 45us, std::nullopt, 43us, 43us});
    ASSERT_TRUE(four);
    EXPECT_DOUBLE_EQ(four->Fastest, 0.041);
    EXPECT_DOUBLE_EQ(four->Slowest, 0.045);
    EXPECT_DOUBLE_EQ(four->Mean, 0.043);
    EXPECT_NEAR(four->StdDev, 0.0014142, 1e-6);  // sqrt((4 + 4 + 0 + 0) / 4) us
}

// Summed in whole microseconds: the mean of 1001 and 1002 us is 2003 us / 2,
// not the sum of two rounded doubles.
TEST(Trytimes, TheMeanIsTheMicrosecondSumOverTheSuccesses)
{
    const std::optional<TTryFigures> figures = TryFigures({1001us, std::nullopt, 1002us});
    ASSERT_TRUE(figures);
    EXPECT_EQ(figures->Mean, (std::chrono::duration<double, std::milli>(2003us).count() / 2));
    EXPECT_NEAR(figures->StdDev, 0.0005, 1e-12);
    const std::optional<TTryFigures> last = TryFigures({std::nullopt, std::nullopt, 7ms});
    ASSERT_TRUE(last);
    EXPECT_DOUBLE_EQ(last->Mean, 7.0);
    EXPECT_DOUBLE_EQ(last->Fastest, last->Slowest);
}

// Items that did not answer count for nothing, not for a zero.
TEST(Trytimes, TheVerdictIsTheMeanOfTheAnsweredAverages)
{
    EXPECT_EQ(MeanOfAverages({}), std::nullopt);
    EXPECT_EQ(MeanOfAverages({std::nullopt, std::nullopt}), std::nullopt);
    EXPECT_EQ(MeanOfAverages({std::nullopt, 0.0}), 0.0);
    EXPECT_EQ(MeanOfAverages({1.0, std::nullopt, 2.0}), 1.5);
    EXPECT_EQ(MeanOfAverages({12.5}), 12.5);
}

// Workers report concurrently; each item's tries land in their places, a
// later failure of the same try clears it, and indexes out of range are
// ignored rather than written past the end.
TEST(Trytimes, LogGathersTriesFromManyThreads)
{
    std::vector<TDNSDispInfo> items(8);
    TTryLog log(5);
    TTryObserver observer = log.Observer();
    std::vector<std::thread> workers;
    for (size_t w = 0; w < items.size(); ++w)
        workers.emplace_back([&, w] {
            for (int round = 0; round < 200; ++round)
                for (int index = -1; index <= 5; ++index)
                    observer(items[w], index,
                             index % 2 == 0 ? Succeeded(std::chrono::microseconds(100 * w + index))
                                            : Failed(TTryCause::Refused));
        });
    for (std::thread& worker : workers)
        worker.join();
    for (size_t w = 0; w < items.size(); ++w) {
        const TTryTimes tries = log.Tries(items[w]);
        ASSERT_EQ(tries.size(), 5u);
        for (int index = 0; index < 5; ++index)
            if (index % 2 == 0)
                EXPECT_EQ(tries[index], std::chrono::microseconds(100 * w + index));
            else
                EXPECT_FALSE(tries[index]);
    }
    EXPECT_EQ(log.Outcomes(items[0])[1]->Cause, TTryCause::Refused);
    log.Add(items[0], 0, Failed(TTryCause::Timeout));
    EXPECT_FALSE(log.Tries(items[0])[0]);
    EXPECT_EQ(log.Outcomes(items[0])[0]->Cause, TTryCause::Timeout);
}

TEST(Trytimes, ClearForgetsEveryItem)
{
    TDNSDispInfo item;
    TTryLog log(3);
    EXPECT_EQ(log.Tries(item), TTryTimes(3));
    log.Add(item, 1, Succeeded(7us));
    EXPECT_EQ(log.Tries(item), (TTryTimes{std::nullopt, 7us, std::nullopt}));
    EXPECT_FALSE(log.Outcomes(item)[0]);  // not made, rather than failed
    log.Clear();
    EXPECT_EQ(log.Tries(item), TTryTimes(3));
}

// A home page resolves its host itself: its address is where its last
// try that reached a server connected; the others keep the one resolved.
TEST(Trytimes, TheMeasuredAddressOfAHomePageIsWhereItConnected)
{
    TDNSDispInfo page;
    page.DoType = dtHomePage;
    TTryOutcome reached = Failed(TTryCause::Refused);
    reached.Http = THttpTry{};
    reached.Http->Address = "::1";
    TTryOutcome later = Succeeded(1ms);
    later.Http = THttpTry{};
    later.Http->Address = "127.0.0.1";
    EXPECT_EQ(MeasuredAddress(page, {}), "");
    EXPECT_EQ(MeasuredAddress(page, {reached, Failed(TTryCause::NameNotResolved), std::nullopt}), "::1");
    EXPECT_EQ(MeasuredAddress(page, {reached, later}), "127.0.0.1");
    TDNSDispInfo ping;
    ping.IP = "10.0.0.1";
    EXPECT_EQ(MeasuredAddress(ping, {later}), "10.0.0.1");
}

}  // namespace
