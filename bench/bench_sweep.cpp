// orvel-cli and fping on the same loopback targets, in a network namespace
// of the bench's own (as root), run by turns (orvel-cli, fping, orvel-cli,
// ...). For each: wall time (best and median) and the ratio of the two, peak
// RSS, peak thread count, and the replies lost: a failed try, or an echo
// fping sent without answer, to a target that answers.
//   100, 1000 and 10000 targets x 5 tries, no pause;
//   1000 targets x 1 try of which 100 drop the echo requests (nft), 1 s timeout.
//   bench_sweep [--rounds R] [--runs N] [--raw]
// R: turns of each tool per case (default 3); N: turns of the 10000 x 5
// case (default R); --raw: leave ping sockets closed to the group, so that
// orvel-cli falls back to raw sockets as fping does.

#include "bench/Benchtools.h"
#include "tests/support/Netns.h"
#include "tests/support/Scratchdir.h"


#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

// How often the thread count is read while a tool runs.
constexpr std::chrono::milliseconds kSampleEvery{2};

struct TChildFigures {
    bool Started = false;
    int Status = -1;  // exit status; -1 for a signal
    double WallMs = 0;
    double PeakRssMib = 0;  // as last read before its end
    int PeakThreads = 0;
};

struct TStatus {
    int Threads = 0;
    double PeakRssMib = 0;  // VmHWM
};

TStatus StatusOf(pid_t pid)
{
    TStatus status;
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Threads:", 0) == 0)
            status.Threads = std::atoi(line.c_str() + 8);
        else if (line.rfind("VmHWM:", 0) == 0)
            status.PeakRssMib = std::atof(line.c_str() + 6) / 1024.0;
    }
    return status;
}

// Runs args with standard output and error in files; its threads and peak
// RSS are read until it has ended, which is seen without reaping it, so the
// figures read are never another process's. wait4's ru_maxrss would not do
// for the RSS: the exec that replaces the spawned copy of this process adds
// this process's own peak to it.
TChildFigures RunChild(const std::vector<std::string>& args, const std::string& out, const std::string& err)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    TChildFigures figures;
    pid_t pid = -1;
    const auto started = std::chrono::steady_clock::now();
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return figures;
    figures.Started = true;
    for (;;) {
        const TStatus status = StatusOf(pid);
        figures.PeakThreads = std::max(figures.PeakThreads, status.Threads);
        figures.PeakRssMib = std::max(figures.PeakRssMib, status.PeakRssMib);
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid)
            break;
        std::this_thread::sleep_for(kSampleEvery);
    }
    figures.WallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    int status = 0;
    waitpid(pid, &status, 0);
    figures.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return figures;
}

// The count-th address from base upwards, none ending in .0 or .255.
std::vector<std::string> Targets(const std::string& base, int count)
{
    std::vector<std::string> targets;
    for (int i = 0; i < count; ++i)
        targets.push_back(base + "." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1));
    return targets;
}

struct TLoss {
    long Lost = 0;           // tries to answering targets that got no answer
    long SilentAnswered = 0; // tries to silent targets that were answered: the rule let them through
    bool Read = false;       // the output held every target's figures
};

// orvel-cli's CSV (a table, as fping prints, rather than a document held
// whole): each item's failed tries. Hosts are addresses, so no field is quoted.
TLoss OrvelLoss(const std::string& csv, const std::set<std::string>& silent, int tries, size_t targets)
{
    TLoss loss;
    std::istringstream lines(csv);
    std::string line;
    std::getline(lines, line);  // the header
    size_t items = 0;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');)
            fields.push_back(cell);
        if (fields.size() < 7)
            return loss;
        const long failed = std::strtol(fields[6].c_str(), nullptr, 10);
        if (silent.count(fields[1]))
            loss.SilentAnswered += tries - failed;
        else
            loss.Lost += failed;
        ++items;
    }
    loss.Read = items == targets;
    return loss;
}

// fping -q's summary on standard error: "ADDR : xmt/rcv/%loss = 5/5/0%, ...".
TLoss FpingLoss(const std::string& summary, const std::set<std::string>& silent, size_t targets)
{
    TLoss loss;
    std::istringstream lines(summary);
    size_t seen = 0;
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.find("xmt/rcv/%loss = ");
        if (equals == std::string::npos)
            continue;
        const std::string host = line.substr(0, line.find(' '));
        long sent = 0, received = 0;
        if (std::sscanf(line.c_str() + equals + 16, "%ld/%ld", &sent, &received) != 2)
            continue;
        ++seen;
        if (silent.count(host))
            loss.SilentAnswered += received;
        else
            loss.Lost += sent - received;
    }
    loss.Read = seen == targets;
    return loss;
}

struct TTool {
    std::string Name;
    std::vector<double> WallMs;
    double PeakRssMib = 0;
    int PeakThreads = 0;
    long Lost = 0;
    long SilentAnswered = 0;
    int Unread = 0;     // runs whose output held not every target
    int BadStatus = 0;  // runs that ended neither with 0 nor with 1 (some target silent)
    std::string LastError;

    void Add(const TChildFigures& figures, const TLoss& loss, const std::string& error)
    {
        WallMs.push_back(figures.WallMs);
        PeakRssMib = std::max(PeakRssMib, figures.PeakRssMib);
        PeakThreads = std::max(PeakThreads, figures.PeakThreads);
        Lost += loss.Lost;
        SilentAnswered += loss.SilentAnswered;
        Unread += loss.Read ? 0 : 1;
        if (figures.Status != 0 && figures.Status != 1) {
            ++BadStatus;
            LastError = error.substr(0, 300);
        }
    }
    double Best() const { return WallMs.empty() ? NAN : *std::min_element(WallMs.begin(), WallMs.end()); }
    double Median() const
    {
        if (WallMs.empty())
            return NAN;
        std::vector<double> sorted = WallMs;
        std::sort(sorted.begin(), sorted.end());
        const size_t half = sorted.size() / 2;
        return sorted.size() % 2 ? sorted[half] : (sorted[half - 1] + sorted[half]) / 2;
    }
};

struct TCase {
    std::string Title;
    std::vector<std::string> Targets;
    std::set<std::string> Silent;
    int Tries = 5;
    std::vector<std::string> OrvelArgs;  // before the targets
    std::vector<std::string> FpingArgs;
    int Rounds = 3;
};

void PrintTool(const TTool& tool, int rounds)
{
    std::printf("  %-10s %10.1f %10.1f %10.1f %9d %9ld", tool.Name.c_str(), tool.Best(), tool.Median(),
                tool.PeakRssMib, tool.PeakThreads, tool.Lost);
    if (tool.SilentAnswered)
        std::printf("  (%ld answers from silent targets)", tool.SilentAnswered);
    if (tool.Unread)
        std::printf("  (%d of %d runs without every target's figures)", tool.Unread, rounds);
    if (tool.BadStatus)
        std::printf("  (%d runs failed: %s)", tool.BadStatus, tool.LastError.c_str());
    std::printf("\n");
}

std::vector<std::string> Joined(std::vector<std::string> args, const std::vector<std::string>& targets)
{
    args.insert(args.end(), targets.begin(), targets.end());
    return args;
}

void RunCase(const TCase& bench, const std::string& orvelCli, const TScratchDir& scratch)
{
    std::printf("\n== %s: %d round%s, orvel-cli then fping ==\n", bench.Title.c_str(), bench.Rounds,
                bench.Rounds == 1 ? "" : "s");
    std::printf("  %-10s %10s %10s %10s %9s %9s\n", "", "best ms", "median ms", "RSS MiB", "threads", "lost");
    TTool orvel, fping;
    orvel.Name = "orvel-cli";
    fping.Name = "fping";
    const std::vector<std::string> orvelArgs = Joined(bench.OrvelArgs, bench.Targets);
    const std::vector<std::string> fpingArgs = Joined(bench.FpingArgs, bench.Targets);
    const std::string out = scratch.File("out"), err = scratch.File("err");
    for (int round = 0; round < bench.Rounds; ++round) {
        std::vector<std::string> args{orvelCli};
        args.insert(args.end(), orvelArgs.begin(), orvelArgs.end());
        TChildFigures figures = RunChild(args, out, err);
        orvel.Add(figures, OrvelLoss(ReadBytes(out), bench.Silent, bench.Tries, bench.Targets.size()),
                  ReadBytes(err));

        args = {"fping"};
        args.insert(args.end(), fpingArgs.begin(), fpingArgs.end());
        figures = RunChild(args, out, err);
        fping.Add(figures, FpingLoss(ReadBytes(err), bench.Silent, bench.Targets.size()), ReadBytes(err));
    }
    PrintTool(orvel, bench.Rounds);
    PrintTool(fping, bench.Rounds);
    std::printf("  orvel-cli / fping: best %.2f, median %.2f\n", orvel.Best() / fping.Best(),
                orvel.Median() / fping.Median());
}

TCase SweepCase(int count, int rounds)
{
    TCase bench;
    bench.Title = std::to_string(count) + " targets x 5 tries";
    bench.Targets = Targets("127.1", count);
    bench.OrvelArgs = {"--format", "csv", "-c", "5", "-i", "0", "--workers", std::to_string(count)};
    bench.FpingArgs = {"-c", "5", "-q", "-i", "0", "-p", "10"};
    bench.Rounds = rounds;
    return bench;
}

// Every tenth target drops the echo requests sent to it, as they arrive: a
// drop on the way out would fail the sending at once. Loopback's 127.0.0.0/8
// answers the rest. The rule lives in the bench's namespace and
// goes with it.
bool DropEchoRequests(const std::set<std::string>& silent, std::string& why)
{
    std::string elements;
    for (const std::string& address : silent)
        elements += (elements.empty() ? "" : ", ") + address;
    const std::string rules = "table inet bench_sweep {\n"
                              "  chain in {\n"
                              "    type filter hook input priority 0; policy accept;\n"
                              "    ip daddr { " + elements + " } icmp type echo-request drop\n"
                              "  }\n"
                              "}\n";
    TScratchDir scratch;
    WriteBytes(scratch.File("rules.nft"), rules);
    const std::string output = Capture("nft -f " + scratch.File("rules.nft") + " 2>&1 && echo ok");
    if (output.find("ok") == std::string::npos) {
        why = output;
        return false;
    }
    return true;
}

TCase SilentCase(int rounds)
{
    TCase bench;
    bench.Title = "1000 targets x 1 try, 100 silent, 1 s timeout";
    bench.Targets = Targets("127.2", 1000);
    for (size_t i = 0; i < bench.Targets.size(); i += 10)
        bench.Silent.insert(bench.Targets[i]);
    bench.Tries = 1;
    bench.OrvelArgs = {"--format", "csv", "-c", "1", "-t", "1000", "-i", "0", "--workers", "1000"};
    bench.FpingArgs = {"-c", "1", "-t", "1000", "-q", "-i", "0"};
    bench.Rounds = rounds;
    return bench;
}

struct TSettings {
    int Rounds = 3;
    int Runs = 0;  // of the 10000 x 5 case; 0: Rounds
    bool Raw = false;
};

int RunAll(const TSettings& settings, const std::string& orvelCli)
{
    if (!settings.Raw && !WriteSysctl("net/ipv4/ping_group_range", "0 2147483647"))
        std::printf("(cannot open ping sockets to the group: orvel-cli uses raw sockets)\n");
    std::printf("orvel-cli on %s sockets, fping on raw ones\n", settings.Raw ? "raw" : "ping (ICMP datagram)");
    TScratchDir scratch;
    RunCase(SweepCase(100, settings.Rounds), orvelCli, scratch);
    RunCase(SweepCase(1000, settings.Rounds), orvelCli, scratch);
    RunCase(SweepCase(10000, settings.Runs ? settings.Runs : settings.Rounds), orvelCli, scratch);
    const TCase silent = SilentCase(settings.Rounds);
    std::string why;
    if (std::system("command -v nft >/dev/null") != 0)
        std::printf("\n== %s: skipped, nft is missing (bash scripts/setup.sh test) ==\n", silent.Title.c_str());
    else if (!DropEchoRequests(silent.Silent, why))
        std::printf("\n== %s: skipped, nft refused the rule: %s ==\n", silent.Title.c_str(), why.c_str());
    else
        RunCase(silent, orvelCli, scratch);
    std::fflush(stdout);
    return 0;
}

// Thousands of tries at once want as many descriptors as the system lets us.
void RaiseDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    getrlimit(RLIMIT_NOFILE, &limit);
    std::printf("descriptors: %llu\n", static_cast<unsigned long long>(limit.rlim_cur));
}

bool ReadSettings(int argc, char** argv, TSettings& settings)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--raw")
            settings.Raw = true;
        else if ((arg == "--rounds" || arg == "--runs") && i + 1 < argc)
            (arg == "--rounds" ? settings.Rounds : settings.Runs) = std::clamp(std::atoi(argv[++i]), 1, 1000);
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
        std::fprintf(stderr, "usage: bench_sweep [--rounds R] [--runs N] [--raw]\n");
        return 2;
    }
    if (std::system("command -v fping >/dev/null") != 0) {
        std::printf("skipped: fping is not installed (bash scripts/setup.sh test)\n");
        return 0;
    }
    const std::string orvelCli = std::filesystem::canonical("/proc/self/exe").parent_path().string() + "/orvel-cli";
    RaiseDescriptorLimit();
    std::string why;
    const int rc = RunInOwnNetns([&] { return RunAll(settings, orvelCli); }, why);
    if (rc != 0)
        std::printf("failed or skipped: %s (code %d; a namespace of its own needs root)\n",
                    why.empty() ? "see above" : why.c_str(), rc);
    return rc == 0 ? 0 : 1;
}
