#pragma once
// Code page 936 (GBK) conversion; stored texts are GBK byte strings.

#include <optional>
#include <string>
#include <string_view>

// nullopt when the text holds a character GBK cannot represent (or is not UTF-8).
std::optional<std::string> Utf8ToGbk(std::string_view utf8);
// Invalid GBK sequences become U+FFFD.
std::string GbkToUtf8(std::string_view gbk);
