#include "vqlib/Vqstring.h"

#include <gtest/gtest.h>

#include <string>

TEST(CountFields, CountsSeparatorsPlusOne)
{
    EXPECT_EQ(CountFields("", '#'), 1);
    EXPECT_EQ(CountFields("a#b#", '#'), 3);
    EXPECT_EQ(CountFields("##", '#'), 3);
    EXPECT_EQ(CountFields("abc", '#'), 1);
}

TEST(FindNthChar, ReturnsPositionOrLengthPlusOne)
{
    EXPECT_EQ(FindNthChar("a#b#c", 0, 2, '#'), 3);
    EXPECT_EQ(FindNthChar("a#b#c", 0, 3, '#'), 6);
    EXPECT_EQ(FindNthChar("a#b#c", 0, 1, '#'), 1);
    EXPECT_EQ(FindNthChar("a#b#c", 2, 1, '#'), 3);
    EXPECT_EQ(FindNthChar("a#b#c", 4, 0, '#'), 3);   // n <= 0: from - 1
    EXPECT_EQ(FindNthChar("a#b#c", 0, -5, '#'), -1);
    EXPECT_EQ(FindNthChar("a#b#c", 10, 1, '#'), 6);  // start past the end
    EXPECT_EQ(FindNthChar("", 0, 1, '#'), 1);
}

TEST(GetField, SplitsAtEverySeparator)
{
    const std::string text = "a#b#c";
    EXPECT_EQ(GetField(text, 0, '#'), "a");
    EXPECT_EQ(GetField(text, 1, '#'), "b");
    EXPECT_EQ(GetField(text, 2, '#'), "c");
    EXPECT_EQ(GetField(text, 3, '#'), "");
    EXPECT_EQ(GetField(text, -1, '#'), "a");
    EXPECT_EQ(GetField(text, 1000, '#'), "");
}

TEST(GetField, EmptyFieldsCountLikeOthers)
{
    EXPECT_EQ(GetField("a##b", 1, '#'), "");
    EXPECT_EQ(GetField("a##b", 2, '#'), "b");
    EXPECT_EQ(GetField("a#b#", 2, '#'), "");
    EXPECT_EQ(GetField("#a", 0, '#'), "");
    EXPECT_EQ(GetField("#a", 1, '#'), "a");
    for (int index = -2; index < 4; ++index)
        EXPECT_EQ(GetField("", index, '#'), "") << index;
}

TEST(GetField, ComparesBytesNotCharacters)
{
    // A double-byte character whose trail byte is 0x5E splits like a "^".
    const std::string text = "x\x81\x5Ey^z";
    EXPECT_EQ(CountFields(text, '^'), 3);
    EXPECT_EQ(GetField(text, 0, '^'), "x\x81");
    EXPECT_EQ(GetField(text, 1, '^'), "y");
    EXPECT_EQ(GetField(text, 2, '^'), "z");
}

// All fields at once are the fields GetField gives one by one.
TEST(SplitFields, AgreesWithCountFieldsAndGetField)
{
    for (const std::string text : {"", "#", "##", "a", "a#b#c", "#a", "a#", "a##b", "\xB5\x5E#x^y"}) {
        for (const char sep : {'#', '^'}) {
            const std::vector<std::string_view> fields = SplitFields(text, sep);
            ASSERT_EQ(static_cast<int32_t>(fields.size()), CountFields(text, sep)) << text;
            for (int32_t i = 0; i < CountFields(text, sep); ++i)
                EXPECT_EQ(fields[static_cast<size_t>(i)], GetField(text, i, sep)) << text << " " << i;
        }
    }
}

TEST(SplitFields, ViewsPointIntoTheText)
{
    const std::string text = "ab^c^^d";
    const std::vector<std::string_view> fields = SplitFields(text, '^');
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_EQ(fields[0].data(), text.data());
    EXPECT_EQ(fields[1].data(), text.data() + 3);
    EXPECT_TRUE(fields[2].empty());
    EXPECT_EQ(fields[3].data() + fields[3].size(), text.data() + text.size());
}

TEST(SameTextGbk, FoldsAsciiLettersOnly)
{
    EXPECT_TRUE(SameTextGbk("Alpha", "aLPHA"));
    EXPECT_TRUE(SameTextGbk("", ""));
    EXPECT_FALSE(SameTextGbk("alpha", "alphas"));
    EXPECT_FALSE(SameTextGbk("[", "{"));  // 0x5B and 0x7B differ by the case bit but are no letters
    EXPECT_TRUE(SameTextGbk("\xBC\xD2\xC0\xEF", "\xBC\xD2\xC0\xEF"));  // 家里
}

TEST(SameTextGbk, DoesNotFoldTrailBytes)
{
    // 0x81 0x41 and 0x81 0x61 are two different GBK characters.
    EXPECT_FALSE(SameTextGbk("\x81\x41", "\x81\x61"));
    EXPECT_TRUE(SameTextGbk("\x81\x41" "A", "\x81\x41" "a"));
    // After a double-byte character the comparison stays in step.
    EXPECT_FALSE(SameTextGbk("\x81\x41\x81\x42", "\x81\x41\x81\x62"));
    // A lead byte at the very end stands alone.
    EXPECT_TRUE(SameTextGbk("A\x81", "a\x81"));
}

// CR LF, a lone CR and a lone LF each end one line; a last line needs no end.
TEST(LineSpans, EndsAtEveryLineEnd)
{
    using TLines = std::vector<std::string_view>;
    EXPECT_EQ(LineSpans(""), TLines{});
    EXPECT_EQ(LineSpans("\r\n"), TLines{""});
    EXPECT_EQ(LineSpans("a\r\nb\nc\rd"), (TLines{"a", "b", "c", "d"}));
    EXPECT_EQ(LineSpans("a\r\n"), TLines{"a"});
    EXPECT_EQ(LineSpans("a\n\r"), (TLines{"a", ""}));  // LF then CR: two ends, no CR LF
    EXPECT_EQ(LineSpans("\n\n"), (TLines{"", ""}));
    EXPECT_EQ(LineSpans("a\r\r\nb"), (TLines{"a", "", "b"}));
}

TEST(LineSpans, KeepsZeroBytesAndPointsIntoTheText)
{
    using namespace std::string_literals;
    const std::string text = "x\0y\r\n\tz"s;
    const std::vector<std::string_view> lines = LineSpans(text);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "x\0y"s);
    EXPECT_EQ(lines[1], "\tz");
    EXPECT_EQ(lines[1].data(), text.data() + 5);
}
