// Generation of a follow-up booking on the accounting day.
//
// The one place where the follow-up processing writes a new booking: the
// target-time check, the insert at 00:00:00, the working-time rule and the
// credit into one of the day record's three message slots. The pure pieces
// (the check, the slot value, the slot choice) are exposed so that they can
// be checked without a database. No state.
#pragma once

#include <cstdint>

#include "db/bookings.h"
#include "db/day_records.h"
#include "db/master_data.h"

// True when the follow-up type demands a target time (FcdSol 1) and the day
// has none (TagSol 0 or less): such a follow-up is not generated, and its
// reconciliation, which still runs and logs, cancels no booking for it.
bool targetTimeRefuses(const MessageType& followUp, const DayRecord& day);

// The time value a follow-up of this type credits, chosen by FcdZwt from the
// working-time rule (all zero when none was read) or FcdStd. Only FcdZwt 1
// halves, and only for FcdTyp 2 and 3, truncating toward zero.
std::int32_t followUpSlotValue(const MessageType& followUp, const WorkTimeRule& rule);

// Enters code and value into the slot FcdTyp selects (1: TagTgb/TagTgs,
// 2: TagHtv/TagHvs, 3: TagHtn/TagHns). Returns 1 when a slot was written,
// 0 for any other FcdTyp (the record stays as it was).
int enterFollowUpSlot(DayRecord& day, std::int32_t fcdTyp, const char* code, std::int32_t value);

// Inserts the follow-up booking into booking (its five key fields are
// overwritten), credits the slot and writes day back. Returns 1 when carried
// out, also when the insert, the rule read or the update failed (each is
// logged); 0 when the target-time check refused it.
int generateFollowUp(DayRecord& accDay, BookingRecord& booking, const MessageType& followUp);
