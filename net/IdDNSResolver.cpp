#include "net/IdDNSResolver.h"

#include "net/IdException.h"
#include "net/IdRandom.h"
#include "net/IdStack.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

uint16_t NextIdentifier()
{
    return static_cast<uint16_t>(RandomBelow(TIdDNSResolver::IdentifierRange));
}

[[noreturn]] void Fail(const char* check)
{
    throw EIdDnsResolverError(check);
}

// Every byte of a reply is read through here; nothing past the bound.
class TReplyReader {
public:
    TReplyReader(const std::string& bytes, size_t bound) : FBytes(bytes), FBound(std::min(bound, bytes.size())) {}

    size_t Bound() const { return FBound; }
    bool Within(size_t at, size_t count) const { return at <= FBound && count <= FBound - at; }

    uint8_t Byte(size_t at, const char* what) const
    {
        Need(at, 1, what);
        return static_cast<uint8_t>(FBytes[at]);
    }
    uint16_t Word(size_t at, const char* what) const
    {
        Need(at, 2, what);
        return static_cast<uint16_t>(Raw(at) << 8 | Raw(at + 1));
    }
    uint32_t Long(size_t at, const char* what) const
    {
        Need(at, 4, what);
        return static_cast<uint32_t>(Raw(at)) << 24 | Raw(at + 1) << 16 | Raw(at + 2) << 8 | Raw(at + 3);
    }
    std::string Bytes(size_t at, size_t count, const char* what) const
    {
        Need(at, count, what);
        return FBytes.substr(at, count);
    }

private:
    void Need(size_t at, size_t count, const char* what) const
    {
        if (!Within(at, count))
            Fail(what);
    }
    uint32_t Raw(size_t at) const { return static_cast<uint8_t>(FBytes[at]); }

    const std::string& FBytes;
    size_t FBound;
};

constexpr size_t MaxNameLength = 255;  // wire bytes, length octets included

// Pointers must lead strictly before the labels read so far, so a chain of
// them always ends; a name over 255 bytes fails as well.
std::vector<std::string> ReadLabels(const TReplyReader& reader, size_t& position)
{
    std::vector<std::string> labels;
    size_t at = position;
    size_t segmentStart = at;
    size_t wireLength = 1;  // the closing zero byte
    bool jumped = false;
    size_t afterPointer = 0;
    for (;;) {
        uint8_t length = reader.Byte(at, "name runs past the end of the reply");
        if (length >= 64) {
            size_t target = static_cast<size_t>(length & 0x3F) << 8
                | reader.Byte(at + 1, "compression pointer runs past the end of the reply");
            if (!jumped) {
                afterPointer = at + 2;
                jumped = true;
            }
            if (target >= segmentStart)
                Fail("compression pointer does not point backwards");
            at = segmentStart = target;
            continue;
        }
        if (length == 0) {
            ++at;
            break;
        }
        wireLength += 1 + length;
        if (wireLength > MaxNameLength)
            Fail("name longer than 255 bytes");
        labels.push_back(reader.Bytes(at + 1, length, "label runs past the end of the reply"));
        at += 1 + length;
    }
    position = jumped ? afterPointer : at;
    return labels;
}

std::string Dotted(const std::vector<std::string>& labels)
{
    std::string name;
    for (const std::string& label : labels) {
        if (!name.empty())
            name += '.';
        name += label;
    }
    return name;
}

std::string ReadName(const TReplyReader& reader, size_t& position)
{
    return Dotted(ReadLabels(reader, position));
}

std::string ReadAddress(const TReplyReader& reader, size_t at)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", reader.Byte(at, "address"), reader.Byte(at + 1, "address"),
        reader.Byte(at + 2, "address"), reader.Byte(at + 3, "address"));
    return text;
}

std::string ReadCharacterString(const TReplyReader& reader, size_t& at)
{
    uint8_t length = reader.Byte(at, "character-string runs past the end of the reply");
    std::string text = reader.Bytes(at + 1, length, "character-string runs past the end of the reply");
    at += 1 + length;
    return text;
}

// The record data by type; every read is bounded by the reply.
void ReadRecordData(const TReplyReader& reader, size_t at, TIdDNSResourceItem& item)
{
    const char* pastEnd = "record data runs past the end of the reply";
    switch (item.RRType) {
    case DnsTypeA:
        item.Address = ReadAddress(reader, at);
        break;
    case DnsTypeNS:
    case DnsTypeCNAME:
    case DnsTypeMB:
    case DnsTypeMG:
    case DnsTypeMR:
    case DnsTypePTR:
        item.Names.push_back(ReadName(reader, at));
        break;
    case DnsTypeSOA:
        item.Names.push_back(ReadName(reader, at));
        item.Names.push_back(ReadName(reader, at));
        item.Serial = reader.Long(at, pastEnd);
        item.Refresh = reader.Long(at + 4, pastEnd);
        item.Retry = reader.Long(at + 8, pastEnd);
        item.Expire = reader.Long(at + 12, pastEnd);
        item.Minimum = reader.Long(at + 16, pastEnd);
        break;
    case DnsTypeWKS:
        item.Address = ReadAddress(reader, at);
        item.Protocol = reader.Byte(at + 4, pastEnd);
        item.Bitmap = reader.Bytes(at + 5, 8, pastEnd);
        break;
    case DnsTypeHINFO:
        item.CPU = ReadCharacterString(reader, at);
        item.OS = ReadCharacterString(reader, at);
        break;
    case DnsTypeMINFO:
        item.Names.push_back(ReadName(reader, at));
        item.Names.push_back(ReadName(reader, at));
        break;
    case DnsTypeMX:
        item.Preference = reader.Word(at, pastEnd);
        at += 2;
        item.Names.push_back(ReadName(reader, at));
        break;
    case DnsTypeNULL:
    case DnsTypeTXT:
    case DnsTypeAXFR:
    case DnsTypeAny:
        item.Data = reader.Bytes(at, item.RDLength, pastEnd);
        break;
    case DnsTypeMD:
    case DnsTypeMF:
    case DnsTypeMAILB:
    case DnsTypeMAILA:
        Fail("obsolete or unsupported record type");
    default:
        break;  // skipped
    }
}

// Every announced record must be there: a reply that counts more than it
// holds is not a whole answer.
void ReadSection(const TReplyReader& reader, size_t& position, uint16_t count, TIdDNSResourceList& list)
{
    for (uint16_t i = 0; i < count; ++i) {
        TIdDNSResourceItem& item = list.emplace_back();
        item.RRName = ReadName(reader, position);
        if (!reader.Within(position, 10))
            Fail("record header runs past the end of the reply");
        item.RRType = reader.Word(position, "");
        item.RRClass = reader.Word(position + 2, "");
        item.TTL = reader.Long(position + 4, "");
        item.RDLength = reader.Word(position + 8, "");
        position += 10;
        if (!reader.Within(position, item.RDLength))
            Fail("record data runs past the end of the reply");
        ReadRecordData(reader, position, item);
        position += item.RDLength;
    }
}

struct TWireQuestion {
    std::vector<std::string> Labels;
    uint16_t Type = 0;
    uint16_t Class = 0;
};

TWireQuestion ReadQuestion(const TReplyReader& reader, size_t& position)
{
    TWireQuestion question;
    question.Labels = ReadLabels(reader, position);
    if (!reader.Within(position, 4))
        Fail("question runs past the end of the reply");
    question.Type = reader.Word(position, "");
    question.Class = reader.Word(position + 2, "");
    position += 4;
    return question;
}

// The questions as they went out in the query.
std::vector<TWireQuestion> ReadAskedQuestions(const TReplyReader& query)
{
    if (query.Bound() < 12)
        Fail("no query to match the reply against");
    std::vector<TWireQuestion> asked;
    size_t position = 12;
    for (uint16_t i = 0, count = query.Word(4, ""); i < count; ++i)
        asked.push_back(ReadQuestion(query, position));
    return asked;
}

// DNS names compare without regard to ASCII case; other bytes exactly.
bool SameLabel(const std::string& a, const std::string& b)
{
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
        [&fold](char x, char y) { return fold(static_cast<unsigned char>(x)) == fold(static_cast<unsigned char>(y)); });
}

bool SameQuestion(const TWireQuestion& a, const TWireQuestion& b)
{
    return a.Type == b.Type && a.Class == b.Class
        && std::equal(a.Labels.begin(), a.Labels.end(), b.Labels.begin(), b.Labels.end(), SameLabel);
}

constexpr uint16_t FlagResponse = 0x8000;
constexpr uint16_t FlagsOpcode = 0x7800;
constexpr uint16_t FlagsRcode = 0x000F;

// Labels of a dotted name; a trailing dot is allowed, empty or over-long
// labels are refused rather than sent as a malformed query.
void WriteName(std::string& message, const std::string& name)
{
    std::string dotted = name;
    if (!dotted.empty() && dotted.back() == '.')
        dotted.pop_back();
    size_t written = 0;
    size_t start = 0;
    while (!dotted.empty()) {
        size_t dot = dotted.find('.', start);
        std::string label = dotted.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (label.empty() || label.size() > 63)
            Fail("invalid label in the query name");
        message += static_cast<char>(label.size());
        message += label;
        written += 1 + label.size();
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    if (written + 1 > MaxNameLength)
        Fail("query name longer than 255 bytes");
    message += '\0';
}

void WriteWord(std::string& message, uint16_t value)
{
    message += static_cast<char>(value >> 8);
    message += static_cast<char>(value & 0xFF);
}

}  // namespace

void TIdDNSHeader::Reset()
{
    Flags = QDCount = ANCount = NSCount = ARCount = 0;
}

TIdDNSResolver::TIdDNSResolver()
{
    SetPort(53);
    SetReceiveTimeout(4000);
}

void TIdDNSResolver::SetReply(std::string packet)
{
    FReplyLength = static_cast<int32_t>(std::min<size_t>(packet.size(), INT32_MAX));
    FReplyPacket = std::move(packet);
}

void TIdDNSResolver::SetReply(std::string packet, int32_t length)
{
    SetReply(std::move(packet));
    FReplyLength = std::clamp(length, 0, FReplyLength);
}

void TIdDNSResolver::ResetResult()
{
    DNSHeader.Reset();
    Questions.clear();
    Answers.clear();
    Authority.clear();
    Additional.clear();
}

void TIdDNSResolver::RunQuery()
{
    try {
        BuildQuery();
        // A stale reply must not be decoded against this query.
        ClearReply();
        // Replies to earlier tries that came in between tries are not ours.
        DiscardPending();
        SendPacket(FQueryPacket);
        AwaitResponse();
    } catch (...) {
        ClearReply();
        throw;
    }
    FailOnErrorCode();
}

void TIdDNSResolver::BuildQuery()
{
    DNSHeader.ID = NextIdentifier();
    if (Questions.empty())
        Fail("no question to ask");
    if (Questions.size() > 0xFFFF)
        Fail("too many questions");
    DNSHeader.QDCount = static_cast<uint16_t>(Questions.size());
    std::string message;
    WriteWord(message, DNSHeader.ID);
    WriteWord(message, DNSHeader.Flags);
    WriteWord(message, DNSHeader.QDCount);
    WriteWord(message, 0);
    WriteWord(message, 0);
    WriteWord(message, 0);
    for (const TQuestionItem& question : Questions) {
        WriteName(message, question.QName);
        WriteWord(message, question.QType);
        WriteWord(message, question.QClass);
    }
    FQueryPacket = message;
    FQueryLength = static_cast<int32_t>(message.size());
}

void TIdDNSResolver::DecodeReply()
{
    DecodeResponse();
    FailOnErrorCode();
}

TIdDNSResolver::TVerdict TIdDNSResolver::Judge(std::string packet)
{
    FReplyPacket = std::move(packet);
    try {
        DecodeResponse();
    } catch (const EIdDnsResolverError&) {
        ClearReply();
        return TVerdict::NotTheReply;
    }
    return (DNSHeader.Flags & FlagsRcode) != 0 ? TVerdict::Error : TVerdict::Answer;
}

void TIdDNSResolver::ClearReply()
{
    ResetResult();
    FReplyPacket.clear();
    FReplyLength = 0;
}

// The time-out runs from the send: datagrams that are not the response
// neither end the wait nor lengthen it.
void TIdDNSResolver::AwaitResponse()
{
    using namespace std::chrono;
    const bool limited = ReceiveTimeout() >= 0;
    const auto deadline = steady_clock::now() + milliseconds(limited ? ReceiveTimeout() : 0);
    for (;;) {
        const int32_t wait = limited
            ? static_cast<int32_t>(std::max<int64_t>(0, ceil<milliseconds>(deadline - steady_clock::now()).count()))
            : IdTimeoutInfinite;
        if (TakeResponse(wait))
            return;
        if (wait == 0)
            Fail("no response to the query in time");
    }
}

bool TIdDNSResolver::TakeResponse(int32_t wait)
{
    try {
        FReplyPacket = ReceivePacket(wait);
    } catch (const EIdUDPReceiveErrorZeroBytes&) {
        return false;
    } catch (const EIdSocketError& error) {
        // A datagram larger than the buffer is gone, and was no response:
        // without EDNS a server answers in 512 bytes.
        if (error.Code() != Id_WSAEMSGSIZE)
            throw;
        return false;
    }
    if (FReplyPacket.empty())
        Fail("no response to the query in time");
    try {
        DecodeResponse();
        return true;
    } catch (const EIdDnsResolverError&) {
        return false;
    }
}

void TIdDNSResolver::DecodeResponse()
{
    ResetResult();
    FReplyLength = static_cast<int32_t>(std::min<size_t>(FReplyPacket.size(), INT32_MAX));
    TReplyReader reader(FReplyPacket, static_cast<size_t>(FReplyLength));
    TReplyReader query(FQueryPacket, static_cast<size_t>(std::max(FQueryLength, 0)));
    const std::vector<TWireQuestion> asked = ReadAskedQuestions(query);
    if (reader.Bound() < 12)
        Fail("reply shorter than its header");
    if (reader.Word(0, "") != DNSHeader.ID)
        Fail("reply identifier differs from the query's");
    DNSHeader.Flags = reader.Word(2, "");
    if (!(DNSHeader.Flags & FlagResponse))
        Fail("not a response");
    if ((DNSHeader.Flags & FlagsOpcode) != (query.Word(2, "") & FlagsOpcode))
        Fail("reply opcode differs from the query's");
    DNSHeader.QDCount = reader.Word(4, "");
    DNSHeader.ANCount = reader.Word(6, "");
    DNSHeader.NSCount = reader.Word(8, "");
    DNSHeader.ARCount = reader.Word(10, "");
    if (DNSHeader.QDCount != asked.size())
        Fail("reply question count differs from the query's");

    size_t position = 12;
    for (const TWireQuestion& sent : asked) {
        TWireQuestion answered = ReadQuestion(reader, position);
        if (!SameQuestion(answered, sent))
            Fail("reply question differs from the query's");
        Questions.push_back({Dotted(answered.Labels), answered.Type, answered.Class});
    }
    ReadSection(reader, position, DNSHeader.ANCount, Answers);
    ReadSection(reader, position, DNSHeader.NSCount, Authority);
    ReadSection(reader, position, DNSHeader.ARCount, Additional);
    FReplyLength = static_cast<int32_t>(position);
}

void TIdDNSResolver::FailOnErrorCode() const
{
    if ((DNSHeader.Flags & FlagsRcode) != 0)
        Fail("reply reports an error");
}

std::string TIdDNSResolver::DecodeName(int32_t& position) const
{
    if (position < 0)
        Fail("name position before the reply");
    TReplyReader reader(FReplyPacket, static_cast<size_t>(std::max(FReplyLength, 0)));
    size_t at = static_cast<size_t>(position);
    std::string name = ReadName(reader, at);
    position = static_cast<int32_t>(at);
    return name;
}
