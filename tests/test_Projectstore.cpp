#include "engine/Projectstore.h"

#include "tests/support/Asuser.h"
#include "tests/support/Filesizelimit.h"
#include "tests/support/Scratchdir.h"
#include "vqlib/Vqfiles.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

using Names = std::vector<std::string>;

namespace {

const std::string Home = "\xBC\xD2\xC0\xEF";  // 家里
const std::string ExampleStore = Home + "=gateway^192.0.2.1^0#portal^alpha^1\r\n"
                                 "office=backup^198.51.100.7^0\r\n";

class ProjectStore : public ::testing::Test {
protected:
    std::string Store() const { return FDir.File("Projects.dat"); }
    void WriteStore(const std::string& bytes) const { WriteBytes(Store(), bytes); }
    std::string StoreBytes() const { return ReadBytes(Store()); }
    Names List()
    {
        Names names{"stale"};
        FStore.ListProjects(names);
        return names;
    }

    TScratchDir FDir;
    TProjectStore FStore{FDir.File("Projects.dat")};
};

TDNSDispInfo Item(const std::string& name, const std::string& host, int8_t type)
{
    TDNSDispInfo item;
    item.Name = name;
    item.DomainIP = host;
    item.DoType = type;
    return item;
}

}  // namespace

TEST_F(ProjectStore, ExamplePlanLoadsAndWritesBackTheSameText)
{
    WriteStore(ExampleStore);
    const std::string text = FStore.GetProjectText(Home);
    EXPECT_EQ(text, "gateway^192.0.2.1^0#portal^alpha^1");

    const auto items = TextToItems(text);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].Name, "gateway");
    EXPECT_EQ(items[0].DomainIP, "192.0.2.1");
    EXPECT_EQ(items[0].DoType, dtPing);
    EXPECT_EQ(items[1].Name, "portal");
    EXPECT_EQ(items[1].DomainIP, "alpha");
    EXPECT_EQ(items[1].DoType, dtHomePage);
    for (const auto& item : items) {
        EXPECT_EQ(item.State, tsWaiting);
        EXPECT_TRUE(item.Note.empty());
        EXPECT_TRUE(item.IP.empty());
    }
    EXPECT_EQ(ItemsToText(items), text);
    EXPECT_EQ(List(), (Names{Home, "office"}));
}

TEST_F(ProjectStore, MissingStoreReadsEmptyAndFirstWriteCreatesIt)
{
    EXPECT_EQ(FStore.GetProjectText("any"), "");
    EXPECT_EQ(List(), Names{});
    EXPECT_FALSE(std::filesystem::exists(Store()));
    FStore.RemoveProject("any");
    EXPECT_EQ(StoreBytes(), "");
    FStore.SetProjectText("plan", "a^b^0");
    EXPECT_EQ(StoreBytes(), "plan=a^b^0\r\n");
}

TEST_F(ProjectStore, RewritesEvenWhenNothingChanged)
{
    WriteStore("a=x^h^0\nb=y^h^1\r\nc=z^h^0");  // mixed and missing line ends
    FStore.RemoveProject("none");
    EXPECT_EQ(StoreBytes(), "a=x^h^0\r\nb=y^h^1\r\nc=z^h^0\r\n");
}

TEST_F(ProjectStore, LineWithoutEqualsIsNeverListedAndSurvives)
{
    const std::string loose = "just some text";
    WriteStore("a=x^h^0\r\n" + loose + "\r\n=empty^h^0\r\n");
    EXPECT_EQ(List(), (Names{"a"}));
    EXPECT_EQ(FStore.GetProjectText(""), "empty^h^0");  // the line that starts with "="

    FStore.SetProjectText("a", "");
    FStore.SetProjectText("new", "n^h^1");
    FStore.RemoveProject("");  // removes "=empty...", not the loose line
    FStore.SetProjectText("", "");
    EXPECT_EQ(StoreBytes(), "a=\r\n" + loose + "\r\nnew=n^h^1\r\n=\r\n");
    FStore.RemoveProject("a");
    FStore.RemoveProject("");
    EXPECT_EQ(StoreBytes(), loose + "\r\nnew=n^h^1\r\n");
}

TEST_F(ProjectStore, NamesMatchIgnoringCaseForReadAndStore)
{
    WriteStore("Alpha=x^192.0.2.1^0\r\nalpha=y^192.0.2.2^0\r\n");
    EXPECT_EQ(TextToItems(FStore.GetProjectText("alpha")).at(0).Name, "x");
    EXPECT_EQ(List(), (Names{"Alpha", "alpha"}));

    FStore.SetProjectText("ALPHA", "z^192.0.2.3^1");
    EXPECT_EQ(StoreBytes(), "ALPHA=z^192.0.2.3^1\r\nalpha=y^192.0.2.2^0\r\n");

    FStore.RemoveProject("alpha");  // exact match: the second line
    EXPECT_EQ(StoreBytes(), "ALPHA=z^192.0.2.3^1\r\n");
    FStore.RemoveProject("Alpha");  // no exact match: nothing removed
    EXPECT_EQ(StoreBytes(), "ALPHA=z^192.0.2.3^1\r\n");
}

TEST_F(ProjectStore, EmptyPlanIsStoredUnderItsExactName)
{
    WriteStore("Plan=a^h^0\r\nother=b^h^0\r\nplan=c^h^0\r\nplan=d^h^0\r\n");
    FStore.SetProjectText("plan", "");
    EXPECT_EQ(StoreBytes(), "Plan=a^h^0\r\nother=b^h^0\r\nplan=\r\nplan=\r\n");
    FStore.SetProjectText("fresh", "");
    EXPECT_EQ(StoreBytes(), "Plan=a^h^0\r\nother=b^h^0\r\nplan=\r\nplan=\r\nfresh=\r\n");
    EXPECT_EQ(List(), (Names{"Plan", "other", "plan", "plan", "fresh"}));
}

TEST_F(ProjectStore, NewPlanIsAppendedAndExistingReplacedInPlace)
{
    WriteStore(ExampleStore);
    FStore.SetProjectText("test", "t^h^0");
    FStore.SetProjectText(Home, "only^192.0.2.1^0");
    EXPECT_EQ(StoreBytes(), Home + "=only^192.0.2.1^0\r\noffice=backup^198.51.100.7^0\r\ntest=t^h^0\r\n");
}

// Another program (a second window, an editor) writes the file between this
// store's reads and writes: a save keeps everything it wrote but the plan saved.
TEST_F(ProjectStore, SaveKeepsWhatAnotherProgramWroteMeanwhile)
{
    WriteStore(ExampleStore);
    EXPECT_EQ(FStore.OpenProjectText(Home), "gateway^192.0.2.1^0#portal^alpha^1");
    WriteStore(ExampleStore + "theirs=t^192.0.2.9^0\r\n");
    FStore.SetProjectText(Home, "mine^192.0.2.2^0");
    FStore.SetProjectText("fresh", "f^192.0.2.3^1");
    EXPECT_EQ(StoreBytes(), Home + "=mine^192.0.2.2^0\r\noffice=backup^198.51.100.7^0\r\n"
                                   "theirs=t^192.0.2.9^0\r\nfresh=f^192.0.2.3^1\r\n");

    WriteStore("fresh=f^192.0.2.3^1\r\nlater=l^192.0.2.4^0\r\n" + Home + "=mine^192.0.2.2^0\r\n");
    FStore.RemoveProject(Home);
    EXPECT_EQ(StoreBytes(), "fresh=f^192.0.2.3^1\r\nlater=l^192.0.2.4^0\r\n");
    // A plan this store deleted and saves again under the name is a new one.
    FStore.SetProjectText(Home, "again^192.0.2.5^0");
    EXPECT_EQ(FStore.GetProjectText(Home), "again^192.0.2.5^0");
}

// The plan this store opened was changed, deleted or made elsewhere since: the
// save is refused and the file stays as the other program left it, until the
// plan is opened again.
TEST_F(ProjectStore, SaveOfAPlanChangedElsewhereIsRefused)
{
    const std::string changed = Home + "=theirs^192.0.2.9^0\r\noffice=backup^198.51.100.7^0\r\n";
    for (const std::string& elsewhere : {changed, std::string("office=backup^198.51.100.7^0\r\n")}) {
        WriteStore(ExampleStore);
        FStore.OpenProjectText(Home);
        WriteStore(elsewhere);
        try {
            FStore.SetProjectText(Home, "mine^192.0.2.2^0");
            ADD_FAILURE() << "saved over another program's change";
        } catch (const EStoreConflict& error) {
            EXPECT_NE(std::string(error.what()).find("\xE5\xAE\xB6\xE9\x87\x8C"), std::string::npos)  // 家里
                << error.what();
        }
        EXPECT_EQ(StoreBytes(), elsewhere);
        EXPECT_THROW(FStore.SetProjectText(Home, "mine^192.0.2.2^0"), EStoreConflict);
    }
    // A plan this store did not open is saved over, as by "save as".
    FStore.SetProjectText("office", "o^192.0.2.7^0");
    EXPECT_EQ(FStore.GetProjectText("office"), "o^192.0.2.7^0");

    FStore.OpenProjectText(Home);
    FStore.SetProjectText(Home, "mine^192.0.2.2^0");
    EXPECT_EQ(FStore.GetProjectText(Home), "mine^192.0.2.2^0");
    // Its own save is what the next one starts from.
    FStore.SetProjectText(Home, "again^192.0.2.3^0");
    EXPECT_EQ(FStore.GetProjectText(Home), "again^192.0.2.3^0");

    FStore.OpenProjectText("unsaved");
    WriteStore("unsaved=made^192.0.2.8^0\r\n");
    EXPECT_THROW(FStore.SetProjectText("UNSAVED", "mine^192.0.2.2^0"), EStoreConflict);
    EXPECT_EQ(StoreBytes(), "unsaved=made^192.0.2.8^0\r\n");
}

TEST_F(ProjectStore, ChineseNamesFoldOnlyAsciiLetters)
{
    // 0x81 0x41 and 0x81 0x61 are two different characters.
    WriteStore("\x81\x41=first^h^0\r\n");
    EXPECT_EQ(FStore.GetProjectText("\x81\x61"), "");
    EXPECT_EQ(FStore.GetProjectText("\x81\x41"), "first^h^0");
    WriteStore("\xBC\xD2" "Ab=x^h^0\r\n");
    EXPECT_EQ(FStore.GetProjectText("\xBC\xD2" "aB"), "x^h^0");
}

// Zero and control bytes are bytes like any other: the plans after them are
// listed and read whole, and storing or removing another plan changes only
// that plan's line.
TEST_F(ProjectStore, ZeroAndControlBytesKeepTheWholeStore)
{
    using namespace std::string_literals;
    const std::string damaged = "b\0c=y\0z^127.0.0.1\0x^0#w^h^1\r\n"s;
    const std::string control = "\x01\x1A" "ctl=q^h\x7F^2\r\n"
                                "no equals\x1B[2J\r\n";
    const std::string after = "after=p^192.0.2.9^0#" + Home + "^localhost^2\r\n";
    WriteStore("a=x^h^0\r\n" + damaged + control + after);

    EXPECT_EQ(List(), (Names{"a", "b\0c"s, "\x01\x1A" "ctl", "after"}));
    const auto items = TextToItems(FStore.GetProjectText("after"));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].Name, Home);
    EXPECT_EQ(items[1].DomainIP, "localhost");
    EXPECT_EQ(items[1].DoType, dtDNSQuery);
    const auto kept = TextToItems(FStore.GetProjectText("B\0C"s));
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].Name, "y\0z"s);
    EXPECT_EQ(kept[0].DomainIP, "127.0.0.1\0x"s);
    EXPECT_EQ(kept[1].Name, "w");

    FStore.SetProjectText("new", "n^h^0");
    EXPECT_EQ(StoreBytes(), "a=x^h^0\r\n" + damaged + control + after + "new=n^h^0\r\n");
    FStore.SetProjectText("AFTER", "r^h^1");
    FStore.RemoveProject("a");
    EXPECT_EQ(StoreBytes(), damaged + control + "AFTER=r^h^1\r\nnew=n^h^0\r\n");
}

TEST_F(ProjectStore, UnreadableStoreIsReported)
{
    std::filesystem::create_directory(Store());
    try {
        FStore.GetProjectText("a");
        FAIL() << "no error";
    } catch (const EFileError& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot open file " + Store());
    }
}

TEST_F(ProjectStore, FailedWriteLeavesTheOldStoreByteForByte)
{
    WriteStore(ExampleStore);
    std::string error;
    {
        TFileSizeLimit limit(ExampleStore.size());  // the larger store cannot be written
        try {
            FStore.SetProjectText("more", std::string(500, 'x') + "^h^0");
        } catch (const EFileError& e) {
            error = e.what();
        }
    }

    EXPECT_EQ(error, "Cannot create file " + Store());
    EXPECT_EQ(StoreBytes(), ExampleStore);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(FDir.Path()), {}), 1);
}

TEST_F(ProjectStore, ReadOnlyStoreStaysAndReadOnlyFolderIsWrittenInPlace)
{
    const std::string folder = FDir.Path().string();
    WriteStore(ExampleStore);
    ASSERT_EQ(::chown(folder.c_str(), OrdinaryUid(), OrdinaryGid()), 0);
    ASSERT_EQ(::chown(Store().c_str(), OrdinaryUid(), OrdinaryGid()), 0);
    ::chmod(folder.c_str(), 0755);
    ::chmod(Store().c_str(), 0444);
    auto asUser = [&](const std::function<void()>& change) {
        const TUserRun run = RunAsOrdinaryUser(folder, [&] {
            change();
            return std::string("ok");
        });
        return run.Ran ? run.Result : "skip: " + run.SkipReason;
    };

    const std::string refused = asUser([&] { FStore.SetProjectText("office", "n^h^1"); });
    if (refused.rfind("skip: ", 0) == 0)
        GTEST_SKIP() << refused;
    EXPECT_EQ(refused, "error: Cannot create file " + Store());
    EXPECT_EQ(asUser([&] { FStore.RemoveProject("office"); }), "error: Cannot create file " + Store());
    EXPECT_EQ(StoreBytes(), ExampleStore);

    ::chmod(Store().c_str(), 0644);
    ::chmod(folder.c_str(), 0555);  // the folder takes no new file, the store may still change
    EXPECT_EQ(asUser([&] { FStore.SetProjectText("office", "n^h^1"); }), "ok");
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(StoreBytes(), Home + "=gateway^192.0.2.1^0#portal^alpha^1\r\noffice=n^h^1\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(FDir.Path()), {}), 1);
}

// A plan of 100,000 items between two others: read whole, in order, and
// written back byte for byte.
TEST_F(ProjectStore, PlanOfAHundredThousandItemsReadsAndSavesTheSameBytes)
{
    constexpr int kItems = 100000;
    std::string plan;
    for (int i = 0; i < kItems; ++i) {
        if (i)
            plan += '#';
        plan += (i % 2 ? Home : std::string("site")) + std::to_string(i) + "^127.0." + std::to_string(i % 256) +
                ".1^" + std::to_string(i % 3);
    }
    const std::string bytes = "before=a^127.0.0.1^0\r\nbig=" + plan + "\r\nafter=b^127.0.0.2^1\r\n";
    WriteStore(bytes);

    const auto items = TextToItems(FStore.GetProjectText("big"));
    ASSERT_EQ(items.size(), size_t(kItems));
    EXPECT_EQ(items.front().Name, "site0");
    EXPECT_EQ(items.front().DomainIP, "127.0.0.1");
    EXPECT_EQ(items.front().DoType, 0);
    EXPECT_EQ(items[1].Name, Home + "1");
    EXPECT_EQ(items.back().Name, Home + "99999");
    EXPECT_EQ(items.back().DomainIP, "127.0.159.1");
    EXPECT_EQ(items.back().DoType, 99999 % 3);
    EXPECT_EQ(items.back().State, tsWaiting);

    EXPECT_EQ(ItemsToText(items), plan);
    FStore.SetProjectText("big", ItemsToText(items));
    EXPECT_EQ(StoreBytes(), bytes);
    EXPECT_EQ(List(), Names({"before", "big", "after"}));
}

TEST(TextToItems, SkipsMalformedAndEmptyEntries)
{
    const auto items = TextToItems("#gateway^192.0.2.1##portal^alpha^1#^^0#x^y#");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].Name, "portal");
    EXPECT_EQ(items[1].Name, "");
    EXPECT_EQ(items[1].DomainIP, "");
    EXPECT_TRUE(TextToItems("").empty());
    EXPECT_TRUE(TextToItems("a^b").empty());
}

TEST(TextToItems, ExtraPartsAreDroppedAndDuplicatesKept)
{
    const auto items = TextToItems("gateway^192.0.2.1^1^extra#gateway^192.0.2.1^0");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].DoType, dtHomePage);
    EXPECT_EQ(ItemsToText(items), "gateway^192.0.2.1^1#gateway^192.0.2.1^0");
}

TEST(TextToItems, MethodCodeIsTheLowEightBits)
{
    auto typeOf = [](const std::string& method) {
        const auto items = TextToItems("n^h^" + method);
        return items.empty() ? -1000 : static_cast<int>(items[0].DoType);
    };
    EXPECT_EQ(typeOf("1x"), 0);
    EXPECT_EQ(typeOf("1 "), 0);
    EXPECT_EQ(typeOf(""), 0);
    EXPECT_EQ(typeOf(" 1"), 1);
    EXPECT_EQ(typeOf("+1"), 1);
    EXPECT_EQ(typeOf("257"), 1);
    EXPECT_EQ(typeOf("2"), dtDNSQuery);
    EXPECT_EQ(typeOf("-56"), -56);
    EXPECT_EQ(typeOf("99999999999"), 0);  // out of range: the default

    // 200 is held as its low byte and written back as a signed byte.
    const auto items = TextToItems("n^h^200");
    EXPECT_EQ(static_cast<uint8_t>(items.at(0).DoType), 200);
    EXPECT_EQ(ItemsToText(items), "n^h^-56");
}

TEST(TextToItems, DoubleByteCharacterWithCaretTrailSplits)
{
    // 0x81 0x5E is one GBK character, but its trail byte is a "^".
    const auto items = TextToItems("a\x81\x5E" "b^host^0");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].Name, "a\x81");
    EXPECT_EQ(items[0].DomainIP, "b");
    EXPECT_EQ(items[0].DoType, 0);  // "host" is no number
}

TEST(ItemsToText, JoinsEntriesInVectorOrder)
{
    EXPECT_EQ(ItemsToText({}), "");
    EXPECT_EQ(ItemsToText({Item(" a b ", "192.0.2.1", 0)}), " a b ^192.0.2.1^0");
    EXPECT_EQ(ItemsToText({Item("x", "h1", 1), Item("", "", 2), Item("y", "h2", -1)}),
              "x^h1^1#^^2#y^h2^-1");
}

TEST(ParseIntDef, ReadsLikeStreamInput)
{
    EXPECT_EQ(ParseIntDef("42", 7), 42);
    EXPECT_EQ(ParseIntDef("-42", 7), -42);
    EXPECT_EQ(ParseIntDef("\t\r\n +0", 7), 0);
    EXPECT_EQ(ParseIntDef("007", 0), 7);
    EXPECT_EQ(ParseIntDef("2147483647", 7), 2147483647);
    EXPECT_EQ(ParseIntDef("-2147483648", 7), INT32_MIN);
    EXPECT_EQ(ParseIntDef("2147483648", 7), 7);
    EXPECT_EQ(ParseIntDef("-2147483649", 7), 7);
    EXPECT_EQ(ParseIntDef("123456789012345678901234567890", 7), 7);
    for (const char* bad : {"", " ", "+", "-", "+-1", "1 ", "1x", "0x10", "1.5", "- 1", "１"})
        EXPECT_EQ(ParseIntDef(bad, 7), 7) << bad;
}
