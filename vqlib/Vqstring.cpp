#include "vqlib/Vqstring.h"

#include <algorithm>

int32_t CountFields(const std::string& text, char sep)
{
    return static_cast<int32_t>(std::count(text.begin(), text.end(), sep)) + 1;
}

int32_t FindNthChar(const std::string& text, int32_t from, int32_t n, char sep)
{
    if (n <= 0)
        return from - 1;
    const auto length = static_cast<int64_t>(text.size());
    for (int64_t pos = std::max<int64_t>(from, 0); pos < length; ++pos) {
        if (text[static_cast<size_t>(pos)] == sep && --n == 0)
            return static_cast<int32_t>(pos);
    }
    return static_cast<int32_t>(length + 1);
}

std::string GetField(const std::string& text, int32_t index, char sep)
{
    const int64_t start = FindNthChar(text, 0, index, sep);
    const int64_t next = FindNthChar(text, static_cast<int32_t>(start + 1), 1, sep);
    const int64_t count = std::max<int64_t>(next - start - 1, 0);
    if (start + 1 >= static_cast<int64_t>(text.size()))
        return {};
    return text.substr(static_cast<size_t>(start + 1), static_cast<size_t>(count));
}

std::vector<std::string_view> SplitFields(std::string_view text, char sep)
{
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (size_t end; (end = text.find(sep, start)) != std::string_view::npos; start = end + 1)
        fields.push_back(text.substr(start, end - start));
    fields.push_back(text.substr(start));
    return fields;
}

namespace {

bool IsGbkLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

unsigned char FoldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

}  // namespace

bool SameTextGbk(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (IsGbkLeadByte(ca) && i + 1 < a.size()) {
            // Both must hold the same double-byte character, trail byte included.
            if (ca != cb || a[i + 1] != b[i + 1])
                return false;
            ++i;
        } else if (FoldAscii(ca) != FoldAscii(cb)) {
            return false;
        }
    }
    return true;
}

std::string_view Trim(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::vector<std::string_view> LineSpans(std::string_view text)
{
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    return lines;
}
