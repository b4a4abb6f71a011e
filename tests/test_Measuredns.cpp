#include "engine/Measuredns.h"
#include "engine/Thread.h"
#include "engine/Tryloop.h"
#include "net/IdDNSResolver.h"
#include "tests/support/Dnsresponder.h"
#include "vqlib/Vqnet.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

TDnsResponse Answer(const std::string& query)
{
    return TDnsResponse(
        dnsmsg::Reply(query, 0x8180, 1, 0, 0, dnsmsg::Record(dnsmsg::Pointer(12), 1, 60, dnsmsg::AData("127.0.0.9"))));
}

// Queries in flight at once on the loop, each with a resolver of its own,
// as each worker has.
class TQueries {
public:
    TQueries() : FLoop(TTryLoop::Hold()) {}
    ~TQueries()
    {
        FLoop.Release();
        TThread::JoinAll();
    }

    std::vector<std::optional<TTryOutcome>> Run(size_t count, const std::string& server, uint16_t port, int32_t timeout,
                                                const std::string& name = DNSQueryHostName,
                                                const std::atomic<bool>* abort = nullptr)
    {
        std::vector<std::unique_ptr<TIdDNSResolver>> resolvers;
        for (size_t i = 0; i < count; ++i) {
            resolvers.push_back(std::make_unique<TIdDNSResolver>());
            resolvers.back()->SetPort(port);
        }
        std::vector<std::optional<TTryOutcome>> outcomes(count);
        size_t ended = 0;
        FLoop.Post([&] {
            for (size_t i = 0; i < count; ++i) {
                StartDNSQuery(
                    FLoop, *resolvers[i], server, timeout, abort,
                    [&, i](const TTryOutcome& outcome) {
                        std::lock_guard lock(FMutex);
                        outcomes[i] = outcome;
                        ++ended;
                        FChanged.notify_all();
                    },
                    name);
            }
        });
        std::unique_lock lock(FMutex);
        FChanged.wait(lock, [&] { return ended == count; });
        return outcomes;
    }

private:
    TTryLoop& FLoop;
    std::mutex FMutex;
    std::condition_variable FChanged;
};

// The server of a DNS item: its host as measured, and port 53 unless the
// text gives another.
TEST(ParseDnsServer, HostAndPortOfEachForm)
{
    const auto parsed = [](const std::string& text) {
        const std::optional<TDnsServer> server = ParseDnsServer(text);
        return server ? server->Host + " " + std::to_string(server->Port) : std::string("none");
    };
    EXPECT_EQ(parsed("127.0.0.154"), "127.0.0.154 53");
    EXPECT_EQ(parsed("127.1"), "127.1 53");
    EXPECT_EQ(parsed("dns.test"), "dns.test 53");
    EXPECT_EQ(parsed("::1"), "::1 53");
    EXPECT_EQ(parsed("fe80::1%lo"), "fe80::1%lo 53");
    EXPECT_EQ(parsed("[::1]"), "::1 53");
    EXPECT_EQ(parsed("127.0.0.1:5353"), "127.0.0.1 5353");
    EXPECT_EQ(parsed("dns.test:1"), "dns.test 1");
    EXPECT_EQ(parsed("[::1]:65535"), "::1 65535");
    for (const std::string bad : {"", "[::1", "::1]", "[]", "a:b:c", "h:0", "h:65536", "h:", ":53", "[127.0.0.1]:53",
                                  "[127.0.0.1]", "[::1]:x"})
        EXPECT_EQ(parsed(bad), "none") << bad;
}

TEST(StartDNSQuery, TwoHundredQueriesInFlightAtOnceEachTakeTheirOwnReply)
{
    TDnsResponder responder([](const std::string& query, int) { return Answer(query); });
    TQueries queries;
    const auto outcomes = queries.Run(200, "127.0.0.1", responder.Port(), 5000);
    for (const auto& outcome : outcomes)
        EXPECT_TRUE(outcome->Ok);
    EXPECT_EQ(responder.QueryCount(), 200);
}

TEST(StartDNSQuery, WhatIsNotTheReplyIsDroppedAndTheWaitGoesOn)
{
    TDnsResponder responder([](const std::string& query, int) {
        TDnsResponse response = Answer(query);
        response.DelayMs = 100;
        // Another identifier, and a reply from another port: neither is the reply.
        response.Early.push_back(dnsmsg::Reply(dnsmsg::Query(static_cast<uint16_t>(dnsmsg::QueryId(query) ^ 1),
                                                             DNSQueryHostName),
                                               0x8180, 0, 0, 0));
        response.Foreign = *Answer(query).Bytes;
        return response;
    });
    TQueries queries;
    const auto outcomes = queries.Run(3, "localhost", responder.Port(), 5000);
    for (const auto& outcome : outcomes) {
        EXPECT_TRUE(outcome->Ok);
        EXPECT_GE(outcome->Elapsed, 90ms);  // timed to the real reply
    }
}

TEST(StartDNSQuery, AnErrorReplyFailsAtOnceAndSilenceFailsAtTheTimeLimit)
{
    TDnsResponder refusing([](const std::string& query, int) { return TDnsResponse(dnsmsg::Reply(query, 0x8185, 0, 0, 0)); });
    TDnsResponder silent([](const std::string&, int) { return TDnsResponse(std::nullopt); });
    TQueries queries;
    const auto started = std::chrono::steady_clock::now();
    const TTryOutcome answeredRefused = *queries.Run(1, "127.0.0.1", refusing.Port(), 5000)[0];
    EXPECT_FALSE(answeredRefused.Ok);
    EXPECT_EQ(answeredRefused.Cause, TTryCause::DnsAnswer);
    EXPECT_EQ(answeredRefused.DnsRcode, 5);  // REFUSED
    EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
    const auto waited = std::chrono::steady_clock::now();
    const TTryOutcome unanswered = *queries.Run(2, "127.0.0.1", silent.Port(), 300)[0];
    EXPECT_FALSE(unanswered.Ok);
    EXPECT_EQ(unanswered.Cause, TTryCause::Timeout);
    EXPECT_GE(std::chrono::steady_clock::now() - waited, 290ms);
    // Nobody at the port: the refusal ends the try.
    const TTryOutcome nobody = *queries.Run(1, "127.0.0.1", TDnsResponder::UnusedPort(), 5000)[0];
    EXPECT_FALSE(nobody.Ok);
    EXPECT_EQ(nobody.Cause, TTryCause::Refused);
}

// Replies with another identifier or another question, then silence: the
// server did answer, only not to the query; a stop of the run stays a stop.
TEST(StartDNSQuery, OnlyRepliesThatDoNotFitEndAsABadReply)
{
    TDnsResponder unfitting([](const std::string& query, int) {
        TDnsResponse response(std::nullopt);
        const uint16_t id = dnsmsg::QueryId(query);
        response.Early.push_back(
            dnsmsg::Reply(dnsmsg::Query(static_cast<uint16_t>(id ^ 1), DNSQueryHostName), 0x8180, 0, 0, 0));
        response.Early.push_back(dnsmsg::Reply(dnsmsg::Query(id, "other.example"), 0x8180, 0, 0, 0));
        return response;
    });
    TQueries queries;
    const auto waited = std::chrono::steady_clock::now();
    const TTryOutcome dropped = *queries.Run(1, "127.0.0.1", unfitting.Port(), 300)[0];
    EXPECT_FALSE(dropped.Ok);
    EXPECT_EQ(dropped.Cause, TTryCause::BadReply);
    EXPECT_GE(std::chrono::steady_clock::now() - waited, 290ms);

    std::atomic<bool> abort{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(200ms);
        abort = true;
    });
    const TTryOutcome stopped = *queries.Run(1, "127.0.0.1", unfitting.Port(), 5000, DNSQueryHostName, &abort)[0];
    stopper.join();
    EXPECT_FALSE(stopped.Ok);
    EXPECT_EQ(stopped.Cause, TTryCause::Aborted);
    EXPECT_EQ(unfitting.QueryCount(), 2);
}

// The question is the name given, or the fixed one, whether the server is
// an address (asked from the loop) or a name (asked off it).
TEST(StartDNSQuery, AsksForTheNameGivenByAddressAndByName)
{
    TDnsResponder responder([](const std::string& query, int) { return Answer(query); });
    THostLookupScope lookup([](const std::string& host) -> std::optional<std::string> {
        return host == "dns.test" ? std::optional<std::string>("127.0.0.1") : std::nullopt;
    });
    TQueries queries;
    EXPECT_TRUE(queries.Run(1, "127.0.0.1", responder.Port(), 5000, "probe.example.test")[0]->Ok);
    EXPECT_TRUE(queries.Run(1, "dns.test", responder.Port(), 5000, "other.test")[0]->Ok);
    EXPECT_TRUE(queries.Run(1, "127.0.0.1", responder.Port(), 5000)[0]->Ok);
    const std::vector<std::string> asked = responder.Queries();
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(dnsmsg::QuestionOf(asked[0]), dnsmsg::Question(dnsmsg::Name("probe.example.test")));
    EXPECT_EQ(dnsmsg::QuestionOf(asked[1]), dnsmsg::Question(dnsmsg::Name("other.test")));
    EXPECT_EQ(dnsmsg::QuestionOf(asked[2]), dnsmsg::Question(dnsmsg::Name(DNSQueryHostName)));
}

}  // namespace
