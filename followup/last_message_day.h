// The search for a person's last earlier day that carries a message worth
// carrying forward. No state survives a call.
#pragma once

#include <cstdint>

#include "db/day_records.h"

// What a day with day messages means for the search, given whether its
// message type names a follow-up type, whether a day has been passed over
// already, and the type's FcdFcd.
enum class DayMessageVerdict {
    kFound,          // a day with day messages to carry forward
    kStop,           // the search ends without a find
    kTryHourlyOnce,  // pass over the day messages once; hourly ones may still count
};

DayMessageVerdict judgeDayMessages(bool hasFollowUp, bool dayPassedOver, std::int32_t fcdFcd);

// Walks pnr's day records before day, latest first, filling lastDay with
// each in turn. Returns 1 when lastDay holds a day with day messages that
// name a follow-up type or a day with hourly messages, 0 otherwise (no
// earlier day, a day with day messages without follow-up). A statement
// that fails (the cursor, a count, the message-type lookup) ends the search
// with 0 and is logged once against pnr and day.
int findLastMessageDay(const FixedText<9>& pnr, const FixedText<9>& day, DayRecord& lastDay);
