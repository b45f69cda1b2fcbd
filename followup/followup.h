// The rules of the follow-up processing. Each returns 1 when it generated
// (or, for reconcileAccountingDay, allowed) a follow-up, 0 otherwise.
#pragma once

#include "db/bookings.h"
#include "db/day_records.h"
#include "db/master_data.h"

// Finds the person's last earlier day with day or hourly messages into
// lastDay. Returns 1 on a find, 0 otherwise.
int findLastMessageDay(const char* pnr, const char* day, DayRecord& lastDay);

// Carries the day messages of lastDay forward onto accDay.
int carryDailyMessages(DayRecord& accDay, const DayRecord& lastDay);

// Weighs the follow-up type against accDay's day-message bookings, cancelling
// one of lower priority. Returns 0 when a booking prevails, 1 otherwise.
int reconcileAccountingDay(const DayRecord& accDay, const MessageType& followUp);

// Carries the newest hourly message of lastDay's window forward onto accDay.
int carryHourlyMessage(DayRecord& accDay, const DayRecord& lastDay);

// Inserts the follow-up booking, credits the slot, writes accDay back.
// Returns 1 when carried out (also when a statement failed), 0 when the
// target-time check refused it.
int generateFollowUp(DayRecord& accDay, BookingRecord& booking, const MessageType& followUp);
