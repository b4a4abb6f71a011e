// orvel-cli run as a process against a store the test writes.

#include "engine/Icmpecho.h"
#include "engine/Measuredns.h"
#include "tests/support/Asuser.h"
#include "tests/support/Dnsresponder.h"
#include "tests/support/Historylock.h"
#include "tests/support/Httpserver.h"
#include "tests/support/Listener.h"
#include "tests/support/Netns.h"
#include "tests/support/Noproxy.h"
#include "tests/support/Pathchain.h"
#include "tests/support/Textlines.h"
#include "tests/support/Waitfor.h"
#include "vqlib/Gbk.h"
#include "vqlib/Vqfiles.h"

#include "Orvelversion.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <signal.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <fstream>
#include <sstream>
#include <thread>

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

// "status:output" of a shell command.
std::string StatusAndOutput(const std::string& command)
{
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return "no pipe";
    std::string output;
    char buffer[512];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, got);
    const int status = ::pclose(pipe);
    return std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ":" + output;
}

class OrvelCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearProxyEnvironment();
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

    TOutcome Run(const std::string& args) { return RunProgram(std::string(ORVEL_BIN_DIR) + "/orvel-cli", args); }

    // environment: "NAME=value ..." for env(1), which may also unset with -u.
    TOutcome RunProgram(const std::string& program, const std::string& args, const std::string& environment = "")
    {
        fs::path out = FDir / "stdout", err = FDir / "stderr";
        std::string command = (environment.empty() ? "" : "env " + environment + " ") + Quoted(program) + " " +
                              args + " >" + Quoted(out) + " 2>" + Quoted(err) + " </dev/null";
        int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(out), ReadFile(err)};
    }

    std::string DirArg() const { return "--dir " + Quoted(FDir.string()); }

    // Standard output as the shell redirection says (">/dev/full", ">&-");
    // a program that does not end within a minute is killed.
    TOutcome RunWithOutput(const std::string& args, const std::string& redirection)
    {
        const fs::path err = FDir / "stderr";
        const std::string command = "timeout -s KILL 60 " + Quoted(std::string(ORVEL_BIN_DIR) + "/orvel-cli") + " " +
                                    args + " " + redirection + " 2>" + Quoted(err) + " </dev/null";
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, "", ReadFile(err)};
    }

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
                                    "--history --since yesterday " + DirArg(),
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
    EXPECT_EQ(help.Out.rfind("Usage: orvel-cli [OPTIONS] TARGET...", 0), 0u) << help.Out;
    EXPECT_NE(help.Out.find("Exit status: 0 when every item answered"), std::string::npos);
    TOutcome version = Run("--version");
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Out, std::string("orvel-cli ") + kOrvelVersion + "\n");
}

// Copied into the bin/ of an installed tree, it keeps the store in the
// user's data folder, made and seeded at first use, as the window does.
TEST_F(OrvelCli, AnInstalledCopyUsesTheUsersDataFolder)
{
    const fs::path bin = FDir / "usr" / "bin", share = FDir / "usr" / "share" / "orvel";
    fs::create_directories(bin);
    fs::create_directories(share);
    const fs::path program = bin / "orvel-cli";
    fs::copy_file(fs::path(ORVEL_BIN_DIR) / "orvel-cli", program);
    SaveLinesToFile((share / "Projects.dat").string(), {Utf8ToGbk("常见=a^127.0.0.1^0").value()});
    SaveLinesToFile((share / "DestLists.ini").string(), {"[config]", "project=" + Utf8ToGbk("常见").value()});

    const fs::path home = FDir / "home";
    TOutcome listed = RunProgram(program.string(), "--list", "-u XDG_DATA_HOME HOME=" + Quoted(home.string()));
    EXPECT_EQ(listed.Status, 0) << listed.Err;
    EXPECT_EQ(listed.Out, "常见\n");
    const fs::path seeded = home / ".local" / "share" / "orvel";
    EXPECT_EQ(ReadFile(seeded / "Projects.dat"), ReadFile(share / "Projects.dat"));
    EXPECT_EQ(ReadFile(seeded / "DestLists.ini"), ReadFile(share / "DestLists.ini"));

    // XDG_DATA_HOME comes first; a store the user changed stays theirs.
    const std::string xdg = "XDG_DATA_HOME=" + Quoted((FDir / "xdg").string());
    EXPECT_EQ(RunProgram(program.string(), "--list", xdg).Out, "常见\n");
    SaveLinesToFile((FDir / "xdg" / "orvel" / "Projects.dat").string(), {"mine=b^127.0.0.2^0"});
    EXPECT_EQ(RunProgram(program.string(), "--list", xdg).Out, "mine\n");

    // --dir wins, and makes no data folder.
    WriteStore({"office=c^127.0.0.3^0"}, "office");
    const std::string fresh = "XDG_DATA_HOME=" + Quoted((FDir / "fresh").string());
    EXPECT_EQ(RunProgram(program.string(), "--list " + DirArg(), fresh).Out, "office\n");
    EXPECT_FALSE(fs::exists(FDir / "fresh"));
}

// As an ordinary user without the capability and outside
// net.ipv4.ping_group_range, Ping items end without a response as before,
// and one line on standard error says why and what would help.
TEST_F(OrvelCli, PingWithoutTheRightToASocketSaysWhyInOneLine)
{
    WriteStore({"lo=本机^127.0.0.1^0#also^127.0.0.2^0"}, "lo");
    for (const char* name : {"Projects.dat", "DestLists.ini"})
        ::chmod((FDir / name).c_str(), 0644);
    const std::string command = Quoted(std::string(ORVEL_BIN_DIR) + "/orvel-cli") + " --format csv --no-record " +
                                DirArg() + " 2>&1 >/dev/null </dev/null";
    const TUserRun run = RunWithoutPingRights(ORVEL_BIN_DIR, [&] {
        return StatusAndOutput(command);
    });
    if (!run.Ran)
        GTEST_SKIP() << run.SkipReason;
    const std::string program = fs::canonical(ORVEL_BIN_DIR).string() + "/orvel-cli";
    EXPECT_EQ(run.Result.rfind("1:orvel-cli: Ping could open no ICMP socket", 0), 0u) << run.Result;
    EXPECT_EQ(std::count(run.Result.begin(), run.Result.end(), '\n'), 1) << run.Result;
    EXPECT_NE(run.Result.find("setcap cap_net_raw+ep " + program + ")"), std::string::npos) << run.Result;
    EXPECT_NE(run.Result.find("net.ipv4.ping_group_range"), std::string::npos) << run.Result;

    // Where a socket may be opened, nothing is said.
    if (TIcmpEcho().IsOpen()) {
        TOutcome allowed = Run("--format csv " + DirArg());
        EXPECT_EQ(allowed.Status, 0);
        EXPECT_EQ(allowed.Err, "");
    }
}

// The hint names the file that runs, not the name it was started by.
TEST_F(OrvelCli, PingRightsHintNamesTheRunningProgram)
{
    WriteStore({"lo=本机^127.0.0.1^0"}, "lo");
    for (const char* name : {"Projects.dat", "DestLists.ini"})
        ::chmod((FDir / name).c_str(), 0644);
    const fs::path renamed = FDir / "renamed-cli";
    fs::copy_file(fs::path(ORVEL_BIN_DIR) / "orvel-cli", renamed);
    fs::create_symlink(renamed, FDir / "orvel-cli");
    const std::string command = Quoted((FDir / "orvel-cli").string()) + " --no-record " + DirArg() +
                                " 2>&1 >/dev/null </dev/null";
    const TUserRun run = RunWithoutPingRights(FDir.string(), [&] { return StatusAndOutput(command); });
    if (!run.Ran)
        GTEST_SKIP() << run.SkipReason;
    EXPECT_NE(run.Result.find("setcap cap_net_raw+ep " + fs::canonical(renamed).string() + ")"), std::string::npos)
        << run.Result;
}

// A plan of loopback targets: a page that answers after 20 ms, a refused
// port and, where port 53 of a loopback address can be bound, a DNS server.
// The refused item never answers, so its runs exit 1.
class OrvelCliRun : public OrvelCli {
protected:
    void SetUp() override
    {
        OrvelCli::SetUp();
        FHttp.SetResponse({200, 1000, 20, false, ""});
        std::string plan = "lo=网页^" + FHttp.HostPort() + "^1#refused^127.0.0.1:" +
                           std::to_string(THttpServer::RefusedPort()) + "^1";
        try {
            FDns = std::make_unique<TDnsResponder>(
                [](const std::string& query, int) {
                    std::string answer = dnsmsg::Record(dnsmsg::Name("www.example.com"), 1, 60, dnsmsg::AData("127.0.0.1"));
                    return TDnsResponse{dnsmsg::Reply(query, 0x8180, 1, 0, 0, answer)};
                },
                "127.0.0.154", 53);
            plan += "#dns^127.0.0.154^2";
        } catch (const std::system_error& error) {
            std::printf("DNS item left out: cannot bind 127.0.0.154:53 (%s)\n", error.what());
        }
        WriteStore({plan, "dead=refused^127.0.0.1:" + std::to_string(THttpServer::RefusedPort()) + "^1"}, "lo");
    }

    size_t ItemCount() const { return FDns ? 3 : 2; }

    // name|state|average|failed|tries|fastest|slowest|mean|stddev|try times
    // per item, as a Python reader of the format sees them.
    std::string ReadBack(const std::string& format, const std::string& output)
    {
        if (std::system("python3 -c '' 2>/dev/null") != 0)
            return "no python3";
        std::ofstream(FDir / "output", std::ios::binary) << output;
        const char* csvReader =
            "import csv,sys\n"
            "rows=list(csv.DictReader(open(sys.argv[1],newline='',encoding='utf-8')))\n"
            "for r in rows: print('|'.join([r['name'],r['state'],r['average_ms'],r['failed'],r['tries'],"
            "r['fastest_ms'],r['slowest_ms'],r['mean_ms'],r['stddev_ms']]"
            "+[r['try%d_ms'%i] for i in range(1,6)]))\n";
        const char* jsonReader =
            "import json,sys\n"
            "d=json.load(open(sys.argv[1],encoding='utf-8'))\n"
            "print(d['plan'], d['average_ms'])\n"
            "for r in d['items']: print('|'.join([str(r.get(k,'')) for k in "
            "['name','state','average_ms','failed','tries','fastest_ms','slowest_ms','mean_ms','stddev_ms']]"
            "+['' if t is None else '%.3f'%t for t in r['tries_ms']]))\n";
        std::ofstream(FDir / "reader.py") << (format == "csv" ? csvReader : jsonReader);
        std::string command = "python3 " + Quoted((FDir / "reader.py").string()) + " " +
                              Quoted((FDir / "output").string()) + " >" + Quoted((FDir / "parsed").string());
        EXPECT_EQ(std::system(command.c_str()), 0);
        return ReadFile(FDir / "parsed");
    }

    THttpServer FHttp;
    std::unique_ptr<TDnsResponder> FDns;
};

// The page's figures as read back: each try to the microsecond (three
// decimals), the slowest no faster than the fastest, the mean in between.
void CheckTryFigures(const std::string& row)
{
    std::vector<std::string> page;
    for (std::istringstream in(row); std::getline(in, page.emplace_back(), '|');) {
    }
    page.pop_back();
    ASSERT_EQ(page.size(), 14u) << row;
    EXPECT_EQ(page[0], "网页");
    const double average = std::stod(page[2]), fastest = std::stod(page[5]), slowest = std::stod(page[6]);
    const double mean = std::stod(page[7]), stddev = std::stod(page[8]);
    EXPECT_GE(fastest, 20.0);  // the page answers after 20 ms
    EXPECT_LE(fastest, mean);
    EXPECT_LE(mean, slowest);
    EXPECT_NEAR(mean, average, 0.006);  // the same figure, rounded to three decimals and to two
    EXPECT_GE(stddev, 0.0);
    EXPECT_LE(stddev, slowest - fastest);
    for (size_t i = 9; i < 14; ++i) {
        ASSERT_GE(page[i].size(), 4u) << row;
        EXPECT_EQ(page[i][page[i].size() - 4], '.') << page[i];
        EXPECT_GE(std::stod(page[i]), fastest);
        EXPECT_LE(std::stod(page[i]), slowest);
    }
}

TEST_F(OrvelCliRun, TableShowsTheWindowsColumnsAndTheAverage)
{
    TOutcome result = Run(DirArg());  // the plan named in DestLists.ini
    EXPECT_EQ(result.Status, 1);
    EXPECT_EQ(result.Err, "");  // no progress when standard error is no terminal
    std::vector<std::string> lines = TextLines(result.Out);
    ASSERT_EQ(lines.size(), ItemCount() + 4) << result.Out;
    EXPECT_EQ(lines[0].rfind("名称", 0), 0u);
    EXPECT_EQ(lines[1].rfind("网页", 0), 0u);
    EXPECT_NE(lines[1].find("取首页内容"), std::string::npos);
    EXPECT_EQ(lines[2].rfind("refused", 0), 0u);
    EXPECT_NE(lines[2].find("没响应  失败率5/5"), std::string::npos);
    EXPECT_EQ(lines[ItemCount() + 2], "测速项总数: " + std::to_string(ItemCount()));
    EXPECT_EQ(lines[ItemCount() + 3].rfind("平均耗时: ", 0), 0u);
    double average = std::stod(lines[ItemCount() + 3].substr(std::string("平均耗时: ").size()));
    EXPECT_GE(average, FDns ? 10.0 : 20.0);  // the page answers after 20 ms
}

TEST_F(OrvelCliRun, CsvReadsBackWithTheFiguresOfEachTry)
{
    TOutcome result = Run("--plan LO --format csv " + DirArg());  // plan names ignore case
    EXPECT_EQ(result.Status, 1);
    std::string parsed = ReadBack("csv", result.Out);
    if (parsed == "no python3")
        GTEST_SKIP() << "python3 is not installed";
    std::vector<std::string> rows = TextLines(parsed);
    ASSERT_EQ(rows.size(), ItemCount()) << parsed;
    EXPECT_EQ(rows[0].rfind("网页|done|", 0), 0u) << rows[0];
    EXPECT_EQ(rows[1], "refused|no_response||5|5|||||||||");
    if (FDns) {
        EXPECT_EQ(rows[2].rfind("dns|done|", 0), 0u) << rows[2];
    }
    CheckTryFigures(rows[0]);
}

TEST_F(OrvelCliRun, JsonReadsBackWithPlanAndAverage)
{
    TOutcome result = Run("--plan lo --format=json " + DirArg());
    EXPECT_EQ(result.Status, 1);
    std::string parsed = ReadBack("json", result.Out);
    if (parsed == "no python3")
        GTEST_SKIP() << "python3 is not installed";
    std::vector<std::string> rows = TextLines(parsed);
    ASSERT_EQ(rows.size(), ItemCount() + 1) << parsed;
    EXPECT_EQ(rows[0].rfind("lo ", 0), 0u);
    EXPECT_EQ(rows[2], "refused|no_response||5|5|||||||||");  // absent figures stay absent
    CheckTryFigures(rows[1]);
}

TEST_F(OrvelCliRun, NoAnswerAtAllExitsOne)
{
    TOutcome result = Run("--plan dead --format csv " + DirArg());
    EXPECT_EQ(result.Status, 1);
    EXPECT_EQ(result.Err, "");
    EXPECT_EQ(TextLines(result.Out).size(), 2u);
}

// Each completed run goes into History.db beside the plans, unless
// --no-record; --history prints them, a plan known however it is typed.
TEST_F(OrvelCliRun, RecordsEachRunAndPrintsTheHistory)
{
    EXPECT_EQ(Run("--history " + DirArg()).Out, "开始时间  方案  平均耗时(毫秒)  响应/总数\n\n测速次数: 0\n");
    EXPECT_FALSE(fs::exists(FDir / "History.db"));  // reading makes none

    EXPECT_EQ(Run("--plan dead --format csv " + DirArg()).Status, 1);
    EXPECT_EQ(Run("--plan DEAD --format csv --no-record " + DirArg()).Status, 1);
    TOutcome first = Run("--history --format csv " + DirArg());
    EXPECT_EQ(first.Status, 0);
    std::vector<std::string> rows = TextLines(first.Out);
    ASSERT_EQ(rows.size(), 2u) << first.Out;
    EXPECT_EQ(rows[0], "id,started,ended,plan,average_ms,answered,total\r");
    EXPECT_NE(rows[1].find(",dead,,0,1\r"), std::string::npos) << rows[1];

    EXPECT_EQ(Run("--plan LO --format csv " + DirArg()).Status, 1);
    TOutcome lo = Run("--history --plan Lo --format json " + DirArg());
    EXPECT_EQ(lo.Status, 0);
    EXPECT_NE(lo.Out.find("\"plan\": \"lo\""), std::string::npos) << lo.Out;
    EXPECT_NE(lo.Out.find("\"answered\": " + std::to_string(ItemCount() - 1) + ", \"total\": " +
                          std::to_string(ItemCount())),
              std::string::npos)
        << lo.Out;
    EXPECT_EQ(lo.Out.find("dead"), std::string::npos);
    EXPECT_EQ(TextLines(Run("--history --since 2000-01-01 " + DirArg()).Out).size(), 5u);
    EXPECT_EQ(TextLines(Run("--history --since 2999-01-01 " + DirArg()).Out).size(), 3u);
    EXPECT_EQ(TextLines(Run("--history --since 0001-01-01 " + DirArg()).Out).size(), 5u);
}

// --history --plan NAME for a plan that neither the store nor the history
// knows is a typing error; one only the history knows still has its runs.
TEST_F(OrvelCliRun, HistoryOfAPlanNobodyKnowsIsBadUsage)
{
    const auto refused = [this](const std::string& args) {
        const TOutcome result = Run("--history " + args + " " + DirArg());
        EXPECT_EQ(result.Status, 2) << args;
        EXPECT_EQ(result.Out, "") << args;
        EXPECT_EQ(std::count(result.Err.begin(), result.Err.end(), '\n'), 1) << result.Err;
        return result.Err;
    };
    EXPECT_NE(refused("--plan nosuch").find("unknown plan 'nosuch'"), std::string::npos);
    refused("--plan ''");  // would read as every plan
    EXPECT_EQ(Run("--history --plan lo " + DirArg()).Status, 0);  // in the store, no runs yet
    EXPECT_EQ(Run("--plan dead " + DirArg()).Status, 1);
    WriteStore({"other=a^127.0.0.1^0"}, "other");  // dead is gone from the store
    const TOutcome gone = Run("--history --plan dead --format csv " + DirArg());
    EXPECT_EQ(gone.Status, 0) << gone.Err;
    EXPECT_EQ(TextLines(gone.Out).size(), 2u) << gone.Out;
    EXPECT_EQ(Run("--history --plan dead --since 2999-01-01 " + DirArg()).Status, 0);
    refused("--plan nosuch");
    refused("--plan ''");
}

// A history that cannot take the run: the results as always, the run's exit
// status, one line on standard error, and every file left as it was.
TEST_F(OrvelCliRun, AFailedRecordIsOneLineAndChangesNothing)
{
    const std::string store = ReadFile(FDir / "Projects.dat"), settings = ReadFile(FDir / "DestLists.ini");
    const std::string garbage(8192, 'g');
    std::ofstream(FDir / "History.db", std::ios::binary) << garbage;
    TOutcome corrupt = Run("--plan dead --format csv " + DirArg());
    EXPECT_EQ(corrupt.Status, 1);
    EXPECT_EQ(TextLines(corrupt.Out).size(), 2u);
    EXPECT_EQ(corrupt.Err.rfind("orvel-cli: the run was not recorded: 数据库文件已损坏", 0), 0u) << corrupt.Err;
    EXPECT_EQ(std::count(corrupt.Err.begin(), corrupt.Err.end(), '\n'), 1) << corrupt.Err;
    EXPECT_EQ(ReadFile(FDir / "History.db"), garbage);
    EXPECT_EQ(ReadFile(FDir / "Projects.dat"), store);
    EXPECT_EQ(ReadFile(FDir / "DestLists.ini"), settings);

    TOutcome history = Run("--history " + DirArg());
    EXPECT_EQ(history.Status, 2);
    EXPECT_EQ(history.Out, "");
    EXPECT_EQ(history.Err.rfind("orvel-cli: 数据库文件已损坏", 0), 0u) << history.Err;

    fs::remove(FDir / "History.db");
    fs::create_directory(FDir / "History.db");
    TOutcome unopenable = Run("--plan lo --format csv " + DirArg());
    EXPECT_EQ(unopenable.Status, 1);
    EXPECT_EQ(TextLines(unopenable.Out).size(), ItemCount() + 1);
    EXPECT_EQ(unopenable.Err.rfind("orvel-cli: the run was not recorded: 无法创建或打开数据库文件", 0), 0u)
        << unopenable.Err;
    EXPECT_EQ(ReadFile(FDir / "Projects.dat"), store);
}

// An ordinary user may read the plans but not write in their folder.
TEST_F(OrvelCliRun, AnUnwritableFolderIsOneLine)
{
    for (const char* name : {"Projects.dat", "DestLists.ini"})
        ::chmod((FDir / name).c_str(), 0644);
    ::chmod(FDir.c_str(), 0755);
    const std::string command = Quoted(std::string(ORVEL_BIN_DIR) + "/orvel-cli") + " --plan dead --format csv " +
                                DirArg() + " 2>&1 >/dev/null </dev/null";
    const TUserRun run = RunAsOrdinaryUser(FDir.string(), [&] {
        if (::access(FDir.c_str(), W_OK) == 0)
            return std::string("\x01the folder is writable");
        return StatusAndOutput(command);
    });
    if (!run.Ran)
        GTEST_SKIP() << run.SkipReason;
    if (run.Result.rfind("\x01", 0) == 0)
        GTEST_SKIP() << run.Result.substr(1);
    EXPECT_EQ(run.Result.rfind("1:orvel-cli: the run was not recorded: 无法创建或打开数据库文件", 0), 0u) << run.Result;
    EXPECT_EQ(std::count(run.Result.begin(), run.Result.end(), '\n'), 1) << run.Result;
    EXPECT_FALSE(fs::exists(FDir / "History.db"));
}

}  // namespace

namespace {

// Targets typed on the command line, against the same loopback servers.
class OrvelCliTargets : public OrvelCliRun {
protected:
    // No store anywhere: the user's data folder is an empty one of the test's.
    TOutcome RunTargets(const std::string& args)
    {
        fs::create_directories(FDir / "home");
        return RunProgram(std::string(ORVEL_BIN_DIR) + "/orvel-cli", args,
                          "HOME=" + Quoted((FDir / "home").string()) + " XDG_DATA_HOME=" +
                              Quoted((FDir / "home" / "data").string()));
    }
    std::string Refused() const { return "127.0.0.1:" + std::to_string(THttpServer::RefusedPort()); }
};

size_t Count(const std::string& text, const std::string& piece)
{
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++count;
    return count;
}

TEST_F(OrvelCliTargets, EachMethodNamedAsTypedWithoutAStore)
{
    std::string args = "-c 2 -i 0 --format json 127.0.0.1 --http " + FHttp.HostPort();
    if (FDns)
        args += " --dns 127.0.0.154";
    const TOutcome result = RunTargets(args);
    EXPECT_EQ(result.Status, 0) << result.Out << result.Err;
    EXPECT_NE(result.Out.find("\"plan\": \"\""), std::string::npos) << result.Out;
    EXPECT_NE(result.Out.find("\"name\": \"127.0.0.1\", \"host\": \"127.0.0.1\", \"method_code\": 0"),
              std::string::npos);
    EXPECT_NE(result.Out.find("\"name\": \"" + FHttp.HostPort() + "\", \"host\": \"" + FHttp.HostPort() +
                              "\", \"method_code\": 1"),
              std::string::npos);
    if (FDns) {
        EXPECT_NE(result.Out.find("\"name\": \"127.0.0.154\", \"host\": \"127.0.0.154\", \"method_code\": 2"),
                  std::string::npos);
    }
    // Every target answered: a Ping, the page and (where it runs) the DNS server.
    EXPECT_EQ(Count(result.Out, "\"state\": \"done\""), ItemCount());
    EXPECT_EQ(Count(result.Out, "\"tries\": 2"), ItemCount());
    EXPECT_TRUE(fs::is_empty(FDir / "home"));  // nothing read or recorded
}

// The DNS server is asked for the name given, and the item is named by its
// method; a name no query could carry is bad usage.
TEST_F(OrvelCliTargets, DnsNameIsWhatTheServerIsAskedFor)
{
    const TOutcome bad = RunTargets("--dns 127.0.0.154 --dns-name a..test");
    EXPECT_EQ(bad.Status, 2);
    EXPECT_EQ(bad.Out, "");
    EXPECT_EQ(bad.Err.rfind("orvel-cli: --dns-name takes a DNS name", 0), 0u) << bad.Err;
    EXPECT_EQ(RunTargets("--dns 127.0.0.154 --dns-name " + std::string(64, 'a')).Status, 2);
    if (!FDns)
        GTEST_SKIP() << "no DNS server on 127.0.0.154:53";

    const TOutcome asked = RunTargets("-c 2 -i 0 --format csv --dns 127.0.0.154 --dns-name probe.example.test");
    EXPECT_EQ(asked.Status, 0) << asked.Err;
    EXPECT_NE(asked.Out.find("127.0.0.154,127.0.0.154,2,DNS查询,done,"), std::string::npos) << asked.Out;
    const TOutcome plain = RunTargets("-c 1 --dns 127.0.0.154");
    EXPECT_EQ(plain.Status, 0) << plain.Err;
    EXPECT_NE(plain.Out.find("DNS查询"), std::string::npos) << plain.Out;
    std::vector<std::string> questions;
    for (const std::string& query : FDns->Queries())
        questions.push_back(dnsmsg::QuestionOf(query));
    const std::string probe = dnsmsg::Question(dnsmsg::Name("probe.example.test"));
    const std::string fixed = dnsmsg::Question(dnsmsg::Name(DNSQueryHostName));
    EXPECT_EQ(questions, (std::vector<std::string>{probe, probe, fixed}));
}

TEST_F(OrvelCliTargets, ExitStatusTellsAnyItemWithoutAnswer)
{
    EXPECT_EQ(RunTargets("-c 1 127.0.0.1 --http " + FHttp.HostPort()).Status, 0);
    const TOutcome partial = RunTargets("-c 1 -i 0 127.0.0.1 --http " + Refused());
    EXPECT_EQ(partial.Status, 1);
    EXPECT_NE(partial.Out.find("没响应  失败率1/1"), std::string::npos) << partial.Out;
    EXPECT_EQ(RunTargets("-c 1 --http " + Refused()).Status, 1);

    const TOutcome bad = RunTargets("-c 0 127.0.0.1");
    EXPECT_EQ(bad.Status, 2);
    EXPECT_EQ(bad.Out, "");
    EXPECT_EQ(bad.Err, "orvel-cli: --count must be from 1 to 1000, not 0 (see --help)\n");
    EXPECT_EQ(RunTargets("127.0.0.1 " + DirArg()).Status, 2);
    EXPECT_EQ(RunTargets("--watch 1 --listen nowhere.test:1 127.0.0.1").Status, 2);
}

nlohmann::json ParsedJson(const TOutcome& result)
{
    try {
        return nlohmann::json::parse(result.Out);
    } catch (const nlohmann::json::exception& error) {
        ADD_FAILURE() << error.what() << "\n" << result.Out << result.Err;
        return nlohmann::json::object();
    }
}

// The field of the CSV row under the header's column.
std::string CsvField(const std::string& csv, size_t row, const std::string& column)
{
    const auto fields = [](const std::string& line) {
        std::vector<std::string> out;
        for (std::istringstream in(line.substr(0, line.find('\r'))); std::getline(in, out.emplace_back(), ',');) {
        }
        if (!line.empty() && line[line.find('\r') - 1] != ',')
            out.pop_back();
        return out;
    };
    const std::vector<std::string> lines = TextLines(csv);
    const std::vector<std::string> header = fields(lines.at(0)), values = fields(lines.at(row));
    const size_t at = std::find(header.begin(), header.end(), column) - header.begin();
    return at < values.size() ? values[at] : "(no " + column + ")";
}

// Each failed try says why, by its code: a closed port, and a page slower
// than the time a try may take.
TEST_F(OrvelCliTargets, CsvAndJsonGiveEachFailedTrysCause)
{
    THttpServer slow;
    slow.SetResponse({200, 10, 3000, false, ""});
    const std::string args = "-c 2 -i 0 -t 300 --http " + Refused() + " --http " + slow.HostPort();
    const TOutcome json = RunTargets(args + " --format json");
    EXPECT_EQ(json.Status, 1);
    const nlohmann::json run = ParsedJson(json);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(run["items"][0]["outcomes"][i]["cause"], "refused") << json.Out;
        EXPECT_EQ(run["items"][1]["outcomes"][i]["cause"], "timeout") << json.Out;
        EXPECT_EQ(run["items"][1]["outcomes"][i]["ok"], false);
    }
    EXPECT_FALSE(run["items"][0].contains("http"));

    const TOutcome csv = RunTargets(args + " --format csv");
    EXPECT_EQ(csv.Status, 1);
    EXPECT_EQ(CsvField(csv.Out, 1, "try1_cause"), "refused") << csv.Out;
    EXPECT_EQ(CsvField(csv.Out, 1, "try2_cause"), "refused");
    EXPECT_EQ(CsvField(csv.Out, 2, "try2_cause"), "timeout");
    EXPECT_EQ(CsvField(csv.Out, 2, "status"), "");
}

// A real fetch from 127.0.0.1: its phases sum to its time, and it says what
// the server answered and where it was.
TEST_F(OrvelCliTargets, APagesPhasesSumToEachTrysTime)
{
    const TOutcome result = RunTargets("-c 3 -i 0 --format json --http " + FHttp.HostPort());
    EXPECT_EQ(result.Status, 0) << result.Err;
    const nlohmann::json item = ParsedJson(result)["items"][0];
    EXPECT_EQ(item["address"], "127.0.0.1") << result.Out;
    for (int i = 0; i < 3; ++i) {
        const nlohmann::json& fetch = item["outcomes"][i];
        EXPECT_EQ(fetch["ok"], true) << result.Out;
        EXPECT_FALSE(fetch.contains("tls_ms"));  // plain HTTP
        double sum = 0;
        for (const char* phase : {"resolve_ms", "connect_ms", "processing_ms", "transfer_ms"}) {
            ASSERT_TRUE(fetch[phase].is_number()) << phase << " in " << fetch;
            EXPECT_GE(fetch[phase].get<double>(), 0.0);
            sum += fetch[phase].get<double>();
        }
        EXPECT_NEAR(sum, item["tries_ms"][i].get<double>(), 1e-6) << fetch;
        EXPECT_GE(fetch["processing_ms"].get<double>(), 20.0);  // the server waits 20 ms before answering
        EXPECT_EQ(fetch["status"], 200);
        EXPECT_EQ(fetch["address"], "127.0.0.1");
        EXPECT_EQ(fetch["body_bytes"], 1000);
        EXPECT_GT(fetch["rate_kbps"].get<double>(), 0.0);
    }
    const nlohmann::json& means = item["http"];
    EXPECT_NEAR(means["resolve_ms"].get<double>() + means["connect_ms"].get<double>() +
                    means["processing_ms"].get<double>() + means["transfer_ms"].get<double>(),
                item["mean_ms"].get<double>(), 0.003)
        << means;
    EXPECT_EQ(means["status"], 200);
}

// As curl --fail: an error status fails the try, and the run exits 1;
// without it the page answered, and says with what.
TEST_F(OrvelCliTargets, FailMakesAnErrorStatusAFailedTry)
{
    FHttp.SetResponse({500, 10, 0, false, ""});
    const TOutcome failed = RunTargets("-c 2 -i 0 --fail --format json --http " + FHttp.HostPort());
    EXPECT_EQ(failed.Status, 1) << failed.Err;
    const nlohmann::json item = ParsedJson(failed)["items"][0];
    EXPECT_EQ(item["state"], "no_response") << failed.Out;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(item["outcomes"][i]["cause"], "http_status") << failed.Out;
        EXPECT_EQ(item["outcomes"][i]["status"], 500);
    }
    EXPECT_EQ(item["http"]["status"], 500);

    const TOutcome csv = RunTargets("-c 1 --fail --format csv --http " + FHttp.HostPort());
    EXPECT_EQ(csv.Status, 1);
    EXPECT_EQ(CsvField(csv.Out, 1, "try1_cause"), "http_status") << csv.Out;
    EXPECT_EQ(CsvField(csv.Out, 1, "status"), "500");

    const TOutcome answered = RunTargets("-c 1 --format json --http " + FHttp.HostPort());
    EXPECT_EQ(answered.Status, 0) << answered.Err;
    EXPECT_EQ(ParsedJson(answered)["items"][0]["outcomes"][0]["status"], 500);
    EXPECT_EQ(ParsedJson(answered)["items"][0]["outcomes"][0]["ok"], true);
}

// The pause and the limit shape the run as typed: three tries 400 ms apart
// take at least 800 ms; a page slower than -t fails at the limit.
TEST_F(OrvelCliTargets, IntervalAndTimeout)
{
    auto started = std::chrono::steady_clock::now();
    const TOutcome paced = RunTargets("-c 3 -i 400 --format csv 127.0.0.1");
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(800));
    EXPECT_EQ(paced.Status, 0) << paced.Err;
    const std::string header = TextLines(paced.Out).at(0);
    EXPECT_NE(header.find(",try1_ms,try2_ms,try3_ms,try1_cause,try2_cause,try3_cause,"), std::string::npos) << header;

    // No pause after the last try: two tries 2 s apart end long before 4 s.
    started = std::chrono::steady_clock::now();
    const TOutcome between = RunTargets("-c 2 -i 2000 127.0.0.1");
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(2000));
    EXPECT_LT(took, std::chrono::milliseconds(3500));
    EXPECT_EQ(between.Status, 0) << between.Err;

    FHttp.SetResponse({200, 100, 4000, false, ""});
    started = std::chrono::steady_clock::now();
    const TOutcome limited = RunTargets("-c 1 -t 300 --http " + FHttp.HostPort());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(3500));
    EXPECT_EQ(limited.Status, 1);
}

// How a shell command ended and what it wrote to its standard error, a
// terminal of the test's own, read as it comes so that the terminal never fills.
TOutcome StandardErrorOnATerminal(const std::string& command)
{
    TOutcome outcome;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return outcome;
    const std::string terminal = ::ptsname(master);
    // Held open, the terminal reads as empty rather than as hung up until the command is done.
    const int held = ::open(terminal.c_str(), O_RDWR | O_NOCTTY);
    std::atomic<bool> done{false};
    std::thread run([&] {
        const int raw = std::system((command + " 2>" + Quoted(terminal)).c_str());
        outcome.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        done = true;
    });
    std::string& text = outcome.Err;
    for (;;) {
        const bool finished = done;  // before the poll: then all it wrote is there to read
        pollfd readable{master, POLLIN, 0};
        char buffer[4096];
        ssize_t got = 0;
        if (::poll(&readable, 1, 50) > 0 && (got = ::read(master, buffer, sizeof buffer)) > 0) {
            text.append(buffer, static_cast<size_t>(got));
            continue;
        }
        if (finished)
            break;
    }
    run.join();
    ::close(held);
    ::close(master);
    return outcome;
}

// A thousand items on a terminal: one line, its figures rewritten a few
// times a second rather than once an item, and cleared at the end.
TEST_F(OrvelCliTargets, ProgressOnATerminalIsOneLineRewrittenSeldom)
{
    constexpr int kItems = 1000;
    std::string targets;
    for (int i = 0; i < kItems; ++i)
        targets += " 127.3." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
    fs::create_directories(FDir / "home");
    const std::string command = "env HOME=" + Quoted((FDir / "home").string()) + " " +
                                Quoted(std::string(ORVEL_BIN_DIR) + "/orvel-cli") + " -c 1 -i 0 --workers 100" +
                                targets + " >" + Quoted((FDir / "stdout").string()) + " </dev/null";
    const auto started = std::chrono::steady_clock::now();
    const TOutcome run = StandardErrorOnATerminal(command);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    EXPECT_EQ(run.Status, 0) << run.Err;
    const std::string& shown = run.Err;
    EXPECT_EQ(shown.find('\n'), std::string::npos) << shown;
    ASSERT_GE(shown.size(), 4u) << shown;
    EXPECT_EQ(shown.substr(shown.size() - 4), "\r\033[K") << shown;
    const size_t figures = Count(shown, "/" + std::to_string(kItems));
    EXPECT_GE(figures, 1u) << shown;
    // The first at once, then at most one each tenth of a second.
    EXPECT_LE(figures, static_cast<size_t>(took.count() / 100 + 1)) << shown;
    EXPECT_EQ(Count(ReadFile(FDir / "stdout"), "\n127.3."), static_cast<size_t>(kItems));  // each row
}

TDnsResponse AnswerExample(const std::string& query, int)
{
    const std::string answer = dnsmsg::Record(dnsmsg::Name(DNSQueryHostName), 1, 60, dnsmsg::AData("127.0.0.1"));
    return TDnsResponse{dnsmsg::Reply(query, 0x8180, 1, 0, 0, answer)};
}

TDnsResponse Silence(const std::string&, int) { return TDnsResponse{std::nullopt}; }

// Each target that cannot be measured is bad usage, and nothing is measured:
// the DNS server typed with it is never asked.
TEST_F(OrvelCliTargets, BadTargetsAreBadUsageBeforeAnythingIsMeasured)
{
    TDnsResponder dns(AnswerExample);
    const std::string server = "--dns 127.0.0.1:" + std::to_string(dns.Port());
    for (const std::string& bad :
         {std::string("--http 'http://[::1'"), std::string("--http ftp://127.0.0.1/"), std::string("--http 127.0.0.1:0"),
          std::string("--http http://127.0.0.1:65536/"), std::string("--tcp 127.0.0.1:0"), std::string("--dns 127.0.0.1:0"),
          std::string("--dns '[::1'"), std::string("''"), "--ping " + std::string(254, 'a'),
          "--http http://" + std::string(254, 'a') + "/", "--http http://127.0.0.1/" + std::string(2040, 'p')}) {
        const TOutcome result = RunTargets("-c 1 -i 0 " + server + " " + bad);
        EXPECT_EQ(result.Status, 2) << bad;
        EXPECT_EQ(result.Out, "") << bad;
        EXPECT_EQ(std::count(result.Err.begin(), result.Err.end(), '\n'), 1) << result.Err;
        EXPECT_EQ(result.Err.rfind("orvel-cli: ", 0), 0u) << result.Err;
    }
    EXPECT_EQ(dns.QueryCount(), 0);
}

// --dns SERVER:PORT and [IPv6]:PORT ask the server on that port; the item is
// named as typed.
TEST_F(OrvelCliTargets, DnsAsksTheServerOnThePortGiven)
{
    TDnsResponder dns(AnswerExample);
    const std::string server = "127.0.0.1:" + std::to_string(dns.Port());
    const TOutcome result = RunTargets("-c 2 -i 0 --format csv --dns " + server);
    EXPECT_EQ(result.Status, 0) << result.Err;
    EXPECT_NE(result.Out.find(server + "," + server + ",2,DNS查询,done,"), std::string::npos) << result.Out;
    EXPECT_EQ(dns.QueryCount(), 2);

    std::unique_ptr<TDnsResponder> six;
    try {
        six = std::make_unique<TDnsResponder>(AnswerExample, "::1");
    } catch (const std::system_error& error) {
        GTEST_SKIP() << "no ::1 here: " << error.what();
    }
    const std::string bracketed = "[::1]:" + std::to_string(six->Port());
    const TOutcome ipv6 = RunTargets("-c 1 --format csv --dns " + bracketed);
    EXPECT_EQ(ipv6.Status, 0) << ipv6.Err;
    EXPECT_NE(ipv6.Out.find(bracketed + "," + bracketed + ",2,DNS查询,done,"), std::string::npos) << ipv6.Out;
    EXPECT_EQ(six->QueryCount(), 1);
}

// -q: only the results, even on a terminal, where the progress line shows otherwise.
TEST_F(OrvelCliTargets, QuietShowsNoProgress)
{
    fs::create_directories(FDir / "home");
    const auto command = [this](const std::string& args) {
        return "env HOME=" + Quoted((FDir / "home").string()) + " " +
               Quoted(std::string(ORVEL_BIN_DIR) + "/orvel-cli") + " -c 1 -i 0 " + args + " >" +
               Quoted((FDir / "stdout").string()) + " </dev/null";
    };
    const TOutcome shown = StandardErrorOnATerminal(command("127.0.0.1 127.0.0.2"));
    EXPECT_EQ(shown.Status, 0);
    EXPECT_NE(shown.Err.find("\r\033[K"), std::string::npos) << shown.Err;
    for (const std::string quiet : {"-q", "--quiet"}) {
        const TOutcome run = StandardErrorOnATerminal(command(quiet + " 127.0.0.1 127.0.0.2"));
        EXPECT_EQ(run.Status, 0);
        EXPECT_EQ(run.Err, "");
        EXPECT_EQ(Count(ReadFile(FDir / "stdout"), "\n127.0.0."), 2u);
    }
}

// -a and -u: the targets that answered, or did not, one a line and nothing
// else; the exit status stays the run's.
TEST_F(OrvelCliTargets, AliveAndUnreachListTheTargets)
{
    TDnsResponder silent(Silence);
    const std::string quiet = "127.0.0.1:" + std::to_string(silent.Port());
    const std::string refused = Refused();
    const std::string targets = " 127.0.0.1 --tcp " + refused + " --dns " + quiet + " --http " + FHttp.HostPort();
    const TOutcome alive = RunTargets("-a -c 1 -i 0 -t 300" + targets);
    EXPECT_EQ(alive.Status, 1) << alive.Err;
    EXPECT_EQ(alive.Out, "127.0.0.1\n" + FHttp.HostPort() + "\n");
    EXPECT_EQ(alive.Err, "");
    const TOutcome unreach = RunTargets("--unreach -c 1 -i 0 -t 300" + targets);
    EXPECT_EQ(unreach.Status, 1);
    EXPECT_EQ(unreach.Out, refused + "\n" + quiet + "\n");
    const TOutcome none = RunTargets("-u -c 1 127.0.0.1");
    EXPECT_EQ(none.Status, 0);
    EXPECT_EQ(none.Out, "");
}

// -v: a line on standard error for each try as it ends; standard output
// keeps the results as the format has them.
TEST_F(OrvelCliTargets, VerbosePrintsEachTryAsItEnds)
{
    const std::string refused = Refused();
    const TOutcome result = RunTargets("-v -c 2 -i 0 --format json 127.0.0.1 --tcp " + refused);
    EXPECT_EQ(result.Status, 1);
    EXPECT_TRUE(nlohmann::json::accept(result.Out)) << result.Out;
    std::vector<std::string> lines = TextLines(result.Err);
    std::sort(lines.begin(), lines.end());
    ASSERT_EQ(lines.size(), 4u) << result.Err;
    // "127.0.0.1 : [N], MS.UUU ms" (no std::regex: GCC 12 warns in it under ASan).
    const auto answered = [](const std::string& line) {
        unsigned number = 0;
        unsigned whole = 0;
        char fraction[4] = {};
        int end = 0;
        return std::sscanf(line.c_str(), "127.0.0.1 : [%u], %u.%3[0-9] ms%n", &number, &whole, fraction, &end) == 3 &&
               static_cast<size_t>(end) == line.size() && (number == 1 || number == 2) && std::strlen(fraction) == 3;
    };
    EXPECT_TRUE(answered(lines[0])) << lines[0];
    EXPECT_TRUE(answered(lines[1])) << lines[1];
    EXPECT_NE(lines[0], lines[1]);
    EXPECT_EQ(lines[2], refused + " : [1], refused");
    EXPECT_EQ(lines[3], refused + " : [2], refused");
}

// -4 and -6 resolve names to that family only; an address of the other is bad usage.
TEST_F(OrvelCliTargets, AFamilyKeepsToItsAddresses)
{
    const TOutcome four = RunTargets("-4 -c 1 --format json localhost");
    EXPECT_EQ(four.Status, 0) << four.Err;
    EXPECT_NE(four.Out.find("\"address\": \"127.0.0.1\""), std::string::npos) << four.Out;
    const TOutcome mixed = RunTargets("-6 -c 1 127.0.0.1");
    EXPECT_EQ(mixed.Status, 2);
    EXPECT_EQ(mixed.Err, "orvel-cli: -6 and '127.0.0.1' do not go together: it is an IPv4 address (see --help)\n");
    if (RunTargets("-c 1 ::1").Status != 0)
        GTEST_SKIP() << "::1 does not answer here";
    const TOutcome six = RunTargets("-6 -c 1 --format json ::1");
    EXPECT_EQ(six.Status, 0) << six.Err;
    EXPECT_NE(six.Out.find("\"address\": \"::1\""), std::string::npos) << six.Out;
}

TEST_F(OrvelCliTargets, OpenMetricsPassesPromtool)
{
    if (std::system("promtool --version >/dev/null 2>&1") != 0) {
        if (std::getenv("CI"))
            FAIL() << "promtool is missing; scripts/setup.sh test installs it";
        GTEST_SKIP() << "promtool is not installed";
    }
    const TOutcome result = RunTargets("-c 2 -i 0 --format openmetrics 127.0.0.1 127.0.0.1 --http " + Refused() +
                                       " --http " + FHttp.HostPort());
    EXPECT_EQ(result.Status, 1);
    const std::string page = "{plan=\"\",item=\"" + FHttp.HostPort() + "\",host=\"" + FHttp.HostPort() +
                             "\",method=\"http\"";
    for (const char* phase : {"resolve", "connect", "processing", "transfer"})
        EXPECT_NE(result.Out.find("\norvel_item_http_phase_seconds" + page + ",phase=\"" + phase + "\"} "),
                  std::string::npos)
            << phase << "\n" << result.Out;
    EXPECT_NE(result.Out.find("\norvel_item_http_status_code" + page + "} 200\n"), std::string::npos);
    EXPECT_EQ(Count(result.Out, "\norvel_item_http_status_code{"), 1u);  // not for the refused page
    EXPECT_NE(result.Out.find("orvel_item_success{plan=\"\",item=\"127.0.0.1 (2)\",host=\"127.0.0.1\","
                              "method=\"ping\"} 1\n"),
              std::string::npos)
        << result.Out;
    std::ofstream(FDir / "metrics", std::ios::binary) << result.Out;
    EXPECT_EQ(StatusAndOutput("promtool check metrics < " + Quoted((FDir / "metrics").string()) + " 2>&1"), "0:");
}

}  // namespace

namespace {

// orvel-cli itself, not a shell, with SIGINT and SIGTERM at their defaults
// (whoever runs the tests may ignore SIGINT, and an ignored signal stays
// ignored), and SIGPIPE too unless pipeIgnored; standard output onto out,
// standard error into the file err, HOME the given folder.
pid_t SpawnCli(const std::string& args, const fs::path& home, int out, const fs::path& err, bool pipeIgnored = false)
{
    std::vector<std::string> words{std::string(ORVEL_BIN_DIR) + "/orvel-cli"};
    for (std::istringstream in(args); in >> words.emplace_back();) {
    }
    words.pop_back();
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment{"HOME=" + home.string()};
    for (char** variable = environ; *variable; ++variable)
        if (std::string_view(*variable).rfind("HOME=", 0) != 0)
            environment.emplace_back(*variable);
    std::vector<char*> envp;
    for (std::string& variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&files, out, 1);
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    if (!pipeIgnored)
        sigaddset(&signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    // An ignored signal stays ignored in the program.
    struct sigaction ignore{}, previous{};
    ignore.sa_handler = SIG_IGN;
    if (pipeIgnored)
        ::sigaction(SIGPIPE, &ignore, &previous);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &files, &attributes, argv.data(), envp.data());
    if (pipeIgnored)
        ::sigaction(SIGPIPE, &previous, nullptr);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    EXPECT_EQ(spawned, 0) << std::strerror(spawned);
    return spawned == 0 ? pid : -1;
}

// Polls until done() or the deadline; true when done.
// Under a low limit of open files many fetches find no descriptor: they fail
// as unanswered ones do, and one line says what ran out and how to raise it.
TEST_F(OrvelCliTargets, TriesThatFindNoDescriptorLeftSaySoInOneLine)
{
#ifdef ORVEL_UNDEFINED_SANITIZER
    GTEST_SKIP() << "UndefinedBehaviorSanitizer's checks in orvel-cli need descriptors of their own";
#endif
    std::string args = "-c 2 -i 0";
    for (int i = 0; i < 40; ++i)
        args += " --http " + FHttp.HostPort();
    fs::create_directories(FDir / "home");
    const TOutcome result = RunProgram("/bin/sh", "-c " + Quoted("ulimit -n 16 && exec " + std::string(ORVEL_BIN_DIR) +
                                                                 "/orvel-cli " + args),
                                       "HOME=" + Quoted((FDir / "home").string()));
    EXPECT_EQ(result.Status, 1) << result.Err;
    EXPECT_GT(Count(result.Out, "没响应"), 0u) << result.Out;
    EXPECT_EQ(result.Err, "orvel-cli: some tries could not open a socket: Too many open files (this process may have "
                          "16 files open; raise the limit with ulimit -n)\n");
}

// The wait status; a program still there after the deadline is killed and
// the test fails.
int WaitForExit(pid_t pid, std::chrono::milliseconds deadline, const std::string& what)
{
    int status = 0;
    if (!WaitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, deadline)) {
        ADD_FAILURE() << "orvel-cli did not end in time: " << what;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    return status;
}

// orvel-cli --watch as a process of its own, against the loopback servers.
class OrvelCliWatch : public OrvelCliTargets {
protected:
    // Starts orvel-cli with args (words without blanks), waits until ready
    // holds for what it has printed so far (failing after 20 s), runs during
    // (a shell snippet that may use $port), sends the signal and waits for the
    // program (killing it, and failing, if it outlives the signal by 20 s).
    TOutcome Watch(const std::string& args, const std::function<bool(const std::string& out)>& ready, int signal,
                   const std::string& during = "")
    {
        const fs::path out = FDir / "watch.out", err = FDir / "watch.err";
        const pid_t pid = SpawnToFiles(args, out, err);
        if (pid <= 0)
            return {};
        EXPECT_TRUE(WaitFor([&] { return ready(ReadFile(out)); }, std::chrono::seconds(20))) << ReadFile(out);
        const std::string errors = ReadFile(err);
        const size_t port = errors.rfind(':');
        const std::string script = "port=" + (port == std::string::npos ? "" : errors.substr(port + 1, 5)) +
                                   "\nport=${port%%/*}\n" + during;
        std::ofstream(FDir / "during.sh") << script;
        FDuring = RunProgram("/bin/sh", Quoted((FDir / "during.sh").string())).Out;
        ::kill(pid, signal);
        const int status = WaitForExit(pid, std::chrono::seconds(20), ReadFile(err));
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
    }
    // A ready condition: at least this many lines printed.
    static std::function<bool(const std::string&)> Lines(size_t count)
    {
        return [count](const std::string& out) { return TextLines(out).size() >= count; };
    }
    std::string FDuring;  // what the snippet printed

    // orvel-cli watching the dead plan every 0.2 s while History.db is held,
    // once it has printed five runs: they keep their period while the first
    // waits for the lock (for up to 5 s).
    pid_t WatchFiveRunsPastTheLock(const fs::path& out, const fs::path& err)
    {
        const pid_t pid = SpawnToFiles("--watch 0.2 -c 1 --format json --plan dead --dir " + FDir.string(), out, err);
        if (pid <= 0)
            return pid;
        EXPECT_TRUE(WaitFor([&] { return TextLines(ReadFile(out)).size() >= 5; }, std::chrono::seconds(4)))
            << ReadFile(out);
        return pid;
    }

    pid_t SpawnToFiles(const std::string& args, const fs::path& out, const fs::path& err)
    {
        const int file = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        EXPECT_GE(file, 0) << out;
        const pid_t pid = SpawnCli(args, Home(), file, err);
        ::close(file);
        return pid;
    }

    fs::path Home()
    {
        fs::create_directories(FDir / "home");
        return FDir / "home";
    }
};

TEST_F(OrvelCliWatch, PrintsEachRunAsItCompletesUntilSigint)
{
    const TOutcome result =
        Watch("--watch 0.3 -c 1 --format json 127.0.0.1 --http " + FHttp.HostPort(), Lines(2), SIGINT);
    EXPECT_EQ(result.Status, 0) << result.Err;
    const std::vector<std::string> lines = TextLines(result.Out);
    EXPECT_GE(lines.size(), 2u) << result.Out;
    EXPECT_LE(lines.size(), 8u) << result.Out;
    for (const std::string& line : lines) {
        EXPECT_EQ(line.rfind("{\"run\":", 0), 0u) << line;
        EXPECT_EQ(line.back(), '}') << line;
        EXPECT_EQ(Count(line, "\"state\":\"done\""), 2u) << line;
    }
    // The summary keeps off the stream, which stays one object per line.
    EXPECT_EQ(result.Err.rfind("\n测速次数: ", 0), 0u) << result.Err;
}

// The seconds since the epoch of an ISO 8601 time with its UTC offset; the
// offset is given back.
std::optional<std::time_t> IsoTime(const std::string& text, std::string& offset)
{
    std::tm fields{};
    const char* rest = ::strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &fields);
    int hours = 0, minutes = 0;
    char sign = 0;
    if (!rest || std::sscanf(rest, "%c%2d:%2d", &sign, &hours, &minutes) != 3 || (sign != '+' && sign != '-') ||
        std::string(rest).size() != 6)
        return std::nullopt;
    offset = rest;
    const int east = (sign == '+' ? 1 : -1) * (hours * 3600 + minutes * 60);
    return ::timegm(&fields) - east;
}

// Each run of a stream carries its number and start time, in the local
// offset, so that the stream reads the same later and elsewhere.
TEST_F(OrvelCliWatch, EachWatchedRunCarriesItsNumberAndStartTime)
{
    TListener listener;
    const std::string target = "--tcp 127.0.0.1:" + std::to_string(listener.Port());
    const char* previous = std::getenv("TZ");
    const std::optional<std::string> zone = previous ? std::optional<std::string>(previous) : std::nullopt;
    ::setenv("TZ", "CST-8", 1);  // +08:00, without a zone file
    const std::time_t before = std::time(nullptr);
    const TOutcome json = Watch("--watch 0.2 -c 1 --format json " + target, Lines(3), SIGINT);
    const TOutcome csv = Watch("--watch 0.2 -c 1 --format csv " + target, Lines(4), SIGINT);
    const std::time_t after = std::time(nullptr);
    zone ? ::setenv("TZ", zone->c_str(), 1) : ::unsetenv("TZ");

    const std::vector<std::string> lines = TextLines(json.Out);
    ASSERT_GE(lines.size(), 3u) << json.Out;
    std::time_t last = before - 1;
    for (size_t index = 0; index < lines.size(); ++index) {
        const nlohmann::json run = nlohmann::json::parse(lines[index]);
        EXPECT_EQ(run["run"], index + 1) << lines[index];
        std::string offset;
        const std::optional<std::time_t> started = IsoTime(run["started"].get<std::string>(), offset);
        ASSERT_TRUE(started) << lines[index];
        EXPECT_EQ(offset, "+08:00");
        EXPECT_GE(*started, last);
        EXPECT_LE(*started, after);
        last = *started;
    }
    const std::vector<std::string> rows = TextLines(csv.Out);
    ASSERT_GE(rows.size(), 4u) << csv.Out;
    EXPECT_NE(rows[0].find(",tries_made,stopped,run,started\r"), std::string::npos) << rows[0];
    for (size_t row = 1; row < rows.size(); ++row) {
        EXPECT_EQ(CsvField(csv.Out, row, "run"), std::to_string(row));
        EXPECT_EQ(CsvField(csv.Out, row, "stopped"), "false");
        std::string offset;
        const std::optional<std::time_t> started = IsoTime(CsvField(csv.Out, row, "started"), offset);
        ASSERT_TRUE(started) << rows[row];
        EXPECT_EQ(offset, "+08:00");
        EXPECT_GE(*started, before);
        EXPECT_LE(*started, after);
    }
}

// SIGINT during a single run, as ping's Ctrl-C: what was measured so far,
// marked as stopped, at once, with the status of those results. A try in
// flight that the stop cut off is not counted.
TEST_F(OrvelCliWatch, SigintDuringARunPrintsWhatWasMeasuredSoFar)
{
    TListener listener;
    const std::string answering = "--tcp 127.0.0.1:" + std::to_string(listener.Port());
    FHttp.SetResponse({200, 100, 10000, false, ""});
    const auto started = std::chrono::steady_clock::now();
    const TOutcome json = Watch("-c 1000 -i 20 --format json " + answering + " --http " + FHttp.HostPort(),
                                [&](const std::string&) { return !FHttp.Requests().empty(); }, SIGINT, "sleep 0.3");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(json.Status, 1) << json.Err;  // the page never answered
    const nlohmann::json run = ParsedJson(json);
    EXPECT_EQ(run["stopped"], true);
    const nlohmann::json& tcp = run["items"][0];
    EXPECT_EQ(tcp["state"], "done");
    EXPECT_EQ(tcp["failed"], 0);
    EXPECT_GT(tcp["tries_made"].get<int>(), 1);
    EXPECT_LT(tcp["tries_made"].get<int>(), 1000);
    EXPECT_EQ(run["average_ms"], tcp["average_ms"]);
    const nlohmann::json& page = run["items"][1];
    EXPECT_EQ(page["state"], "waiting");  // its one try was cut off
    EXPECT_EQ(page["tries_made"], 0);
    EXPECT_TRUE(page["outcomes"][0].is_null()) << page;

    const TOutcome table = Watch("-c 1000 -i 20 " + answering, [](const std::string&) { return true; }, SIGINT,
                                 "sleep 0.3");
    EXPECT_EQ(table.Status, 0) << table.Err;  // every item answered
    const std::vector<std::string> lines = TextLines(table.Out);
    ASSERT_EQ(lines.size(), 6u) << table.Out;
    EXPECT_NE(lines[1].find("/1000次"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[5], "已停止: 已测完 0/1 项");
}

// SIGINT ends a watch with a summary of its runs after a line break: per
// item the tries, the failed ones and the fastest, mean and slowest answer.
TEST_F(OrvelCliWatch, SigintDuringAWatchPrintsASummaryOfTheRuns)
{
    TListener listener;
    const std::string answering = "127.0.0.1:" + std::to_string(listener.Port());
    const TOutcome result = Watch("--watch 0.2 -c 2 -i 0 --tcp " + answering + " --tcp " + Refused(),
                                  [](const std::string& out) { return Count(out, "开始时间") >= 2; }, SIGINT);
    EXPECT_EQ(result.Status, 1);  // the closed port never answered
    const size_t at = result.Out.find("\n\n测速次数: ");
    ASSERT_NE(at, std::string::npos) << result.Out;
    const std::vector<std::string> summary = TextLines(result.Out.substr(at + 2));
    ASSERT_EQ(summary.size(), 4u) << result.Out;
    int runs = 0;
    ASSERT_EQ(std::sscanf(summary[0].c_str(), "测速次数: %d", &runs), 1) << summary[0];
    EXPECT_GE(runs, 2);
    EXPECT_EQ(summary[1].rfind("名称", 0), 0u);
    EXPECT_NE(summary[1].find("尝试次数  失败次数  最快(毫秒)  平均(毫秒)  最慢(毫秒)"), std::string::npos);
    std::istringstream answered(summary[2]), refused(summary[3]);
    std::string name, host, method, fastest, mean, slowest;
    int tries = 0, failed = 0;
    answered >> name >> host >> method >> tries >> failed >> fastest >> mean >> slowest;
    EXPECT_EQ(host, answering);
    EXPECT_GE(tries, 2 * runs - 1);  // a stopped run adds the tries it made
    EXPECT_EQ(failed, 0);
    EXPECT_LE(std::stod(fastest), std::stod(mean));
    EXPECT_LE(std::stod(mean), std::stod(slowest));
    refused >> name >> host >> method >> tries >> failed >> fastest >> mean >> slowest;
    EXPECT_EQ(failed, tries);
    EXPECT_EQ(fastest + mean + slowest, "---");
}

// A plan is recorded once per run; CSV has one header; SIGTERM during a try
// that would take seconds ends at once with the last complete run's status.
TEST_F(OrvelCliWatch, RecordsEveryRunAndSigtermEndsATryInFlight)
{
    const TOutcome csv = Watch("--watch 0.2 -c 1 --format csv --plan dead --dir " + FDir.string(), Lines(3), SIGTERM);
    EXPECT_EQ(csv.Status, 1);
    const std::vector<std::string> rows = TextLines(csv.Out);
    ASSERT_GE(rows.size(), 3u) << csv.Out;
    EXPECT_EQ(rows[0].rfind("name,host,", 0), 0u);
    EXPECT_EQ(Count(csv.Out, "name,host,"), 1u);
    const TOutcome history = Run("--history --format csv " + DirArg());
    EXPECT_EQ(TextLines(history.Out).size(), rows.size()) << history.Out;  // a header and a run per row

    FHttp.SetResponse({200, 100, 10000, false, ""});
    const size_t requested = FHttp.Requests().size();
    const auto started = std::chrono::steady_clock::now();
    const TOutcome stopped = Watch(
        "--watch 5 -c 1 --http " + FHttp.HostPort(),
        [&](const std::string&) { return FHttp.Requests().size() > requested; }, SIGTERM);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
    EXPECT_EQ(stopped.Status, 1);  // no run completed
    EXPECT_EQ(stopped.Out, "");
}

// The endpoint serves the latest run by content negotiation; a busy port is
// bad usage, said in one line.
TEST_F(OrvelCliWatch, ListenServesTheLatestRun)
{
    const std::string fetch =
        "curl -s -H 'Accept: application/openmetrics-text; version=1.0.0' http://127.0.0.1:$port/metrics\n"
        "echo ===\n"
        "curl -s -o /dev/null -w '%{http_code} %{content_type}\\n' http://127.0.0.1:$port/metrics\n"
        "echo ===\n";
    // A run is served before it is printed.
    const TOutcome result = Watch("--watch 0.3 -c 1 --listen 127.0.0.1:0 127.0.0.1", Lines(1), SIGTERM, fetch);
    EXPECT_EQ(result.Status, 0);
    EXPECT_NE(FDuring.find(
                  "orvel_item_success{plan=\"\",item=\"127.0.0.1\",host=\"127.0.0.1\",method=\"ping\"} 1\n"),
              std::string::npos)
        << FDuring;
    EXPECT_NE(FDuring.find("# EOF\n==="), std::string::npos) << FDuring;
    EXPECT_NE(FDuring.find("200 text/plain; version=0.0.4; charset=utf-8"), std::string::npos) << FDuring;
    EXPECT_EQ(TextLines(result.Err).size(), 1u) << result.Err;  // where it listens

    THttpServer busy;
    const TOutcome taken = RunTargets("--watch 1 --listen " + busy.HostPort() + " 127.0.0.1");
    EXPECT_EQ(taken.Status, 2);
    EXPECT_EQ(TextLines(taken.Err).size(), 1u) << taken.Err;
    EXPECT_NE(taken.Err.find("in use"), std::string::npos) << taken.Err;
}

}  // namespace

namespace {

// The output cannot take what is written: one line on standard error and
// status 2, whatever the mode, and a watch ends at its first output.
TEST_F(OrvelCliTargets, AnOutputThatCannotBeWrittenExitsTwoWithOneLine)
{
    for (const std::string& args :
         {"-c 1 --http " + Refused(), "-c 1 --plan dead " + DirArg(), "--list " + DirArg(), "--history " + DirArg(),
          std::string("--help"), std::string("--version"), "--watch 0.2 -c 1 --format json --http " + Refused()}) {
        const TOutcome full = RunWithOutput(args, ">/dev/full");
        EXPECT_EQ(full.Status, 2) << args;
        EXPECT_EQ(full.Err, "orvel-cli: cannot write the output: No space left on device\n") << args;
    }
}

// A closed standard output is a failed one, and no file the program opens
// takes its place: the history stays whole and holds the run.
TEST_F(OrvelCliRun, AClosedOutputFailsAndHarmsNoFile)
{
    const std::string store = ReadFile(FDir / "Projects.dat");
    const TOutcome closed = RunWithOutput("-c 1 --plan dead --format csv " + DirArg(), ">&-");
    EXPECT_EQ(closed.Status, 2);
    EXPECT_EQ(closed.Err, "orvel-cli: cannot write the output: Bad file descriptor\n");
    const TOutcome history = Run("--history --format csv " + DirArg());
    EXPECT_EQ(history.Status, 0) << history.Err;
    EXPECT_EQ(TextLines(history.Out).size(), 2u) << history.Out;
    EXPECT_EQ(ReadFile(FDir / "Projects.dat"), store);
}

struct TPipe {
    int Read = -1, Write = -1;
    TPipe()
    {
        int ends[2];
        EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        Read = ends[0];
        Write = ends[1];
    }
    ~TPipe()
    {
        Close(Read);
        Close(Write);
    }
    static void Close(int& fd)
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

// The first line the program writes into the pipe, within the deadline.
std::string FirstLine(int fd, std::chrono::milliseconds deadline)
{
    std::string text;
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (text.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd input{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&input, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buffer[4096];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
    }
    return text.substr(0, text.find('\n'));
}

// With SIGPIPE ignored, a reader that has gone is an error: a run ends with
// status 2, a watch at once rather than at its next run. With SIGPIPE at its
// default, the watch dies of it at once, as any filter does.
TEST_F(OrvelCliWatch, AReaderThatHasGoneEndsTheProgramAtOnce)
{
    const fs::path err = FDir / "stderr";
    {
        TPipe pipe;
        TPipe::Close(pipe.Read);
        const pid_t pid = SpawnCli("-c 1 --http " + Refused(), Home(), pipe.Write, err, true);
        ASSERT_GT(pid, 0);
        const int status = WaitForExit(pid, std::chrono::seconds(30), "a single run");
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
        EXPECT_EQ(ReadFile(err), "orvel-cli: cannot write the output: Broken pipe\n");
    }
    for (const bool ignored : {true, false}) {
        TPipe pipe;
        const pid_t pid = SpawnCli("--watch 60 -c 1 --format json --http " + FHttp.HostPort(), Home(), pipe.Write, err,
                                   ignored);
        ASSERT_GT(pid, 0);
        TPipe::Close(pipe.Write);
        EXPECT_EQ(FirstLine(pipe.Read, std::chrono::seconds(20)).rfind("{\"run\":1,", 0), 0u);
        TPipe::Close(pipe.Read);
        const int status = WaitForExit(pid, std::chrono::seconds(10), ignored ? "SIGPIPE ignored" : "SIGPIPE default");
        if (ignored) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
            EXPECT_EQ(ReadFile(err), "orvel-cli: cannot write the output: Broken pipe\n");
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << status;
            EXPECT_EQ(ReadFile(err), "");
        }
    }
}

size_t RecordedRuns(const fs::path& dir)
{
    THistoryDb history((dir / THistoryDb::kFileName).string());
    return history.Runs("", {}, std::chrono::system_clock::time_point::max()).size();
}

// Another program holding History.db holds up the recording, never the runs:
// they keep their period, and go into the history once the lock is gone.
TEST_F(OrvelCliWatch, ALockedHistoryDelaysOnlyTheRecording)
{
    THistoryLock lock((FDir / THistoryDb::kFileName).string());
    const fs::path out = FDir / "watch.out", err = FDir / "watch.err";
    const pid_t pid = WatchFiveRunsPastTheLock(out, err);
    ASSERT_GT(pid, 0);
    lock.Release();
    ::kill(pid, SIGTERM);
    const int status = WaitForExit(pid, std::chrono::seconds(20), ReadFile(err));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(ReadFile(err).rfind("\n测速次数: ", 0), 0u) << ReadFile(err);  // the summary, nothing else
    EXPECT_EQ(RecordedRuns(FDir), TextLines(ReadFile(out)).size());
}

// At the end, the runs still waiting for a locked history get no more than
// one write's wait in all; those left are counted in one line.
TEST_F(OrvelCliWatch, ALockedHistoryHoldsTheEndOnlySoLong)
{
    THistoryLock lock((FDir / THistoryDb::kFileName).string());
    const fs::path out = FDir / "watch.out", err = FDir / "watch.err";
    const pid_t pid = WatchFiveRunsPastTheLock(out, err);
    ASSERT_GT(pid, 0);
    ::kill(pid, SIGTERM);
    const auto stopped = std::chrono::steady_clock::now();
    const int status = WaitForExit(pid, std::chrono::seconds(20), ReadFile(err));
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, THistoryDb::kBusyTimeout + std::chrono::seconds(2));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    // Then the summary of the runs, after a line break.
    const std::string errors = ReadFile(err);
    const std::vector<std::string> said = TextLines(errors.substr(0, errors.find("\n\n测速次数: ") + 1));
    ASSERT_EQ(said.size(), 2u) << errors;
    EXPECT_EQ(said[0].rfind("orvel-cli: the run was not recorded: 数据库正被另一个程序占用", 0), 0u) << said[0];
    const std::string prefix = "orvel-cli: ", suffix = " runs were not recorded: the history did not take them in time";
    ASSERT_GT(said[1].size(), prefix.size() + suffix.size()) << said[1];
    EXPECT_EQ(said[1].rfind(prefix, 0), 0u) << said[1];
    EXPECT_EQ(said[1].substr(said[1].size() - suffix.size()), suffix) << said[1];
    const std::string count = said[1].substr(prefix.size(), said[1].size() - prefix.size() - suffix.size());
    EXPECT_EQ(count.find_first_not_of("0123456789"), std::string::npos) << said[1];
    lock.Release();
    EXPECT_EQ(RecordedRuns(FDir), 0u);
}

// The plan store and the history as orvel-cli meets them: zero and control
// bytes in the store, a history that is a link.
class OrvelCliStore : public OrvelCliRun {};

// The plans after a zero byte are listed, escaped, and run with their items;
// a host holding a zero byte is no name, not the name before it.
TEST_F(OrvelCliStore, ZeroAndControlBytesKeepEveryPlan)
{
    using namespace std::string_literals;
    SaveLinesToFile((FDir / "Projects.dat").string(),
                    {"dam\0aged=x^127.0.0.1\0junk^0"s, "\x01\x1A" "ctl=y^h^0",
                     "after=page^" + FHttp.HostPort() + "^1#nul^localhost\0x^0"s});
    const std::string store = ReadFile(FDir / "Projects.dat");
    const TOutcome list = Run("--list " + DirArg());
    EXPECT_EQ(list.Status, 0);
    EXPECT_EQ(list.Out, "dam\\x00aged\n\\x01\\x1actl\nafter\n");

    const TOutcome run = Run("--plan after --no-record " + DirArg());
    EXPECT_EQ(run.Status, 1) << run.Err;
    const std::vector<std::string> lines = TextLines(run.Out);
    ASSERT_EQ(lines.size(), 6u) << run.Out;
    EXPECT_EQ(lines[1].rfind("page", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find("取首页内容"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2].rfind("nul", 0), 0u) << lines[2];
    EXPECT_NE(lines[2].find("localhost\\x00x"), std::string::npos) << lines[2];
    EXPECT_NE(lines[2].find("域名解析IP地址失败"), std::string::npos) << lines[2];
    EXPECT_EQ(ReadFile(FDir / "Projects.dat"), store);
}

// A History.db that is a link, here to a real history, is neither recorded
// into nor read: the run goes on unrecorded and one line says why.
TEST_F(OrvelCliStore, AHistoryThatIsALinkIsNotOpened)
{
    ASSERT_EQ(Run("--plan dead --format csv " + DirArg()).Status, 1);
    fs::rename(FDir / "History.db", FDir / "elsewhere.db");
    fs::create_symlink("elsewhere.db", FDir / "History.db");
    const std::string before = ReadFile(FDir / "elsewhere.db");
    const std::string why = "History.db 是符号链接，不予打开)\n";

    const TOutcome run = Run("--plan dead --format csv " + DirArg());
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(TextLines(run.Out).size(), 2u) << run.Out;
    EXPECT_EQ(run.Err.rfind("orvel-cli: the run was not recorded: 无法创建或打开数据库文件 (", 0), 0u) << run.Err;
    EXPECT_TRUE(run.Err.ends_with(why)) << run.Err;
    EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;

    const TOutcome history = Run("--history " + DirArg());
    EXPECT_EQ(history.Status, 2);
    EXPECT_EQ(history.Out, "");
    EXPECT_EQ(history.Err.rfind("orvel-cli: 无法创建或打开数据库文件 (", 0), 0u) << history.Err;
    EXPECT_TRUE(history.Err.ends_with(why)) << history.Err;

    EXPECT_EQ(ReadFile(FDir / "elsewhere.db"), before);
    EXPECT_TRUE(fs::is_symlink(FDir / "History.db"));
}

}  // namespace

TEST_F(OrvelCli, APathToLoopbackIsReachedAtTheFirstHop)
{
    if (!TIcmpEcho().IsOpen())
        GTEST_SKIP() << "no ICMP socket may be opened here";
    const TOutcome result = Run("--path 127.0.0.1 -c 2 -i 10 --format json");
    ASSERT_EQ(result.Status, 0) << result.Err;
    const nlohmann::json json = nlohmann::json::parse(result.Out);
    EXPECT_EQ(json["reached"], true);
    ASSERT_EQ(json["hops"].size(), 1u);
    EXPECT_EQ(json["hops"][0]["addresses"], nlohmann::json::array({"127.0.0.1"}));
    EXPECT_EQ(json["hops"][0]["sent"], 2);
    EXPECT_EQ(Run("--path '[::1' -c 1").Status, 2);
}

TEST_F(OrvelCli, APathWhoseDestinationIsSilentExitsOne)
{
    RUN_IN_NAMESPACE([] { return true; }, [this] {
        TPathChainSetup setup;
        setup.Routers = 1;
        setup.SilentDestination = true;
        TPathChain chain(setup);
        if (!chain.Ok())
            return 124;  // skipped, as where no namespace can be made
        const TOutcome result = Run("--path " + chain.Destination(AF_INET) + " -c 1 -t 200 --format csv");
        if (result.Status != 1)
            return 2;
        // The router, then the silent destination; nothing after it.
        const std::vector<std::string> lines = TextLines(result.Out);
        if (lines.size() != 3 || lines[1].rfind("1," + chain.HopAddress(1, AF_INET) + ",", 0) != 0
            || lines[2].rfind("2,,,100.0,1", 0) != 0)
            return 3;
        return 0;
    });
}

TEST_F(OrvelCliWatch, SigintEndsAPathEarlyAndPrintsWhatWasMeasured)
{
    if (!TIcmpEcho().IsOpen())
        GTEST_SKIP() << "no ICMP socket may be opened here";
    const auto started = std::chrono::steady_clock::now();
    const TOutcome result = Watch("--path 127.0.0.1 -c 1000 -i 50 --format json", [](const std::string&) { return true; },
                                  SIGINT, "sleep 0.5");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    ASSERT_EQ(result.Status, 0) << result.Err;
    const nlohmann::json json = nlohmann::json::parse(result.Out);
    EXPECT_EQ(json["stopped"], true);
    EXPECT_GT(json["rounds"].get<int>(), 1);
    EXPECT_LT(json["rounds"].get<int>(), 1000);
}
