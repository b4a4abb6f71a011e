#pragma once
// Checks shared by the dialogs that take names and hosts for the plan store.

#include <string>
#include <string_view>

// Drops every byte of value 0x20 and below at both ends.
inline std::string TrimBlanks(std::string_view text)
{
    auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    size_t first = 0;
    size_t last = text.size();
    while (first < last && isBlank(text[first]))
        ++first;
    while (last > first && isBlank(text[last - 1]))
        --last;
    return std::string(text.substr(first, last - first));
}

// "=", "#", "^", CR and LF separate the store's lines, plans and fields. The
// test is byte by byte, so a GBK trail byte 0x5E counts as "^".
inline bool HasReservedChar(std::string_view text)
{
    return text.find_first_of("=#^\r\n") != std::string_view::npos;
}
