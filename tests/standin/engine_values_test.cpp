// The engine's pure conversions: datetime literals and styles, text to int,
// char(n) fitting and the comparison collation.
#include <gtest/gtest.h>

#include "standin/engine/values.h"

namespace standin {
namespace {

int errorOf(void (*fn)()) {
    try {
        fn();
    } catch (const SqlError& e) {
        return e.diag.native;
    }
    return 0;
}

std::string canon(const char* text) {
    return canonical(parseDateTime(text));
}

TEST(EngineValues, DateTimeLiteralFormsMeanTheSameInstant) {
    EXPECT_EQ(canon("20090917"), "2009-09-17 00:00:00.000");
    EXPECT_EQ(canon("2009-09-17"), "2009-09-17 00:00:00.000");
    EXPECT_EQ(canon("2009-09-17 07:05:09"), "2009-09-17 07:05:09.000");
    EXPECT_EQ(canon("20090917 07:05:09.5"), "2009-09-17 07:05:09.500");
    EXPECT_EQ(canon("2009-09-17T07:05"), "2009-09-17 07:05:00.000");
    EXPECT_EQ(canon(" 2009-09-17 12:00:00.000 "), "2009-09-17 12:00:00.000");
    EXPECT_EQ(canon("12:00:00"), "1900-01-01 12:00:00.000");
    EXPECT_EQ(canon(""), "1900-01-01 00:00:00.000");
}

TEST(EngineValues, DateTimeRoundsToThreeHundredthsOfASecond) {
    EXPECT_EQ(canon("2009-09-17 07:05:09.001"), "2009-09-17 07:05:09.000");
    EXPECT_EQ(canon("2009-09-17 07:05:09.002"), "2009-09-17 07:05:09.003");
    EXPECT_EQ(canon("2009-09-17 07:05:09.995"), "2009-09-17 07:05:09.997");
    EXPECT_EQ(canon("2009-12-31 23:59:59.999"), "2010-01-01 00:00:00.000");
}

TEST(EngineValues, BadDateTimeTextsFailLikeTheServer) {
    EXPECT_EQ(errorOf([] { parseDateTime("gestern"); }), 241);
    EXPECT_EQ(errorOf([] { parseDateTime("2009-09-17x"); }), 241);
    EXPECT_EQ(errorOf([] { parseDateTime("2009091"); }), 241);
    EXPECT_EQ(errorOf([] { parseDateTime("2009-13-01"); }), 242);
    EXPECT_EQ(errorOf([] { parseDateTime("20090230"); }), 242);
    EXPECT_EQ(errorOf([] { parseDateTime("2009-09-17 24:00:00"); }), 242);
    EXPECT_EQ(errorOf([] { parseDateTime("1752-12-31"); }), 242);
    EXPECT_EQ(canon("2008-02-29"), "2008-02-29 00:00:00.000");
}

TEST(EngineValues, ConvertStylesOfTheBatch) {
    const DateTime dt = parseDateTime("2009-09-07 07:05:09.123");
    EXPECT_EQ(formatDateTime(dt, 112), "20090907");
    EXPECT_EQ(formatDateTime(dt, 114), "07:05:09:123");
    EXPECT_EQ(formatDateTime(dt, 120), "2009-09-07 07:05:09");
    EXPECT_EQ(formatDateTime(dt, 121), "2009-09-07 07:05:09.123");
    EXPECT_EQ(formatDateTime(dt, 0), "Sep  7 2009  7:05AM");
    EXPECT_EQ(formatDateTime(dt, 104), "07.09.2009");
    EXPECT_EQ(errorOf([] { formatDateTime(DateTime{}, 999); }), 281);
}

TEST(EngineValues, DateAddMovesByCalendarUnits) {
    const DateTime dt = parseDateTime("2009-01-01 03:00:00");
    EXPECT_EQ(canonical(addToDateTime(dt, "day", -1)), "2008-12-31 03:00:00.000");
    EXPECT_EQ(canonical(addToDateTime(dt, "day", 59)), "2009-03-01 03:00:00.000");
    EXPECT_EQ(canonical(addToDateTime(parseDateTime("2009-01-31"), "month", 1)),
              "2009-02-28 00:00:00.000");
    EXPECT_EQ(canonical(addToDateTime(dt, "hour", 21)), "2009-01-02 00:00:00.000");
    EXPECT_EQ(errorOf([] { addToDateTime(parseDateTime("9999-12-31"), "day", 1); }), 517);
    EXPECT_EQ(canonical(dateTimeFromDays(1)), "1900-01-02 00:00:00.000");
}

TEST(EngineValues, TextToIntFollowsTheServer) {
    EXPECT_EQ(parseInt(" 42 "), 42);
    EXPECT_EQ(parseInt("-7"), -7);
    EXPECT_EQ(parseInt(""), 0);
    EXPECT_EQ(parseInt("-2147483648"), -2147483647LL - 1);
    EXPECT_EQ(errorOf([] { parseInt("4x"); }), 245);
    EXPECT_EQ(errorOf([] { parseInt("1 2"); }), 245);
    EXPECT_EQ(errorOf([] { parseInt("2147483648"); }), 248);
    EXPECT_EQ(errorOf([] { parseInt("40000", "smallint"); }), 248);
    try {
        parseInt("abc");
    } catch (const SqlError& e) {
        EXPECT_EQ(e.diag.sqlState, "22018");
        EXPECT_EQ(e.diag.message,
                  "Conversion failed when converting the varchar value 'abc' to data type int.");
    }
}

TEST(EngineValues, CharFittingAndAssignment) {
    EXPECT_EQ(fitText("ab", 4, true), "ab  ");
    EXPECT_EQ(fitText("abcdef", 4, true), "abcd");
    EXPECT_EQ(fitText("ab", 4, false), "ab");
    EXPECT_EQ(assignText("ab", 4, true), "ab  ");
    EXPECT_EQ(assignText("abcd    ", 4, false), "abcd");
    EXPECT_EQ(assignText("ab ", 4, false), "ab ");
    EXPECT_EQ(errorOf([] { assignText("abcde", 4, true); }), 8152);
    EXPECT_EQ(errorOf([] { assignText("abcd e", 4, false); }), 8152);
}

TEST(EngineValues, CollationIgnoresCaseAndTrailingBlanks) {
    auto cmp = [](const std::string& a, const std::string& b) {
        return compareText(a.data(), static_cast<int>(a.size()), b.data(),
                           static_cast<int>(b.size()));
    };
    EXPECT_EQ(cmp("kf", "KF"), 0);
    EXPECT_EQ(cmp("1001    ", "1001"), 0);
    EXPECT_EQ(cmp("", "   "), 0);
    EXPECT_LT(cmp("abc", "ABD"), 0);
    EXPECT_LT(cmp("ab", "ab c"), 0);
    EXPECT_NE(cmp(" a", "a"), 0) << "leading blanks count";
}

// Every Windows-1252 letter: its cases equal, its accented forms different
// from each other and sorted beside the base letter, before the next one.
TEST(EngineValues, CollationFoldsEveryLetterAndKeepsAccentsApart) {
    auto cmp = [](const std::string& a, const std::string& b) {
        return compareText(a.data(), static_cast<int>(a.size()), b.data(),
                           static_cast<int>(b.size()));
    };
    const std::pair<const char*, const char*> sameLetter[] = {
        {"\xDC", "\xFC"}, {"\xC4", "\xE4"}, {"\xD6", "\xF6"}, {"\xC9", "\xE9"},
        {"\xC5", "\xE5"}, {"\xD8", "\xF8"}, {"\xDE", "\xFE"}, {"\x8A", "\x9A"},
        {"\x8C", "\x9C"}, {"\x8E", "\x9E"}, {"\x9F", "\xFF"}, {"\xC6S", "\xE6s"}};
    for (const auto& [upper, lower] : sameLetter) EXPECT_EQ(cmp(upper, lower), 0) << upper;
    // Accent-sensitive: none of these equals its base letter or another.
    const char* const accents[] = {"u", "\xF9", "\xFA", "\xFB", "\xFC"};
    for (const char* x : accents) {
        for (const char* y : accents) {
            if (x != y) {
                EXPECT_NE(cmp(x, y), 0) << x << " " << y;
            }
        }
    }
    EXPECT_NE(cmp("\xDF", "ss"), 0);
    // Sorted beside the base letter: the accent counts only when the base
    // letters are equal throughout.
    EXPECT_LT(cmp("a", "\xC4"), 0);
    EXPECT_LT(cmp("\xC4", "b"), 0);
    EXPECT_LT(cmp("\xE4"
                  "a",
                  "Ab"),
              0);
    EXPECT_LT(cmp("Ab",
                  "\xC4"
                  "b"),
              0);
    EXPECT_LT(cmp("\xD6z", "P"), 0);
    EXPECT_LT(cmp("Stra\xDF"
                  "e",
                  "Strasze"),
              0);
    EXPECT_LT(cmp("z", "\xFE"), 0);
    EXPECT_LT(cmp("9", "a"), 0);
    EXPECT_LT(cmp("_", "a"), 0);
}

}  // namespace
}  // namespace standin
