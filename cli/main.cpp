// orvel-cli: runs a saved test plan from a terminal and prints the results as
// a table, CSV or JSON.

#include "cli/Clioptions.h"
#include "cli/Clireport.h"
#include "cli/Clirun.h"
#include "engine/Projectstore.h"
#include "vqlib/Gbk.h"
#include "vqlib/Programdir.h"
#include "vqlib/Storedir.h"
#include "vqlib/Vqfiles.h"

#include "Orvelversion.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>

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
              << "cap_net_raw+ep " << ProgramDir() << "orvel-cli) or let your group open ping sockets (sysctl -w "
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

void ShowProgress(int finished, int total)
{
    std::fprintf(stderr, "\r%d/%d", finished, total);
    if (finished == total)
        std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
}

int ListPlans(const TCliOptions& options)
{
    TProjectStore store(StorePath(options, "Projects.dat"));
    std::vector<std::string> names;
    store.ListProjects(names);
    for (const std::string& name : names)
        std::cout << TerminalText(GbkToUtf8(name)) << "\n";
    return 0;
}

int RunChosenPlan(const TCliOptions& options)
{
    TProjectStore store(StorePath(options, "Projects.dat"));
    std::string name = ChoosePlan(options);
    if (!store.HasProject(name))
        throw EStoreError("unknown plan '" + TerminalText(GbkToUtf8(name)) + "' in " + store.FileName());
    std::vector<TDNSDispInfo> items = TextToItems(store.GetProjectText(name));

    TProgress progress;
    if (isatty(STDERR_FILENO))
        progress = ShowProgress;
    TRunReport report = RunPlan(name, std::move(items), progress);

    switch (options.Format) {
    case TOutputFormat::Table: std::cout << FormatTable(report); break;
    case TOutputFormat::Csv: std::cout << FormatCsv(report); break;
    case TOutputFormat::Json: std::cout << FormatJson(report); break;
    }
    std::cout.flush();
    if (report.PingDenied)
        ExplainPingDenied();
    for (const TItemResult& item : report.Items)
        if (item.Info.State == tsDone)
            return 0;
    return 1;
}

}  // namespace

int main(int argc, char* argv[])
{
    try {
        TCliOptions options = ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc));
        if (options.Help) {
            std::cout << CliUsage();
            return 0;
        }
        if (options.Version) {
            std::cout << "orvel-cli " << kOrvelVersion << "\n";
            return 0;
        }
        return options.List ? ListPlans(options) : RunChosenPlan(options);
    } catch (const EUsageError& error) {
        std::cerr << "orvel-cli: " << error.what() << " (see --help)\n";
    } catch (const std::exception& error) {
        std::cerr << "orvel-cli: " << error.what() << "\n";
    }
    return 2;
}
