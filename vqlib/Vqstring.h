#pragma once
// Field splitting of stored texts at a one-byte separator; positions count bytes.

#include <cstdint>
#include <string>

int32_t CountFields(const std::string& text, char sep);
std::string GetField(const std::string& text, int32_t index, char sep);
int32_t FindNthChar(const std::string& text, int32_t from, int32_t n, char sep);
