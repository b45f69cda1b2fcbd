// Shared steps of the daily and the hourly rule: the follow-up type read and
// the reconcile-then-generate sequence. No module state.
#include "followup/carry_forward.h"

#include "followup/generate_followup.h"
#include "followup/reconcile.h"
#include "frame/log.h"

namespace {

constexpr const char kFollowUpTypeReadFailed[] =
    "Fehler(Read): Meldungsart(Fcd) zur FolgeMld lesen ";

}  // namespace

int readFollowUpType(const DayRecord& accDay, MessageType& followUp) {
    int rc = readMessageType(followUp);
    if (rc != 0) {
        logEntry(kFollowUpTypeReadFailed, "RC:%d Pnr:%s Fcd:%s\n", rc, accDay.TagPnr.c_str(),
                 followUp.FcdNum.c_str());
    }
    return rc;
}

int carryFollowUp(DayRecord& accDay, BookingRecord& booking, const MessageType& followUp) {
    if (reconcileAccountingDay(accDay, followUp) == 0) return 0;
    return generateFollowUp(accDay, booking, followUp) != 0 ? 1 : 0;
}
