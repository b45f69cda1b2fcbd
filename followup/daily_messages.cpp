// The daily rule: day messages of the last message day carried forward.
//
// Keeps booking cursor 1 open over the last message day's day-message
// bookings while each one is reconciled and generated, so every generation
// sees what the ones before it changed on the accounting day. No module
// state; the cursor is closed on every way out.
#include "followup/daily_messages.h"

#include <sql.h>

#include "db/bookings.h"
#include "db/master_data.h"
#include "followup/carry_forward.h"
#include "frame/log.h"

namespace {

constexpr const char kCursorOpenFailed[] = "Fehler(Cur_open): Buchungen(TagesMld Vortag) lesen! ";
constexpr const char kCursorReadFailed[] = "Fehler(Cur_Read): Buchungen(TagesMld Vortag) lesen ";

constexpr const char kDayDetail[] = "RC:%d Pnr:%s Tag:%s\n";

}  // namespace

int carryDailyMessages(DayRecord& accDay, const DayRecord& lastDay) {
    const char* pnr = lastDay.TagPnr.c_str();
    const char* day = lastDay.TagTag.c_str();
    int result = 0;

    // A failed open is only logged: the first fetch then fails as well and
    // ends the walk with its own entry.
    int rc = openPrevDayMsgCursor(pnr, day);
    if (rc != 0) logEntry(kCursorOpenFailed, kDayDetail, rc, pnr, day);

    BookingRecord booking{};
    while ((rc = fetchPrevDayMsgCursor(booking)) == 0) {
        MessageType followUp{};
        // No such message type, or one without follow-up: nothing to carry.
        if (readFollowUpCode(booking.BchFcd.c_str(), followUp.FcdNum) != 0) continue;
        if (followUp.FcdNum.empty()) continue;
        if (readFollowUpType(accDay, followUp) != 0) continue;

        if (carryFollowUp(accDay, booking, followUp) != 0) result = 1;
    }

    if (rc != SQL_NO_DATA) logEntry(kCursorReadFailed, kDayDetail, rc, pnr, day);
    closePrevDayMsgCursor();
    return result;
}
