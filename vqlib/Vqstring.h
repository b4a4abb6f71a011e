#pragma once
// Field splitting of stored texts at a one-byte separator; positions count bytes.

#include <cstdint>
#include <string>
#include <string_view>

int32_t CountFields(const std::string& text, char sep);
std::string GetField(const std::string& text, int32_t index, char sep);
int32_t FindNthChar(const std::string& text, int32_t from, int32_t n, char sep);

// Equal ignoring the case of ASCII letters. Double-byte GBK characters (lead
// byte 0x81-0xFE and its trail byte) are compared exactly, so a trail byte
// that looks like a letter is not folded.
bool SameTextGbk(const std::string& a, const std::string& b);

// Without the spaces and tabs at either end.
std::string_view Trim(std::string_view text);
