// Log entries about the steps of a cursor walk of the follow-up rules: a
// fixed text, then the result, the person and the day. No state.
#pragma once

// The detail part of every such entry.
inline constexpr char kDayDetail[] = "RC:%d Pnr:%s Tag:%s\n";

// Logs fixedText with the detail when the cursor open returned a non-zero
// rc.
void logFailedOpen(int rc, const char* fixedText, const char* pnr, const char* day);

// Logs fixedText with the detail when a fetch ended the walk with anything
// but SQL_NO_DATA (the end of the rows).
void logFailedRead(int rc, const char* fixedText, const char* pnr, const char* day);
