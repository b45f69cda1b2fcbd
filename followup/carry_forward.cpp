// Shared steps of the daily and the hourly rule: the follow-up code and type
// reads and the reconcile-then-generate sequence. No module state.
#include "followup/carry_forward.h"

#include "frame/platform_odbc.h"

#include "db/master_data.h"
#include "followup/generate_followup.h"
#include "followup/reconcile.h"
#include "frame/log.h"

namespace {

constexpr const char kFollowUpTypeReadFailed[] =
    "Fehler(Read): Meldungsart(Fcd) zur FolgeMld lesen ";
constexpr const char kFollowUpCodeReadFailed[] = "Fehler(Read): Folgemeldungsart lesen ";

}  // namespace

int carryBookingForward(DayRecord& accDay, BookingRecord& booking, StepTrace trace) {
    const bool announce = trace == StepTrace::kConsole;
    MessageType followUp{};
    if (announce) consoleLine("Folgemeldung zu Mld %s einlesen!\n", booking.BchFcd.c_str());
    // No such message type (100), or one without follow-up: nothing to
    // carry. Any other failure (a deadlock, a lost link) is logged, so the
    // night does not read clean while a follow-up went missing; the booking
    // is passed over all the same, and a re-run carries it.
    int rc = readFollowUpCode(booking.BchFcd, followUp.FcdNum);
    if (rc != 0 && rc != SQL_NO_DATA) {
        logEntry(kFollowUpCodeReadFailed, "RC:%d Pnr:%s Fcd:%s\n", rc, accDay.TagPnr.c_str(),
                 booking.BchFcd.c_str());
    }
    if (rc != 0) return 0;
    if (followUp.FcdNum.empty()) return 0;

    if (announce)
        consoleLine("Meldungsart (Satz) zu Folgemld %s lesen!\n", followUp.FcdNum.c_str());
    rc = readMessageType(followUp);
    if (rc != 0) {
        logEntry(kFollowUpTypeReadFailed, "RC:%d Pnr:%s Fcd:%s\n", rc, accDay.TagPnr.c_str(),
                 followUp.FcdNum.c_str());
        return 0;
    }

    if (reconcileAccountingDay(accDay, followUp) == 0) return 0;
    return generateFollowUp(accDay, booking, followUp) != 0 ? 1 : 0;
}
