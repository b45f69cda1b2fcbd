// Value conversions of the stand-in engine with SQL Server's rules: datetime
// texts and styles, text to int, char(n) fitting, the case- and
// blank-insensitive text comparison. Pure functions; no database access.
//
// A failed conversion throws SqlError carrying the SQL Server message
// number, SQLSTATE and text, so that the translator (at compile time, on
// constants) and the SQLite functions (at run time) report the same error.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "standin/engine.h"

namespace standin {

struct SqlError {
    Diag diag;
};

[[noreturn]] void fail(int native, const char* sqlState, std::string message);

// A datetime as SQL Server holds it: 1753-01-01 to 9999-12-31, milliseconds
// rounded to 1/300 of a second (.000, .003, .007).
struct DateTime {
    int year = 1900, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0, millis = 0;
};

// Parses the literal forms SQL Server takes without regard to the session's
// date format: 'yyyymmdd', 'yyyy-mm-dd', either followed by a blank or 'T'
// and 'hh:mm[:ss[.fff]]', a time alone, or '' (1900-01-01). Throws 241 for
// text of another form, 242 for an impossible date or time.
DateTime parseDateTime(std::string_view text);

// 'yyyy-mm-dd hh:mm:ss.fff': the stored and delivered form. Its text order
// is chronological order.
std::string canonical(const DateTime& dt);

// The text of a datetime in a CONVERT style (0, 100, 101, 103, 104, 108, 112,
// 114, 120, 121, 126 and their two-digit-year forms 1, 3, 4, 8, 12, 20, 21,
// 23). Throws 281 for any other style.
std::string formatDateTime(const DateTime& dt, int style);

// Adds n units of a DATEADD part ("day", "month", "year", "hour",
// "minute", "second", "millisecond"); month and year clamp to the month's
// last day. Throws 517 when the result leaves the datetime range.
DateTime addToDateTime(const DateTime& dt, const std::string& part, std::int64_t n);

// Days since 1900-01-01 and back: SQL Server's conversions between datetime
// and int.
DateTime dateTimeFromDays(std::int64_t days);

// Now on the given clock ("yyyy-mm-dd hh:mm:ss"), or on the machine's local
// clock when empty.
DateTime currentDateTime(const std::string& serverTime);

// Text to int as SQL Server converts varchar: blanks around an optional sign
// and digits; '' is 0. Throws 245 (not a number) or 248 (overflow); type
// names the target in the message ("int", "smallint").
std::int64_t parseInt(std::string_view text, const char* type = "int");

// CONVERT to char(n) (pad) or varchar(n): longer text is cut.
std::string fitText(std::string_view text, int n, bool pad);

// Assignment to a char(n) or varchar(n) column: trailing blanks beyond n are
// dropped, any other excess throws 8152; char(n) is padded to n.
std::string assignText(std::string_view text, int n, bool pad);

// The collation of every text comparison, ORDER BY and unique key, as SQL
// Server's default SQL_Latin1_General_CP1_CI_AS compares Windows-1252 text:
// case-insensitive for every letter of the code page (Ü equals ü),
// accent-sensitive (U differs from Ü), each accented letter sorted beside
// its base letter, trailing blanks ignored. Returns <0, 0, >0.
int compareText(const char* a, int na, const char* b, int nb);

}  // namespace standin
