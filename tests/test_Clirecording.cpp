// What orvel-cli says of its recording: each kind of trouble in one line, once.

#include "cli/Clirecording.h"

#include "history/Historydb.h"
#include "tests/support/Historylock.h"
#include "tests/support/Runrecord.h"
#include "tests/support/Scratchdir.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace std::chrono_literals;

struct TSaid {
    std::vector<std::string> Lines;
    TCliRecording::TSay Say()
    {
        return [this](const std::string& line) { Lines.push_back(line); };
    }
};

TEST(Clirecording, AFailureIsSaidOnceWhateverTheNumberOfRuns)
{
    TScratchDir dir;
    TSaid said;
    TCliRecording recording(dir.File("missing/History.db"), said.Say());
    for (int i = 0; i < 3; ++i)
        recording.Record(MakeRun(i));
    recording.Finish();
    ASSERT_EQ(said.Lines.size(), 1u) << ::testing::PrintToString(said.Lines);
    EXPECT_EQ(said.Lines[0].rfind("orvel-cli: the run was not recorded: 无法创建或打开数据库文件", 0), 0u) << said.Lines[0];
}

TEST(Clirecording, DropsAreSaidOnceAsTheyHappen)
{
    TScratchDir dir;
    const std::string path = dir.File(THistoryDb::kFileName);
    THistoryLock lock(path);
    TSaid said;
    TCliRecording recording(path, said.Say(), 1);
    for (int i = 0; i < 4; ++i)
        recording.Record(MakeRun(i));
    ASSERT_EQ(said.Lines.size(), 1u) << ::testing::PrintToString(said.Lines);
    EXPECT_EQ(said.Lines[0],
              "orvel-cli: runs come faster than the history takes them; the oldest waiting ones are not recorded");
    lock.Release();
    recording.Finish();
    EXPECT_EQ(said.Lines.size(), 1u) << ::testing::PrintToString(said.Lines);
}

}  // namespace
