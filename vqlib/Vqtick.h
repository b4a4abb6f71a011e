#pragma once
// A 32-bit millisecond tick counter from a monotonic clock; take differences
// as unsigned 32-bit values.

#include <cstdint>

uint32_t GetTickCount();
