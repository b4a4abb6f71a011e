#include "vqlib/Vqfiles.h"

#include "tests/support/Asuser.h"
#include "tests/support/Filesizelimit.h"
#include "tests/support/Scratchdir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

using Lines = std::vector<std::string>;

namespace {

// Files in the directory other than the given one (left-over temporaries).
std::vector<std::string> OtherFiles(const TScratchDir& dir, const std::string& keep)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        const auto name = entry.path().filename().string();
        if (name != keep)
            names.push_back(name);
    }
    return names;
}

template <typename F>
std::string ErrorOf(F&& action)
{
    try {
        action();
    } catch (const EFileError& error) {
        return error.what();
    }
    return "no error";
}

}  // namespace

TEST(LoadLinesFromFile, AcceptsEveryLineEnding)
{
    TScratchDir dir;
    const auto path = dir.File("lines.txt");
    WriteBytes(path, "a\r\nb\rc\nd\r\n\r\ne");
    EXPECT_EQ(LoadLinesFromFile(path), (Lines{"a", "b", "c", "d", "", "e"}));
    WriteBytes(path, "a\n\rb\r\n");  // LF then a lone CR: two endings
    EXPECT_EQ(LoadLinesFromFile(path), (Lines{"a", "", "b"}));
    WriteBytes(path, "only\r\n");
    EXPECT_EQ(LoadLinesFromFile(path), (Lines{"only"}));
    WriteBytes(path, "\r\n");
    EXPECT_EQ(LoadLinesFromFile(path), (Lines{""}));
    WriteBytes(path, "");
    EXPECT_EQ(LoadLinesFromFile(path), Lines{});
}

// A zero or control byte belongs to its line: what follows it is read, and
// written back byte for byte.
TEST(LoadLinesFromFile, ZeroAndControlBytesStayInTheirLines)
{
    TScratchDir dir;
    const auto path = dir.File("lines.txt");
    const std::string bytes("a\r\nb\0c\r\n\x01\x1A\x7F=d\x1B[2J\r\n\0\r\ne\r\n", 25);
    WriteBytes(path, bytes);
    const Lines lines{"a", std::string("b\0c", 3), "\x01\x1A\x7F=d\x1B[2J", std::string(1, '\0'), "e"};
    EXPECT_EQ(LoadLinesFromFile(path), lines);
    SaveLinesToFile(path, lines);
    EXPECT_EQ(ReadBytes(path), bytes);

    WriteBytes(path, std::string("\0a\rb\0", 5));  // a lone CR still ends a line
    EXPECT_EQ(LoadLinesFromFile(path), (Lines{std::string("\0a", 2), std::string("b\0", 2)}));
}

TEST(LoadLinesFromFile, KeepsBytesAsTheyAre)
{
    TScratchDir dir;
    const auto path = dir.File("lines.txt");
    const std::string line = " \xBC\xD2\xC0\xEF=a^b^1 \t\x7F\xFF";
    WriteBytes(path, line + "\r\n");
    EXPECT_EQ(LoadLinesFromFile(path), Lines{line});
}

TEST(LoadLinesFromFile, UnreadableFileIsReported)
{
    TScratchDir dir;
    EXPECT_EQ(ErrorOf([&] { LoadLinesFromFile(dir.File("missing")); }),
              "Cannot open file " + dir.File("missing"));
    // A directory exists but cannot be read as a file, also for root.
    std::filesystem::create_directory(dir.File("folder"));
    EXPECT_EQ(ErrorOf([&] { LoadLinesFromFile(dir.File("folder")); }),
              "Cannot open file " + dir.File("folder"));
}

TEST(SaveLinesToFile, EndsEveryLineWithCrLf)
{
    TScratchDir dir;
    const auto path = dir.File("out.txt");
    SaveLinesToFile(path, {"a", "", "\xBC\xD2=x"});
    EXPECT_EQ(ReadBytes(path), "a\r\n\r\n\xBC\xD2=x\r\n");
    SaveLinesToFile(path, {});
    EXPECT_EQ(ReadBytes(path), "");
    EXPECT_TRUE(OtherFiles(dir, "out.txt").empty());
}

TEST(SaveLinesToFile, KeepsPermissionsAndLinks)
{
    TScratchDir dir;
    const auto target = dir.File("target.txt");
    WriteBytes(target, "old\r\n");
    ::chmod(target.c_str(), 0640);
    std::filesystem::create_symlink(target, dir.File("link.txt"));

    SaveLinesToFile(dir.File("link.txt"), {"new"});

    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.txt")));
    EXPECT_EQ(ReadBytes(target), "new\r\n");
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(SaveLinesToFile, FailedWriteLeavesOldFileWhole)
{
    TScratchDir dir;
    const auto path = dir.File("store.dat");
    const std::string old = "first=a^b^0\r\nsecond=c^d^1\r\n";
    WriteBytes(path, old);
    const Lines bigger(1000, "a line that makes the new content larger than the limit");
    {
        TFileSizeLimit limit(256);
        EXPECT_EQ(ErrorOf([&] { SaveLinesToFile(path, bigger); }), "Cannot create file " + path);
    }
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_TRUE(OtherFiles(dir, "store.dat").empty()) << "temporary file left behind";
}

TEST(SaveLinesToFile, UncreatableFileIsReported)
{
    TScratchDir dir;
    WriteBytes(dir.File("plain"), "x");
    // The directory part is a file, so nothing can be created in it.
    const auto path = dir.File("plain") + "/store.dat";
    EXPECT_EQ(ErrorOf([&] { SaveLinesToFile(path, {"a"}); }), "Cannot create file " + path);
    const auto missing = dir.File("nodir") + "/store.dat";
    EXPECT_EQ(ErrorOf([&] { SaveLinesToFile(missing, {"a"}); }), "Cannot create file " + missing);
}

TEST(TProfileFile, MissingPartsGiveTheDefault)
{
    TScratchDir dir;
    TProfileFile missing(dir.File("none.ini"));
    EXPECT_EQ(missing.ReadString("config", "project", "dflt"), "dflt");
    EXPECT_FALSE(std::filesystem::exists(dir.File("none.ini")));  // reading creates nothing

    WriteBytes(dir.File("a.ini"), "[other]\r\nproject=x\r\n[config]\r\nname=y\r\n");
    TProfileFile file(dir.File("a.ini"));
    EXPECT_EQ(file.ReadString("missing", "project", "d"), "d");
    EXPECT_EQ(file.ReadString("config", "project", ""), "");
    EXPECT_EQ(file.ReadString("other", "project", ""), "x");
}

TEST(TProfileFile, MatchesSectionAndKeyIgnoringCase)
{
    TScratchDir dir;
    WriteBytes(dir.File("a.ini"), "[Config]\r\n  PROJECT = \xBC\xD2\xC0\xEF \r\n");
    TProfileFile file(dir.File("a.ini"));
    EXPECT_EQ(file.ReadString("config", "project", ""), "\xBC\xD2\xC0\xEF");
    EXPECT_EQ(file.ReadString("CONFIG", "Project", ""), "\xBC\xD2\xC0\xEF");
}

TEST(TProfileFile, FirstSectionAndKeyWin)
{
    TScratchDir dir;
    WriteBytes(dir.File("a.ini"), "[config]\nproject=one\nproject=two\n[config]\nproject=three\n");
    TProfileFile file(dir.File("a.ini"));
    EXPECT_EQ(file.ReadString("config", "project", ""), "one");
}

TEST(TProfileFile, ValueIsCutTo2047Bytes)
{
    TScratchDir dir;
    TProfileFile file(dir.File("a.ini"));
    file.WriteString("config", "project", std::string(3000, 'v'));
    EXPECT_EQ(file.ReadString("config", "project", ""), std::string(2047, 'v'));
    // A double-byte character that would be cut in half is left out whole.
    std::string wide = std::string(2046, 'v') + "\xBC\xD2";
    file.WriteString("config", "project", wide);
    EXPECT_EQ(file.ReadString("config", "project", ""), std::string(2046, 'v'));
}

TEST(TProfileFile, WriteCreatesFileSectionAndKey)
{
    TScratchDir dir;
    TProfileFile file(dir.File("new.ini"));
    EXPECT_FALSE(std::filesystem::exists(dir.File("new.ini")));
    file.WriteString("config", "project", "\xBC\xD2\xC0\xEF");
    EXPECT_EQ(ReadBytes(dir.File("new.ini")), "[config]\r\nproject=\xBC\xD2\xC0\xEF\r\n");

    WriteBytes(dir.File("other.ini"), "[other]\r\nk=v");  // no final line end
    TProfileFile other(dir.File("other.ini"));
    other.WriteString("config", "project", "p");
    EXPECT_EQ(ReadBytes(dir.File("other.ini")), "[other]\r\nk=v\r\n[config]\r\nproject=p\r\n");
}

TEST(TProfileFile, WriteAddsKeyAtTheEndOfItsSection)
{
    TScratchDir dir;
    WriteBytes(dir.File("a.ini"), "; note\r\n[Config]\r\nfirst=1\r\n\r\n[next]\r\nz=9\r\n");
    TProfileFile file(dir.File("a.ini"));
    file.WriteString("config", "project", "p");
    EXPECT_EQ(ReadBytes(dir.File("a.ini")),
              "; note\r\n[Config]\r\nfirst=1\r\nproject=p\r\n\r\n[next]\r\nz=9\r\n");

    WriteBytes(dir.File("b.ini"), "[config]");
    TProfileFile last(dir.File("b.ini"));
    last.WriteString("config", "project", "p");
    EXPECT_EQ(ReadBytes(dir.File("b.ini")), "[config]\r\nproject=p");
    EXPECT_EQ(last.ReadString("config", "project", ""), "p");
}

TEST(TProfileFile, WriteReplacesValueWhereItStands)
{
    TScratchDir dir;
    const std::string before = "x=1\n[other]\nproject=keep\r\n[CONFIG]\r\nProject=old\r\nafter=2\rtail";
    WriteBytes(dir.File("a.ini"), before);
    TProfileFile file(dir.File("a.ini"));
    file.WriteString("config", "project", "new");
    EXPECT_EQ(ReadBytes(dir.File("a.ini")),
              "x=1\n[other]\nproject=keep\r\n[CONFIG]\r\nProject=new\r\nafter=2\rtail");
    file.WriteString("config", "project", "");
    EXPECT_EQ(file.ReadString("config", "project", "d"), "");
}

TEST(TProfileFile, FailedWriteIsReportedAndChangesNothing)
{
    TScratchDir dir;
    WriteBytes(dir.File("plain"), "x");
    const auto path = dir.File("plain") + "/DestLists.ini";
    TProfileFile file(path);
    EXPECT_EQ(ErrorOf([&] { file.WriteString("config", "project", "p"); }), "Unable to write to " + path);

    const auto ini = dir.File("a.ini");
    WriteBytes(ini, "[config]\r\nproject=old\r\n");
    TProfileFile limited(ini);
    {
        TFileSizeLimit limit(16);
        EXPECT_EQ(ErrorOf([&] { limited.WriteString("config", "project", std::string(100, 'n')); }),
                  "Unable to write to " + ini);
    }
    EXPECT_EQ(ReadBytes(ini), "[config]\r\nproject=old\r\n");
}

// ---- how a rewrite treats the file it replaces ----

namespace {

struct TFileFacts {
    uid_t Uid = 0;
    gid_t Gid = 0;
    mode_t Mode = 0;
    ino_t Inode = 0;
    nlink_t Links = 0;
};

TFileFacts FactsOf(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return {};
    return {info.st_uid, info.st_gid, static_cast<mode_t>(info.st_mode & 07777), info.st_ino, info.st_nlink};
}

bool IsRoot() { return ::geteuid() == 0; }

// A folder inside the scratch folder with the given owner and mode.
std::string MakeFolder(const TScratchDir& dir, const std::string& name, uid_t uid, gid_t gid, mode_t mode)
{
    const auto path = dir.File(name);
    std::filesystem::create_directory(path);
    EXPECT_EQ(::chown(path.c_str(), uid, gid), 0);
    EXPECT_EQ(::chmod(path.c_str(), mode), 0);
    return path;
}

void MakeFile(const std::string& path, const std::string& bytes, uid_t uid, gid_t gid, mode_t mode)
{
    WriteBytes(path, bytes);
    EXPECT_EQ(::chown(path.c_str(), uid, gid), 0);
    EXPECT_EQ(::chmod(path.c_str(), mode), 0);
}

// Runs a write as an ordinary user; "ok" or the error it raised.
std::string WriteAsOrdinaryUser(const TScratchDir& dir, const std::function<void()>& write)
{
    const TUserRun run = RunAsOrdinaryUser(dir.Path().string(), [&] {
        write();
        return std::string("ok");
    });
    return run.Ran ? run.Result : "skip: " + run.SkipReason;
}

#define SKIP_IF_NOT_RUN(result)                                  \
    if ((result).rfind("skip: ", 0) == 0)                        \
        GTEST_SKIP() << (result).substr(6)

std::set<std::string> NamesIn(const std::filesystem::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// A pid that no process has any more.
pid_t GonePid()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

class TSleepingProcess {
public:
    TSleepingProcess() : FPid(::fork())
    {
        if (FPid == 0) {
            ::pause();
            ::_exit(0);
        }
    }
    ~TSleepingProcess()
    {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
    }
    pid_t Pid() const { return FPid; }

private:
    pid_t FPid;
};

}  // namespace

TEST(StoreWrite, FileTheUserCannotWriteIsNotReplaced)
{
    TScratchDir dir;
    LetOrdinaryUserIn(dir.Path().string());
    const auto folder = MakeFolder(dir, "mine", OrdinaryUid(), OrdinaryGid(), 0755);
    const auto store = folder + "/Projects.dat";
    const auto ini = folder + "/DestLists.ini";
    MakeFile(store, "a=x^h^0\r\n", OrdinaryUid(), OrdinaryGid(), 0444);
    MakeFile(ini, "[config]\r\nproject=a\r\n", OrdinaryUid(), OrdinaryGid(), 0444);
    const auto storeBefore = FactsOf(store);

    const auto storeResult = WriteAsOrdinaryUser(dir, [&] { SaveLinesToFile(store, {"b=y^h^1"}); });
    SKIP_IF_NOT_RUN(storeResult);
    EXPECT_EQ(storeResult, "error: Cannot create file " + store);
    EXPECT_EQ(WriteAsOrdinaryUser(dir, [&] { TProfileFile(ini).WriteString("config", "project", "b"); }),
              "error: Unable to write to " + ini);
    // The value that stands needs no write (start-up writes back the plan it opened).
    EXPECT_EQ(WriteAsOrdinaryUser(dir, [&] { TProfileFile(ini).WriteString("CONFIG", "project", "a"); }), "ok");

    EXPECT_EQ(ReadBytes(store), "a=x^h^0\r\n");
    EXPECT_EQ(ReadBytes(ini), "[config]\r\nproject=a\r\n");
    EXPECT_EQ(FactsOf(store).Inode, storeBefore.Inode);
    EXPECT_EQ(FactsOf(store).Mode, 0444u);
    EXPECT_EQ(NamesIn(folder), (std::set<std::string>{"DestLists.ini", "Projects.dat"}));
}

TEST(StoreWrite, WritableFileInAFolderThatTakesNoNewFileIsWrittenInPlace)
{
    TScratchDir dir;
    LetOrdinaryUserIn(dir.Path().string());
    // Owned by root when the test runs as root, else read-only for its owner.
    const auto folder = MakeFolder(dir, "shared", ::geteuid(), ::getegid(), 0755);
    const auto store = folder + "/Projects.dat";
    const auto ini = folder + "/DestLists.ini";
    MakeFile(store, "a=x^h^0\r\nlonger=old^content^1\r\n", OrdinaryUid(), OrdinaryGid(), 0644);
    MakeFile(ini, "[config]\r\nproject=a\r\n", OrdinaryUid(), OrdinaryGid(), 0644);
    const auto before = FactsOf(store);
    if (!IsRoot())
        ::chmod(folder.c_str(), 0555);

    const auto result = WriteAsOrdinaryUser(dir, [&] { SaveLinesToFile(store, {"b=y^h^1"}); });
    SKIP_IF_NOT_RUN(result);
    EXPECT_EQ(result, "ok");
    EXPECT_EQ(ReadBytes(store), "b=y^h^1\r\n");
    const auto after = FactsOf(store);
    EXPECT_EQ(after.Inode, before.Inode);
    EXPECT_EQ(after.Uid, OrdinaryUid());
    EXPECT_EQ(after.Mode, 0644u);

    EXPECT_EQ(WriteAsOrdinaryUser(dir, [&] { TProfileFile(ini).WriteString("config", "project", "b"); }), "ok");
    EXPECT_EQ(ReadBytes(ini), "[config]\r\nproject=b\r\n");

    // A file that does not exist yet cannot be written in place.
    const auto fresh = folder + "/New.dat";
    EXPECT_EQ(WriteAsOrdinaryUser(dir, [&] { SaveLinesToFile(fresh, {"a="}); }), "error: Cannot create file " + fresh);
    EXPECT_EQ(NamesIn(folder), (std::set<std::string>{"DestLists.ini", "Projects.dat"}));
    ::chmod(folder.c_str(), 0755);
}

TEST(StoreWrite, ReplacementKeepsOwnerModeAndAttributes)
{
    TScratchDir dir;
    const auto store = dir.File("Projects.dat");
    // Root gives the file to another user, so that the owner must be carried
    // over; the set-group-id bit must survive that change of owner.
    MakeFile(store, "a=x^h^0\r\n", OrdinaryUid(), OrdinaryGid(), 02640);
    const bool withAttribute = ::setxattr(store.c_str(), "user.orvel", "kept", 4, 0) == 0;
    const auto before = FactsOf(store);

    SaveLinesToFile(store, {"b=y^h^1"});

    const auto after = FactsOf(store);
    EXPECT_NE(after.Inode, before.Inode) << "expected the rename, which a crash cannot tear";
    EXPECT_EQ(after.Uid, OrdinaryUid());
    EXPECT_EQ(after.Gid, OrdinaryGid());
    EXPECT_EQ(after.Mode, 02640u);
    if (withAttribute) {
        char value[8] = {};
        EXPECT_EQ(::getxattr(store.c_str(), "user.orvel", value, sizeof value), 4);
        EXPECT_STREQ(value, "kept");
    }
    EXPECT_EQ(ReadBytes(store), "b=y^h^1\r\n");
}

TEST(StoreWrite, OwnerTheWriterCannotGiveMeansInPlace)
{
    if (!IsRoot())
        GTEST_SKIP() << "a file of another user that we may write needs root to set up";
    TScratchDir dir;
    LetOrdinaryUserIn(dir.Path().string());
    const auto folder = MakeFolder(dir, "mine", OrdinaryUid(), OrdinaryGid(), 0755);
    const auto store = folder + "/Projects.dat";
    MakeFile(store, "a=x^h^0\r\n", 0, OrdinaryGid(), 0664);  // root's, writable by the group
    const auto before = FactsOf(store);

    const auto result = WriteAsOrdinaryUser(dir, [&] { SaveLinesToFile(store, {"b=y^h^1"}); });
    SKIP_IF_NOT_RUN(result);
    EXPECT_EQ(result, "ok");
    const auto after = FactsOf(store);
    EXPECT_EQ(after.Inode, before.Inode);
    EXPECT_EQ(after.Uid, 0u);
    EXPECT_EQ(after.Mode, 0664u);
    EXPECT_EQ(ReadBytes(store), "b=y^h^1\r\n");
    EXPECT_EQ(NamesIn(folder), std::set<std::string>{"Projects.dat"});
}

TEST(StoreWrite, HardLinkedFileIsWrittenInPlace)
{
    TScratchDir dir;
    const auto store = dir.File("Projects.dat");
    const auto ini = dir.File("DestLists.ini");
    WriteBytes(store, "a=x^h^0\r\n");
    WriteBytes(ini, "[config]\r\nproject=a\r\n");
    std::filesystem::create_hard_link(store, dir.File("backup.dat"));
    std::filesystem::create_hard_link(ini, dir.File("backup.ini"));

    SaveLinesToFile(store, {"b=y^h^1"});
    TProfileFile(ini).WriteString("config", "project", "b");

    EXPECT_EQ(ReadBytes(dir.File("backup.dat")), "b=y^h^1\r\n");
    EXPECT_EQ(FactsOf(store).Links, 2u);
    EXPECT_EQ(ReadBytes(dir.File("backup.ini")), "[config]\r\nproject=b\r\n");
    EXPECT_EQ(FactsOf(ini).Links, 2u);
    EXPECT_EQ(NamesIn(dir.Path()), (std::set<std::string>{"DestLists.ini", "Projects.dat", "backup.dat", "backup.ini"}));
}

TEST(StoreWrite, FailedWriteInPlacePutsTheOldContentBack)
{
    TScratchDir dir;
    const auto store = dir.File("Projects.dat");
    const std::string old = "first=a^b^0\r\nsecond=c^d^1\r\n";
    WriteBytes(store, old);
    std::filesystem::create_hard_link(store, dir.File("other"));
    {
        TFileSizeLimit limit(old.size() + 8);
        EXPECT_EQ(ErrorOf([&] { SaveLinesToFile(store, Lines(100, "a larger store")); }), "Cannot create file " + store);
    }
    EXPECT_EQ(ReadBytes(store), old);
    EXPECT_EQ(FactsOf(store).Links, 2u);
}

// Callers that show the user why a write failed read it from errno.
TEST(StoreWrite, FailedWriteLeavesItsReasonInErrno)
{
    TScratchDir dir;
    errno = 0;
    EXPECT_FALSE(ReplaceFileContent(dir.File("none") + "/x.csv", "a"));
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_FALSE(ReplaceFileContent(dir.Path().string(), "a"));
    EXPECT_EQ(errno, EISDIR);
}

TEST(StoreWrite, ReaderWaitsForAWriterInPlace)
{
    TScratchDir dir;
    const auto store = dir.File("Projects.dat");
    WriteBytes(store, "a=x^h^0\r\nb=y^h^1\r\n");
    const int fd = ::open(store.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    ASSERT_EQ(::ftruncate(fd, 4), 0);  // a writer half-way through
    std::thread writer([fd] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::string rest = "c=z^h^0\r\n";
        EXPECT_EQ(::pwrite(fd, "c=z^h^0\r\n", rest.size(), 0), static_cast<ssize_t>(rest.size()));
        ::flock(fd, LOCK_UN);
    });
    EXPECT_EQ(LoadLinesFromFile(store), Lines{"c=z^h^0"});
    writer.join();
    ::close(fd);
}

TEST(StoreWrite, LeftTemporariesOfGoneWritersAreRemovedAndNoOthers)
{
    TScratchDir dir;
    const auto store = dir.File("Projects.dat");
    WriteBytes(store, "a=x^h^0\r\n");
    const auto gone = std::to_string(GonePid());
    TSleepingProcess live;
    const auto alive = std::to_string(live.Pid());

    const std::set<std::string> removed{".Projects.dat.orvel-tmp." + gone + ".0123456789abcdef",
                                        "Projects.dat.tmp" + gone + "_3"};  // named by an earlier version
    const std::set<std::string> kept{
        ".Projects.dat.orvel-tmp." + alive + ".00ff",   // its writer still runs
        "Projects.dat.tmp" + alive + "_0",
        ".Projects.dat.orvel-tmp." + gone + ".abcd",    // locked: a writer in another pid namespace
        ".Other.dat.orvel-tmp." + gone + ".abcd",       // another file's
        ".Projects.dat.orvel-tmp." + gone + ".XYZ",
        ".Projects.dat.orvel-tmp.0.abcd",
        "Projects.dat.tmp" + gone + "_",
        "Projects.dat.tmp",
        "Projects.dat.bak",
        "Projects.dat.tmp" + gone + "_3x"};
    for (const auto& name : removed)
        WriteBytes(dir.File(name), "half a sto");
    for (const auto& name : kept)
        WriteBytes(dir.File(name), "someone's");
    const int locked = ::open(dir.File(".Projects.dat.orvel-tmp." + gone + ".abcd").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(locked, LOCK_EX), 0);

    SaveLinesToFile(store, {"b=y^h^1"});
    ::close(locked);

    std::set<std::string> expected = kept;
    expected.insert("Projects.dat");
    EXPECT_EQ(NamesIn(dir.Path()), expected);
    EXPECT_EQ(ReadBytes(store), "b=y^h^1\r\n");
}

namespace {

// Content of a given size whose every line tells the version it belongs to.
std::vector<std::string> Version(char tag, size_t lines)
{
    return Lines(lines, std::string(1, tag) + "=" + std::string(100, tag) + "^h^0");
}

template <typename F>
pid_t StartWriter(F&& loop)
{
    const pid_t child = ::fork();
    if (child == 0) {
        loop();
        ::_exit(0);
    }
    return child;
}

}  // namespace

TEST(StoreWrite, TwoWritersAtOnceNeitherLosesItsTemporary)
{
    TScratchDir dir;
    const auto store = dir.File("Projects.dat");
    auto writeMany = [&](char tag) {
        return [&store, tag] {
            for (int i = 0; i < 60; ++i) {
                try {
                    SaveLinesToFile(store, Version(tag, 50 + i));
                } catch (const EFileError&) {
                    ::_exit(1);
                }
            }
        };
    };
    const pid_t first = StartWriter(writeMany('a'));
    const pid_t second = StartWriter(writeMany('b'));
    for (pid_t child : {first, second}) {
        int status = -1;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a write failed";
    }
    const auto lines = LoadLinesFromFile(store);
    EXPECT_TRUE(lines == Version('a', 109) || lines == Version('b', 109));
    EXPECT_EQ(NamesIn(dir.Path()), std::set<std::string>{"Projects.dat"});
}

TEST(StoreWrite, KilledWriterLeavesOldOrNewContentWhole)
{
    TScratchDir dir;
    const auto store = dir.File("Projects.dat");
    const auto small = Version('s', 10);
    const auto large = Version('L', 2000);  // about 200 KB, so that kills land mid-write
    SaveLinesToFile(store, small);
    std::mt19937 random(20240611);
    int tornOrLost = 0;
    for (int kill = 0; kill < 25; ++kill) {
        const pid_t writer = StartWriter([&] {
            for (bool big = true;; big = !big)
                SaveLinesToFile(store, big ? large : small);
        });
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 20000)(random)));
        ::kill(writer, SIGKILL);
        ::waitpid(writer, nullptr, 0);
        const auto lines = LoadLinesFromFile(store);
        if (lines != small && lines != large)
            ++tornOrLost;
    }
    EXPECT_EQ(tornOrLost, 0);
    SaveLinesToFile(store, small);
    EXPECT_EQ(NamesIn(dir.Path()), std::set<std::string>{"Projects.dat"});
}
