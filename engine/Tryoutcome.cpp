#include "engine/Tryoutcome.h"

#include "engine/Shortage.h"

#include <cerrno>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>

TTryCause CauseOfError(int error)
{
    switch (error) {
    case ECONNREFUSED:
    case ECONNRESET:
        return TTryCause::Refused;
    case ETIMEDOUT:
        return TTryCause::Timeout;
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN:
    case ENETDOWN:
    case EADDRNOTAVAIL:
    case EPERM:   // a packet filter of this host refused to send it
    case EACCES:
        return TTryCause::Unreachable;
    default:
        return IsShortageError(error) ? TTryCause::Shortage : TTryCause::Other;
    }
}

TTryCause CauseAtDeadline(const std::atomic<bool>* abort)
{
    return abort && abort->load() ? TTryCause::Aborted : TTryCause::Timeout;
}

namespace {

// The names of the answer codes a DNS server gives (RFC 1035, 2136).
const char* RcodeName(uint8_t rcode)
{
    static const char* const names[] = {"noerror", "formerr", "servfail", "nxdomain", "notimp", "refused",
                                        "yxdomain", "yxrrset", "nxrrset", "notauth", "notzone"};
    return rcode < std::size(names) ? names[rcode] : nullptr;
}

std::string RcodeText(uint8_t rcode, bool upper)
{
    const char* name = RcodeName(rcode);
    std::string text = name ? name : "rcode" + std::to_string(rcode);
    if (upper)
        for (char& c : text)
            c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return text;
}

struct TCauseWords {
    TTryCause Cause;
    const char* Code;
    const char* Text;
};

const TCauseWords kCauseWords[] = {
    {TTryCause::Refused, "refused", "连接被拒绝"},
    {TTryCause::Timeout, "timeout", "超时"},
    {TTryCause::Unreachable, "unreachable", "不可达"},
    {TTryCause::DnsAnswer, "dns_", "DNS答复错误 "},
    {TTryCause::Aborted, "aborted", "已中止"},
    {TTryCause::Denied, "denied", "无权发送Ping"},
    {TTryCause::Shortage, "shortage", "系统资源不足"},
    {TTryCause::BadTarget, "bad_target", "无可测目标"},
    {TTryCause::Other, "other", "其他错误"},
    {TTryCause::NameNotResolved, "name_not_resolved", "域名解析失败"},
    {TTryCause::BadReply, "bad_reply", "答复不符"},
    {TTryCause::TlsUntrusted, "tls_untrusted", "证书无效（不受信任）"},
    {TTryCause::TlsWrongName, "tls_wrong_name", "证书无效（域名不符）"},
    {TTryCause::TlsExpired, "tls_expired", "证书无效（已过期）"},
    {TTryCause::Tls, "tls", "TLS握手失败"},
    {TTryCause::HttpStatus, "http_status", "HTTP错误 "},
};

const TCauseWords* WordsOf(TTryCause cause)
{
    for (const TCauseWords& words : kCauseWords)
        if (words.Cause == cause)
            return &words;
    return nullptr;
}

// The answer code RcodeText(rcode, false) names.
std::optional<uint8_t> RcodeOfName(std::string_view name)
{
    for (uint8_t rcode = 0; const char* known = RcodeName(rcode); ++rcode)
        if (name == known)
            return rcode;
    const std::string_view numbered = "rcode";
    if (name.substr(0, numbered.size()) != numbered)
        return std::nullopt;
    const std::string_view digits = name.substr(numbered.size());
    unsigned value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.empty() || value > 255)
        return std::nullopt;
    return static_cast<uint8_t>(value);
}

std::string HttpStatusOf(const TTryOutcome& outcome)
{
    return outcome.Http ? std::to_string(outcome.Http->Status) : std::string("?");
}

}  // namespace

std::string CauseCode(const TTryOutcome& outcome)
{
    if (outcome.Ok)
        return {};
    const TCauseWords* words = WordsOf(outcome.Cause);
    if (!words)
        return "other";
    if (outcome.Cause == TTryCause::DnsAnswer)
        return words->Code + RcodeText(outcome.DnsRcode, false);
    return words->Code;
}

TTryCause CauseOfCode(std::string_view code, uint8_t& rcode)
{
    const std::string_view dnsPrefix = WordsOf(TTryCause::DnsAnswer)->Code;
    if (code.substr(0, dnsPrefix.size()) == dnsPrefix) {
        const std::optional<uint8_t> answer = RcodeOfName(code.substr(dnsPrefix.size()));
        if (!answer)
            return TTryCause::Other;
        rcode = *answer;
        return TTryCause::DnsAnswer;
    }
    for (const TCauseWords& words : kCauseWords)
        if (words.Cause != TTryCause::DnsAnswer && code == words.Code)
            return words.Cause;
    return TTryCause::Other;
}

std::string CauseText(const TTryOutcome& outcome)
{
    if (outcome.Ok)
        return {};
    const TCauseWords* words = WordsOf(outcome.Cause);
    if (!words)
        return WordsOf(TTryCause::Other)->Text;
    if (outcome.Cause == TTryCause::DnsAnswer)
        return words->Text + RcodeText(outcome.DnsRcode, true);
    if (outcome.Cause == TTryCause::HttpStatus)
        return words->Text + HttpStatusOf(outcome);
    return words->Text;
}
