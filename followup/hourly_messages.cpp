// The hourly rule: the newest hourly message of the last message day
// carried forward.
//
// Only the first row of booking cursor 3 (newest first) counts: an hourly
// absence that ran to the end of the day continues, one followed by any
// other booking has ended. The cursor stays open while the follow-up is
// reconciled and generated. No module state; the cursor is closed on every
// way out.
#include "followup/hourly_messages.h"

#include <sql.h>

#include "db/bookings.h"
#include "db/master_data.h"
#include "followup/carry_forward.h"
#include "frame/log.h"

namespace {

constexpr const char kCursorOpenFailed[] = "Fehler(Cur_open): Buchungen(StdMld) lesen! ";
constexpr const char kCursorReadFailed[] = "Fehler(Cur_Read): Buchungen(StdMld) lesen ";

constexpr const char kDayDetail[] = "RC:%d Pnr:%s Tag:%s\n";

// The hourly functions that mean an absence still running at the day's end.
bool continuesIntoNextDay(std::int32_t fkt) {
    return fkt == kFktHourly23 || fkt == kFktHourly24;
}

// Reads the newest booking of lastDay's window into booking and decides the
// follow-up. Returns 1 when one was generated. The caller closes the cursor.
int carryNewestBooking(DayRecord& accDay, const DayRecord& lastDay, BookingRecord& booking) {
    const char* pnr = lastDay.TagPnr.c_str();
    const char* day = lastDay.TagTag.c_str();

    int rc = openHourlyMsgCursor(pnr, day);
    if (rc != 0) logEntry(kCursorOpenFailed, kDayDetail, rc, pnr, day);

    rc = fetchHourlyMsgCursor(booking);
    if (rc != 0 && rc != SQL_NO_DATA) logEntry(kCursorReadFailed, kDayDetail, rc, pnr, day);
    if (rc != 0 || !continuesIntoNextDay(booking.BchFkt)) return 0;

    MessageType followUp{};
    consoleLine("Folgemeldung zu Mld %s einlesen!\n", booking.BchFcd.c_str());
    if (readFollowUpCode(booking.BchFcd.c_str(), followUp.FcdNum) != 0) return 0;
    if (followUp.FcdNum.empty()) return 0;

    consoleLine("Meldungsart (Satz) zu Folgemld %s lesen!\n", followUp.FcdNum.c_str());
    if (readFollowUpType(accDay, followUp) != 0) return 0;

    return carryFollowUp(accDay, booking, followUp);
}

}  // namespace

int carryHourlyMessage(DayRecord& accDay, const DayRecord& lastDay) {
    BookingRecord booking{};
    int result = carryNewestBooking(accDay, lastDay, booking);
    closeHourlyMsgCursor();
    return result;
}
