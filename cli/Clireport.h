#pragma once
// The results of a run, and the recorded runs, in the three output formats
// of orvel-cli.

#include "engine/Dnsdispinfo.h"
#include "engine/Trytimes.h"
#include "history/Runrecord.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TItemResult {
    TDNSDispInfo Info;  // the record after the run
    TTryTimes Tries;
    TTryOutcomes Outcomes;  // as many as Tries: how each ended, none for one not made
    // Set for an item a stop cut short: the tries it made, which its figures are of.
    std::optional<int32_t> TriesMade;
};

// The tries an item's figures are of: all of the run's, or those made before a stop.
int32_t TriesMade(const TItemResult& item, int32_t testTimes);

struct TRunReport {
    std::string PlanName;  // GBK
    int32_t TestTimes = 5;
    std::vector<TItemResult> Items;
    bool PingDenied = false;  // Ping had no ICMP socket it had the right to open
    int Shortage = 0;         // errno of a try that got no descriptor, buffer or memory (engine/Shortage.h)
    bool Aborted = false;     // stopped before every item had reported; its figures are of the tries made
    std::chrono::system_clock::time_point Started, Ended;
};

std::string FormatTable(const TRunReport& report);
// The table under a line with the run's start time.
std::string FormatStartedTable(const TRunReport& report);
std::string FormatCsv(const TRunReport& report);
std::string FormatJson(const TRunReport& report);
// The same object on one line, for a stream of runs.
std::string FormatJsonLine(const TRunReport& report);
// A watch's run as its stream carries it: with its number (from 1) and its
// start time, so that a stream can be read later. CSV: header names the
// columns first.
std::string FormatWatchedCsv(const TRunReport& report, int number, bool header);
std::string FormatWatchedJsonLine(const TRunReport& report, int number);

// Times in local time; in CSV and JSON as ISO 8601 with the offset from UTC.
std::string FormatHistoryTable(const std::vector<TRunSummary>& runs);
std::string FormatHistoryCsv(const std::vector<TRunSummary>& runs);
std::string FormatHistoryJson(const std::vector<TRunSummary>& runs);

// Two decimals, as the tables give milliseconds.
std::string Fixed2(double value);

// Columns padded to their widest cell by terminal width, those from
// firstRightColumn on right-aligned.
std::string AlignedColumns(const std::vector<std::vector<std::string>>& rows, size_t firstRightColumn);

// Columns a UTF-8 text takes on a terminal: East Asian wide characters take two.
int DisplayWidth(const std::string& utf8);

// A UTF-8 text that a terminal shows as it is and obeys in no way: control
// characters (C0, DEL, C1) and the characters that turn the writing direction
// become escapes such as \x1b and \u202e.
std::string TerminalText(const std::string& utf8);
