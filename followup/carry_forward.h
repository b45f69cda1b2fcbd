// The steps the daily and the hourly rule share once they hold a booking of
// the last message day: reading the follow-up type its message type names,
// and the reconcile-then-generate sequence on the accounting day. No state.
#pragma once

#include "db/bookings.h"
#include "db/day_records.h"
#include "db/master_data.h"

// Reads the follow-up type named by followUp.FcdNum (set by the caller from
// readFollowUpCode). Returns readMessageType's result; a non-zero one is
// logged against accDay's person, and the caller then passes the booking
// over: an unreadable type would weigh as priority 0 and cancel real
// bookings.
int readFollowUpType(const DayRecord& accDay, MessageType& followUp);

// Reconciles accDay against the follow-up type and, when allowed, generates
// the follow-up from booking. Returns 1 when a follow-up was generated.
int carryFollowUp(DayRecord& accDay, BookingRecord& booking, const MessageType& followUp);
