// The main loop: every day record of the accounting day, the search for its
// last message day, the two rules, and the parameter file "kelbortgb".
#pragma once

#include "db/day_records.h"
#include "frame/fixed_text.h"

// One line of the parameter file, line feed included.
using ParameterLine = FixedText<100>;

// Builds the parameter line for accDay: "schema,pnr,dd.mm.yyyy\n" with the
// fields left-aligned to 20, 8 and 10 characters when consolidated is set,
// else "pnr,dd.mm.yyyy\n" with 8 and 10. Returns 0, or -1 when the line had
// to be cut.
int buildParameterLine(ParameterLine& line, int consolidated, const char* schema,
                       const DayRecord& accDay);

// Walks the accounting day's records. Failures are logged; nothing is returned.
void processDayRecords(const char* schema);
