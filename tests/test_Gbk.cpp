#include "vqlib/Gbk.h"

#include <gtest/gtest.h>

TEST(Gbk, ConvertsChineseBothWays)
{
    const auto gbk = Utf8ToGbk("家里");
    ASSERT_TRUE(gbk);
    EXPECT_EQ(*gbk, "\xBC\xD2\xC0\xEF");
    EXPECT_EQ(GbkToUtf8(*gbk), "家里");
    // A zero or control byte among them stays, and so does all after it.
    const std::string bytes("\xBC\xD2\0\x01\x1A\xC0\xEF", 7);
    const std::string utf8("家\0\x01\x1A里", 9);
    EXPECT_EQ(GbkToUtf8(bytes), utf8);
    EXPECT_EQ(Utf8ToGbk(utf8), bytes);
}

TEST(Gbk, AsciiAndEmptyPassUnchanged)
{
    EXPECT_EQ(Utf8ToGbk("www.baidu.com^1"), std::optional<std::string>("www.baidu.com^1"));
    EXPECT_EQ(Utf8ToGbk(""), std::optional<std::string>(""));
    EXPECT_EQ(GbkToUtf8(""), "");
    EXPECT_EQ(GbkToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Gbk, RefusesWhatGbkCannotHold)
{
    EXPECT_FALSE(Utf8ToGbk("abc\xF0\x9F\x98\x80"));  // emoji
    EXPECT_FALSE(Utf8ToGbk("\xED\x95\x9C"));          // Hangul syllable
    EXPECT_FALSE(Utf8ToGbk("ab\xFF"));                // not UTF-8
    EXPECT_FALSE(Utf8ToGbk("\xE5\xAE"));              // truncated sequence
}

TEST(Gbk, LongTextsConvertWhole)
{
    std::string utf8;
    for (int i = 0; i < 2000; ++i)
        utf8 += "测速";
    const auto gbk = Utf8ToGbk(utf8);
    ASSERT_TRUE(gbk);
    EXPECT_EQ(gbk->size(), 8000u);
    EXPECT_EQ(GbkToUtf8(*gbk), utf8);
}

TEST(Gbk, InvalidGbkBecomesReplacementCharacter)
{
    EXPECT_EQ(GbkToUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(GbkToUtf8("ab\xBC"), "ab\xEF\xBF\xBD");  // lead byte without trail
    EXPECT_EQ(GbkToUtf8("\xBC\xD2\xFF\xC0\xEF"), "家\xEF\xBF\xBD里");
}
