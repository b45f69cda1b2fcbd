// Log entries about the steps of a cursor walk. No state.
#include "followup/cursor_log.h"

#include "frame/platform_odbc.h"

#include "frame/log.h"

void logFailedOpen(int rc, const char* fixedText, const char* pnr, const char* day) {
    if (rc != 0) logEntry(fixedText, kDayDetail, rc, pnr, day);
}

void logFailedRead(int rc, const char* fixedText, const char* pnr, const char* day) {
    if (rc != SQL_NO_DATA) logEntry(fixedText, kDayDetail, rc, pnr, day);
}
