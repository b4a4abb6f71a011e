#include "history/Outcomesjson.h"

#include "engine/Tryoutcome.h"
#include "tests/support/Outcomes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace {

using namespace std::chrono_literals;

THttpTry Fetched(int status)
{
    return {1100us, 2200us, 3300us, 4400us, 5500us, status, "2001:db8::1", 51'234, 1'900'000'000};
}

void ExpectSame(const std::optional<TTryOutcome>& back, const std::optional<TTryOutcome>& kept, size_t index)
{
    SCOPED_TRACE(index);
    ASSERT_EQ(back.has_value(), kept.has_value());
    if (!kept)
        return;
    EXPECT_EQ(back->Ok, kept->Ok);
    EXPECT_EQ(back->Elapsed, kept->Elapsed);
    EXPECT_EQ(back->Denied, kept->Denied);
    EXPECT_EQ(back->Shortage, kept->Shortage);
    EXPECT_EQ(back->Cause, kept->Cause);
    EXPECT_EQ(back->DnsRcode, kept->DnsRcode);
    ASSERT_EQ(back->Http.has_value(), kept->Http.has_value());
    if (!kept->Http)
        return;
    EXPECT_EQ(back->Http->Resolve, kept->Http->Resolve);
    EXPECT_EQ(back->Http->Connect, kept->Http->Connect);
    EXPECT_EQ(back->Http->Tls, kept->Http->Tls);
    EXPECT_EQ(back->Http->Processing, kept->Http->Processing);
    EXPECT_EQ(back->Http->Transfer, kept->Http->Transfer);
    EXPECT_EQ(back->Http->Status, kept->Http->Status);
    EXPECT_EQ(back->Http->Address, kept->Http->Address);
    EXPECT_EQ(back->Http->BodyBytes, kept->Http->BodyBytes);
    EXPECT_EQ(back->Http->CertExpiry, kept->Http->CertExpiry);
}

void ExpectSame(const TTryOutcomes& back, const TTryOutcomes& kept)
{
    ASSERT_EQ(back.size(), kept.size());
    for (size_t i = 0; i < kept.size(); ++i)
        ExpectSame(back[i], kept[i], i);
}

TTryOutcomes Read(const std::string& text, const TTryTimes& tries) { return OutcomesOfJson(text, tries); }

TEST(Outcomesjson, EveryKindOfTryReadsBackAsKept)
{
    TTryOutcome page = Succeeded(16'500us);
    page.Http = Fetched(200);
    TTryOutcome notFound = Succeeded(900us);
    notFound.Http = Fetched(404);
    TTryOutcome failedStatus = Failed(TTryCause::HttpStatus);
    failedStatus.Http = Fetched(503);
    TTryOutcome expired = Failed(TTryCause::TlsExpired);
    expired.Http = THttpTry{};
    expired.Http->Resolve = 40us;
    expired.Http->Address = "127.0.0.1";
    TTryOutcome denied = Failed(TTryCause::Denied);
    denied.Denied = true;
    TTryOutcome shortage = Failed(TTryCause::Shortage);
    shortage.Shortage = EMFILE;
    const TTryOutcomes kept{page,
                            notFound,
                            failedStatus,
                            expired,
                            Failed(TTryCause::DnsAnswer, 2),
                            Failed(TTryCause::DnsAnswer, 15),
                            Failed(TTryCause::Refused),
                            Failed(TTryCause::Timeout),
                            Failed(TTryCause::NameNotResolved),
                            denied,
                            shortage,
                            Succeeded(0us),
                            std::nullopt};
    const std::string text = OutcomesJson(kept);
    const TTryOutcomes back = Read(text, TimesOf(kept));
    ExpectSame(back, kept);
    EXPECT_EQ(OutcomesJson(back), text);
    EXPECT_EQ(OutcomesJson({}), "");
}

// Files written by this version are read by later ones: the text is fixed.
TEST(Outcomesjson, TheKeptTextStaysAsItIs)
{
    TTryOutcome page = Succeeded(1500us);
    page.Http = THttpTry{};
    page.Http->Connect = 300us;
    page.Http->Transfer = 1200us;
    page.Http->Status = 200;
    page.Http->Address = "::1";
    EXPECT_EQ(OutcomesJson({page, Failed(TTryCause::DnsAnswer, 3), std::nullopt}),
              R"([{"http":{"address":"::1","connect":300,"status":200,"transfer":1200},"us":1500},)"
              R"({"cause":"dns_nxdomain"},null])");
    const TTryOutcomes back =
        Read(R"([{"us":7},{"cause":"refused","errno":24,"http":{"bytes":5,"cert_expiry":9,"processing":2,)"
             R"("resolve":1,"status":302,"tls":4}}])",
             {7us, std::nullopt});
    ASSERT_EQ(back.size(), 2u);
    EXPECT_TRUE(back[0]->Ok);
    EXPECT_EQ(back[0]->Elapsed, 7us);
    EXPECT_EQ(back[1]->Cause, TTryCause::Refused);
    EXPECT_EQ(back[1]->Shortage, 24);
    ASSERT_TRUE(back[1]->Http);
    EXPECT_EQ(back[1]->Http->Resolve, 1us);
    EXPECT_EQ(back[1]->Http->Processing, 2us);
    EXPECT_EQ(back[1]->Http->Tls, 4us);
    EXPECT_EQ(back[1]->Http->Status, 302);
    EXPECT_EQ(back[1]->Http->BodyBytes, 5);
    EXPECT_EQ(back[1]->Http->CertExpiry, 9);
}

// The times beside them are what the figures come from; outcomes that tell
// another story are not believed.
TEST(Outcomesjson, OutcomesThatDisagreeWithTheTimesAreDropped)
{
    const std::string text = R"([{"us":1000},{"cause":"timeout"},null])";
    EXPECT_EQ(Read(text, {1000us, std::nullopt, std::nullopt}).size(), 3u);
    EXPECT_TRUE(Read(text, {1000us, std::nullopt}).empty());                              // fewer tries
    EXPECT_TRUE(Read(text, {1000us, std::nullopt, std::nullopt, std::nullopt}).empty());  // more
    EXPECT_TRUE(Read(text, {1001us, std::nullopt, std::nullopt}).empty());                // another time
    EXPECT_TRUE(Read(text, {1000us, 5us, std::nullopt}).empty());                         // a failure succeeded
    EXPECT_TRUE(Read(text, {std::nullopt, std::nullopt, std::nullopt}).empty());
    EXPECT_TRUE(Read(text, {}).empty());
}

TEST(Outcomesjson, TextsNotOfThisShapeReadAsNone)
{
    const TTryTimes one{std::nullopt};
    for (const char* text : {"", "[", "{\"cause\":\"timeout\"}", "[{\"cause\":\"timeout\"}", "null", "42", "\"x\"",
                             "[1]", "[\"timeout\"]", "[true]", "[[]]", "[{\"cause\":\"timeout\"}] x", "\xff\xfe",
                             "[{\"cause\":\"\xff\"}]", "[{\"cause\":\"timeout\",}]",
                             "[{\"cause\":\"timeout\",\"errno\":1e400}]"})
        EXPECT_TRUE(Read(text, one).empty()) << text;
    // Nesting as deep as the text is long is neither kept nor a crash.
    const std::string deep = std::string(400, '[') + std::string(400, ']');
    EXPECT_TRUE(Read(deep, one).empty());
    const std::string deepInTry = "[{\"cause\":\"timeout\",\"x\":" + std::string(400, '[') + std::string(400, ']') + "}]";
    EXPECT_TRUE(Read(deepInTry, one).empty());  // longer than one try may be
    // Within the length a thousand tries may take, a try's deep part is
    // dropped and the try is kept.
    std::string deepInMany = R"([{"cause":"timeout","later":)" + std::string(20'000, '[') +
                             std::string(20'000, ']') + "}";
    for (int i = 1; i < 1000; ++i)
        deepInMany += ",{}";
    deepInMany += "]";
    const TTryOutcomes many = Read(deepInMany, TTryTimes(1000));
    ASSERT_EQ(many.size(), 1000u);
    EXPECT_EQ(many[0]->Cause, TTryCause::Timeout);
    EXPECT_EQ(many[1]->Cause, TTryCause::Other);
}

TEST(Outcomesjson, TooLongOrTooManyIsNotRead)
{
    const TTryTimes one{std::nullopt};
    const std::string padded = "[{\"cause\":\"timeout\"}" + std::string(kMaxKeptBytesPerTry, ' ') + "]";
    EXPECT_TRUE(Read(padded, one).empty());
    EXPECT_EQ(Read("[{\"cause\":\"timeout\"}" + std::string(100, ' ') + "]", one).size(), 1u);
    std::string allFailed = "[";
    for (size_t i = 0; i <= kMaxKeptTries; ++i)
        allFailed += i ? ",{}" : "{}";
    allFailed += "]";
    EXPECT_TRUE(Read(allFailed, TTryTimes(kMaxKeptTries + 1)).empty());
}

// Values out of range or of the wrong type are unknown, the try stays.
TEST(Outcomesjson, ValuesOutOfRangeOrOfTheWrongTypeAreUnknown)
{
    const TTryOutcomes back =
        Read(R"([{"cause":"quantum_noise","http":{"resolve":-5,"connect":99999999999999999999,)"
             R"("tls":18446744073709551615,"processing":1e300,"transfer":"12","status":1000,)"
             R"("address":"1.2.3.4\u0000evil","bytes":-1,"cert_expiry":9223372036854775808},)"
             R"("errno":100000,"denied":1,"later":{"field":[1,2]}},)"
             R"({"cause":"dns_rcode300"},{"cause":7,"http":[1]},{"cause":"timeout","http":{"address":"<b>x</b>"}},)"
             R"({"us":"5"},{"us":-3},{"us":2.5}])",
             TTryTimes(7));
    ASSERT_EQ(back.size(), 7u);
    const TTryOutcome& odd = *back[0];
    EXPECT_FALSE(odd.Ok);
    EXPECT_EQ(odd.Cause, TTryCause::Other);
    EXPECT_EQ(odd.Shortage, 0);
    EXPECT_FALSE(odd.Denied);
    ASSERT_TRUE(odd.Http);
    EXPECT_EQ(odd.Http->Resolve, 0us);
    EXPECT_EQ(odd.Http->Connect, 0us);
    EXPECT_EQ(odd.Http->Tls, 0us);
    EXPECT_EQ(odd.Http->Processing, 0us);
    EXPECT_EQ(odd.Http->Transfer, 0us);
    EXPECT_EQ(odd.Http->Status, 0);
    EXPECT_EQ(odd.Http->Address, "");
    EXPECT_EQ(odd.Http->BodyBytes, 0);
    EXPECT_EQ(odd.Http->CertExpiry, 0);
    EXPECT_EQ(back[1]->Cause, TTryCause::Other);
    EXPECT_EQ(back[1]->DnsRcode, 0);
    EXPECT_EQ(back[2]->Cause, TTryCause::Other);
    EXPECT_FALSE(back[2]->Http);
    EXPECT_EQ(back[3]->Cause, TTryCause::Timeout);
    EXPECT_EQ(back[3]->Http->Address, "");
    for (size_t i = 4; i < 7; ++i)  // no time that can be believed: failed, as the times say
        EXPECT_FALSE(back[i]->Ok) << i;
    // A phase longer than a day cannot be a try's: summing them stays in range.
    const TTryOutcomes day = Read(R"([{"cause":"timeout","http":{"transfer":86400000001,"connect":86400000000}}])",
                                  TTryTimes(1));
    ASSERT_EQ(day.size(), 1u);
    EXPECT_EQ(day[0]->Http->Transfer, 0us);
    EXPECT_EQ(day[0]->Http->Connect, 86'400'000'000us);
}

}  // namespace
