#pragma once
// DNS over UDP: builds one standard query, sends it, waits for the response
// to it and decodes it. Every problem is raised as an EIdException descendant.

#include "net/IdUDPClient.h"

#include <cstdint>
#include <string>
#include <vector>

class TIdDNSHeader {
public:
    uint16_t ID = 0;
    uint16_t Flags = 0;  // QR 15, OPCODE 14-11, AA 10, TC 9, RD 8, RA 7, Z 6-4, RCODE 3-0
    uint16_t QDCount = 0;
    uint16_t ANCount = 0;
    uint16_t NSCount = 0;
    uint16_t ARCount = 0;

    // Clears flags and counts; the identifier stays.
    void Reset();
};

struct TQuestionItem {
    std::string QName;  // dotted form
    uint16_t QType = 0;
    uint16_t QClass = 0;
};
using TIdDNSQuestionList = std::vector<TQuestionItem>;

struct TIdDNSResourceItem {
    std::string RRName;
    uint16_t RRType = 0;
    uint16_t RRClass = 0;
    uint32_t TTL = 0;
    uint16_t RDLength = 0;

    // Decoded record data; which fields are set depends on RRType.
    std::string Address;             // A, WKS (dotted)
    std::vector<std::string> Names;  // NS CNAME MB MG MR PTR; SOA MNAME RNAME; MINFO; MX exchange
    uint16_t Preference = 0;         // MX
    uint32_t Serial = 0, Refresh = 0, Retry = 0, Expire = 0, Minimum = 0;  // SOA
    uint8_t Protocol = 0;            // WKS
    std::string Bitmap;              // WKS
    std::string CPU, OS;             // HINFO
    std::string Data;                // NULL TXT and the query-only types 252, 255
};
using TIdDNSResourceList = std::vector<TIdDNSResourceItem>;

enum : uint16_t {
    DnsTypeA = 1, DnsTypeNS = 2, DnsTypeMD = 3, DnsTypeMF = 4, DnsTypeCNAME = 5, DnsTypeSOA = 6,
    DnsTypeMB = 7, DnsTypeMG = 8, DnsTypeMR = 9, DnsTypeNULL = 10, DnsTypeWKS = 11, DnsTypePTR = 12,
    DnsTypeHINFO = 13, DnsTypeMINFO = 14, DnsTypeMX = 15, DnsTypeTXT = 16, DnsTypeAAAA = 28,
    DnsTypeAXFR = 252, DnsTypeMAILB = 253, DnsTypeMAILA = 254, DnsTypeAny = 255,
};
constexpr uint16_t DnsClassIN = 1;

class TIdDNSResolver : public TIdUDPClient {
public:
    TIdDNSResolver();

    TIdDNSHeader DNSHeader;
    TIdDNSQuestionList Questions;
    TIdDNSResourceList Answers;
    TIdDNSResourceList Authority;
    TIdDNSResourceList Additional;

    // The last query built, and the datagram taken as its reply.
    const std::string& QueryPacket() const { return FQueryPacket; }
    int32_t QueryLength() const { return FQueryLength; }
    const std::string& ReplyPacket() const { return FReplyPacket; }
    // While decoding, the bound of every read; after it, the bytes decoded.
    int32_t ReplyLength() const { return FReplyLength; }
    // A reply to decode as if it had come (tests, the fuzzer); length, when
    // given, bounds what DecodeName reads (clamped to the packet).
    void SetReply(std::string packet);
    void SetReply(std::string packet, int32_t length);

    void ResetResult();
    // Build, send, and wait up to ReceiveTimeout from the send for the
    // response to this query; every other datagram is dropped. Fails when none
    // comes in time, and when it reports an error (the reply then stays
    // decoded). Any other failure leaves the result empty.
    void RunQuery();
    void BuildQuery();
    // Decodes ReplyPacket; fails unless it is a response to QueryPacket, with
    // identifier DNSHeader.ID, the same opcode and questions, every record it
    // counts present, and no error reported.
    void DecodeReply();
    // What a datagram that came after BuildQuery is to that query: none of
    // its replies (dropped, the wait goes on), its reply, or its reply
    // reporting an error. The reply is kept and decoded as RunQuery's.
    enum class TVerdict { NotTheReply, Answer, Error };
    TVerdict Judge(std::string packet);

    // Reads a name at position (within ReplyPacket up to ReplyLength) and
    // moves position past it.
    std::string DecodeName(int32_t& position) const;

    // Identifiers are drawn from 0 up to, not including, this.
    static constexpr uint32_t IdentifierRange = 62000;

private:
    std::string FQueryPacket;
    int32_t FQueryLength = 0;
    std::string FReplyPacket;
    int32_t FReplyLength = 0;

    void ClearReply();
    void AwaitResponse();
    // Whether the next datagram, within wait, is the response; throws when
    // none came in time.
    bool TakeResponse(int32_t wait);
    // DecodeReply without the error check.
    void DecodeResponse();
    void FailOnErrorCode() const;
};
