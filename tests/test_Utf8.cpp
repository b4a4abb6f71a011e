#include "vqlib/Utf8.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <string>
#include <vector>

namespace {

// glibc's own decoder as the reference: is the whole text one valid character?
bool IconvTakesAsOneCharacter(const std::string& bytes)
{
    static const iconv_t converter = iconv_open("UTF-32LE", "UTF-8");
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char out[16];
    char* outPtr = out;
    size_t outLeft = sizeof out;
    return iconv(converter, &in, &inLeft, &outPtr, &outLeft) != size_t(-1) && outLeft == sizeof out - 4;
}

void ExpectMalformed(const std::string& bytes)
{
    const TUtf8Char decoded = DecodeUtf8(bytes);
    EXPECT_FALSE(decoded.Valid) << testing::PrintToString(bytes);
    EXPECT_EQ(decoded.Length, 1u) << testing::PrintToString(bytes);
    EXPECT_EQ(decoded.CodePoint, U'\uFFFD') << testing::PrintToString(bytes);
}

TEST(Utf8, EveryCharacterGoesThroughEncodeAndDecode)
{
    for (char32_t codePoint = 0; codePoint <= 0x10FFFF; ++codePoint) {
        if (codePoint == 0xD800)
            codePoint = 0xE000;
        std::string bytes;
        AppendUtf8(bytes, codePoint);
        const size_t expectedLength = codePoint < 0x80 ? 1 : codePoint < 0x800 ? 2 : codePoint < 0x10000 ? 3 : 4;
        ASSERT_EQ(bytes.size(), expectedLength) << std::hex << uint32_t(codePoint);
        const TUtf8Char decoded = DecodeUtf8(bytes + "tail");
        ASSERT_TRUE(decoded.Valid) << std::hex << uint32_t(codePoint);
        ASSERT_EQ(decoded.CodePoint, codePoint);
        ASSERT_EQ(decoded.Length, expectedLength);
    }
}

TEST(Utf8, WhatCannotBeEncodedBecomesTheReplacementCharacter)
{
    for (char32_t codePoint : {char32_t(0xD800), char32_t(0xDFFF), char32_t(0x110000), char32_t(0xFFFFFFFF)}) {
        std::string bytes = "a";
        AppendUtf8(bytes, codePoint);
        EXPECT_EQ(bytes, "a\xEF\xBF\xBD") << std::hex << uint32_t(codePoint);
    }
}

TEST(Utf8, MalformedSequencesTakeOneByte)
{
    for (const char* bytes : {
             "\x80", "\xBF",                    // stray continuation bytes
             "\xC0\xAF", "\xC1\xBF",            // overlong two-byte forms
             "\xE0\x80\xAF", "\xE0\x9F\xBF",    // overlong three-byte forms
             "\xF0\x8F\xBF\xBF",                // overlong four-byte form
             "\xED\xA0\x80", "\xED\xBF\xBF",    // surrogates
             "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF",  // beyond U+10FFFF
             "\xE7\xBD", "\xF0\x9F\x98",        // cut short
             "\xE7\x41\x42", "\xF0\x9F\xC3\xA9",  // a lead byte followed by a new character
         })
        ExpectMalformed(bytes);
}

TEST(Utf8, AgreesWithIconvOnEveryTwoByteText)
{
    for (int first = 0x80; first < 0x100; ++first)
        for (int second = 0; second < 0x100; ++second) {
            const std::string bytes{char(first), char(second)};
            const TUtf8Char decoded = DecodeUtf8(bytes);
            ASSERT_EQ(decoded.Valid && decoded.Length == 2, IconvTakesAsOneCharacter(bytes))
                << std::hex << first << " " << second;
        }
}

TEST(Utf8, AgreesWithIconvOnTheSecondByteOfLongerForms)
{
    // The second byte decides overlong, surrogate and out-of-range forms.
    for (int lead = 0xE0; lead < 0x100; ++lead)
        for (int second = 0; second < 0x100; ++second) {
            const std::string bytes = std::string{char(lead), char(second), '\x80'} + (lead >= 0xF0 ? "\x80" : "");
            const TUtf8Char decoded = DecodeUtf8(bytes);
            ASSERT_EQ(decoded.Valid && decoded.Length == bytes.size(), IconvTakesAsOneCharacter(bytes))
                << std::hex << lead << " " << second;
        }
}

TEST(Utf8, ReadingResumesAfterAMalformedByte)
{
    const std::string text = "a\xE6\x9C\xAC\xFF\xE6\x9C\xAC\xE6";
    std::vector<char32_t> read;
    for (std::string_view rest = text; !rest.empty();) {
        const TUtf8Char next = DecodeUtf8(rest);
        read.push_back(next.CodePoint);
        rest.remove_prefix(next.Length);
    }
    EXPECT_EQ(read, (std::vector<char32_t>{U'a', U'本', U'\uFFFD', U'本', U'\uFFFD'}));
}

}  // namespace
