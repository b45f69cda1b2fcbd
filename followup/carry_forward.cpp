// Shared steps of the daily and the hourly rule: the follow-up code and type
// reads and the reconcile-then-generate sequence. No module state.
#include "followup/carry_forward.h"

#include "db/master_data.h"
#include "followup/generate_followup.h"
#include "followup/reconcile.h"
#include "frame/log.h"

namespace {

constexpr const char kFollowUpTypeReadFailed[] =
    "Fehler(Read): Meldungsart(Fcd) zur FolgeMld lesen ";

}  // namespace

int carryBookingForward(DayRecord& accDay, BookingRecord& booking, StepTrace trace) {
    const bool announce = trace == StepTrace::kConsole;
    MessageType followUp{};
    if (announce) consoleLine("Folgemeldung zu Mld %s einlesen!\n", booking.BchFcd.c_str());
    // No such message type, or one without follow-up: nothing to carry.
    if (readFollowUpCode(booking.BchFcd.c_str(), followUp.FcdNum) != 0) return 0;
    if (followUp.FcdNum.empty()) return 0;

    if (announce)
        consoleLine("Meldungsart (Satz) zu Folgemld %s lesen!\n", followUp.FcdNum.c_str());
    int rc = readMessageType(followUp);
    if (rc != 0) {
        logEntry(kFollowUpTypeReadFailed, "RC:%d Pnr:%s Fcd:%s\n", rc, accDay.TagPnr.c_str(),
                 followUp.FcdNum.c_str());
        return 0;
    }

    if (reconcileAccountingDay(accDay, followUp) == 0) return 0;
    return generateFollowUp(accDay, booking, followUp) != 0 ? 1 : 0;
}
