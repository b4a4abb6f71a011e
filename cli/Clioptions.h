#pragma once
// Command line of orvel-cli.

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
    bool Help = false;
    bool Version = false;
};

class EUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws EUsageError with a one-line message naming the problem.
TCliOptions ParseCliOptions(const std::vector<std::string>& args);

std::string CliUsage();
