// The main loop: every day record of the accounting day, the search for its
// last message day, the two rules, and the parameter file "kelbortgb".
#pragma once

#include "db/day_records.h"

// Walks the accounting day's records. Failures are logged; nothing is returned.
void processDayRecords(const char* schema);

// Prints the record to standard output (callers check consoleDebug).
void dumpDayRecord(const DayRecord& rec);
