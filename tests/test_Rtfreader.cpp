// The reader alone, without Qt; the label's tests read the help text with it.
#include "controls/Rtfreader.h"

#include <gtest/gtest.h>

namespace {

std::string Texts(const TRtfDocument& document)
{
    std::string text;
    for (const TRtfParagraph& paragraph : document.Paragraphs)
        text += paragraph.Text() + "|";
    return text;
}

TEST(Rtfreader, DecodesEscapesByTheFontsCharacterSet)
{
    const TRtfDocument document = ReadRtf(
        "{\\rtf1\\ansi{\\fonttbl{\\f0\\fswiss Caf\\'e9;}{\\f1\\fnil\\fcharset134 \\'cb\\'ce\\'cc\\'e5;}}"
        "\\f0 d\\'e9j\\'e0\\par\\f1 \\'b1\\'be\\'c8\\'ed\\'bc\\'fe\\par}");
    ASSERT_EQ(document.Fonts.size(), 2u);
    EXPECT_EQ(document.Fonts[0].Name, "Café");  // Latin-1
    EXPECT_EQ(document.Fonts[1].Name, "宋体");   // GB2312
    EXPECT_EQ(Texts(document), "déjà|本软件|");
}

TEST(Rtfreader, WriterKeepsWhatGbkCannotHoldAndMendsBrokenUtf8)
{
    TRtfParagraph paragraph;
    TRtfRun run;
    run.Text = "本\xF0\x9F\x98\x80\xE6\x9C;é";  // an emoji, a cut character (two bad bytes), é
    run.FontName = "宋体";
    paragraph.Runs.push_back(run);
    const std::string rtf = WriteRtf({paragraph});
    EXPECT_NE(rtf.find("\\u-10179?\\u-8704?"), std::string::npos) << rtf;  // the emoji as a surrogate pair

    const TRtfDocument document = ReadRtf(rtf);
    ASSERT_EQ(document.Paragraphs.size(), 1u);
    ASSERT_EQ(document.Paragraphs[0].Runs.size(), 1u);
    EXPECT_EQ(document.Paragraphs[0].Runs[0].Text, "本\xF0\x9F\x98\x80\xEF\xBF\xBD\xEF\xBF\xBD;é");
    EXPECT_EQ(document.Paragraphs[0].Runs[0].FontName, "宋体");
}

}  // namespace
