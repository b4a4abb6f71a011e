#include "vqlib/Vqnet.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// Restores the system lookup after each test.
class ResolveHostIP : public ::testing::Test {
protected:
    void TearDown() override { TWASTool::SetHostLookup(nullptr); }
};

}  // namespace

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

TEST_F(ResolveHostIP, LiteralAddressAndLocalhost)
{
    TWASTool tool;
    std::string ip = "unchanged";
    ASSERT_TRUE(tool.ResolveHostIP("127.0.0.1", ip));
    EXPECT_EQ(ip, "127.0.0.1");
    ip.clear();
    ASSERT_TRUE(tool.ResolveHostIP("localhost", ip));
    EXPECT_EQ(ip.rfind("127.", 0), 0u) << ip;
}

TEST_F(ResolveHostIP, FailureLeavesIpUntouched)
{
    TWASTool tool;
    TWASTool::SetHostLookup([](const std::string&) { return std::nullopt; });
    std::string ip = "192.0.2.9";
    EXPECT_FALSE(tool.ResolveHostIP("no-such-host.invalid", ip));
    EXPECT_EQ(ip, "192.0.2.9");
    EXPECT_FALSE(tool.ResolveHostIP("", ip));
    EXPECT_EQ(ip, "192.0.2.9");
}

TEST_F(ResolveHostIP, SeamAnswersInsteadOfTheSystem)
{
    TWASTool tool;
    std::string asked;
    TWASTool::SetHostLookup([&](const std::string& host) -> std::optional<std::string> {
        asked = host;
        return "198.51.100.7";
    });
    std::string ip;
    EXPECT_TRUE(tool.ResolveHostIP("portal.example", ip));
    EXPECT_EQ(asked, "portal.example");
    EXPECT_EQ(ip, "198.51.100.7");
}
