#include "vqlib/Programdir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(Programdir, IsTheFolderOfTheRunningProgram)
{
    const std::string dir = ProgramDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_TRUE(std::filesystem::exists(dir + "test_Programdir"));
}

TEST(Programdir, AScopeSetsTheFolderAndPutsBackThePreviousOne)
{
    const std::string real = ProgramDir();
    {
        const TProgramDirScope outer("/tmp/outer");
        EXPECT_EQ(ProgramDir(), "/tmp/outer/");  // the separator is added
        {
            const TProgramDirScope inner("/tmp/inner/");
            EXPECT_EQ(ProgramDir(), "/tmp/inner/");
        }
        EXPECT_EQ(ProgramDir(), "/tmp/outer/");
        {
            const TProgramDirScope empty("");
            EXPECT_EQ(ProgramDir(), real);  // an empty folder means the real one
        }
        EXPECT_EQ(ProgramDir(), "/tmp/outer/");
    }
    EXPECT_EQ(ProgramDir(), real);
}

}  // namespace
