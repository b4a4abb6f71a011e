#pragma once
// Unpredictable numbers from the kernel (getrandom), for the identifiers of
// DNS queries: a spoofed answer has to guess them, and resolvers made in the
// same instant must not share them.

#include <cstdint>

// Evenly drawn from 0 up to, not including, range (1 or more). Throws
// std::system_error when the kernel gives no random bytes.
uint32_t RandomBelow(uint32_t range);
