#include "vqlib/Utf8.h"

#include <cstdint>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsScalarValue(char32_t codePoint)
{
    return codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF);
}

// Bytes of the sequence a lead byte starts; 0 for a byte that starts none
// (continuation bytes, and C0, C1, F5..FF, which only start overlong or
// out-of-range forms).
size_t SequenceLength(uint8_t lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead < 0xE0)
        return 2;
    if (lead >= 0xE0 && lead < 0xF0)
        return 3;
    if (lead >= 0xF0 && lead < 0xF5)
        return 4;
    return 0;
}

}  // namespace

TUtf8Char DecodeUtf8(std::string_view text)
{
    const TUtf8Char malformed;
    const auto byte = [&](size_t i) { return uint8_t(text[i]); };
    const size_t length = SequenceLength(byte(0));
    if (length == 0 || length > text.size())
        return malformed;
    char32_t codePoint = length == 1 ? byte(0) : byte(0) & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return malformed;
        codePoint = (codePoint << 6) | (byte(i) & 0x3F);
    }
    static constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < smallest[length] || !IsScalarValue(codePoint))
        return malformed;
    return {codePoint, length, true};
}

void AppendUtf8(std::string& target, char32_t codePoint)
{
    if (!IsScalarValue(codePoint))
        codePoint = kReplacement;
    if (codePoint < 0x80) {
        target += char(codePoint);
    } else if (codePoint < 0x800) {
        target += char(0xC0 | (codePoint >> 6));
        target += char(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        target += char(0xE0 | (codePoint >> 12));
        target += char(0x80 | ((codePoint >> 6) & 0x3F));
        target += char(0x80 | (codePoint & 0x3F));
    } else {
        target += char(0xF0 | (codePoint >> 18));
        target += char(0x80 | ((codePoint >> 12) & 0x3F));
        target += char(0x80 | ((codePoint >> 6) & 0x3F));
        target += char(0x80 | (codePoint & 0x3F));
    }
}
