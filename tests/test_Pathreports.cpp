#include "bench/Pathreports.h"

#include <gtest/gtest.h>

namespace {

// As mtr 0.95 prints it, with a silent second hop.
const char kMtr[] = R"({
    "report": {
        "mtr": {"src": "vm", "dst": "10.77.3.2", "tos": 0, "tests": 20, "psize": "64", "bitpattern": "0x00"},
        "hubs": [
            {"count": 1, "host": "10.77.0.2", "Loss%": 0.0, "Snt": 20, "Last": 0.06, "Avg": 0.052,
             "Best": 0.031, "Wrst": 0.07, "StDev": 0.01},
            {"count": 2, "host": "???", "Loss%": 100.0, "Snt": 20, "Last": 0.0, "Avg": 0.0,
             "Best": 0.0, "Wrst": 0.0, "StDev": 0.0},
            {"count": 3, "host": "10.77.2.2", "Loss%": 5.0, "Snt": 20, "Last": 0.08, "Avg": 0.081,
             "Best": 0.05, "Wrst": 0.1, "StDev": 0.02}
        ]
    }
})";

const char kOrvel[] = R"({"target":"10.77.3.2","reached":true,"rounds":20,"max_hops":30,
 "hops":[{"hop":1,"addresses":["10.77.0.2"],"sent":20,"received":20,"loss_percent":0.0,
          "last_ms":0.051,"mean_ms":0.049,"best_ms":0.031,"worst_ms":0.07,"stdev_ms":0.01},
         {"hop":2,"addresses":[],"sent":20,"received":0,"loss_percent":100.0,
          "last_ms":null,"mean_ms":null,"best_ms":null,"worst_ms":null,"stdev_ms":null},
         {"hop":3,"addresses":["10.77.2.2","10.77.9.9"],"sent":20,"received":19,"loss_percent":5.0,
          "last_ms":0.07,"mean_ms":0.2,"best_ms":0.05,"worst_ms":0.3,"stdev_ms":0.02}]})";

TEST(PathReports, MtrHopsReadWithSilentHopsWithoutAddressOrMean)
{
    const TReportedPath path = ReadMtrReport(kMtr);
    ASSERT_TRUE(path.Read) << path.Error;
    ASSERT_EQ(path.Hops.size(), 3u);
    EXPECT_EQ(path.Hops[0].Hop, 1);
    EXPECT_EQ(path.Hops[0].FirstAddress(), "10.77.0.2");
    ASSERT_TRUE(path.Hops[0].MeanMs);
    EXPECT_DOUBLE_EQ(*path.Hops[0].MeanMs, 0.052);
    EXPECT_TRUE(path.Hops[1].Addresses.empty());
    EXPECT_FALSE(path.Hops[1].MeanMs) << "mtr's 0 of a hop that never answered is no mean";
    EXPECT_DOUBLE_EQ(path.Hops[2].LossPercent, 5.0);
}

TEST(PathReports, OrvelHopsReadWithEveryAddressAndNullFiguresAsNone)
{
    const TReportedPath path = ReadOrvelReport(kOrvel);
    ASSERT_TRUE(path.Read) << path.Error;
    ASSERT_EQ(path.Hops.size(), 3u);
    EXPECT_EQ(path.Hops[0].FirstAddress(), "10.77.0.2");
    ASSERT_TRUE(path.Hops[0].MeanMs);
    EXPECT_DOUBLE_EQ(*path.Hops[0].MeanMs, 0.049);
    EXPECT_TRUE(path.Hops[1].Addresses.empty());
    EXPECT_FALSE(path.Hops[1].MeanMs);
    EXPECT_DOUBLE_EQ(path.Hops[1].LossPercent, 100.0);
    EXPECT_EQ(path.Hops[2].Addresses, (std::vector<std::string>{"10.77.2.2", "10.77.9.9"}));
}

TEST(PathReports, OutputThatIsNoReportSaysSo)
{
    for (const char* text : {"", "not json", "{\"report\":{}}", "[1,2]", "{\"hops\":3}"}) {
        EXPECT_FALSE(ReadMtrReport(text).Read) << text;
        EXPECT_FALSE(ReadOrvelReport(text).Read) << text;
        EXPECT_FALSE(ReadOrvelReport(text).Error.empty()) << text;
    }
    // An empty list is a report, of a path with no hop.
    EXPECT_TRUE(ReadOrvelReport(R"({"hops":[]})").Read);
}

TEST(PathReports, HopListsAreTheSameOnlyWithTheSameFirstAddressesAndSilentHops)
{
    const TReportedPath mtr = ReadMtrReport(kMtr);
    TReportedPath orvel = ReadOrvelReport(kOrvel);
    EXPECT_TRUE(SameHops(mtr, orvel));

    TReportedPath shorter = orvel;
    shorter.Hops.pop_back();
    EXPECT_FALSE(SameHops(mtr, shorter));

    TReportedPath answering = orvel;
    answering.Hops[1].Addresses = {"10.77.1.2"};
    EXPECT_FALSE(SameHops(mtr, answering)) << "a hop silent in one list only";

    TReportedPath other = orvel;
    other.Hops[2].Addresses = {"10.77.9.9", "10.77.2.2"};
    EXPECT_FALSE(SameHops(mtr, other));

    EXPECT_FALSE(SameHops(mtr, ReadOrvelReport("no json")));
}

TEST(PathReports, LargestMeanDifferenceSkipsHopsWithoutAMeanInBoth)
{
    const TMeanDifference largest = LargestMeanDifference(ReadMtrReport(kMtr), ReadOrvelReport(kOrvel));
    EXPECT_EQ(largest.Hop, 3);
    EXPECT_NEAR(largest.Ms, 0.2 - 0.081, 1e-9);

    TReportedPath faster = ReadOrvelReport(kOrvel);
    *faster.Hops[0].MeanMs = 0.052 - 0.5;
    const TMeanDifference negative = LargestMeanDifference(ReadMtrReport(kMtr), faster);
    EXPECT_EQ(negative.Hop, 1);
    EXPECT_NEAR(negative.Ms, -0.5, 1e-9) << "the largest in size, whichever the sign";

    TReportedPath silent = ReadOrvelReport(kOrvel);
    for (TReportedHop& hop : silent.Hops)
        hop.MeanMs.reset();
    EXPECT_EQ(LargestMeanDifference(ReadMtrReport(kMtr), silent).Hop, 0);
}

}  // namespace
