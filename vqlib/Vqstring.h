#pragma once
// Field and line splitting of stored texts; positions count bytes.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

int32_t CountFields(const std::string& text, char sep);
std::string GetField(const std::string& text, int32_t index, char sep);
int32_t FindNthChar(const std::string& text, int32_t from, int32_t n, char sep);
// Every field of text at once, as CountFields and GetField see them: views
// into text, one more than there are separators.
std::vector<std::string_view> SplitFields(std::string_view text, char sep);

// Equal ignoring the case of ASCII letters. Double-byte GBK characters (lead
// byte 0x81-0xFE and its trail byte) are compared exactly, so a trail byte
// that looks like a letter is not folded.
bool SameTextGbk(const std::string& a, const std::string& b);

// Without the spaces and tabs at either end.
std::string_view Trim(std::string_view text);

// The lines of text, views into it without their ends: a line ends at CR LF,
// a lone CR or LF; a last line without an end is a line, an empty text has
// none. Every other byte, a zero byte too, belongs to its line.
std::vector<std::string_view> LineSpans(std::string_view text);
