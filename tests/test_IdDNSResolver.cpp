// The DNS resolver and the DNS try, against replies of a loopback responder
// and against replies handed to the decoder directly.

#include "engine/Measuredns.h"
#include "net/IdDNSResolver.h"
#include "net/IdException.h"
#include "net/IdStack.h"
#include "tests/support/Dnsresponder.h"
#include "tests/support/Waitfor.h"
#include "vqlib/Vqnet.h"

#include <gtest/gtest.h>

#include <system_error>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <thread>

using namespace dnsmsg;

namespace {

constexpr uint16_t Ok = 0x8180;  // response, RD, RA, RCODE 0
using TBuilder = std::function<std::string(const std::string& query)>;

std::string AnswerA(const std::string& address = "192.0.2.1")
{
    return Record(Pointer(12), DnsTypeA, 60, AData(address));
}

// www.example.com -> cdn.example.net -> a1.cdn.example.net -> two addresses,
// every name after the first compressed.
std::string CnameChain(const std::string& query)
{
    const uint16_t first = static_cast<uint16_t>(query.size());
    const uint16_t cdn = first + 12;
    std::string records = Record(Pointer(12), DnsTypeCNAME, 300, Name("cdn.example.net"));
    const uint16_t a1 = static_cast<uint16_t>(first + records.size() + 12);
    records += Record(Pointer(cdn), DnsTypeCNAME, 60, std::string("\x02" "a1", 3) + Pointer(cdn));
    records += Record(Pointer(a1), DnsTypeA, 20, AData("192.0.2.10"));
    records += Record(Pointer(a1), DnsTypeA, 20, AData("192.0.2.11"));
    return Reply(query, Ok, 4, 0, 0, records);
}

// One record of every decoded type in the additional section.
std::string EveryType(const std::string& query)
{
    std::string records = AnswerA();
    records += Record(Pointer(12), DnsTypeSOA, 1,
        Name("ns.example.com") + Name("admin.example.com") + Long(2024) + Long(7200) + Long(900) + Long(86400)
            + Long(300));
    records += Record(Pointer(12), DnsTypeMX, 1, Word(10) + Name("mail.example.com"));
    records += Record(Pointer(12), DnsTypeHINFO, 1, std::string("\x03" "CPU" "\x02" "OS", 7));
    records += Record(Pointer(12), DnsTypeTXT, 1, std::string("\x05hello", 6));
    records += Record(Pointer(12), DnsTypeWKS, 1, AData("192.0.2.5") + "\x06" + std::string(8, '\x01'));
    records += Record(Pointer(12), DnsTypeMINFO, 1, Name("r.example.com") + Name("e.example.com"));
    records += Record(Pointer(12), DnsTypePTR, 1, Name("ptr.example.com"));
    records += Record(Pointer(12), 99, 1, "skipped");
    return Reply(query, Ok, 1, 0, 8, records);
}

std::string LongName(size_t wireLength)
{
    std::string name;
    while (wireLength > 1) {
        size_t label = std::min<size_t>(63, wireLength - 2);
        name += static_cast<char>(label);
        name += std::string(label, 'a');
        wireLength -= label + 1;
    }
    return name + '\0';
}

// A reply whose question is the one given, with one address record.
std::string WithQuestion(const std::string& query, const std::string& question, uint16_t flags = Ok)
{
    return Header(QueryId(query), flags, 1, 1, 0, 0) + question + AnswerA();
}

// What a try makes of a reply: the answer, a failure at once, or no response
// at all, so that it goes on waiting.
enum class TOutcome { Answer, Failure, Dropped };
using enum TOutcome;

struct TCannedReply {
    const char* Name;
    TBuilder Build;
    TOutcome Outcome;
};

const std::vector<TCannedReply>& CannedReplies()
{
    static const std::vector<TCannedReply> replies{
        {"cname_chain", CnameChain, Answer},
        {"no_answers", [](const std::string& q) { return Reply(q, Ok, 0, 0, 0); }, Answer},
        {"name_error", [](const std::string& q) { return Reply(q, 0x8183, 0, 0, 0); }, Failure},
        {"refused", [](const std::string& q) { return Reply(q, 0x8185, 0, 0, 0); }, Failure},
        {"other_rcode", [](const std::string& q) { return Reply(q, 0x818B, 1, 0, 0, AnswerA()); }, Failure},
        {"wrong_id", [](const std::string& q) {
             std::string r = Reply(q, Ok, 1, 0, 0, AnswerA());
             r[1] = static_cast<char>(r[1] ^ 1);
             return r;
         }, Dropped},
        {"header_only", [](const std::string& q) { return Header(QueryId(q), Ok, 0, 0, 0, 0); }, Dropped},
        {"three_announced_one_present", [](const std::string& q) { return Reply(q, Ok, 3, 0, 0, AnswerA()); }, Dropped},
        {"authority_past_end", [](const std::string& q) { return Reply(q, Ok, 1, 2, 0, AnswerA()); }, Dropped},
        {"aaaa_additional", [](const std::string& q) {
             return Reply(q, Ok, 1, 0, 1, AnswerA() + Record(Pointer(12), DnsTypeAAAA, 60, std::string(16, '\x20')));
         }, Answer},
        {"md_record", [](const std::string& q) {
             return Reply(q, Ok, 1, 0, 0, Record(Pointer(12), DnsTypeMD, 60, Name("md.example.com")));
         }, Dropped},
        {"truncated_flag", [](const std::string& q) { return Reply(q, 0x8380, 1, 0, 0, AnswerA()); }, Answer},
        {"every_type", EveryType, Answer},
        {"self_pointer", [](const std::string& q) {
             return Reply(q, Ok, 1, 0, 0, Record(Pointer(static_cast<uint16_t>(q.size())), DnsTypeA, 1, AData("1.2.3.4")));
         }, Dropped},
        {"pointer_loop", [](const std::string& q) {
             // The CNAME data points at the answer's name, which points forward at the data.
             const uint16_t name = static_cast<uint16_t>(q.size());
             return Reply(q, Ok, 1, 0, 0, Record(Pointer(name + 12), DnsTypeCNAME, 1, Pointer(name)));
         }, Dropped},
        {"label_then_self_pointer", [](const std::string& q) {
             const uint16_t name = static_cast<uint16_t>(q.size());
             return Reply(q, Ok, 1, 0, 0, Record(std::string("\x01x", 2) + Pointer(name), DnsTypeA, 1, AData("1.2.3.4")));
         }, Dropped},
        {"name_255_bytes", [](const std::string& q) {
             return Reply(q, Ok, 1, 0, 0, Record(LongName(255), DnsTypeA, 1, AData("1.2.3.4")));
         }, Answer},
        {"name_256_bytes", [](const std::string& q) {
             return Reply(q, Ok, 1, 0, 0, Record(LongName(256), DnsTypeA, 1, AData("1.2.3.4")));
         }, Dropped},
        {"pointer_past_end", [](const std::string& q) {
             return Reply(q, Ok, 1, 0, 0, Record(Pointer(0x3FFF), DnsTypeA, 1, AData("1.2.3.4")));
         }, Dropped},
        {"rdata_past_end", [](const std::string& q) {
             std::string r = Reply(q, Ok, 1, 0, 0, AnswerA());
             return r.substr(0, r.size() - 2);
         }, Dropped},
        {"hinfo_string_past_rdata", [](const std::string& q) {
             return Reply(q, Ok, 1, 0, 0, Record(Pointer(12), DnsTypeHINFO, 1, std::string("\x09" "CPU", 4)));
         }, Dropped},
        {"empty_datagram", [](const std::string&) { return std::string(); }, Dropped},
        {"query_echoed", [](const std::string& q) { return q; }, Dropped},
        {"other_opcode", [](const std::string& q) { return Reply(q, Ok | 0x1000, 1, 0, 0, AnswerA()); }, Dropped},
        {"other_name", [](const std::string& q) { return WithQuestion(q, Question(Name("www.example.org"))); }, Dropped},
        {"name_in_other_case", [](const std::string& q) {
             return WithQuestion(q, Question(Name("WWW.Example.COM")));
         }, Answer},
        {"name_as_one_label", [](const std::string& q) {
             return WithQuestion(q, Question(std::string("\x0f" "www.example.com", 16) + '\0'));
         }, Dropped},
        {"other_type", [](const std::string& q) {
             return WithQuestion(q, Question(Name(DNSQueryHostName), DnsTypeAAAA));
         }, Dropped},
        {"other_class", [](const std::string& q) {
             return WithQuestion(q, Question(Name(DNSQueryHostName), DnsTypeA, 3));
         }, Dropped},
        {"question_twice", [](const std::string& q) {
             return Header(QueryId(q), Ok, 2, 1, 0, 0) + QuestionOf(q) + QuestionOf(q) + AnswerA();
         }, Dropped},
        {"refused_for_another_name", [](const std::string& q) {
             return WithQuestion(q, Question(Name("www.example.org")), 0x8185);
         }, Dropped},
    };
    return replies;
}

// A resolver with the question of the DNS method, its query built, so that
// a reply can be handed to the decoder directly.
struct TPreparedResolver {
    TIdDNSResolver Resolver;
    TPreparedResolver()
    {
        Resolver.Questions.push_back({DNSQueryHostName, DnsTypeA, DnsClassIN});
        Resolver.DNSHeader.Flags = 0x0100;
        Resolver.BuildQuery();
    }
    bool Decodes(const std::string& reply)
    {
        Resolver.SetReply(reply);
        try {
            Resolver.DecodeReply();
            return true;
        } catch (const EIdDnsResolverError&) {
            return false;
        }
    }
};

class DnsTry : public ::testing::Test {
protected:
    void Serve(TDnsResponder::THandler handler, const std::string& ip = "127.0.0.1")
    {
        FResponder = std::make_unique<TDnsResponder>(std::move(handler), ip);
        FResolver.SetPort(FResponder->Port());
    }
    // False when this machine has no IPv6 loopback to listen on.
    bool ServeCannedOnIPv6(const TBuilder& build, int delayMs = 0)
    {
        try {
            Serve([build, delayMs](const std::string& query, int) { return TDnsResponse{build(query), delayMs}; },
                  "::1");
            return true;
        } catch (const std::system_error&) {
            return false;
        }
    }
    void ServeCanned(const TBuilder& build, int delayMs = 0)
    {
        Serve([build, delayMs](const std::string& query, int) { return TDnsResponse{build(query), delayMs}; });
    }
    bool Try(int32_t timeout = 2000, const std::string& target = "127.0.0.1")
    {
        return MeasureDNSQuery(FResolver, target, timeout, FElapsed);
    }

    std::unique_ptr<TDnsResponder> FResponder;
    TIdDNSResolver FResolver;
    std::chrono::microseconds FElapsed{12345};
};

}  // namespace

TEST(IdDNSResolver, ConstructionDefaultsAndStackUse)
{
    ASSERT_EQ(TIdStack::UserCount(), 0);
    auto resolver = std::make_unique<TIdDNSResolver>();
    EXPECT_EQ(resolver->Port(), 53);
    EXPECT_EQ(resolver->ReceiveTimeout(), 4000);
    EXPECT_EQ(TIdStack::UserCount(), 1);
    // Workers create their resolver on the UI thread and free it on their own.
    std::thread([r = std::move(resolver)]() mutable { r.reset(); }).join();
    EXPECT_EQ(TIdStack::UserCount(), 0);
    EXPECT_FALSE(TIdStack::Started());
}

TEST(IdDNSResolver, QueryLayoutIsTheStandardRecursiveQueryWithoutEdns)
{
    TPreparedResolver prepared;
    const TIdDNSResolver& r = prepared.Resolver;
    EXPECT_LT(r.DNSHeader.ID, 62000);
    EXPECT_EQ(r.QueryPacket(), Query(r.DNSHeader.ID, DNSQueryHostName));
    EXPECT_EQ(r.QueryLength(), static_cast<int32_t>(12 + std::strlen(DNSQueryHostName) + 2 + 4));
    EXPECT_EQ(r.DNSHeader.QDCount, 1);
}

TEST(IdDNSResolver, BuildQueryRefusesWhatCannotBeEncoded)
{
    TIdDNSResolver r;
    EXPECT_THROW(r.BuildQuery(), EIdDnsResolverError);  // no question
    for (const std::string& bad : {std::string("a..b"), std::string(".a"), std::string(64, 'x') + ".com"}) {
        r.Questions = {{bad, DnsTypeA, DnsClassIN}};
        EXPECT_THROW(r.BuildQuery(), EIdDnsResolverError) << bad;
    }
    std::string tooLong;
    for (int i = 0; i < 5; ++i)
        tooLong += std::string(60, 'a') + ".";
    r.Questions = {{tooLong, DnsTypeA, DnsClassIN}};
    EXPECT_THROW(r.BuildQuery(), EIdDnsResolverError);
    r.Questions = {{"example.com.", DnsTypeA, DnsClassIN}};
    r.BuildQuery();
    EXPECT_EQ(r.QueryPacket().substr(12), Question(Name("example.com")));
    r.Questions = {{"", DnsTypeA, DnsClassIN}};  // the root
    r.BuildQuery();
    EXPECT_EQ(r.QueryPacket().substr(12), Question(std::string(1, '\0')));
}

TEST(IdDNSResolver, IdentifiersCoverTheRangeFromEveryThread)
{
    std::vector<std::unique_ptr<TIdDNSResolver>> resolvers;
    for (int i = 0; i < 4; ++i) {
        resolvers.push_back(std::make_unique<TIdDNSResolver>());
        resolvers.back()->Questions = {{"a", DnsTypeA, DnsClassIN}};
    }
    std::vector<std::thread> threads;
    std::vector<std::vector<uint16_t>> drawn(4);
    for (size_t t = 0; t < drawn.size(); ++t) {
        threads.emplace_back([&ids = drawn[t], &r = *resolvers[t]] {
            for (int i = 0; i < 5000; ++i) {
                r.BuildQuery();
                ids.push_back(r.DNSHeader.ID);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    uint16_t low = 0xFFFF, high = 0;
    std::set<uint16_t> distinct;
    for (const auto& ids : drawn) {
        for (uint16_t id : ids) {
            low = std::min(low, id);
            high = std::max(high, id);
            distinct.insert(id);
        }
    }
    EXPECT_LT(high, 62000);
    EXPECT_GT(high, 61000);
    EXPECT_LT(low, 1000);
    EXPECT_GT(distinct.size(), 14000u);  // 20000 draws from 62000 values
}

// Resolvers made in the same millisecond, as a run's workers are, must not
// ask under the same identifiers: a clock seed would give them one sequence.
TEST(IdDNSResolver, ResolversMadeTogetherDrawDifferentIdentifiers)
{
    std::vector<std::unique_ptr<TIdDNSResolver>> resolvers;
    std::vector<std::vector<uint16_t>> drawn;
    for (int i = 0; i < 8; ++i) {
        auto& r = *resolvers.emplace_back(std::make_unique<TIdDNSResolver>());
        r.Questions = {{"a", DnsTypeA, DnsClassIN}};
        auto& ids = drawn.emplace_back();
        for (int query = 0; query < 3; ++query) {
            r.BuildQuery();
            ids.push_back(r.DNSHeader.ID);
        }
    }
    const std::set<std::vector<uint16_t>> sequences(drawn.begin(), drawn.end());
    EXPECT_EQ(sequences.size(), drawn.size());
    int sameFirst = 0;
    for (size_t i = 1; i < drawn.size(); ++i)
        sameFirst += drawn[i][0] == drawn[0][0] ? 1 : 0;
    EXPECT_LE(sameFirst, 1);
}

TEST(IdDNSResolver, CannedRepliesDecodeAsExpected)
{
    const char* seedDir = std::getenv("ORVEL_DNS_SEED_DIR");  // writes the fuzz seeds
    TPreparedResolver prepared;
    for (const TCannedReply& canned : CannedReplies()) {
        std::string reply = canned.Build(prepared.Resolver.QueryPacket());
        EXPECT_EQ(prepared.Decodes(reply), canned.Outcome == Answer) << canned.Name;
        if (seedDir) {
            // The fuzz target takes its identifier from the reply itself.
            std::ofstream(std::string(seedDir) + "/" + canned.Name, std::ios::binary) << reply;
        }
    }
}

TEST(IdDNSResolver, DecodedCnameChain)
{
    TPreparedResolver prepared;
    TIdDNSResolver& r = prepared.Resolver;
    const uint16_t id = r.DNSHeader.ID;
    ASSERT_TRUE(prepared.Decodes(CnameChain(r.QueryPacket())));
    EXPECT_EQ(r.DNSHeader.ID, id);
    EXPECT_EQ(r.DNSHeader.Flags, Ok);
    EXPECT_EQ(r.DNSHeader.ANCount, 4);
    ASSERT_EQ(r.Questions.size(), 1u);
    EXPECT_EQ(r.Questions[0].QName, DNSQueryHostName);
    ASSERT_EQ(r.Answers.size(), 4u);
    EXPECT_EQ(r.Answers[0].RRName, "www.example.com");
    EXPECT_EQ(r.Answers[0].RRType, DnsTypeCNAME);
    EXPECT_EQ(r.Answers[0].TTL, 300u);
    EXPECT_EQ(r.Answers[0].Names, std::vector<std::string>{"cdn.example.net"});
    EXPECT_EQ(r.Answers[1].RRName, "cdn.example.net");
    EXPECT_EQ(r.Answers[1].Names, std::vector<std::string>{"a1.cdn.example.net"});
    EXPECT_EQ(r.Answers[2].RRName, "a1.cdn.example.net");
    EXPECT_EQ(r.Answers[2].Address, "192.0.2.10");
    EXPECT_EQ(r.Answers[3].Address, "192.0.2.11");
    EXPECT_EQ(r.ReplyLength(), static_cast<int32_t>(r.ReplyPacket().size()));
}

TEST(IdDNSResolver, DecodedRecordTypes)
{
    TPreparedResolver prepared;
    TIdDNSResolver& r = prepared.Resolver;
    ASSERT_TRUE(prepared.Decodes(EveryType(r.QueryPacket())));
    ASSERT_EQ(r.Additional.size(), 8u);
    const TIdDNSResourceItem& soa = r.Additional[0];
    EXPECT_EQ(soa.Names, (std::vector<std::string>{"ns.example.com", "admin.example.com"}));
    EXPECT_EQ(soa.Serial, 2024u);
    EXPECT_EQ(soa.Minimum, 300u);
    EXPECT_EQ(r.Additional[1].Preference, 10);
    EXPECT_EQ(r.Additional[1].Names, std::vector<std::string>{"mail.example.com"});
    EXPECT_EQ(r.Additional[2].CPU, "CPU");
    EXPECT_EQ(r.Additional[2].OS, "OS");
    EXPECT_EQ(r.Additional[3].Data, std::string("\x05hello", 6));
    EXPECT_EQ(r.Additional[4].Address, "192.0.2.5");
    EXPECT_EQ(r.Additional[4].Protocol, 6);
    EXPECT_EQ(r.Additional[4].Bitmap, std::string(8, '\x01'));
    EXPECT_EQ(r.Additional[5].Names, (std::vector<std::string>{"r.example.com", "e.example.com"}));
    EXPECT_EQ(r.Additional[6].Names, std::vector<std::string>{"ptr.example.com"});
    EXPECT_TRUE(r.Additional[7].Names.empty());
    EXPECT_TRUE(r.Additional[7].Data.empty());
}

TEST(IdDNSResolver, EveryTruncationOfAGoodReplyEndsCleanly)
{
    TPreparedResolver prepared;
    const std::string reply = EveryType(prepared.Resolver.QueryPacket());
    for (size_t length = 0; length < reply.size(); ++length) {
        bool decoded = prepared.Decodes(reply.substr(0, length));
        if (length < static_cast<size_t>(prepared.Resolver.QueryLength())) {
            EXPECT_FALSE(decoded) << length;
        }
    }
}

// Garbage under our identifier is refused with a resolver error; garbage
// behind our own header and question either decodes to no more records than
// it counts or is refused the same way, and never reads past its end.
TEST(IdDNSResolver, GarbageOf64KiBEndsCleanly)
{
    TPreparedResolver prepared;
    TIdDNSResolver& r = prepared.Resolver;
    const std::string query = r.QueryPacket();
    std::mt19937 random(7);
    for (int round = 0; round < 40; ++round) {
        std::string garbage(65536, '\0');
        for (char& c : garbage)
            c = static_cast<char>(random());
        garbage[0] = static_cast<char>(r.DNSHeader.ID >> 8);
        garbage[1] = static_cast<char>(r.DNSHeader.ID & 0xFF);
        garbage[3] = static_cast<char>(garbage[3] & 0xF0);
        if (round % 2 == 0) {
            EXPECT_FALSE(prepared.Decodes(garbage)) << round;  // no question of ours in it
            continue;
        }
        garbage.replace(4, query.size() - 4, query.substr(4));
        garbage[2] = static_cast<char>(0x81);  // a response to our standard query
        garbage[3] = 0;
        for (int count = 6; count < 12; count += 2) {  // a few records of garbage each
            garbage[count] = 0;
            garbage[count + 1] = static_cast<char>(random() % 4);
        }
        if (prepared.Decodes(garbage)) {
            EXPECT_EQ(r.Answers.size(), r.DNSHeader.ANCount) << round;
            EXPECT_EQ(r.Authority.size(), r.DNSHeader.NSCount) << round;
            EXPECT_EQ(r.Additional.size(), r.DNSHeader.ARCount) << round;
        }
        EXPECT_LE(r.ReplyLength(), 65536) << round;
    }
}

TEST(IdDNSResolver, DecodeNameStopsAtTheBound)
{
    TIdDNSResolver r;
    r.SetReply(Name("a.bc") + std::string("\x05" "abc", 4));
    int32_t position = 0;
    EXPECT_EQ(r.DecodeName(position), "a.bc");
    EXPECT_EQ(position, 6);
    EXPECT_THROW(r.DecodeName(position), EIdDnsResolverError);  // label longer than what is left
    position = 0;
    r.SetReply(r.ReplyPacket(), 3);  // the bound, not the string's size, limits reading
    EXPECT_THROW(r.DecodeName(position), EIdDnsResolverError);
}

TEST_F(DnsTry, CnameChainSucceedsAndReportsTheTime)
{
    ServeCanned(CnameChain);
    ASSERT_TRUE(Try());
    EXPECT_LT(FElapsed, std::chrono::milliseconds(2000));
    EXPECT_EQ(FResolver.Answers.size(), 4u);
    ASSERT_EQ(FResponder->QueryCount(), 1);
    EXPECT_EQ(FResponder->Queries()[0], FResolver.QueryPacket());
}

TEST_F(DnsTry, EachCannedReplyOverTheSocketThenTheRightOne10msLater)
{
    // The right reply that follows a dropped one is taken; an earlier query's
    // right reply, still on its way, is dropped as well.
    const auto rightReply = [](const std::string& query) { return Reply(query, Ok, 1, 0, 0, AnswerA("192.0.2.99")); };
    std::atomic<const TBuilder*> build{nullptr};
    Serve([&build, &rightReply](const std::string& query, int) {
        TDnsResponse response{rightReply(query), 10};
        response.Early = {(*build.load())(query)};
        return response;
    });
    for (const TCannedReply& canned : CannedReplies()) {
        build = &canned.Build;
        FElapsed = std::chrono::microseconds(12345);
        EXPECT_EQ(Try(), canned.Outcome != Failure) << canned.Name;
        const std::string cannedReply = canned.Build(FResolver.QueryPacket());
        if (canned.Outcome == Dropped) {
            EXPECT_EQ(FResolver.ReplyPacket(), rightReply(FResolver.QueryPacket())) << canned.Name;
        } else {
            EXPECT_EQ(FResolver.ReplyPacket(), cannedReply) << canned.Name << ": not ended by the canned reply";
        }
        if (canned.Outcome == Failure) {
            EXPECT_EQ(FElapsed, std::chrono::microseconds(12345)) << canned.Name << ": time touched on failure";
        }
    }
}

TEST_F(DnsTry, DatagramsThatAreNoResponseDoNotLengthenTheWait)
{
    Serve([](const std::string& query, int) {
        TDnsResponse response;
        response.Early.assign(8, query);
        response.EarlyGapMs = 100;
        return response;
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Try(300));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(290));
    EXPECT_LT(waited, std::chrono::milliseconds(600));
    EXPECT_EQ(FResolver.ReplyLength(), 0);
    EXPECT_TRUE(FResolver.ReplyPacket().empty());
}

TEST_F(DnsTry, LocalhostInAnyCaseQueriesLoopback)
{
    ServeCanned(CnameChain);
    EXPECT_TRUE(Try(2000, "LocalHost"));
    EXPECT_TRUE(Try(2000, "LOCALHOST"));
}

TEST_F(DnsTry, SilenceFailsAtTheTimeout)
{
    Serve([](const std::string&, int) { return TDnsResponse{}; });
    EXPECT_FALSE(Try(200));
    EXPECT_EQ(FResolver.ReplyLength(), 0);
}

TEST_F(DnsTry, RefusedPortFails)
{
    ServeCanned(CnameChain);
    ASSERT_TRUE(Try());
    FResolver.SetPort(TDnsResponder::UnusedPort());
    EXPECT_FALSE(Try());
    // The reply is still decoded (and emptied) after the failed receive.
    EXPECT_TRUE(FResolver.Answers.empty());
    EXPECT_EQ(FResolver.ReplyLength(), 0);
    FResolver.Questions = {{DNSQueryHostName, DnsTypeA, DnsClassIN}};
    try {
        FResolver.RunQuery();
        ADD_FAILURE() << "no error";
    } catch (const EIdSocketError& error) {
        EXPECT_NE(std::string(error.what()).find("Connection refused."), std::string::npos);
    }
}

TEST_F(DnsTry, FailedNameLookupFails)
{
    THostLookupScope lookup([](const std::string&) { return std::optional<std::string>(); });
    ServeCanned(CnameChain);
    EXPECT_FALSE(Try(2000, "dns.invalid"));
}

TEST_F(DnsTry, AGarbageDatagramOf64KiBIsDroppedAndTheRightReplyStillCounts)
{
    Serve([](const std::string& query, int) {
        TDnsResponse response{CnameChain(query), 10};
        response.Early = {std::string(65000, '\xC0')};
        return response;
    });
    EXPECT_TRUE(Try());
    Serve([](const std::string&, int) { return TDnsResponse{std::string(65000, '\xC0')}; });
    EXPECT_FALSE(Try(300));
}

TEST_F(DnsTry, ALateReplyToOneTryIsNotTakenForTheNext)
{
    // The first reply comes after its try gave up, while the second try waits;
    // the second's own reply follows it.
    Serve([](const std::string& query, int index) {
        return TDnsResponse{CnameChain(query), index == 0 ? 1000 : 0};
    });
    EXPECT_FALSE(Try(300));
    ASSERT_TRUE(Try(2000));
    ASSERT_EQ(FResponder->QueryCount(), 2);
    EXPECT_EQ(FResolver.DNSHeader.ID, QueryId(FResponder->Queries()[1]));
    EXPECT_GE(FElapsed, std::chrono::milliseconds(600)) << "answered before the late reply came";
    EXPECT_EQ(FResolver.Answers.size(), 4u);
    EXPECT_TRUE(Try(2000));
}

TEST_F(DnsTry, AReplyFromAnotherPortOrAddressIsIgnoredAndTheServersOwnStillCounts)
{
    // A well-formed answer with the right identifier comes first from the
    // wrong place; the server's own follows 300 ms later.
    for (const std::string foreignIP : {"", "127.0.0.2"}) {
        Serve([foreignIP](const std::string& query, int) {
            TDnsResponse response{CnameChain(query), 300};
            response.Foreign = CnameChain(query);
            response.ForeignIP = foreignIP;
            return response;
        });
        ASSERT_TRUE(Try(2000)) << foreignIP;
        EXPECT_GE(FElapsed, std::chrono::milliseconds(290)) << "the foreign answer was taken, from " << (foreignIP.empty() ? "another port" : foreignIP);
        EXPECT_EQ(FResolver.Binding()->PeerPort, FResponder->Port());
    }
}

TEST_F(DnsTry, OnlyAForeignReplyTimesOut)
{
    Serve([](const std::string& query, int) {
        TDnsResponse response;
        response.Foreign = CnameChain(query);
        return response;
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Try(300));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(290));
    EXPECT_EQ(FElapsed, std::chrono::microseconds(12345));
}

TEST_F(DnsTry, AnAbortEndsTheWaitForTheReply)
{
    Serve([](const std::string&, int) { return TDnsResponse{}; });
    std::atomic<bool> abort{false};
    std::atomic<std::chrono::steady_clock::rep> abortedAt{0};
    std::thread aborter([&] {
        // Abort once the try is waiting for its reply, not before it has asked.
        EXPECT_TRUE(WaitFor([&] { return FResponder->QueryCount() > 0; }, std::chrono::seconds(5)));
        abortedAt = std::chrono::steady_clock::now().time_since_epoch().count();
        abort = true;
    });
    const bool ok = MeasureDNSQuery(FResolver, "127.0.0.1", 5000, FElapsed, &abort);
    const auto ended = std::chrono::steady_clock::now();
    aborter.join();
    EXPECT_FALSE(ok);
    const auto latency = ended - std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(abortedAt.load()));
    std::printf("DNS try ended %.1f ms after the abort\n", std::chrono::duration<double, std::milli>(latency).count());
    EXPECT_LT(latency, std::chrono::milliseconds(500));  // 20 ms expected; generous for loaded machines
    // An abort before the try sends nothing.
    EXPECT_FALSE(MeasureDNSQuery(FResolver, "127.0.0.1", 5000, FElapsed, &abort));
    EXPECT_EQ(FResponder->QueryCount(), 1);
    // Without the flag the same resolver waits again.
    FResolver.SetAbortFlag(nullptr);
    EXPECT_FALSE(Try(100));
    EXPECT_EQ(FResponder->QueryCount(), 2);
}

TEST_F(DnsTry, AServerAtAnIPv6AddressIsAskedOverIPv6)
{
    if (!ServeCannedOnIPv6(CnameChain))
        GTEST_SKIP() << "no IPv6 loopback here";
    ASSERT_TRUE(Try(2000, "::1"));
    EXPECT_EQ(FResolver.Answers.size(), 4u);
    EXPECT_EQ(FResolver.Binding()->PeerIP, "::1");
    EXPECT_EQ(FResolver.Binding()->PeerPort, FResponder->Port());
    // A name with only an IPv6 address is asked there too.
    THostLookupScope lookup([](const std::string& host) -> std::vector<std::string> {
        return host == "dns6.example" ? std::vector<std::string>{"::1"} : std::vector<std::string>{};
    });
    ASSERT_TRUE(Try(2000, "dns6.example"));
    EXPECT_EQ(FResponder->QueryCount(), 2);
}

TEST_F(DnsTry, OneResolverGoesBetweenIPv4AndIPv6Servers)
{
    ServeCanned(CnameChain);
    auto v4 = std::move(FResponder);
    if (!ServeCannedOnIPv6(CnameChain))
        GTEST_SKIP() << "no IPv6 loopback here";
    auto v6 = std::move(FResponder);
    for (int round = 0; round < 2; ++round) {
        FResolver.SetPort(v4->Port());
        EXPECT_TRUE(Try(2000, "127.0.0.1")) << round;
        FResolver.SetPort(v6->Port());
        EXPECT_TRUE(Try(2000, "::1")) << round;
    }
    EXPECT_EQ(v4->QueryCount(), 2);
    EXPECT_EQ(v6->QueryCount(), 2);
}

TEST_F(DnsTry, OverIPv6ARefusedPortFailsAndAForeignReplyIsIgnored)
{
    if (!ServeCannedOnIPv6(CnameChain))
        GTEST_SKIP() << "no IPv6 loopback here";
    Serve([](const std::string& query, int) {
        TDnsResponse response{CnameChain(query), 300};
        response.Foreign = CnameChain(query);  // from another port, at once
        return response;
    }, "::1");
    ASSERT_TRUE(Try(2000, "::1"));
    EXPECT_GE(FElapsed, std::chrono::milliseconds(290)) << "the foreign answer was taken";
    FResolver.SetPort(TDnsResponder::UnusedPort("::1"));
    FElapsed = std::chrono::microseconds(12345);
    EXPECT_FALSE(Try(2000, "::1"));
    EXPECT_EQ(FElapsed, std::chrono::microseconds(12345));
}

TEST(DnsTryAtPort53, EndToEnd)
{
    const std::string address = "127.0.0.153";
    std::unique_ptr<TDnsResponder> responder;
    try {
        responder = std::make_unique<TDnsResponder>(
            [](const std::string& query, int) { return TDnsResponse{CnameChain(query)}; }, address, 53);
    } catch (const std::system_error& error) {
        GTEST_SKIP() << "cannot bind " << address << ":53 here (" << error.what() << ")";
    }
    TIdDNSResolver resolver;
    std::chrono::microseconds elapsed{0};
    EXPECT_TRUE(MeasureDNSQuery(resolver, address, 2000, elapsed));
    EXPECT_EQ(resolver.Answers.size(), 4u);
}
