#include "cli/Progressline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A line whose clock stands still until a test moves it.
struct TShownLine {
    std::vector<std::string> Writes;
    std::chrono::steady_clock::time_point Now{};
    TProgressLine Line{[this](const std::string& text) { Writes.push_back(text); }, [this] { return Now; }};
};

// Ten thousand reports in one instant: the first figure and the clearing,
// nothing between; never a line break, so it stays one line.
TEST(Progressline, ManyReportsAtOnceCostTwoWrites)
{
    TShownLine shown;
    for (int finished = 1; finished <= 10000; ++finished)
        shown.Line.Show(finished, 10000);
    EXPECT_EQ(shown.Writes, (std::vector<std::string>{"\r1/10000", "\r\033[K"}));
}

// Once the pause has passed the next report is shown, and only that one.
TEST(Progressline, ShowsAtMostOnceAPause)
{
    TShownLine shown;
    shown.Line.Show(1, 10);
    shown.Now += TProgressLine::kEvery - 1ms;
    shown.Line.Show(2, 10);
    shown.Now += 1ms;
    shown.Line.Show(3, 10);
    shown.Line.Show(4, 10);
    shown.Now += 10 * TProgressLine::kEvery;
    shown.Line.Show(5, 10);
    EXPECT_EQ(shown.Writes, (std::vector<std::string>{"\r1/10", "\r3/10", "\r5/10"}));
    for (const std::string& text : shown.Writes)
        EXPECT_EQ(text.find('\n'), std::string::npos);
}

// A one-item run shows nothing and leaves nothing to clear; the next run
// (a watch) starts showing afresh even within the pause.
TEST(Progressline, EachRunStartsAfresh)
{
    TShownLine shown;
    shown.Line.Show(1, 1);
    EXPECT_TRUE(shown.Writes.empty());
    shown.Line.Show(1, 3);
    shown.Line.Show(3, 3);
    shown.Line.Show(1, 3);
    EXPECT_EQ(shown.Writes, (std::vector<std::string>{"\r1/3", "\r\033[K", "\r1/3"}));
}

}  // namespace
