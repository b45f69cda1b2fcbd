// One-shot statements on Qrv321Bch: the two counts, the cancellation
// (function change), the delete that clears its way, and the insert of a
// generated booking. Each allocates and frees its own statement handle, so
// they run while the cursors are open. No state.
#pragma once

#include <cstdint>

#include "db/bookings.h"
#include "db/day_records.h"

// The native error number SQL Server reports for a duplicate primary key;
// updateBookingFunction returns it itself when its count finds a conflict.
constexpr int kDuplicateKey = 2627;

// Changes the BchFkt of the booking at rec's person, date, time (to the
// second), BchFkt and BchFcd to newCode. Returns 2627 when a booking with
// newCode exists at the same person, date and time (nothing changed); -1
// when the count fails to execute; the native error when the count's fetch
// fails (-1 when the diagnostics carry none); else the update's execution code (0, -1,
// SQL_NO_DATA).
int updateBookingFunction(const BookingRecord& rec, std::int32_t newCode);

// Deletes the booking at rec's person, date and time with BchFkt = code.
// Returns the execution code (0, -1, SQL_NO_DATA when nothing matched).
int deleteBooking(const BookingRecord& rec, std::int32_t code);

// Inserts rec's BchPnr, BchVon, BchUhr, BchFkt, BchFcd as a generated
// booking. Returns the execution code, or the native error number when the
// database rejects it (-1 when the diagnostics carry none, so a failed
// insert never reads as success).
int insertBooking(const BookingRecord& rec);

// Counts the person's BchFkt 1 bookings on the day. Returns 0 with count
// set, -1 when the statement fails, another fetch code (count unchanged).
int countDailyMessageBookings(const DayRecord& day, std::int32_t& count);

// Counts the person's hourly bookings inside the day's time window, both
// ends included. Results as countDailyMessageBookings.
int countHourlyMessageBookings(const DayRecord& day, std::int32_t& count);
