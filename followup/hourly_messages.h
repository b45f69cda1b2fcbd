// The hourly rule: the newest hourly message of the last message day
// carried forward.
#pragma once

#include "db/day_records.h"

// Looks at the newest booking inside lastDay's time window (cancelled and
// BchFkt 29 bookings left out); one with BchFkt 23 or 24 whose message type
// names a follow-up type is carried forward onto accDay, which is changed in
// place. Returns 1 when a follow-up was generated, 0 otherwise.
int carryHourlyMessage(DayRecord& accDay, const DayRecord& lastDay);
