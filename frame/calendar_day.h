// Days given on a command line as yyyymmdd. No state.
#pragma once

// Whether text is a day of the calendar written as yyyymmdd: exactly eight
// digits, a month 01 to 12, a day that the month has (29 February only in
// leap years), and a year from 1753, the first the server's datetime holds.
bool isCalendarDay(const char* text);
