// The datagram client and the process-wide stack, against a loopback peer.

#include "net/IdException.h"
#include "net/IdStack.h"
#include "net/IdUDPClient.h"
#include "tests/support/Dnsresponder.h"
#include "tests/support/Waitfor.h"
#include "vqlib/Vqnet.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace {

TDnsResponse Echo(const std::string& query, int)
{
    return {query};
}

std::unique_ptr<TIdUDPClient> ClientFor(const TDnsResponder& peer, const std::string& host = "127.0.0.1")
{
    auto client = std::make_unique<TIdUDPClient>();
    client->SetHost(host);
    client->SetPort(peer.Port());
    return client;
}

uint16_t LocalPort(const TIdUDPClient& client)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(client.Binding()->Handle(), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

}  // namespace

TEST(IdStack, FirstComponentStartsItAndLastStopsIt)
{
    ASSERT_EQ(TIdStack::UserCount(), 0);
    ASSERT_FALSE(TIdStack::Started());
    {
        TIdUDPClient first;
        EXPECT_TRUE(TIdStack::Started());
        EXPECT_EQ(TIdStack::UserCount(), 1);
        {
            TIdUDPClient second;
            EXPECT_EQ(TIdStack::UserCount(), 2);
        }
        EXPECT_EQ(TIdStack::UserCount(), 1);
        EXPECT_TRUE(TIdStack::Started());
    }
    EXPECT_EQ(TIdStack::UserCount(), 0);
    EXPECT_FALSE(TIdStack::Started());
    TIdUDPClient again;
    EXPECT_TRUE(TIdStack::Started());
}

namespace {

void ClientsComeAndGo(int threadCount)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) {
                auto client = std::make_unique<TIdUDPClient>();
                client->EnsureSocket();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
}

}  // namespace

TEST(IdStack, CountSurvivesClientsComingAndGoingOnManyThreads)
{
    // The stack stops and starts again many times while other threads use it.
    ClientsComeAndGo(8);
    EXPECT_EQ(TIdStack::UserCount(), 0);
    EXPECT_FALSE(TIdStack::Started());
    {
        TIdUDPClient keeper;  // created on this thread, like the UI thread does
        ClientsComeAndGo(8);
        EXPECT_EQ(TIdStack::UserCount(), 1);
        EXPECT_TRUE(TIdStack::Started());
    }
    EXPECT_FALSE(TIdStack::Started());
}

TEST(IdStack, ResolveAddressTakesLocalhostAndDottedQuadsAsTheyAre)
{
    TIdUDPClient client;
    TIdStack& stack = TIdStack::Acquire();
    EXPECT_EQ(stack.ResolveAddress("localhost"), "127.0.0.1");
    EXPECT_EQ(stack.ResolveAddress("LocalHost"), "127.0.0.1");
    EXPECT_EQ(stack.ResolveAddress("LOCALHOST"), "127.0.0.1");
    EXPECT_EQ(stack.ResolveAddress("10.1.2.3"), "10.1.2.3");
    TIdStack::Release();
}

TEST(IdStack, NotQuiteAddressesGoToTheNameLookup)
{
    std::vector<std::string> asked;
    THostLookupScope lookup([&asked](const std::string& host) -> std::optional<std::string> {
        asked.push_back(host);
        if (host == "dns.test")
            return "127.0.0.9";
        return std::nullopt;
    });
    TIdStack& stack = TIdStack::Acquire();
    EXPECT_EQ(stack.ResolveAddress("dns.test"), "127.0.0.9");
    for (const char* host : {"1.2.3.4.5", "1.2.3", "300.1.1.1"}) {
        try {
            stack.ResolveAddress(host);
            ADD_FAILURE() << host << " resolved";
        } catch (const EIdSocketError& error) {
            EXPECT_EQ(error.Code(), Id_WSAHOST_NOT_FOUND);
            EXPECT_STREQ(error.what(), "Socket Error # 11001\r\n");  // no text: number alone
        }
    }
    EXPECT_EQ(asked, (std::vector<std::string>{"dns.test", "1.2.3.4.5", "1.2.3", "300.1.1.1"}));
    TIdStack::Release();
}

// "010.1.1.1" is no dotted quad: inet_addr reads it as 8.1.1.1, and a socket
// sent to 10.1.1.1 would measure another host than a ping of the item.
TEST(IdStack, FamilyOfTakesStrictQuadsAndNumericIPv6)
{
    for (const char* good : {"0.0.0.0", "255.255.255.255", "127.0.0.1"})
        EXPECT_EQ(TIdStack::FamilyOf(good), AF_INET) << good;
    for (const char* good : {"::1", "fe80::1%lo", "::ffff:127.0.0.1"})
        EXPECT_EQ(TIdStack::FamilyOf(good), AF_INET6) << good;
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "300.1.1.1", "1..2.3", "1.2.3.", ".1.2.3", "a.b.c.d",
             "1.2.3.4 ", " 1.2.3.4", "1.2.3.-4", "1.2.3.99999999999999999999", "010.1.1.1", "[::1]"})
        EXPECT_EQ(TIdStack::FamilyOf(bad), AF_UNSPEC) << bad;
}

TEST(IdStack, SocketErrorTextsAndErrnoMapping)
{
    std::vector<int> codes{10004, 10009, 10013, 10014, 10022, 10024};
    for (int code = 10035; code <= 10066; ++code)
        codes.push_back(code);
    ASSERT_EQ(codes.size(), 38u);
    for (int code : codes)
        EXPECT_FALSE(TIdStack::SocketErrorText(code).empty()) << code;
    for (int code : {0, 10003, 10034, 10067, 11001, 2})
        EXPECT_EQ(TIdStack::SocketErrorText(code), "") << code;
    EXPECT_EQ(TIdStack::SocketErrorText(10054), "Connection reset by peer.");
    EXPECT_EQ(TIdStack::SocketErrorText(10060), "Connection timed out.");
    EXPECT_EQ(TIdStack::SocketErrorText(10061), "Connection refused.");
    EXPECT_EQ(TIdStack::SocketErrorText(10065), "No route to host.");

    EXPECT_EQ(TIdStack::ErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(TIdStack::ErrorFromErrno(EMSGSIZE), 10040);
    EXPECT_EQ(TIdStack::ErrorFromErrno(EHOSTUNREACH), 10065);
    EXPECT_EQ(TIdStack::ErrorFromErrno(EAGAIN), 10035);
    EXPECT_EQ(TIdStack::ErrorFromErrno(ENOENT), ENOENT);
}

TEST(IdStack, CheckResultRaisesOnlyForTheErrorValue)
{
    TIdUDPClient client;
    TIdStack& stack = TIdStack::Acquire();
    EXPECT_NO_THROW(stack.CheckResult(0));
    EXPECT_NO_THROW(stack.CheckResult(5));
    try {
        TIdStack::RaiseSocketError(10061);
    } catch (const EIdSocketError& error) {
        EXPECT_EQ(error.Code(), 10061);
        EXPECT_STREQ(error.what(), "Socket Error # 10061\r\nConnection refused.");
    }
    TIdStack::Release();
}

TEST(IdStack, TimeLimitInSecondsAndMicroseconds)
{
    auto limit = TIdStack::TimeLimit(1500);
    ASSERT_TRUE(limit);
    EXPECT_EQ(limit->tv_sec, 1);
    EXPECT_EQ(limit->tv_usec, 500000);
    limit = TIdStack::TimeLimit(0);
    ASSERT_TRUE(limit);
    EXPECT_EQ(limit->tv_sec, 0);
    EXPECT_EQ(limit->tv_usec, 0);
    EXPECT_FALSE(TIdStack::TimeLimit(IdTimeoutInfinite));
}

TEST(IdException, FixedMessages)
{
    EXPECT_STREQ(EIdStackCanNotLoadWinsock("wsock32.dll").what(), "wsock32.dll could not be loaded.");
    EXPECT_STREQ(EIdStackInitializationFailed().what(), "Winsock Initialization Error.");
    EXPECT_STREQ(EIdInvalidSocket().what(), "Cannot allocate socket.");
    EXPECT_STREQ(EIdPackageSizeTooBig().what(), "Package Size Too Big.");
    EXPECT_STREQ(EIdNotAllBytesSent().what(), "Not all bytes sent.");
    EXPECT_STREQ(EIdUDPReceiveErrorZeroBytes().what(), "UDP Receive Error = 0.");
    EXPECT_STREQ(EIdConnClosedGracefully().what(), "Connection Closed Gracefully.");
    const EIdSilentException& silent = EIdConnClosedGracefully();
    const EIdException& base = silent;
    EXPECT_NE(dynamic_cast<const EIdSilentException*>(&base), nullptr);
}

TEST(IdUDPClient, Defaults)
{
    TIdUDPClient client;
    EXPECT_EQ(client.BufferSize(), 8192);
    EXPECT_EQ(client.ReceiveTimeout(), -2);
    EXPECT_FALSE(client.BroadcastEnabled());
    EXPECT_FALSE(client.Active());
    EXPECT_EQ(client.Binding(), nullptr);
}

TEST(IdUDPClient, SendsAndReceivesFromTheSameLocalPort)
{
    TDnsResponder peer(Echo);
    auto client = ClientFor(peer, "LocalHost");
    client->SendPacket("first");
    EXPECT_EQ(client->ReceivePacket(2000), "first");
    uint16_t local = LocalPort(*client);
    EXPECT_EQ(client->Binding()->PeerIP, "127.0.0.1");
    EXPECT_EQ(client->Binding()->PeerPort, peer.Port());
    client->SendPacket("second");
    EXPECT_EQ(client->ReceivePacket(2000), "second");
    EXPECT_EQ(LocalPort(*client), local);
    EXPECT_TRUE(client->Active());
}

TEST(IdUDPClient, TimeOutGivesEmptyBytesAndClearsThePeer)
{
    TDnsResponder peer([](const std::string& query, int index) -> TDnsResponse {
        if (index == 0)
            return {query};
        return {};
    });
    auto client = ClientFor(peer);
    client->SendPacket("answered");
    ASSERT_EQ(client->ReceivePacket(2000), "answered");
    client->SendPacket("ignored");
    client->SetReceiveTimeout(50);
    EXPECT_EQ(client->ReceivePacket(IdTimeoutDefault), "");
    EXPECT_EQ(client->Binding()->PeerIP, "");
    EXPECT_EQ(client->Binding()->PeerPort, 0);
}

TEST(IdUDPClient, WaitReadableRules)
{
    TIdUDPClient closed;
    EXPECT_THROW(closed.WaitReadable(0), EIdConnClosedGracefully);

    TDnsResponder peer(Echo);
    auto client = ClientFor(peer);
    client->EnsureSocket();
    EXPECT_FALSE(client->WaitReadable(0));
    EXPECT_FALSE(client->WaitReadable(-5));  // an invalid limit fails like a time-out
    client->SendPacket("ping");
    EXPECT_TRUE(client->WaitReadable(IdTimeoutInfinite));
    EXPECT_TRUE(client->WaitReadable(0));  // still queued
    EXPECT_EQ(client->ReceivePacket(0), "ping");
}

TEST(IdUDPClient, DatagramLargerThanTheBufferIsAnError)
{
    TDnsResponder peer([](const std::string& query, int) -> TDnsResponse {
        return {std::string(query == "big" ? 8193 : 8192, 'x')};
    });
    auto client = ClientFor(peer);
    client->SendPacket("fits");
    EXPECT_EQ(client->ReceivePacket(2000).size(), 8192u);
    client->SendPacket("big");
    try {
        client->ReceivePacket(2000);
        ADD_FAILURE() << "no error";
    } catch (const EIdSocketError& error) {
        EXPECT_EQ(error.Code(), 10040);
        EXPECT_STREQ(error.what(), "Socket Error # 10040\r\nMessage too long.");
    }
    client->SendPacket("fits");  // the socket goes on working
    EXPECT_EQ(client->ReceivePacket(2000).size(), 8192u);
}

TEST(IdUDPClient, EmptyDatagramIsAnError)
{
    TDnsResponder peer([](const std::string&, int) -> TDnsResponse { return {std::string()}; });
    auto client = ClientFor(peer);
    client->SendPacket("x");
    EXPECT_THROW(client->ReceivePacket(2000), EIdUDPReceiveErrorZeroBytes);
}

TEST(IdUDPClient, RefusedPortReadsConnectionRefused)
{
    TIdUDPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(TDnsResponder::UnusedPort());
    client.SendPacket("anyone?");
    try {
        client.ReceivePacket(2000);
        ADD_FAILURE() << "no error";
    } catch (const EIdSocketError& error) {
        EXPECT_EQ(error.Code(), 10061);
        EXPECT_NE(std::string(error.what()).find("Connection refused."), std::string::npos) << error.what();
    }
    // The refusal is consumed: the next wait is a plain time-out, not a spin.
    EXPECT_EQ(client.ReceivePacket(50), "");
    EXPECT_FALSE(client.WaitReadable(0));
}

TEST(IdUDPClient, OversizeSendIsPackageSizeTooBig)
{
    TDnsResponder peer(Echo);
    auto client = ClientFor(peer);
    EXPECT_THROW(client->SendPacket(std::string(70000, 'x')), EIdPackageSizeTooBig);
}

TEST(IdUDPClient, FailedLookupRaisesBeforeAnySocketExists)
{
    THostLookupScope lookup([](const std::string&) { return std::optional<std::string>(); });
    TIdUDPClient client;
    client.SetHost("no-such-host.test");
    client.SetPort(53);
    EXPECT_THROW(client.SendPacket("x"), EIdSocketError);
    EXPECT_FALSE(client.Active());
}

TEST(IdUDPClient, BroadcastOptionAppliedWhenTheSocketOpens)
{
    for (bool enabled : {false, true}) {
        TIdUDPClient client;
        client.SetBroadcastEnabled(enabled);
        int handle = client.EnsureSocket().Handle();
        int value = -7;
        socklen_t length = sizeof value;
        ASSERT_EQ(getsockopt(handle, SOL_SOCKET, SO_BROADCAST, &value, &length), 0);
        EXPECT_EQ(value != 0, enabled);
    }
}

TEST(IdUDPClient, DeactivatingClosesTheSocketAndUseReopensIt)
{
    TDnsResponder peer(Echo);
    auto client = ClientFor(peer);
    client->SetActive(true);
    EXPECT_TRUE(client->Active());
    client->SetActive(false);
    EXPECT_FALSE(client->Active());
    EXPECT_EQ(client->Binding(), nullptr);
    client->SendPacket("again");
    EXPECT_EQ(client->ReceivePacket(2000), "again");
}

TEST(IdUDPClient, DiscardPendingDropsQueuedDatagramsAndErrors)
{
    TDnsResponder peer(Echo);
    auto client = ClientFor(peer);
    client->DiscardPending();  // no socket yet: nothing to do
    client->SendPacket("one");
    client->SendPacket("two");
    ASSERT_TRUE(WaitFor([&] { return peer.Replies().size() == 2; }, std::chrono::seconds(2)));
    ASSERT_TRUE(client->WaitReadable(2000));
    client->DiscardPending();
    EXPECT_EQ(client->ReceivePacket(0), "");

    client->SetPort(TDnsResponder::UnusedPort());
    client->SendPacket("refused");
    ASSERT_TRUE(client->WaitReadable(2000));  // the refusal is waiting
    client->DiscardPending();
    EXPECT_EQ(client->ReceivePacket(50), "");
}

TEST(IdUDPClient, TheSocketTakesDatagramsOnlyFromItsPeer)
{
    TDnsResponder peer(Echo);
    TDnsResponder other(Echo);
    auto client = ClientFor(peer);
    client->SendPacket("mine");
    ASSERT_EQ(client->ReceivePacket(2000), "mine");
    // Another socket sends to the client's port directly.
    const int stranger = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(stranger, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(LocalPort(*client));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(sendto(stranger, "spoof", 5, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 5);
    close(stranger);
    EXPECT_EQ(client->ReceivePacket(200), "");
    // Another peer: the socket follows it, from the same local port.
    const uint16_t local = LocalPort(*client);
    client->SetPort(other.Port());
    client->SendPacket("moved");
    EXPECT_EQ(client->ReceivePacket(2000), "moved");
    EXPECT_EQ(client->Binding()->PeerPort, other.Port());
    EXPECT_EQ(LocalPort(*client), local);
}

TEST(IdUDPClient, AnAbortEndsAWaitLikeATimeOut)
{
    TDnsResponder silent([](const std::string&, int) { return TDnsResponse{}; });
    auto client = ClientFor(silent);
    std::atomic<bool> abort{false};
    client->SetAbortFlag(&abort);
    client->SendPacket("anyone?");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client->ReceivePacket(150), "");  // a limited wait still ends at its limit
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(145));
    std::thread aborter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        abort = true;
    });
    EXPECT_FALSE(client->WaitReadable(IdTimeoutInfinite));  // ends although it has no limit
    aborter.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}
