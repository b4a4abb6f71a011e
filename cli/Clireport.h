#pragma once
// The results of a run in the three output formats of orvel-cli.

#include "engine/Dnsdispinfo.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Each try's time, in the order of the tries; none for a failed try or one
// not made.
using TTryTimes = std::vector<std::optional<std::chrono::microseconds>>;

struct TItemResult {
    TDNSDispInfo Info;  // the record after the run
    TTryTimes Tries;
};

// The figures of an item's successful tries, in ms; the standard deviation
// is the population's (the jitter of these tries).
struct TTryFigures {
    double Fastest = 0;
    double Mean = 0;
    double Slowest = 0;
    double StdDev = 0;
};

// None when no try succeeded.
std::optional<TTryFigures> TryFigures(const TTryTimes& tries);

struct TRunReport {
    std::string PlanName;  // GBK
    int32_t TestTimes = 5;
    std::vector<TItemResult> Items;
    bool PingDenied = false;  // Ping had no ICMP socket it had the right to open
};

std::string FormatTable(const TRunReport& report);
std::string FormatCsv(const TRunReport& report);
std::string FormatJson(const TRunReport& report);

// Columns a UTF-8 text takes on a terminal: East Asian wide characters take two.
int DisplayWidth(const std::string& utf8);

// A UTF-8 text that a terminal shows as it is and obeys in no way: control
// characters (C0, DEL, C1) and the characters that turn the writing direction
// become escapes such as \x1b and \u202e.
std::string TerminalText(const std::string& utf8);
