#pragma once
// Host names as a DNS query carries them.

#include <string_view>

// Dot-separated labels of 1 to 63 letters, digits, hyphens or underscores,
// 253 bytes at most in all: what fits a query's name field. No empty label,
// so neither a leading nor a trailing dot.
bool IsDnsName(std::string_view name);
