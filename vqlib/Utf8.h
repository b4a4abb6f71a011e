#pragma once
// UTF-8 one character at a time, for what whole-text conversion (vqlib/Gbk.h)
// does not give: terminal widths and escapes, RTF's \uN and \'hh.

#include <cstddef>
#include <string>
#include <string_view>

struct TUtf8Char {
    char32_t CodePoint = 0xFFFD;  // U+FFFD when malformed
    size_t Length = 1;            // bytes it takes; a malformed sequence takes one
    bool Valid = false;
};

// The character at the front of a non-empty text. A stray or unknown byte, a
// sequence cut short, an overlong form, a surrogate or a value beyond
// U+10FFFF is malformed.
TUtf8Char DecodeUtf8(std::string_view text);

// Appends the character; a surrogate or a value beyond U+10FFFF appends U+FFFD.
void AppendUtf8(std::string& target, char32_t codePoint);
