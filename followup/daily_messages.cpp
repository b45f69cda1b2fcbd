// The daily rule: day messages of the last message day carried forward.
//
// Keeps the previous-day message cursor open over the last message day's day-message
// bookings while each one is reconciled and generated, so every generation
// sees what the ones before it changed on the accounting day. No module
// state; the cursor is closed on every way out.
#include "followup/daily_messages.h"

#include "db/bookings.h"
#include "followup/carry_forward.h"
#include "followup/cursor_log.h"

namespace {

constexpr const char kCursorOpenFailed[] = "Fehler(Cur_open): Buchungen(TagesMld Vortag) lesen! ";
constexpr const char kCursorReadFailed[] = "Fehler(Cur_Read): Buchungen(TagesMld Vortag) lesen ";

}  // namespace

int carryDailyMessages(DayRecord& accDay, const DayRecord& lastDay) {
    const char* pnr = lastDay.TagPnr.c_str();
    const char* day = lastDay.TagTag.c_str();
    int result = 0;

    // A failed open is only logged: the first fetch then fails as well and
    // ends the walk with its own entry.
    logFailedOpen(openPrevDayMsgCursor(lastDay.TagPnr, lastDay.TagTag), kCursorOpenFailed, pnr,
                  day);

    BookingRecord booking{};
    int rc = 0;
    while ((rc = fetchPrevDayMsgCursor(booking)) == 0) {
        if (carryBookingForward(accDay, booking, StepTrace::kQuiet) != 0) result = 1;
    }
    logFailedRead(rc, kCursorReadFailed, pnr, day);
    closePrevDayMsgCursor();
    return result;
}
