// Days given on a command line as yyyymmdd. No state.
#include "frame/calendar_day.h"

namespace {

constexpr int kFirstYear = 1753;

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && isLeapYear(year)) return 29;
    return kDays[month - 1];
}

// The value of count digits at text; -1 when one of them is no digit.
int digits(const char* text, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

bool isCalendarDay(const char* text) {
    for (int i = 0; i < 8; ++i) {
        if (text[i] == '\0') return false;
    }
    if (text[8] != '\0') return false;
    int year = digits(text, 4);
    int month = digits(text + 4, 2);
    int day = digits(text + 6, 2);
    if (year < kFirstYear || month < 1 || month > 12 || day < 1) return false;
    return day <= daysInMonth(year, month);
}
