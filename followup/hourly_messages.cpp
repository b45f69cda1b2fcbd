// The hourly rule: the newest hourly message of the last message day
// carried forward.
//
// Only the first row of the hourly-message cursor (newest first) counts: an hourly
// absence that ran to the end of the day continues, one followed by any
// other booking has ended. The cursor stays open while the follow-up is
// reconciled and generated. No module state; the cursor is closed on every
// way out.
#include "followup/hourly_messages.h"

#include "db/bookings.h"
#include "followup/carry_forward.h"
#include "followup/cursor_log.h"

namespace {

constexpr const char kCursorOpenFailed[] = "Fehler(Cur_open): Buchungen(StdMld) lesen! ";
constexpr const char kCursorReadFailed[] = "Fehler(Cur_Read): Buchungen(StdMld) lesen ";

// The hourly functions that mean an absence still running at the day's end.
bool continuesIntoNextDay(std::int32_t fkt) {
    return fkt == kFktHourly23 || fkt == kFktHourly24;
}

// Reads the newest booking of lastDay's window into booking and decides the
// follow-up. Returns 1 when one was generated. The caller closes the cursor.
int carryNewestBooking(DayRecord& accDay, const DayRecord& lastDay, BookingRecord& booking) {
    const char* pnr = lastDay.TagPnr.c_str();
    const char* day = lastDay.TagTag.c_str();

    logFailedOpen(openHourlyMsgCursor(lastDay.TagPnr, lastDay.TagTag), kCursorOpenFailed, pnr, day);

    int rc = fetchHourlyMsgCursor(booking);
    if (rc != 0) {
        logFailedRead(rc, kCursorReadFailed, pnr, day);
        return 0;
    }
    if (!continuesIntoNextDay(booking.BchFkt)) return 0;
    return carryBookingForward(accDay, booking, StepTrace::kConsole);
}

}  // namespace

int carryHourlyMessage(DayRecord& accDay, const DayRecord& lastDay) {
    BookingRecord booking{};
    int result = carryNewestBooking(accDay, lastDay, booking);
    closeHourlyMsgCursor();
    return result;
}
