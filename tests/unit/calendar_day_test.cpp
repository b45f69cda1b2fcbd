// The day a catch-up is given: eight digits naming a day of the calendar.
#include "frame/calendar_day.h"

#include <gtest/gtest.h>

namespace {

TEST(CalendarDay, LeapYearsMonthEndsAndTheServersFirstYear) {
    for (const char* day :
         {"20240229", "20000229", "20261231", "20260131", "20260430", "17530101", "99991231"}) {
        EXPECT_TRUE(isCalendarDay(day)) << day;
    }
    for (const char* day : {"19000229", "20250229", "20240230", "20260431", "20260631", "20260001",
                            "20261301", "20260100", "20260132", "17521231", "00000000"}) {
        EXPECT_FALSE(isCalendarDay(day)) << day;
    }
}

TEST(CalendarDay, OnlyEightDigits) {
    for (const char* day : {"", "2026031", "202603100", "2026-03-1", " 20260310", "20260310 ",
                            "2026031a", "+2026031"}) {
        EXPECT_FALSE(isCalendarDay(day)) << day;
    }
}

}  // namespace
