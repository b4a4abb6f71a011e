#include "vqlib/Csv.h"

#include <cctype>

namespace {

// "-3" or "-0.5" is a number to every reader; "-1+A1" or "-cmd" is a formula.
bool IsPlainNumber(const std::string& text, size_t from)
{
    bool digits = false, point = false;
    for (size_t i = from; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (std::isdigit(c))
            digits = true;
        else if (c == '.' && !point)
            point = true;
        else
            return false;
    }
    return digits;
}

bool LooksLikeFormula(const std::string& field)
{
    if (field.empty())
        return false;
    switch (field[0]) {
    case '=': case '+': case '@': case '\t': case '\r': return true;
    case '-': return !IsPlainNumber(field, 1);
    default: return false;
    }
}

bool NeedsQuotes(const std::string& field, const TCsvOptions& options)
{
    if (field.find_first_of(",\"\r\n") != std::string::npos)
        return true;
    return options.QuoteEdgeBlanks && !field.empty() && (field.front() == ' ' || field.back() == ' ');
}

}  // namespace

std::string CsvField(const std::string& field, const TCsvOptions& options)
{
    const std::string text = options.GuardFormulas && LooksLikeFormula(field) ? "'" + field : field;
    if (!NeedsQuotes(text, options))
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string CsvRecord(const std::vector<std::string>& fields, const TCsvOptions& options)
{
    std::string record;
    for (size_t f = 0; f < fields.size(); ++f) {
        if (f > 0)
            record += ',';
        record += CsvField(fields[f], options);
    }
    return record + "\r\n";
}

std::string CsvText(const std::vector<std::vector<std::string>>& records, const TCsvOptions& options)
{
    std::string text;
    for (const std::vector<std::string>& record : records)
        text += CsvRecord(record, options);
    return text;
}
