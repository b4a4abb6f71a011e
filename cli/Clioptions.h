#pragma once
// Command line of orvel-cli.

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

enum class TOutputFormat { Table, Csv, Json };

struct TCliOptions {
    std::string Dir;                 // empty: beside the executable
    std::optional<std::string> Plan; // as typed (UTF-8); absent: the plan named in DestLists.ini
    TOutputFormat Format = TOutputFormat::Table;
    bool List = false;
    bool History = false;                                          // print the recorded runs
    std::optional<std::chrono::system_clock::time_point> Since;  // --history: runs started then or later
    bool NoRecord = false;                                         // do not record the run
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
