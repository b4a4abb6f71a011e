#pragma once
// The About dialog's texts are kept in the program as index sequences into a
// substitution table rather than as plain strings; all but the version, which
// comes from the build (Orvelversion.h).

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

enum class THiddenText {
    Author, Messaging, Email, Title, Date, Info, Web, Caption, ExitButton,
    Count
};

// Each byte of the sequence is replaced by its substitution table entry; the
// result is GBK text.
std::string Descramble(const uint8_t* sequence, size_t length);

// One of the stored texts, descrambled (GBK).
std::string HiddenText(THiddenText which);
