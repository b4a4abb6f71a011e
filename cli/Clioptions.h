#pragma once
// Command line of orvel-cli.

#include "cli/Clirun.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

enum class TOutputFormat { Table, Csv, Json, OpenMetrics };

// A target typed on the command line and the method that measures it.
struct TCliTarget {
    int8_t Method = 0;  // dtPing, dtHomePage or dtDNSQuery
    std::string Text;   // as typed (UTF-8)
};

struct TListenAddress {
    std::string Host;  // an IPv4 or IPv6 literal
    uint16_t Port = 0; // 0: any free port
};

// --path: the hops to a host instead of a run.
struct TPathOptions {
    std::string Host;  // as typed
    int MaxHops = 30;
    int Rounds = 10;
    std::chrono::milliseconds Interval{1000};
    std::chrono::milliseconds Timeout{2000};
    bool Names = false;  // reverse names instead of addresses
    bool Quiet = false;  // no progress line
    int Family = 0;      // AF_INET or AF_INET6: the host's address of that family only
};

struct TCliOptions {
    std::string Dir;                 // empty: beside the executable
    std::optional<std::string> Plan; // as typed (UTF-8); absent: the plan named in DestLists.ini
    TOutputFormat Format = TOutputFormat::Table;
    bool List = false;
    bool History = false;                                          // print the recorded runs
    std::optional<std::chrono::system_clock::time_point> Since;  // --history: runs started then or later
    bool NoRecord = false;                                         // do not record the run
    std::vector<TCliTarget> Targets;  // measured instead of a plan
    TRunSettings Run;
    std::optional<std::chrono::milliseconds> Watch;  // a run every so often until stopped
    std::optional<TListenAddress> Listen;            // serve the latest run's metrics
    std::optional<TPathOptions> Path;                // trace the path to a host instead
    bool Quiet = false;    // -q: no progress, only the results
    bool Verbose = false;  // -v: each try on standard error as it ends
    // -a / -u: instead of the results, the targets that answered / did not, one a line.
    enum class TTargetList { None, Answered, Silent };
    TTargetList TargetList = TTargetList::None;
    bool Help = false;
    bool Version = false;
};

class EUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws EUsageError with a one-line message naming the problem.
TCliOptions ParseCliOptions(const std::vector<std::string>& args);

// YYYY-MM-DD (midnight), or an ISO 8601 time YYYY-MM-DDTHH:MM[:SS[.frac]]
// with an optional Z or offset; without one, in local time. Throws
// EUsageError.
std::chrono::system_clock::time_point ParseDate(const std::string& text);

std::string CliUsage();

// Empty when text can be measured by method, else the line that says why
// not, opened by name (the option, or "a target").
std::string TargetFault(int8_t method, const std::string& name, const std::string& text);
