// The daily rule: day messages of the last message day carried forward.
#pragma once

#include "db/day_records.h"

// Carries every day-message booking (BchFkt 1, 2, 3) of lastDay whose
// message type names a follow-up type forward onto accDay, which is changed
// in place. Returns 1 when at least one follow-up was generated, 0
// otherwise; cursor failures are logged.
int carryDailyMessages(DayRecord& accDay, const DayRecord& lastDay);
