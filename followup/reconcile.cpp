// Reconciliation of a follow-up type with the accounting day.
//
// Opens the accounting-day message cursor over the accounting day's day-message bookings
// while the caller's own cursor stays open, and cancels (BchFkt 45) the
// first booking of lower priority. A cancelled booking already standing at
// the same person, date and time blocks the change (duplicate key), so that
// older cancellation is deleted and the change tried once more. No module
// state; the cursor is closed on every way out.
#include "followup/reconcile.h"

#include "db/booking_writes.h"
#include "db/bookings.h"
#include "followup/cursor_log.h"
#include "followup/generate_followup.h"
#include "frame/fixed_text.h"
#include "frame/log.h"

namespace {

constexpr const char kCursorOpenFailed[] = "Fehler(Cur_open): Buchungen(TagesMld AbrTag) lesen! ";
constexpr const char kCursorReadFailed[] = "Fehler(Cur_Read): Buchungen(TagesMld AbrTag) lesen ";
constexpr const char kBookingTypeReadFailed[] =
    "Fehler(Read): Meldungsartsatz(Fcd) zur BchMld lesen ";
constexpr const char kBookingPrevails[] =
    "Info: (Fcd) in BchSatz hat h\xF6"
    "here Priorit\xE4"
    "t ";
constexpr const char kDeleteFailed[] = "Fehler(Del): Bchsatz(Storno) loeschen ";
constexpr const char kDeleteDone[] =
    "Info: BchSatz(Storno) gel\xF6"
    "scht ";
// Carries the attempt number, so it is formatted before it is written.
constexpr const char kUpdateFailedFormat[] = "Fehler(Upd%d): Akt. BchSatz(Storno) updaten ";

// Cancels the booking that gave way. Failures are logged; the follow-up
// goes ahead regardless, so nothing is returned.
void cancelBooking(const DayRecord& accDay, const BookingRecord& booking) {
    int attempt = 1;
    int rc = updateBookingFunction(booking, kFktCancelled);
    if (rc == kDuplicateKey) {
        int del = deleteBooking(booking, kFktCancelled);
        logEntry(del != 0 ? kDeleteFailed : kDeleteDone, "RC:%d Pnr:%s Tag:%s Fcd:%s Fkt:45 \n",
                 del, accDay.TagPnr.c_str(), accDay.TagTag.c_str(), booking.BchFcd.c_str());
        attempt = 2;
        rc = updateBookingFunction(booking, kFktCancelled);
    }
    if (rc != 0) {
        FixedText<64> fixedText{};
        fixedText.assignFormat(kUpdateFailedFormat, attempt);
        logEntry(fixedText.c_str(), "RC:%d Pnr:%s Tag:%s Fcd:%s Fkt:%d\n", rc,
                 accDay.TagPnr.c_str(), accDay.TagTag.c_str(), booking.BchFcd.c_str(),
                 booking.BchFkt);
    }
}

}  // namespace

PriorityOutcome comparePriority(std::int32_t bookingPri, std::int32_t followUpPri,
                                std::int32_t followUpGpu) {
    if (bookingPri < followUpPri) return PriorityOutcome::kBookingPrevails;
    if (bookingPri > followUpPri) return PriorityOutcome::kBookingGivesWay;
    if (followUpGpu == 0) return PriorityOutcome::kBookingPrevails;
    if (followUpGpu == 1) return PriorityOutcome::kBookingGivesWay;
    return PriorityOutcome::kUndecided;
}

int reconcileAccountingDay(const DayRecord& accDay, const MessageType& followUp) {
    const char* pnr = accDay.TagPnr.c_str();
    const char* day = accDay.TagTag.c_str();

    logFailedOpen(openAccDayMsgCursor(accDay.TagPnr, accDay.TagTag), kCursorOpenFailed, pnr, day);

    BookingRecord booking{};
    int rc = 0;
    while ((rc = fetchAccDayMsgCursor(booking)) == 0) {
        if (booking.BchFcd.empty()) continue;

        MessageType bookingType{};
        bookingType.FcdNum.assign(booking.BchFcd);
        int readRc = readMessageType(bookingType);
        if (readRc != 0) {
            logEntry(kBookingTypeReadFailed, "RC:%d Pnr:%s Fcd:%s\n", readRc, pnr,
                     booking.BchFcd.c_str());
            continue;
        }

        PriorityOutcome outcome =
            comparePriority(bookingType.FcdPri, followUp.FcdPri, followUp.FcdGpu);
        if (outcome == PriorityOutcome::kUndecided) continue;

        if (outcome == PriorityOutcome::kBookingPrevails) {
            logEntry(kBookingPrevails, "Pnr:%s Tag:%s Fcd:%s\n", pnr, day, booking.BchFcd.c_str());
            closeAccDayMsgCursor();
            return 0;
        }

        // The booking gives way. A follow-up that the generation will refuse
        // for want of a target time must not cost the day its booking.
        if (!targetTimeRefuses(followUp, accDay)) cancelBooking(accDay, booking);
        closeAccDayMsgCursor();
        return 1;
    }

    logFailedRead(rc, kCursorReadFailed, pnr, day);
    closeAccDayMsgCursor();
    return 1;
}
