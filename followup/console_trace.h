// The console trace of the follow-up processing under KELBOR_DBG: the dump
// of a day record that the run driver and the search print. Each operation
// checks consoleDebug itself, so callers call it unconditionally. No state.
#pragma once

#include "db/day_records.h"

// Prints the record's thirteen fields to standard output when consoleDebug
// is set; nothing otherwise.
void dumpDayRecord(const DayRecord& rec);
