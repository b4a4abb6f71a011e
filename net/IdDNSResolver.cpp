#include "net/IdDNSResolver.h"

#include "net/IdException.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <mutex>
#include <random>

namespace {

// One generator for all resolvers, so every draw happens under its lock.
std::mutex GIdentifierLock;
std::mt19937 GIdentifierGenerator;

void SeedIdentifiers()
{
    using namespace std::chrono;
    auto now = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    std::lock_guard<std::mutex> lock(GIdentifierLock);
    GIdentifierGenerator.seed(static_cast<std::mt19937::result_type>(now));
}

uint16_t NextIdentifier()
{
    std::uniform_int_distribution<uint32_t> range(0, TIdDNSResolver::IdentifierRange - 1);
    std::lock_guard<std::mutex> lock(GIdentifierLock);
    return static_cast<uint16_t>(range(GIdentifierGenerator));
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
std::string ReadName(const TReplyReader& reader, size_t& position)
{
    std::string name;
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
        if (!name.empty())
            name += '.';
        name += reader.Bytes(at + 1, length, "label runs past the end of the reply");
        at += 1 + length;
    }
    position = jumped ? afterPointer : at;
    return name;
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

bool AtMostOneByteLeft(const TReplyReader& reader, size_t position)
{
    return position + 1 >= reader.Bound();
}

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
        if (AtMostOneByteLeft(reader, position))
            break;
    }
}

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
    Port = 53;
    ReceiveTimeout = 4000;
    SeedIdentifiers();
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
    // A stale reply must not be decoded against this query.
    ReplyPacket.clear();
    std::exception_ptr exchangeFailure;
    try {
        BuildQuery();
        // Replies to earlier tries that came in between tries are not ours.
        DiscardPending();
        SendPacket(QueryPacket);
        ReplyPacket = ReceivePacket(IdTimeoutDefault);
    } catch (...) {
        exchangeFailure = std::current_exception();
    }
    try {
        DecodeReply();
    } catch (...) {
        if (!exchangeFailure)
            throw;
    }
    if (exchangeFailure)
        std::rethrow_exception(exchangeFailure);
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
    QueryPacket = message;
    QueryLength = static_cast<int32_t>(message.size());
}

void TIdDNSResolver::DecodeReply()
{
    ResetResult();
    ReplyLength = static_cast<int32_t>(std::min<size_t>(ReplyPacket.size(), INT32_MAX));
    TReplyReader reader(ReplyPacket, static_cast<size_t>(ReplyLength));
    const size_t length = reader.Bound();
    if (length < 4)
        Fail("reply shorter than 4 bytes");
    if (reader.Word(0, "") != DNSHeader.ID)
        Fail("reply identifier differs from the query's");
    DNSHeader.Flags = reader.Word(2, "");
    if ((DNSHeader.Flags & 0x000F) != 0)
        Fail("reply reports an error");
    if (length < 12)
        Fail("reply shorter than its header");
    DNSHeader.QDCount = reader.Word(4, "");
    DNSHeader.ANCount = reader.Word(6, "");
    DNSHeader.NSCount = reader.Word(8, "");
    DNSHeader.ARCount = reader.Word(10, "");
    if (length < static_cast<size_t>(std::max(QueryLength, 0)))
        Fail("reply shorter than the query");

    size_t position = 12;
    for (uint16_t i = 0; i < DNSHeader.QDCount; ++i) {
        TQuestionItem& question = Questions.emplace_back();
        question.QName = ReadName(reader, position);
        if (!reader.Within(position, 4))
            Fail("question runs past the end of the reply");
        question.QType = reader.Word(position, "");
        question.QClass = reader.Word(position + 2, "");
        position += 4;
    }
    if (AtMostOneByteLeft(reader, position) && (DNSHeader.ANCount || DNSHeader.NSCount || DNSHeader.ARCount))
        Fail("answers announced after the end of the reply");
    ReadSection(reader, position, DNSHeader.ANCount, Answers);
    if (AtMostOneByteLeft(reader, position) && (DNSHeader.NSCount || DNSHeader.ARCount))
        Fail("authority announced after the end of the reply");
    ReadSection(reader, position, DNSHeader.NSCount, Authority);
    if (AtMostOneByteLeft(reader, position) && DNSHeader.ARCount)
        Fail("additional records announced after the end of the reply");
    ReadSection(reader, position, DNSHeader.ARCount, Additional);
    ReplyLength = static_cast<int32_t>(position);
}

std::string TIdDNSResolver::DecodeName(int32_t& position) const
{
    if (position < 0)
        Fail("name position before the reply");
    TReplyReader reader(ReplyPacket, static_cast<size_t>(std::max(ReplyLength, 0)));
    size_t at = static_cast<size_t>(position);
    std::string name = ReadName(reader, at);
    position = static_cast<int32_t>(at);
    return name;
}
