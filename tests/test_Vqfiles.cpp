#include "vqlib/Vqfiles.h"

#include "tests/support/Filesizelimit.h"
#include "tests/support/Scratchdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

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

TEST(LoadLinesFromFile, ZeroByteEndsTheText)
{
    TScratchDir dir;
    const auto path = dir.File("lines.txt");
    WriteBytes(path, std::string("a\r\nb\0c\r\nd\r\n", 11));
    EXPECT_EQ(LoadLinesFromFile(path), (Lines{"a", "b"}));
    WriteBytes(path, std::string("\0a\r\n", 4));
    EXPECT_EQ(LoadLinesFromFile(path), Lines{});
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
