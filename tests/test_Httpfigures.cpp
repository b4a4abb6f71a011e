#include "engine/Httpfigures.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

TTryOutcome Answer(int status, std::chrono::microseconds each, int64_t bytes)
{
    TTryOutcome outcome;
    outcome.Ok = status < 400;
    THttpTry fetch;
    fetch.Resolve = fetch.Connect = fetch.Processing = fetch.Transfer = each;
    fetch.Status = status;
    fetch.BodyBytes = bytes;
    fetch.Address = "127.0.0." + std::to_string(status % 250);
    outcome.Http = fetch;
    return outcome;
}

TEST(Httpfigures, HttpsIsTheSchemeInAnyCase)
{
    EXPECT_TRUE(IsHttpsTarget("https://127.0.0.1/"));
    EXPECT_TRUE(IsHttpsTarget("HTTPS://127.0.0.1/"));
    EXPECT_FALSE(IsHttpsTarget("http://127.0.0.1/"));
    EXPECT_FALSE(IsHttpsTarget("127.0.0.1:443"));  // fetched as http://
}

TEST(Httpfigures, RateNeedsAnAnswerAndTime)
{
    THttpTry fetch = *Answer(200, 250us, 1024).Http;
    EXPECT_DOUBLE_EQ(RateKBps(fetch).value(), 1000.0);  // 1 KiB in 1 ms
    EXPECT_EQ(FetchTime(fetch), 1000us);
    fetch.Status = 0;
    EXPECT_FALSE(RateKBps(fetch));
    THttpTry instant = *Answer(200, 0us, 1024).Http;
    EXPECT_FALSE(RateKBps(instant));
}

// Only what the server answered counts, an error status too; the last
// answer gives the status, size and address.
TEST(Httpfigures, MeansOverTheAnsweredTriesOnly)
{
    TTryOutcome refused;
    refused.Cause = TTryCause::Refused;
    refused.Http = THttpTry{};
    refused.Http->Resolve = 9ms;
    const TTryOutcomes outcomes{Answer(200, 100us, 1024), refused, std::nullopt, Answer(503, 300us, 3072)};
    EXPECT_FALSE(Answered(outcomes[1]));
    EXPECT_FALSE(Answered(outcomes[2]));
    const std::optional<THttpFigures> figures = HttpFigures(outcomes);
    ASSERT_TRUE(figures);
    EXPECT_EQ(figures->Answered, 2);
    EXPECT_DOUBLE_EQ(figures->PhaseMs[0], 0.2);  // the refused try's 9 ms are not among them
    EXPECT_DOUBLE_EQ(figures->PhaseMs[2], 0.0);  // no TLS
    EXPECT_DOUBLE_EQ(figures->PhaseMs[4], 0.2);
    EXPECT_EQ(figures->Status, 503);
    EXPECT_EQ(figures->BodyBytes, 3072);
    EXPECT_EQ(figures->Address, "127.0.0.3");
    EXPECT_DOUBLE_EQ(figures->RateKBps.value(), 4.0 / 0.0016);  // 4 KiB over 1.6 ms

    EXPECT_FALSE(HttpFigures({refused, std::nullopt}));
    EXPECT_FALSE(HttpFigures({}));
}

}  // namespace
