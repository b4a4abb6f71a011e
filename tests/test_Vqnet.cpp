#include "vqlib/Vqnet.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <memory>

TEST(TWASTool, FlagIsSharedByAllInstances)
{
    EXPECT_FALSE(TWASTool::Started());
    auto first = std::make_unique<TWASTool>();
    EXPECT_TRUE(TWASTool::Started());
    auto second = std::make_unique<TWASTool>();
    EXPECT_TRUE(TWASTool::Started());
    first.reset();  // stops it for the other one too
    EXPECT_FALSE(TWASTool::Started());
    second.reset();
    EXPECT_FALSE(TWASTool::Started());
    TWASTool again;
    EXPECT_TRUE(TWASTool::Started());
}

TEST(ResolveHostIP, LiteralAddressAndLocalhost)
{
    TWASTool tool;
    std::string ip = "unchanged";
    ASSERT_TRUE(tool.ResolveHostIP("127.0.0.1", ip));
    EXPECT_EQ(ip, "127.0.0.1");
    ip.clear();
    ASSERT_TRUE(tool.ResolveHostIP("localhost", ip));
    EXPECT_EQ(ip.rfind("127.", 0), 0u) << ip;
}

TEST(ResolveHostIP, FailureLeavesIpUntouched)
{
    TWASTool tool;
    THostLookupScope lookup([](const std::string&) { return std::nullopt; });
    std::string ip = "192.0.2.9";
    EXPECT_FALSE(tool.ResolveHostIP("no-such-host.invalid", ip));
    EXPECT_EQ(ip, "192.0.2.9");
    EXPECT_FALSE(tool.ResolveHostIP("", ip));
    EXPECT_EQ(ip, "192.0.2.9");
}

TEST(ResolveHostIP, SeamAnswersInsteadOfTheSystem)
{
    TWASTool tool;
    std::string asked;
    THostLookupScope lookup([&](const std::string& host) -> std::optional<std::string> {
        asked = host;
        return "198.51.100.7";
    });
    std::string ip;
    EXPECT_TRUE(tool.ResolveHostIP("portal.example", ip));
    EXPECT_EQ(asked, "portal.example");
    EXPECT_EQ(ip, "198.51.100.7");
}

TEST(LookupHostAddress, TheSystemAnswersLiteralsAndAFailedSeamReadsAsAnUnknownName)
{
    THostAddress found = LookupHostAddress("127.0.0.1");
    EXPECT_EQ(found.Address, "127.0.0.1");
    EXPECT_EQ(found.Error, 0);
    found = LookupHostAddress("::1");
    EXPECT_EQ(found.Address, "::1");
    THostLookupScope lookup([](const std::string&) { return std::nullopt; });
    found = LookupHostAddress("127.0.0.1");  // the seam answers even for a literal
    EXPECT_FALSE(found.Address);
    EXPECT_EQ(found.Error, EAI_NONAME);
}

// The seam answers with a host's whole address list, as the system would.
TEST(ResolveHostIP, TakesTheFirstIPv4AddressElseTheFirstIPv6One)
{
    THostLookupScope lookup([](const std::string& host) -> std::vector<std::string> {
        if (host == "v4.example")
            return {"192.0.2.1", "192.0.2.2"};
        if (host == "v6.example")
            return {"2001:db8::7", "2001:db8::8"};
        if (host == "both.example")  // IPv6 first, as a system preferring it lists them
            return {"2001:db8::7", "192.0.2.3", "192.0.2.4"};
        return {};
    });
    TWASTool tool;
    std::string ip;
    ASSERT_TRUE(tool.ResolveHostIP("v4.example", ip));
    EXPECT_EQ(ip, "192.0.2.1");
    ASSERT_TRUE(tool.ResolveHostIP("v6.example", ip));
    EXPECT_EQ(ip, "2001:db8::7");
    ASSERT_TRUE(tool.ResolveHostIP("both.example", ip));
    EXPECT_EQ(ip, "192.0.2.3");
    ip = "kept";
    EXPECT_FALSE(tool.ResolveHostIP("none.example", ip));
    EXPECT_EQ(ip, "kept");
}

TEST(PreferredAddress, SkipsWhatIsNoNumericAddress)
{
    EXPECT_EQ(PreferredAddress({"not-an-address", "fe80::1%lo", "10.0.0.1"}), "10.0.0.1");
    EXPECT_EQ(PreferredAddress({"not-an-address", "fe80::1%lo"}), "fe80::1%lo");
    EXPECT_EQ(PreferredAddress({"256.1.1.1", ""}), std::nullopt);
}

// -4 and -6: the first address of that family, or none; the system's own
// lookup asked for localhost keeps to the family too.
TEST(PreferredAddress, AFamilyTakesOnlyItsOwnAddresses)
{
    const std::vector<std::string> both{"2001:db8::6", "192.0.2.4", "192.0.2.5"};
    EXPECT_EQ(PreferredAddress(both, AF_INET), "192.0.2.4");
    EXPECT_EQ(PreferredAddress(both, AF_INET6), "2001:db8::6");
    EXPECT_EQ(PreferredAddress({"192.0.2.4"}, AF_INET6), std::nullopt);
    THostLookupScope lookup([&](const std::string&) { return both; });
    std::string ip;
    EXPECT_TRUE(TWASTool().ResolveHostIP("both.test", ip, AF_INET6));
    EXPECT_EQ(ip, "2001:db8::6");
    EXPECT_EQ(LookupHostAddress("both.test", AF_INET).Address, "192.0.2.4");
}

TEST(LookupHostAddress, LocalhostOfOneFamily)
{
    EXPECT_EQ(LookupHostAddress("localhost", AF_INET).Address, "127.0.0.1");
    EXPECT_EQ(LookupHostAddress("::1", AF_INET6).Address, "::1");
}

TEST(IsIPv6Literal, NumericFormsOnly)
{
    EXPECT_TRUE(IsIPv6Literal("::1"));
    EXPECT_TRUE(IsIPv6Literal("2001:db8::1"));
    EXPECT_TRUE(IsIPv6Literal("::ffff:127.0.0.1"));
    EXPECT_FALSE(IsIPv6Literal("[::1]"));
    EXPECT_FALSE(IsIPv6Literal("127.0.0.1"));
    EXPECT_FALSE(IsIPv6Literal("localhost"));
    EXPECT_FALSE(IsIPv6Literal("1:2:3:4:5:6:7:8:9"));
    EXPECT_FALSE(IsIPv6Literal(""));
}

// What a run measures without a lookup: every form inet_addr reads, and IPv6
// with its zone; brackets only where a web address may hold them.
TEST(IsTargetLiteral, InetAddrFormsAndIPv6)
{
    for (const char* good : {"127.0.0.1", "127.1", "0x7f.1", "010.1.1.1", "2130706433", "::1", "fe80::1%lo"})
        EXPECT_TRUE(IsTargetLiteral(good)) << good;
    for (const char* bad : {"", "255.255.255.255", "localhost", "1.2.3.4.5", "300.1.1.1", "[::1]", "[127.0.0.1]",
             "::1]", "[::1", "example.test"})
        EXPECT_FALSE(IsTargetLiteral(bad)) << bad;
    EXPECT_TRUE(IsTargetLiteral("[::1]", TBrackets::Allowed));
    EXPECT_TRUE(IsTargetLiteral("[fe80::1%lo]", TBrackets::Allowed));
    EXPECT_TRUE(IsTargetLiteral("127.1", TBrackets::Allowed));
    for (const char* bad : {"[127.0.0.1]", "[]", "[[::1]]", "[::1", "::1]", "[localhost]"})
        EXPECT_FALSE(IsTargetLiteral(bad, TBrackets::Allowed)) << bad;
}

// An endpoint the user names takes inet_pton's forms only: no loose IPv4, no
// zone, no brackets, no name.
TEST(StrictSocketAddress, InetPtonFormsOnly)
{
    const std::optional<TSocketAddress> v4 = StrictSocketAddress("127.0.0.2", 9100);
    ASSERT_TRUE(v4);
    ASSERT_EQ(v4->Family(), AF_INET);
    ASSERT_EQ(v4->Length, sizeof(sockaddr_in));
    const auto* in = reinterpret_cast<const sockaddr_in*>(v4->Address());
    EXPECT_EQ(ntohs(in->sin_port), 9100);
    EXPECT_EQ(ntohl(in->sin_addr.s_addr), 0x7f000002u);

    const std::optional<TSocketAddress> v6 = StrictSocketAddress("::1", 443);
    ASSERT_TRUE(v6);
    ASSERT_EQ(v6->Family(), AF_INET6);
    ASSERT_EQ(v6->Length, sizeof(sockaddr_in6));
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(v6->Address());
    EXPECT_EQ(ntohs(in6->sin6_port), 443);
    EXPECT_TRUE(IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr));

    EXPECT_EQ(StrictAddressFamily("255.255.255.255"), AF_INET);
    EXPECT_EQ(StrictAddressFamily("::ffff:127.0.0.1"), AF_INET6);
    for (const char* bad : {"", "127.1", "0x7f.0.0.1", "010.1.1.1", "2130706433", "1.2.3.4 ", "localhost", "[::1]",
             "fe80::1%lo", "1:2:3:4:5:6:7:8:9"}) {
        EXPECT_FALSE(StrictSocketAddress(bad, 1)) << bad;
        EXPECT_EQ(StrictAddressFamily(bad), AF_UNSPEC) << bad;
    }
}

// The C functions stop at a zero byte: "127.0.0.1\0x" must not be taken for
// 127.0.0.1, nor "localhost\0x" be looked up as localhost.
TEST(LookupHostAddress, AHostWithAZeroByteIsNoAddressAndNoName)
{
    using namespace std::string_literals;
    EXPECT_TRUE(IsTargetLiteral("127.1"));
    EXPECT_FALSE(IsTargetLiteral("127.0.0.1\0x"s));
    EXPECT_FALSE(IsTargetLiteral("[::1]\0"s, TBrackets::Allowed));
    EXPECT_FALSE(IsIPv6Literal("::1\0x"s));
    EXPECT_FALSE(StrictSocketAddress("127.0.0.1\0x"s, 80));
    EXPECT_FALSE(StrictSocketAddress("::1\0"s, 80));
    EXPECT_EQ(PreferredAddress({"127.0.0.1\0x"s, "::1\0x"s}), std::nullopt);
    for (const std::string& host : {"127.0.0.1\0x"s, "localhost\0x"s, "::1\0"s}) {
        const THostAddress found = LookupHostAddress(host);
        EXPECT_EQ(found.Address, std::nullopt) << found.Address.value_or("");
        EXPECT_EQ(found.Error, EAI_NONAME);
    }
    int asked = 0;
    THostLookupScope lookup([&](const std::string&) -> std::optional<std::string> {
        ++asked;
        return "127.0.0.1";
    });
    TWASTool tool;
    std::string ip = "kept";
    EXPECT_FALSE(tool.ResolveHostIP("portal.example\0x"s, ip));
    EXPECT_EQ(ip, "kept");
    EXPECT_EQ(asked, 0);
}
