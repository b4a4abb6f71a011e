#pragma once
// The lines of a program's output as a test reads them: split at LF only, so
// that a CR LF line end leaves its CR for the test to see.

#include <string>
#include <string_view>
#include <vector>

inline std::vector<std::string> TextLines(std::string_view text)
{
    std::vector<std::string> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        lines.emplace_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}
