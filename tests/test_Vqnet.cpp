#include "vqlib/Vqnet.h"

#include <gtest/gtest.h>

#include <netdb.h>

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

TEST(LookupHostIPv4, TheSystemAnswersLiteralsAndAFailedSeamReadsAsAnUnknownName)
{
    THostAddress found = LookupHostIPv4("127.0.0.1");
    EXPECT_EQ(found.Address, "127.0.0.1");
    EXPECT_EQ(found.Error, 0);
    THostLookupScope lookup([](const std::string&) { return std::nullopt; });
    found = LookupHostIPv4("127.0.0.1");  // the seam answers even for a literal
    EXPECT_FALSE(found.Address);
    EXPECT_EQ(found.Error, EAI_NONAME);
}
