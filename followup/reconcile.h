// Reconciliation of a follow-up type with the accounting day's own
// day-message bookings: the first booking that decides either keeps its
// place (the follow-up is refused) or is cancelled to make room. No state.
#pragma once

#include <cstdint>

#include "db/day_records.h"
#include "db/master_data.h"

// How one existing booking stands against the follow-up type.
enum class PriorityOutcome {
    kBookingPrevails,  // the follow-up is refused
    kBookingGivesWay,  // the booking is cancelled, the follow-up goes ahead
    kUndecided,        // equal priority and a tie rule that decides nothing
};

// Compares the booking type's priority with the follow-up type's (the
// smaller number wins); on a tie the follow-up's FcdGpu decides: 0 keeps
// the booking, 1 replaces it, any other value leaves the booking out.
PriorityOutcome comparePriority(std::int32_t bookingPri, std::int32_t followUpPri,
                                std::int32_t followUpGpu);

// Walks accDay's day-message bookings until one decides. Returns 0 when a
// booking prevails, 1 otherwise (also after a failed cursor or a failed
// cancellation, each logged), so that the caller generates the follow-up.
int reconcileAccountingDay(const DayRecord& accDay, const MessageType& followUp);
