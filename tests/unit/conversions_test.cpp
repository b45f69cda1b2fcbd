// Date/time text conversions, trimming, quoting and the bounds of the
// statement-text buffer: pure text work, no ODBC.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "db/conversions.h"
#include "db/statement_patterns.h"

namespace {

TEST(FromDbText, ZTurnsClockTextIntoCompactTime) {
    char dst[20] = "untouched";
    fromDbText("07:05:09", dst, sizeof dst, "Z");
    EXPECT_STREQ(dst, "070509");

    // In place, as the fetches use it, in a buffer as wide as the column's.
    char buf[20] = "12:00:00";
    fromDbText(buf, buf, sizeof buf, "Z");
    EXPECT_STREQ(buf, "120000");

    // Separators are skipped whatever they hold; positions 7 to 10 are
    // kept, so a longer source brings its next two characters along.
    fromDbText("23x59y58:123", dst, sizeof dst, "Z");
    EXPECT_STREQ(dst, "235958:1");
}

TEST(FromDbText, UnknownCodeYieldsEmptyText) {
    for (const char* code : {"z", "T", "", "ZZ"}) {
        char dst[20] = "untouched";
        fromDbText("07:05:09", dst, sizeof dst, code);
        EXPECT_STREQ(dst, "") << code;
    }
}

TEST(FromDbText, ShortDestinationIsCutNotOverrun) {
    char dst[8];
    std::memset(dst, 'X', sizeof dst);
    fromDbText("07:05:09:123", dst, 4, "Z");  // result would be 07050912
    EXPECT_STREQ(dst, "070");
    EXPECT_EQ(dst[4], 'X');

    // A source longer than the 29-character work area is cut there.
    std::string longSource(60, '1');
    char wide[40];
    fromDbText(longSource.c_str(), wide, sizeof wide, "Z");
    EXPECT_STREQ(wide, "11111111");
}

TEST(ToDbText, BuildsTimeAndTimestampTexts) {
    char out[32] = "untouched";
    EXPECT_EQ(toDbText("20090917", "070509", out, sizeof out, "T"), 0);
    EXPECT_STREQ(out, "2009-09-17 07:05:09");
    EXPECT_EQ(toDbText("", "070509", out, sizeof out, "Z"), 0);
    EXPECT_STREQ(out, "07:05:09");
    EXPECT_EQ(toDbText("20090917", "000000", out, sizeof out, "T"), 0);
    EXPECT_STREQ(out, "2009-09-17 00:00:00");
}

TEST(ToDbText, UnknownCodeWritesNothing) {
    char date[] = "20090917";
    char time[] = "070509";
    for (const char* code : {"z", "t", "", "TZ"}) {
        char out[32] = "untouched";
        EXPECT_NE(toDbText(date, time, out, sizeof out, code), 0) << code;
        EXPECT_STREQ(out, "untouched");
        EXPECT_STREQ(date, "20090917");
        EXPECT_STREQ(time, "070509");
    }
}

TEST(ToDbText, ShortInputsAndOutputsStayInBounds) {
    char out[32];
    // A short compact time ends the text where it ends instead of reading on.
    EXPECT_EQ(toDbText("", "0705", out, sizeof out, "Z"), 0);
    EXPECT_STREQ(out, "07:05:");
    EXPECT_EQ(toDbText("2009", "070509", out, sizeof out, "T"), 0);
    EXPECT_STREQ(out, "2009-");

    char small[10];
    std::memset(small, 'X', sizeof small);
    EXPECT_EQ(toDbText("20090917", "070509", small, 6, "T"), 0);
    EXPECT_STREQ(small, "2009-");
    EXPECT_EQ(small[6], 'X');
}

TEST(TrimTrailingBlanks, RemovesBlanksTabsAndLineFeedsOnly) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"ABC \t\n", "ABC"}, {"   ", ""},      {"", ""},
        {"ABC\r", "ABC\r"},  {" ABC", " ABC"}, {"A B  ", "A B"},
        {"AB\r \n", "AB\r"}, {"\t\n\t", ""},   {"ABC", "ABC"},
    };
    for (const Case& c : cases) {
        char buf[16];
        std::strcpy(buf, c.in);
        char* result = trimTrailingBlanks(buf);
        EXPECT_EQ(result, buf);
        EXPECT_STREQ(buf, c.out) << '"' << c.in << '"';
    }
}

TEST(SqlQuoted, DoublesEveryApostrophe) {
    QuotedValue q;
    EXPECT_STREQ(sqlQuoted("1001", q), "1001");
    EXPECT_STREQ(sqlQuoted("O'Neil", q), "O''Neil");
    EXPECT_STREQ(sqlQuoted("'", q), "''");
    EXPECT_STREQ(sqlQuoted("''x'", q), "''''x''");
    EXPECT_STREQ(sqlQuoted("", q), "");
    ASSERT_EQ(formatStatement("WHERE a = '%s'", sqlQuoted("a' OR '1'='1", q)), 0);
    EXPECT_STREQ(statementText.text, "WHERE a = 'a'' OR ''1''=''1'");
}

TEST(SqlQuoted, ValueThatCannotFitFailsTheNextStatement) {
    QuotedValue q;
    // 127 characters fit exactly; 64 apostrophes double to 128 and do not.
    std::string fits(q.capacity - 1, 'a');
    EXPECT_EQ(sqlQuoted(fits.c_str(), q), fits);
    std::string apostrophes(64, '\'');
    EXPECT_STREQ(sqlQuoted(apostrophes.c_str(), q), "");
    EXPECT_EQ(formatStatement("SELECT '%s'", q.text), -1);
    EXPECT_STREQ(statementText.text, "");
    // The failure is used up by that statement; the next one builds.
    EXPECT_EQ(formatStatement("SELECT %d", 1), 0);
    EXPECT_STREQ(statementText.text, "SELECT 1");
}

TEST(FormatStatement, FailsClosedWhenTheTextWouldBeCut) {
    std::string exact(kStatementCapacity - 1 - std::strlen("SELECT "), 'x');
    ASSERT_EQ(formatStatement("SELECT %s", exact.c_str()), 0);
    EXPECT_EQ(std::strlen(statementText.text), kStatementCapacity - 1);

    std::string over = exact + "y";
    EXPECT_EQ(formatStatement("SELECT %s", over.c_str()), -1);
    EXPECT_STREQ(statementText.text, "");
}

}  // namespace
