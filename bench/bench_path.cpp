// mtr and orvel-cli --path on the same chains of network namespaces, in a
// namespace of the bench's own (as root), one after the other on each chain:
// both hop lists and each hop's mean side by side, whether the lists are
// equal, the largest difference of the means, and each tool's wall time.
//   3 routers over IPv4, and over IPv6; router 2 silent; the destination
//   silent; 29 routers (30 hops) with 10 rounds, for the wall times.
//   bench_path [--rounds N] [--interval MS]
// N: rounds of the first four cases (default 20); MS: time between rounds
// for both tools (default: each tool's own, 1 s).

#include "bench/Benchtools.h"
#include "bench/Pathreports.h"
#include "tests/support/Netns.h"
#include "tests/support/Pathchain.h"
#include "tests/support/Scratchdir.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

// Set by an interrupt: the bench stops after the tool running, and its
// chain of namespaces is removed on the way out, as a signal's end would not.
volatile std::sig_atomic_t Interrupted = 0;

void NoteInterrupt(int) { Interrupted = 1; }

void StopCleanlyOnSignals()
{
    struct sigaction action {};
    action.sa_handler = NoteInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A reader that went away (| head) leaves failed writes, not an end by signal.
    std::signal(SIGPIPE, SIG_IGN);
}

// The goal: each hop's mean within this of mtr's.
constexpr double kMeanToleranceMs = 0.1;

struct TToolRun {
    bool Started = false;
    int Status = -1;  // exit status; -1 for a signal
    double WallMs = 0;
    std::string Out;
    std::string Err;
};

TToolRun RunTool(const std::vector<std::string>& args, const TScratchDir& scratch)
{
    const std::string out = scratch.File("out"), err = scratch.File("err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    TToolRun run;
    pid_t pid = -1;
    const auto started = std::chrono::steady_clock::now();
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return run;
    run.Started = true;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.WallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.Out = ReadBytes(out);
    run.Err = ReadBytes(err);
    return run;
}

struct TSettings {
    int Rounds = 20;
    int IntervalMs = 0;  // 0: each tool's own
};

struct TCase {
    std::string Title;
    TPathChainSetup Chain;
    int Family = AF_INET;
    int Rounds = 20;
};

std::vector<std::string> MtrArgs(const std::string& destination, int rounds, const TSettings& settings)
{
    std::vector<std::string> args{"mtr", "-r", "-n", "-c", std::to_string(rounds), "--json"};
    if (settings.IntervalMs)
        args.insert(args.end(), {"-i", std::to_string(settings.IntervalMs / 1000.0)});
    args.push_back(destination);
    return args;
}

std::vector<std::string> OrvelArgs(const std::string& orvelCli, const std::string& destination, int rounds,
                                   const TSettings& settings)
{
    std::vector<std::string> args{orvelCli, "--path", destination, "-c", std::to_string(rounds), "--format", "json"};
    if (settings.IntervalMs)
        args.insert(args.end(), {"-i", std::to_string(settings.IntervalMs)});
    return args;
}

// A tool's report, or why there is none.
TReportedPath ReportOf(const TToolRun& run, const char* tool, TReportedPath (*read)(const std::string&))
{
    if (!run.Started) {
        TReportedPath none;
        none.Error = std::string(tool) + " could not be started";
        return none;
    }
    TReportedPath path = read(run.Out);
    if (!path.Read) {
        std::string error = run.Err.substr(0, 200);
        while (!error.empty() && (error.back() == '\n' || error.back() == '\r'))
            error.pop_back();
        path.Error += " (status " + std::to_string(run.Status) + ": " + error + ")";
    }
    return path;
}

std::string MeanText(const TReportedHop* hop)
{
    if (!hop || !hop->MeanMs)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", *hop->MeanMs);
    return text;
}

std::string LossText(const TReportedHop* hop)
{
    if (!hop)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", hop->LossPercent);
    return text;
}

std::string AddressText(const TReportedHop* hop)
{
    if (!hop)
        return "";
    if (hop->Addresses.empty())
        return "???";
    std::string text = hop->Addresses.front();
    for (size_t i = 1; i < hop->Addresses.size(); ++i)
        text += "," + hop->Addresses[i];
    return text;
}

const TReportedHop* HopAt(const TReportedPath& path, size_t index)
{
    return index < path.Hops.size() ? &path.Hops[index] : nullptr;
}

void PrintSideBySide(const TReportedPath& mtr, const TReportedPath& orvel)
{
    std::printf("  %3s  %-16s %-16s %9s %9s %9s %8s %8s\n", "hop", "mtr address", "orvel address", "mtr ms", "orvel ms",
                "diff ms", "mtr loss", "orvel loss");
    const size_t hops = std::max(mtr.Hops.size(), orvel.Hops.size());
    for (size_t i = 0; i < hops; ++i) {
        const TReportedHop* left = HopAt(mtr, i);
        const TReportedHop* right = HopAt(orvel, i);
        std::string difference = "-";
        if (left && right && left->MeanMs && right->MeanMs) {
            char text[32];
            std::snprintf(text, sizeof text, "%+.3f", *right->MeanMs - *left->MeanMs);
            difference = text;
        }
        std::printf("  %3d  %-16s %-16s %9s %9s %9s %8s %8s\n", left ? left->Hop : right->Hop, AddressText(left).c_str(),
                    AddressText(right).c_str(), MeanText(left).c_str(), MeanText(right).c_str(), difference.c_str(),
                    LossText(left).c_str(), LossText(right).c_str());
    }
}

void PrintVerdict(const TReportedPath& mtr, const TReportedPath& orvel)
{
    if (!mtr.Read || !orvel.Read) {
        std::printf("  hop lists: not compared, a report is missing\n");
        return;
    }
    std::printf("  hop lists: %s\n", SameHops(mtr, orvel) ? "equal" : "DIFFER");
    const TMeanDifference largest = LargestMeanDifference(mtr, orvel);
    if (largest.Hop == 0)
        std::printf("  means: no hop answered both\n");
    else
        std::printf("  largest difference of the means: %+.3f ms at hop %d (%s %.1f ms)\n", largest.Ms, largest.Hop,
                    std::fabs(largest.Ms) <= kMeanToleranceMs ? "within" : "NOT within", kMeanToleranceMs);
}

void PrintWallTimes(const TToolRun& mtr, const TToolRun& orvel)
{
    std::printf("  wall time: mtr %.0f ms (status %d), orvel-cli %.0f ms (status %d)", mtr.WallMs, mtr.Status,
                orvel.WallMs, orvel.Status);
    // Both end with 0 or 1 (destination not reached) when they have traced.
    const auto traced = [](const TToolRun& run) { return run.Started && (run.Status == 0 || run.Status == 1); };
    if (traced(mtr) && traced(orvel) && mtr.WallMs > 0)
        std::printf(", orvel-cli / mtr %.3f", orvel.WallMs / mtr.WallMs);
    std::printf("\n");
}

void RunCase(const TCase& bench, const std::string& orvelCli, const TSettings& settings, const TScratchDir& scratch)
{
    const auto building = std::chrono::steady_clock::now();
    TPathChain chain(bench.Chain);
    if (!chain.Ok()) {
        std::printf("\n== %s: skipped, no chain: %s ==\n", bench.Title.c_str(), chain.Why().c_str());
        return;
    }
    const double buildMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - building).count();
    const std::string destination = chain.Destination(bench.Family);
    std::printf("\n== %s: %s, %d hops, %d rounds (chain built in %.0f ms) ==\n", bench.Title.c_str(),
                destination.c_str(), chain.Hops(), bench.Rounds, buildMs);
    const TToolRun mtrRun = RunTool(MtrArgs(destination, bench.Rounds, settings), scratch);
    if (Interrupted)
        return;
    const TToolRun orvelRun = RunTool(OrvelArgs(orvelCli, destination, bench.Rounds, settings), scratch);
    const TReportedPath mtr = ReportOf(mtrRun, "mtr", ReadMtrReport);
    const TReportedPath orvel = ReportOf(orvelRun, "orvel-cli", ReadOrvelReport);
    if (!mtr.Read)
        std::printf("  mtr: %s\n", mtr.Error.c_str());
    if (!orvel.Read)
        std::printf("  orvel-cli: %s\n", orvel.Error.c_str());
    PrintSideBySide(mtr, orvel);
    PrintVerdict(mtr, orvel);
    PrintWallTimes(mtrRun, orvelRun);
}

std::vector<TCase> Cases(const TSettings& settings)
{
    TCase v4{"3 routers, IPv4", {}, AF_INET, settings.Rounds};
    TCase v6{"3 routers, IPv6", {}, AF_INET6, settings.Rounds};
    TCase silentRouter{"router 2 silent, IPv4", {}, AF_INET, settings.Rounds};
    silentRouter.Chain.SilentRouter = 2;
    TCase silentDestination{"destination silent, IPv4", {}, AF_INET, settings.Rounds};
    silentDestination.Chain.SilentDestination = true;
    TCase long30{"29 routers, IPv4: wall time", {}, AF_INET, 10};
    long30.Chain.Routers = 29;
    return {v4, v6, silentRouter, silentDestination, long30};
}

int RunAll(const TSettings& settings, const std::string& orvelCli)
{
    if (!WriteSysctl("net/ipv4/ping_group_range", "0 2147483647"))
        std::printf("(cannot open ping sockets to the group)\n");
    std::printf("mtr and orvel-cli, in this order, on each chain\n");
    TScratchDir scratch;
    StopCleanlyOnSignals();
    for (const TCase& bench : Cases(settings))
        if (!Interrupted)
            RunCase(bench, orvelCli, settings, scratch);
    if (Interrupted)
        std::printf("interrupted\n");
    std::fflush(stdout);
    return 0;
}

bool ReadSettings(int argc, char** argv, TSettings& settings)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc)
            settings.Rounds = std::clamp(std::atoi(argv[++i]), 1, 1000);
        else if (arg == "--interval" && i + 1 < argc)
            settings.IntervalMs = std::clamp(std::atoi(argv[++i]), 1, 60000);
        else
            return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    TSettings settings;
    if (!ReadSettings(argc, argv, settings)) {
        std::fprintf(stderr, "usage: bench_path [--rounds N] [--interval MS]\n");
        return 2;
    }
    if (std::system("command -v mtr >/dev/null") != 0) {
        std::printf("skipped: mtr is not installed (Debian mtr-tiny)\n");
        return 0;
    }
    const std::string orvelCli = std::filesystem::canonical("/proc/self/exe").parent_path().string() + "/orvel-cli";
    std::string why;
    const int rc = RunInOwnNetns([&] { return RunAll(settings, orvelCli); }, why);
    if (rc != 0)
        std::printf("failed or skipped: %s (code %d; a namespace of its own needs root)\n",
                    why.empty() ? "see above" : why.c_str(), rc);
    return rc == 0 ? 0 : 1;
}
