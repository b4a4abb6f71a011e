// orvel-cli: measures targets given on the command line, or a saved test
// plan, from a terminal, and prints the results as a table, CSV, JSON or
// metrics; or keeps measuring and serves the latest run to a scraper.

#include "cli/Clihabits.h"
#include "cli/Climetrics.h"
#include "cli/Clioptions.h"
#include "cli/Clipath.h"
#include "cli/Clirecording.h"
#include "cli/Clireport.h"
#include "cli/Clirun.h"
#include "cli/Metricsserver.h"
#include "cli/Output.h"
#include "cli/Progressline.h"
#include "cli/Stopsignals.h"
#include "cli/Watch.h"
#include "engine/Projectstore.h"
#include "history/Historydb.h"
#include "vqlib/Gbk.h"
#include "vqlib/Programdir.h"
#include "vqlib/Storedir.h"
#include "vqlib/Vqfiles.h"
#include "vqlib/Vqstring.h"

#include "Orvelversion.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <new>
#include <utility>

namespace {

class EStoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// --dir, else the folder the window uses too (vqlib/Storedir.h).
std::string StorePath(const TCliOptions& options, const char* file)
{
    return (std::filesystem::path(options.Dir.empty() ? StoreDir(UserDataDir()) : options.Dir) / file).string();
}

// Ping tries that had no socket fail like unanswered ones; this says why.
void ExplainPingDenied()
{
    std::cerr << "orvel-cli: Ping could open no ICMP socket; as root, give the program the capability (setcap "
              << "cap_net_raw+ep " << RunningProgram("orvel-cli") << ") or let your group open ping sockets (sysctl -w "
              << "net.ipv4.ping_group_range=\"0 2147483647\"); either serves ICMPv6 as well\n";
}

// The plan name in GBK: as given, or the one DestLists.ini names.
std::string ChoosePlan(const TCliOptions& options)
{
    if (options.Plan) {
        std::optional<std::string> gbk = Utf8ToGbk(*options.Plan);
        if (!gbk)
            throw EStoreError("unknown plan '" + *options.Plan + "'");
        return *gbk;
    }
    TProfileFile settings(StorePath(options, "DestLists.ini"));
    std::string name = settings.ReadString("config", "project", "");
    if (name.empty())
        throw EStoreError("no plan given and " + settings.FileName() + " names none; use --plan NAME");
    return name;
}

// The name as the store spells it: the history then knows a plan by one
// name however it was typed.
std::string StoredPlanName(TProjectStore& store, const std::string& gbkName)
{
    std::vector<std::string> names;
    store.ListProjects(names);
    for (const std::string& name : names)
        if (SameTextGbk(name, gbkName))
            return name;
    return gbkName;
}

void WriteProgress(const std::string& text)
{
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

int ListPlans(const TCliOptions& options, TOutput& output)
{
    TProjectStore store(StorePath(options, "Projects.dat"));
    std::vector<std::string> names;
    store.ListProjects(names);
    std::string listed;
    for (const std::string& name : names)
        listed += TerminalText(GbkToUtf8(name)) + "\n";
    output.Write(listed);
    return 0;
}

// What a run measures, and where it is recorded.
struct TRunJob {
    std::string PlanName;  // GBK; empty for targets on the command line
    std::vector<TDNSDispInfo> Items;
    std::optional<std::string> HistoryPath;  // none: not recorded
    std::string RecordedPlan;                // UTF-8, as the history knows the plan
};

TRunJob PlanJob(const TCliOptions& options)
{
    TProjectStore store(StorePath(options, "Projects.dat"));
    TRunJob job;
    job.PlanName = ChoosePlan(options);
    if (!store.HasProject(job.PlanName))
        throw EStoreError("unknown plan '" + TerminalText(GbkToUtf8(job.PlanName)) + "' in " + store.FileName());
    job.Items = TextToItems(store.GetProjectText(job.PlanName));
    if (!options.NoRecord)
        job.HistoryPath = StorePath(options, THistoryDb::kFileName);
    job.RecordedPlan = GbkToUtf8(StoredPlanName(store, job.PlanName));
    return job;
}

TRunJob TargetsJob(const TCliOptions& options)
{
    TRunJob job;
    for (const TCliTarget& target : options.Targets) {
        const std::optional<std::string> gbk = Utf8ToGbk(target.Text);
        if (!gbk)
            throw EUsageError("target '" + TerminalText(target.Text) + "' holds characters no host name has");
        TDNSDispInfo item;
        item.Name = *gbk;
        item.DomainIP = *gbk;
        item.DoType = target.Method;
        job.Items.push_back(std::move(item));
    }
    return job;
}

// -a and -u print a list of targets instead of the results.
std::string Printed(const TRunReport& report, const TCliOptions& options);

std::string Formatted(const TRunReport& report, TOutputFormat format)
{
    switch (format) {
    case TOutputFormat::Csv: return FormatCsv(report);
    case TOutputFormat::Json: return FormatJson(report);
    case TOutputFormat::OpenMetrics: return FormatMetrics(report, TMetricsFlavour::OpenMetrics);
    default: return FormatTable(report);
    }
}

std::string Printed(const TRunReport& report, const TCliOptions& options)
{
    using TList = TCliOptions::TTargetList;
    if (options.TargetList != TList::None)
        return TargetList(report, options.TargetList == TList::Answered);
    return Formatted(report, options.Format);
}

// -v: each try a line as it ends, from the try loop's thread; one call
// writes the whole line.
void PrintTry(const TDNSDispInfo& item, int index, const TTryOutcome& outcome)
{
    std::fputs(TryLine(item, index, outcome).c_str(), stderr);
}

// -v's lines stand for the progress line; -q wants neither.
bool ShowsProgress(const TCliOptions& options)
{
    return !options.Quiet && !options.Verbose && isatty(STDERR_FILENO);
}

TRunSettings RunSettings(const TCliOptions& options)
{
    TRunSettings settings = options.Run;
    if (options.Verbose)
        settings.EachTry = PrintTry;
    return settings;
}

// items: the job's own for a watch, which measures them again; a single
// run hands them over rather than copying a large plan.
TRunReport Measure(const TRunJob& job, std::vector<TDNSDispInfo> items, const TCliOptions& options, TRunStop* stop)
{
    TProgress progress;
    TProgressLine line(WriteProgress);
    if (ShowsProgress(options))
        progress = [&line](int finished, int total) { line.Show(finished, total); };
    TRunReport report = RunPlan(job.PlanName, std::move(items), RunSettings(options), progress, stop);
    if (report.Aborted && progress) {
        // A stop takes the line away as the last report would.
        const int total = static_cast<int>(report.Items.size());
        line.Show(total, total);
    }
    return report;
}

// What the user has been told already: a watch says each thing once.
struct TTold {
    bool PingDenied = false;
    bool Shortage = false;
};

void SayLine(const std::string& line)
{
    std::cerr << line << "\n";
}

// One for the program's life, when the job is recorded.
void StartRecording(std::optional<TCliRecording>& recording, const TRunJob& job)
{
    if (job.HistoryPath)
        recording.emplace(*job.HistoryPath, SayLine);
}

// Records the run and prints it. Written while the results are printed; a
// history that cannot take the run costs the user one line, not the results
// or the exit status.
void Report(const TRunJob& job, const TRunReport& report, const std::string& printed, TTold& told,
            std::optional<TCliRecording>& recording, TOutput& output)
{
    if (recording) {
        TRunRecord record = RecordOf(report);
        record.Plan = job.RecordedPlan;
        recording->Record(std::move(record));
    }
    output.Write(printed);
    if (recording)
        recording->SayNews();
    if (report.PingDenied && !std::exchange(told.PingDenied, true))
        ExplainPingDenied();
    if (report.Shortage && !std::exchange(told.Shortage, true))
        std::cerr << "orvel-cli: " << ShortageText(report.Shortage) << "\n";
}

TRunJob ChosenJob(const TCliOptions& options)
{
    return options.Targets.empty() ? PlanJob(options) : TargetsJob(options);
}

// A stop prints what was measured so far, marked as stopped, and ends with
// the status of those results, as ping does on Ctrl-C.
int RunOnce(const TCliOptions& options, TRunStop& stop, TOutput& output)
{
    TRunJob job = ChosenJob(options);
    std::optional<TCliRecording> recording;
    StartRecording(recording, job);
    const TRunReport report = Measure(job, std::move(job.Items), options, &stop);
    TTold told;
    Report(job, report, Printed(report, options), told, recording, output);
    if (recording)
        recording->Finish();
    return ExitStatus(report);
}

// A stream of runs as the format reads best: tables under their start time,
// CSV with one header, JSON one object per line; CSV and JSON with each
// run's number (from 1) and start time.
std::string WatchedText(const TRunReport& report, TOutputFormat format, int number)
{
    const bool first = number == 1;
    switch (format) {
    case TOutputFormat::Table: return (first ? "" : "\n") + FormatStartedTable(report);
    case TOutputFormat::Csv: return FormatWatchedCsv(report, number, first);
    case TOutputFormat::Json: return FormatWatchedJsonLine(report, number);
    default: return Formatted(report, format);
    }
}

// After the ^C the terminal echoed, on a line of its own. Machine formats
// keep their stream whole: theirs goes to the standard error.
void PrintWatchSummary(const TWatchSummary& summary, TOutputFormat format, TOutput& output)
{
    const std::string text = "\n" + summary.Format();
    if (format == TOutputFormat::Table)
        output.Write(text);
    else
        std::cerr << text << std::flush;
}

std::string UrlHost(const std::string& address)
{
    return address.find(':') == std::string::npos ? address : "[" + address + "]";
}

int Watch(const TCliOptions& options, TRunStop& stop, TOutput& output)
{
    const TRunJob job = ChosenJob(options);
    std::optional<TMetricsServer> server;
    if (options.Listen) {
        server.emplace(options.Listen->Host, options.Listen->Port);
        std::cerr << "orvel-cli: serving the latest run at http://" << UrlHost(options.Listen->Host) << ":"
                  << server->Port() << "/metrics\n";
    }
    std::optional<TCliRecording> recording;
    StartRecording(recording, job);
    // A reader that has gone ends the watch at once, not at the next output.
    TOutputWatch reader(STDOUT_FILENO, [&stop] { stop.Request(); });
    TTold told;
    int number = 0;
    TWatchSummary summary;
    const int status = RunWatch(
        *options.Watch, stop,
        [&](TRunStop& runStop) {
            TRunReport report = Measure(job, job.Items, options, &runStop);
            summary.Add(report);
            return report;
        },
        [&](const TRunReport& report) {
            if (server)
                server->Publish(FormatMetrics(report, TMetricsFlavour::OpenMetrics),
                                FormatMetrics(report, TMetricsFlavour::Prometheus004));
            Report(job, report, WatchedText(report, options.Format, ++number), told, recording, output);
            if (output.Failed())
                stop.Request();
        });
    if (recording)
        recording->Finish();
    // The next write says why: EPIPE, or SIGPIPE ends the program as it ends any filter.
    if (reader.Gone())
        output.Write("\n");
    else if (!output.Failed() && summary.Runs() > 0)
        PrintWatchSummary(summary, options.Format, output);
    return status;
}

// The plan --plan names as the store spells it; none when the store has no such plan.
std::optional<std::string> StoredPlan(const TCliOptions& options)
{
    const std::optional<std::string> gbk = Utf8ToGbk(options.Plan.value_or(""));
    try {
        TProjectStore store(StorePath(options, "Projects.dat"));
        if (gbk && !gbk->empty() && store.HasProject(*gbk))
            return GbkToUtf8(StoredPlanName(store, *gbk));
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

// The plan as the store spells it if the store has it, else as typed: its
// runs stay in the history after the plan is gone.
std::string HistoryPlan(const TCliOptions& options)
{
    if (!options.Plan)
        return {};
    return StoredPlan(options).value_or(*options.Plan);
}

// A plan that neither the store nor the history knows is mistyped, not one
// without runs.
void CheckHistoryPlan(const TCliOptions& options, const std::string& plan, const THistoryDb* history)
{
    if (!options.Plan || StoredPlan(options))
        return;
    using TClock = std::chrono::system_clock;
    if (history && !plan.empty() && !history->Runs(plan, TClock::time_point::min(), TClock::time_point::max()).empty())
        return;
    throw EUsageError("unknown plan '" + TerminalText(*options.Plan) + "': " + StorePath(options, "Projects.dat") +
                      " has no such plan and " + THistoryDb::kFileName + " no run of it");
}

int ShowHistory(const TCliOptions& options, TOutput& output)
{
    const std::string path = StorePath(options, THistoryDb::kFileName);
    std::vector<TRunSummary> runs;
    const std::string plan = HistoryPlan(options);
    // No file yet is an empty history; reading it creates none.
    std::optional<THistoryDb> history;
    if (std::filesystem::exists(path)) {
        history.emplace(path);
        runs = history->Runs(plan, options.Since.value_or(std::chrono::system_clock::time_point{}),
                             std::chrono::system_clock::time_point::max());
    }
    // An empty name would read as every plan.
    if (runs.empty() || plan.empty())
        CheckHistoryPlan(options, plan, history ? &*history : nullptr);
    switch (options.Format) {
    case TOutputFormat::Table: output.Write(FormatHistoryTable(runs)); break;
    case TOutputFormat::Csv: output.Write(FormatHistoryCsv(runs)); break;
    case TOutputFormat::Json: output.Write(FormatHistoryJson(runs)); break;
    case TOutputFormat::OpenMetrics: break;  // refused with the options
    }
    return 0;
}

int Run(int argc, char* argv[], TOutput& output)
{
    try {
        TCliOptions options = ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc));
        if (options.Help) {
            output.Write(CliUsage());
            return 0;
        }
        if (options.Version) {
            output.Write(std::string("orvel-cli ") + kOrvelVersion + "\n");
            return 0;
        }
        if (options.History)
            return ShowHistory(options, output);
        if (options.List)
            return ListPlans(options, output);
        if (options.Path) {
            // SIGINT ends the trace early and prints what it measured.
            TRunStop stop;
            TStopSignals signals(stop);
            return RunPath(*options.Path, options.Format, output, stop);
        }
        // Before any thread starts, so that every thread leaves the signals to it.
        TRunStop stop;
        TStopSignals signals(stop);
        if (!options.Watch)
            return RunOnce(options, stop, output);
        return Watch(options, stop, output);
    } catch (const EUsageError& error) {
        std::cerr << "orvel-cli: " << error.what() << " (see --help)\n";
    } catch (const std::bad_alloc&) {
        std::cerr << "orvel-cli: out of memory\n";
    } catch (const std::exception& error) {
        std::cerr << "orvel-cli: " << error.what() << "\n";
    }
    return 2;
}

// Thousands of DNS and home-page items at once need a descriptor each: take
// what the hard limit allows, as the system lets any process do.
void RaiseDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace

int main(int argc, char* argv[])
{
    // Before anything is opened: a closed standard output must not become a
    // file of ours.
    TOutput output(STDOUT_FILENO, HoldStandardDescriptors());
    RaiseDescriptorLimit();
    const int status = Run(argc, argv, output);
    if (!output.Failed())
        return status;
    std::cerr << "orvel-cli: " << output.FailureText() << "\n";
    return 2;
}
