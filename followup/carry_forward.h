// The steps the daily and the hourly rule share once they hold a booking of
// the last message day: the follow-up code its message type names, the
// follow-up type, and the reconcile-then-generate sequence on the
// accounting day. No state.
#pragma once

#include "db/bookings.h"
#include "db/day_records.h"

// Whether the steps are announced on the console trace (the hourly rule
// announces them, the daily rule does not).
enum class StepTrace {
    kQuiet,
    kConsole,
};

// Carries booking forward onto accDay: reads the follow-up code of the
// booking's message type, then that follow-up type, reconciles accDay
// against it and, when allowed, generates the follow-up from booking.
// Returns 1 when a follow-up was generated, 0 otherwise: also when the
// booking's type names no follow-up or does not exist (silently), when its
// follow-up code cannot be read (logged against accDay's person), and when
// the follow-up type cannot be read (logged likewise; an unreadable type
// would weigh as priority 0 and cancel real bookings).
int carryBookingForward(DayRecord& accDay, BookingRecord& booking, StepTrace trace);
