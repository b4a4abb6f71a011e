// orvel-cli run as a process against a store the test writes.

#include "vqlib/Gbk.h"
#include "vqlib/Vqfiles.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

struct TOutcome {
    int Status = -1;
    std::string Out;
    std::string Err;
};

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Quoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

class OrvelCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        FDir = fs::temp_directory_path() / ("orvel-cli-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(FDir);
        fs::create_directories(FDir);
    }
    void TearDown() override { fs::remove_all(FDir); }

    // Plan lines and the setting are given in UTF-8 and stored in GBK.
    void WriteStore(const std::vector<std::string>& linesUtf8, const std::string& settingUtf8)
    {
        std::vector<std::string> lines;
        for (const std::string& line : linesUtf8)
            lines.push_back(Utf8ToGbk(line).value());
        SaveLinesToFile((FDir / "Projects.dat").string(), lines);
        SaveLinesToFile((FDir / "DestLists.ini").string(),
                        {"[config]", "project=" + Utf8ToGbk(settingUtf8).value()});
    }

    TOutcome Run(const std::string& args)
    {
        fs::path out = FDir / "stdout", err = FDir / "stderr";
        std::string command = std::string(ORVEL_BIN_DIR) + "/orvel-cli " + args + " >" + Quoted(out) +
                              " 2>" + Quoted(err) + " </dev/null";
        int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(out), ReadFile(err)};
    }

    std::string DirArg() const { return "--dir " + Quoted(FDir.string()); }

    fs::path FDir;
};

TEST_F(OrvelCli, ListsPlansInStoreOrderInUtf8)
{
    WriteStore({"家里=a^127.0.0.1^0", "no equals sign", "office="}, "家里");
    TOutcome result = Run("--list " + DirArg());
    EXPECT_EQ(result.Status, 0);
    EXPECT_EQ(result.Out, "家里\noffice\n");
    EXPECT_EQ(result.Err, "");
}

TEST_F(OrvelCli, BadUsageAndUnknownPlansExitTwoWithOneLine)
{
    WriteStore({"家里=a^127.0.0.1^0"}, "家里");
    for (const std::string& args : {std::string("--format xml"), std::string("--bogus"),
                                    "--plan 办公室 " + DirArg(), "--plan " + Quoted("\xF0\x9F\x98\x80") + " " + DirArg()}) {
        TOutcome result = Run(args);
        EXPECT_EQ(result.Status, 2) << args;
        EXPECT_EQ(result.Out, "") << args;
        EXPECT_EQ(std::count(result.Err.begin(), result.Err.end(), '\n'), 1) << result.Err;
        EXPECT_EQ(result.Err.rfind("orvel-cli: ", 0), 0u) << result.Err;
    }
    EXPECT_NE(Run("--plan 办公室 " + DirArg()).Err.find("unknown plan '办公室'"), std::string::npos);
}

TEST_F(OrvelCli, UnreadableStoreExitsTwoNamingTheFile)
{
    fs::create_directory(FDir / "Projects.dat");  // exists, but cannot be read as a file
    TOutcome result = Run("--plan x " + DirArg());
    EXPECT_EQ(result.Status, 2);
    EXPECT_EQ(result.Err, "orvel-cli: Cannot open file " + (FDir / "Projects.dat").string() + "\n");
}

TEST_F(OrvelCli, NoPlanNamedAnywhereIsBadUsage)
{
    WriteStore({"家里=a^127.0.0.1^0"}, "");
    TOutcome result = Run(DirArg());
    EXPECT_EQ(result.Status, 2);
    EXPECT_NE(result.Err.find("names none"), std::string::npos);
}

TEST_F(OrvelCli, NeverWritesTheStore)
{
    WriteStore({"家里=a^127.0.0.1^1#b^127.0.0.9^7"}, "家里");
    std::string store = ReadFile(FDir / "Projects.dat"), settings = ReadFile(FDir / "DestLists.ini");
    Run("--plan 家里 --format json " + DirArg());
    EXPECT_EQ(ReadFile(FDir / "Projects.dat"), store);
    EXPECT_EQ(ReadFile(FDir / "DestLists.ini"), settings);
}

TEST_F(OrvelCli, HelpAndVersion)
{
    TOutcome help = Run("--help");
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("--format table|csv|json"), std::string::npos);
    TOutcome version = Run("--version");
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Out.rfind("orvel-cli ", 0), 0u);
}

}  // namespace
