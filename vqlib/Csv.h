#pragma once
// CSV as RFC 4180 writes it, over UTF-8 texts: a field is quoted when it holds
// a comma, a quote, CR or LF, a quote inside is doubled, and every record ends
// in CR LF.

#include <string>
#include <vector>

struct TCsvOptions {
    // For files a spreadsheet opens: a cell it would take for a formula
    // (= + @ tab CR, or - before anything but a number) gets a leading ' and
    // stays text. Data for scripts is written as it is.
    bool GuardFormulas = false;
    // Spreadsheet programs trim blanks at a field's ends unless it is quoted.
    bool QuoteEdgeBlanks = false;
};

// What spreadsheet programs are given.
inline constexpr TCsvOptions kSpreadsheetCsv{true, true};

std::string CsvField(const std::string& field, const TCsvOptions& options = {});
// One record, CR LF included.
std::string CsvRecord(const std::vector<std::string>& fields, const TCsvOptions& options = {});
std::string CsvText(const std::vector<std::vector<std::string>>& records, const TCsvOptions& options = {});
