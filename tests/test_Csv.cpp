#include "vqlib/Csv.h"

#include <gtest/gtest.h>

namespace {

TEST(Csv, QuotesFieldsWithCommasQuotesAndLineBreaks)
{
    EXPECT_EQ(CsvRecord({"plain", "网关", ""}), "plain,网关,\r\n");
    EXPECT_EQ(CsvRecord({"a,b", "say \"hi\"", "\""}), "\"a,b\",\"say \"\"hi\"\"\",\"\"\"\"\r\n");
    // A line break inside a field stays as it is, whichever it is.
    EXPECT_EQ(CsvRecord({"lf\nx", "cr\rx", "crlf\r\nx"}), "\"lf\nx\",\"cr\rx\",\"crlf\r\nx\"\r\n");
    EXPECT_EQ(CsvText({{"h1", "h2"}, {"1", "2"}, {}}), "h1,h2\r\n1,2\r\n\r\n");
    EXPECT_EQ(CsvText({}), "");
}

TEST(Csv, BlanksAtTheEndsAreQuotedForSpreadsheetsOnly)
{
    EXPECT_EQ(CsvRecord({" pad", "pad ", "in side"}), " pad,pad ,in side\r\n");
    EXPECT_EQ(CsvRecord({" pad", "pad ", "in side"}, kSpreadsheetCsv), "\" pad\",\"pad \",in side\r\n");
}

TEST(Csv, FormulaGuardOnKeepsFormulasText)
{
    EXPECT_EQ(CsvRecord({"=1+1", "+cmd", "@x", "\tx", "-1+A1", "-cmd|' /C calc'!A0"}, kSpreadsheetCsv),
              "'=1+1,'+cmd,'@x,'\tx,'-1+A1,'-cmd|' /C calc'!A0\r\n");
    // The guard comes first, so a guarded field that must be quoted is quoted whole.
    EXPECT_EQ(CsvField("\rx", kSpreadsheetCsv), "\"'\rx\"");
    EXPECT_EQ(CsvField("=HYPERLINK(\"u\",\"x\")", kSpreadsheetCsv), "\"'=HYPERLINK(\"\"u\"\",\"\"x\"\")\"");
}

TEST(Csv, FormulaGuardOnLeavesNumbersAndPlainTexts)
{
    EXPECT_EQ(CsvRecord({"-3", "-0.5", "12.5", "a=b", "x-1", "", "-", "-1.2.3"}, kSpreadsheetCsv),
              "-3,-0.5,12.5,a=b,x-1,,'-,'-1.2.3\r\n");
}

TEST(Csv, FormulaGuardOffWritesDataAsItIs)
{
    EXPECT_EQ(CsvRecord({"=1+1", "+cmd", "@x", "-1+A1", "\tx"}), "=1+1,+cmd,@x,-1+A1,\tx\r\n");
}

}  // namespace
