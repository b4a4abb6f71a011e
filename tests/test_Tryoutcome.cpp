#include "engine/Tryoutcome.h"

#include "tests/support/Outcomes.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TTryOutcome DnsAnswered(uint8_t rcode)
{
    TTryOutcome outcome = Failed(TTryCause::DnsAnswer);
    outcome.DnsRcode = rcode;
    return outcome;
}

// Scripts read the codes; the window shows the texts. A try that succeeded
// has neither, whatever cause it carries.
TEST(Tryoutcome, EachCauseHasACodeAndAText)
{
    TTryOutcome ok;
    ok.Ok = true;
    ok.Cause = TTryCause::Timeout;
    EXPECT_EQ(CauseCode(ok), "");
    EXPECT_EQ(CauseText(ok), "");
    EXPECT_EQ(CauseCode(Failed(TTryCause::Refused)), "refused");
    EXPECT_EQ(CauseText(Failed(TTryCause::Refused)), "连接被拒绝");
    EXPECT_EQ(CauseCode(Failed(TTryCause::Timeout)), "timeout");
    EXPECT_EQ(CauseText(Failed(TTryCause::Timeout)), "超时");
    EXPECT_EQ(CauseCode(Failed(TTryCause::TlsExpired)), "tls_expired");
    EXPECT_EQ(CauseCode(Failed(TTryCause::None)), "other");  // failed without a word of why
    for (int cause = 0; cause <= static_cast<int>(TTryCause::HttpStatus); ++cause) {
        const TTryOutcome failed = Failed(static_cast<TTryCause>(cause));
        EXPECT_FALSE(CauseCode(failed).empty()) << cause;
        EXPECT_FALSE(CauseText(failed).empty()) << cause;
    }
}

TEST(Tryoutcome, DnsAndHttpCausesSayTheirCode)
{
    EXPECT_EQ(CauseCode(DnsAnswered(2)), "dns_servfail");
    EXPECT_EQ(CauseText(DnsAnswered(2)), "DNS答复错误 SERVFAIL");
    EXPECT_EQ(CauseCode(DnsAnswered(3)), "dns_nxdomain");
    EXPECT_EQ(CauseCode(DnsAnswered(5)), "dns_refused");
    EXPECT_EQ(CauseCode(DnsAnswered(15)), "dns_rcode15");
    TTryOutcome status = Failed(TTryCause::HttpStatus);
    EXPECT_EQ(CauseText(status), "HTTP错误 ?");
    status.Http = THttpTry{};
    status.Http->Status = 503;
    EXPECT_EQ(CauseCode(status), "http_status");
    EXPECT_EQ(CauseText(status), "HTTP错误 503");
}

// The history keeps causes by their code and reads them back with it.
TEST(Tryoutcome, CodesReadBackAsTheirCause)
{
    for (int cause = 1; cause <= static_cast<int>(TTryCause::HttpStatus); ++cause) {
        const TTryOutcome failed = Failed(static_cast<TTryCause>(cause));
        uint8_t rcode = 99;
        EXPECT_EQ(CauseOfCode(CauseCode(failed), rcode), failed.Cause) << CauseCode(failed);
    }
    for (const int answer : {0, 2, 3, 5, 10, 11, 15, 255}) {
        uint8_t rcode = 99;
        EXPECT_EQ(CauseOfCode(CauseCode(DnsAnswered(uint8_t(answer))), rcode), TTryCause::DnsAnswer) << answer;
        EXPECT_EQ(rcode, answer);
    }
}

// Codes of a later version or a damaged file.
TEST(Tryoutcome, UnknownCodesAreOther)
{
    for (const char* code : {"", "dns_", "dns_rcode", "dns_rcode256", "dns_rcode99999999999", "dns_rcode-1",
                             "dns_rcode1x", "dns_bogus", "REFUSED", "refused ", "tls_", "quantum_noise"}) {
        uint8_t rcode = 99;
        EXPECT_EQ(CauseOfCode(code, rcode), TTryCause::Other) << code;
        EXPECT_EQ(rcode, 99) << code;
    }
}

TEST(Tryoutcome, ErrorsMapToTheirCause)
{
    EXPECT_EQ(CauseOfError(ECONNREFUSED), TTryCause::Refused);
    EXPECT_EQ(CauseOfError(ETIMEDOUT), TTryCause::Timeout);
    EXPECT_EQ(CauseOfError(ENETUNREACH), TTryCause::Unreachable);
    EXPECT_EQ(CauseOfError(EMFILE), TTryCause::Shortage);
    EXPECT_EQ(CauseOfError(EINVAL), TTryCause::Other);
}

}  // namespace
