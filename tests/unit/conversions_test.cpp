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

TEST(Quoted, DoublesEveryApostropheAndNeverCutsAValueOfItsField) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"1001", "1001"},
        {"O'Neil", "O''Neil"},
        {"'", "''"},
        {"''x'", "''''x''"},
        {"", ""},
        {"a' OR '1'='1", "a'' OR ''1''=''1"},
        // A field full of apostrophes: 12 double to 24 in FixedText<25>.
        {"''''''''''''", "''''''''''''''''''''''''"},
    };
    for (const Case& c : cases) {
        FixedText<13> value{};
        value.assign(c.in);
        auto q = quoted(value);
        static_assert(sizeof q == 25);
        EXPECT_STREQ(q.text, c.out) << c.in;
    }
}

}  // namespace
