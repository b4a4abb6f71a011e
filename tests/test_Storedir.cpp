#include "vqlib/Storedir.h"

#include "tests/support/Asuser.h"
#include "tests/support/Scratchdir.h"
#include "vqlib/Programdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

namespace fs = std::filesystem;

namespace {

// Sets or unsets an environment variable for one scope.
class TEnvScope {
public:
    TEnvScope(const char* name, const char* value) : FName(name)
    {
        if (const char* old = std::getenv(name))
            FOld = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~TEnvScope() { FOld ? ::setenv(FName, FOld->c_str(), 1) : ::unsetenv(FName); }
    TEnvScope(const TEnvScope&) = delete;
    TEnvScope& operator=(const TEnvScope&) = delete;

private:
    const char* FName;
    std::optional<std::string> FOld;
};

std::string MadeFolder(const fs::path& path)
{
    fs::create_directories(path);
    return path.string();
}

mode_t ModeOf(const fs::path& path)
{
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

// A tree laid out as an installation: bin/ with the program, share/orvel/
// with the delivered plan, and a user's data folder that does not exist yet.
class InstalledTree : public ::testing::Test {
protected:
    void Deliver(bool withSettings = true)
    {
        fs::create_directories(Share());
        WriteBytes(Share() / "Projects.dat", "delivered=a^127.0.0.1^0\r\n");
        if (withSettings)
            WriteBytes(Share() / "DestLists.ini", "[config]\r\nproject=delivered\r\n");
    }
    fs::path Bin() const { return Dir.Path() / "usr" / "bin"; }
    fs::path Share() const { return Dir.Path() / "usr" / "share" / "orvel"; }
    fs::path User() const { return Dir.Path() / "home" / ".local" / "share" / "orvel"; }

    TScratchDir Dir;
    TProgramDirScope ProgramDir{MadeFolder(Bin())};
};

TEST(UserDataDir, FollowsXdgDataHomeElseTheHomeFolder)
{
    const TEnvScope home("HOME", "/home/someone");
    {
        const TEnvScope xdg("XDG_DATA_HOME", "/data/xdg");
        EXPECT_EQ(UserDataDir(), "/data/xdg/orvel");
    }
    {
        const TEnvScope xdg("XDG_DATA_HOME", "");  // empty counts as unset
        EXPECT_EQ(UserDataDir(), "/home/someone/.local/share/orvel");
    }
    const TEnvScope xdg("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(UserDataDir(), "/home/someone/.local/share/orvel");
    {
        const TEnvScope slash("HOME", "/home/someone/");
        EXPECT_EQ(UserDataDir(), "/home/someone/.local/share/orvel");
    }
    {
        const TEnvScope dots("HOME", "/home/x/../someone");
        EXPECT_EQ(UserDataDir(), "/home/someone/.local/share/orvel");
    }
}

TEST_F(InstalledTree, ACopyRunningFromItsOwnFolderKeepsItsStoreThere)
{
    // No share/orvel/Projects.dat beside it: not installed.
    EXPECT_EQ(InstalledPlanDir(), "");
    EXPECT_EQ(StoreDir(User().string()), Bin().string() + "/");
    EXPECT_FALSE(fs::exists(Dir.Path() / "home"));
}

TEST_F(InstalledTree, FirstStartMakesTheUsersFolderWithTheDeliveredPlan)
{
    Deliver();
    EXPECT_EQ(InstalledPlanDir(), Bin().string() + "/../share/orvel/");
    EXPECT_EQ(StoreDir(User().string()), User().string() + "/");
    EXPECT_EQ(ReadBytes(User() / "Projects.dat"), ReadBytes(Share() / "Projects.dat"));
    EXPECT_EQ(ReadBytes(User() / "DestLists.ini"), ReadBytes(Share() / "DestLists.ini"));
    EXPECT_EQ(ModeOf(User()), 0700u);
    EXPECT_EQ(ModeOf(Dir.Path() / "home" / ".local"), 0700u);
    // Nothing but the two files: no copy left half-way.
    EXPECT_EQ(std::distance(fs::directory_iterator(User()), fs::directory_iterator()), 2);
    // A trailing "/" on the folder changes nothing.
    EXPECT_EQ(StoreDir(User().string() + "/"), User().string() + "/");
}

TEST_F(InstalledTree, AStoreTheUserHasIsNeverReplaced)
{
    Deliver();
    fs::create_directories(User());
    WriteBytes(User() / "Projects.dat", "mine=b^127.0.0.2^0\r\n");
    StoreDir(User().string());
    EXPECT_EQ(ReadBytes(User() / "Projects.dat"), "mine=b^127.0.0.2^0\r\n");
    EXPECT_FALSE(fs::exists(User() / "DestLists.ini"));  // would name a plan the user does not have

    // A settings file without a store: the plan comes, the setting stays.
    fs::remove(User() / "Projects.dat");
    WriteBytes(User() / "DestLists.ini", "[config]\r\nproject=mine\r\n");
    StoreDir(User().string());
    EXPECT_EQ(ReadBytes(User() / "Projects.dat"), ReadBytes(Share() / "Projects.dat"));
    EXPECT_EQ(ReadBytes(User() / "DestLists.ini"), "[config]\r\nproject=mine\r\n");
}

TEST_F(InstalledTree, AnInstallationWithoutASettingsFileSeedsThePlanAlone)
{
    Deliver(false);
    StoreDir(User().string());
    EXPECT_TRUE(fs::exists(User() / "Projects.dat"));
    EXPECT_FALSE(fs::exists(User() / "DestLists.ini"));
}

// The installed files belong to root; the user only reads them.
TEST_F(InstalledTree, AnOrdinaryUserGetsAStoreOfTheirOwnOrNoneWithoutAnError)
{
    Deliver();
    const fs::path home = Dir.Path() / "home";
    fs::create_directories(home);
    const fs::path closed = Dir.Path() / "closed";
    fs::create_directories(closed);
    ASSERT_EQ(::chown(home.c_str(), OrdinaryUid(), OrdinaryGid()), 0);
    ::chmod(closed.c_str(), 0555);
    LetOrdinaryUserIn(Dir.Path().string());

    const TUserRun run = RunAsOrdinaryUser(Dir.Path().string(), [&] {
        const std::string own = StoreDir(User().string());
        const std::string refused = StoreDir((closed / "orvel").string());
        return own + "|" + std::to_string(fs::exists(User() / "Projects.dat")) + "|" + refused + "|" +
               std::to_string(fs::exists(closed / "orvel"));
    });
    if (!run.Ran)
        GTEST_SKIP() << run.SkipReason;
    EXPECT_EQ(run.Result, User().string() + "/|1|" + (closed / "orvel").string() + "/|0");
    struct stat info {};
    ASSERT_EQ(::stat((User() / "Projects.dat").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, OrdinaryUid());
}

}  // namespace
