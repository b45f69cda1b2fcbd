// Generation of a follow-up booking on the accounting day.
//
// Called by the daily and the hourly rule once the reconciliation allowed
// the follow-up. Statements run on handles of their own while the caller's
// booking cursor stays open; none of them is bracketed by a transaction, so
// a failed step leaves the earlier ones in place and the next step still
// runs. No module state.
#include "followup/generate_followup.h"

#include "db/booking_writes.h"
#include "frame/log.h"

namespace {

constexpr const char kTargetTimeRefused[] =
    "Info: Folgemeldungsart mit Sollzeitpr\xFC"
    "fung! ";
constexpr const char kInsertFailed[] = "Fehler(Bch_Insert): Buchung einpflegen! ";
constexpr const char kInsertDone[] = "Info: Buchung eingepflegt! ";
constexpr const char kRuleReadFailed[] = "Fehler(Azv_Read): Arbeitszeitvorgaben lesen ";
constexpr const char kUpdateFailed[] = "Fehler(Tag_Update): TagesSatz aktualisieren! ";
constexpr const char kUpdateDone[] = "Info: TagesSatz aktualisiert! ";

// The follow-up booking stands at midnight of the accounting day.
constexpr const char kMidnight[] = "000000";

// Signed 32-bit addition as the rule values are stored; wraps instead of
// overflowing, since a rule's values come unchecked from the database.
std::int32_t addValues(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

}  // namespace

bool targetTimeRefuses(const MessageType& followUp, const DayRecord& day) {
    return followUp.FcdSol == 1 && day.TagSol <= 0;
}

std::int32_t followUpSlotValue(const MessageType& followUp, const WorkTimeRule& rule) {
    switch (followUp.FcdZwt) {
        case 1:
            // A half-day type (slot 2 or 3) gets half the day's target.
            if (followUp.FcdTyp == 2 || followUp.FcdTyp == 3) return rule.AzvSol / 2;
            return rule.AzvSol;
        case 2:
            return rule.AzvSo2;
        case 3:
            return rule.AzvHso;
        case 4:
            return rule.AzvHs2;
        case 14:
            return followUp.FcdStd;
        case 15:
            return addValues(rule.AzvSol, rule.AzvVhs);
        case 16:
            return addValues(rule.AzvHso, rule.AzvHtv);
        case 17:
            return addValues(rule.AzvSo2, rule.AzvVhs);
        case 18:
            return addValues(rule.AzvHs2, rule.AzvHtv);
        default:
            return 0;
    }
}

int enterFollowUpSlot(DayRecord& day, std::int32_t fcdTyp, const char* code, std::int32_t value) {
    switch (fcdTyp) {
        case 1:
            day.TagTgb.assign(code);
            day.TagTgs = value;
            return 1;
        case 2:
            day.TagHtv.assign(code);
            day.TagHvs = value;
            return 1;
        case 3:
            day.TagHtn.assign(code);
            day.TagHns = value;
            return 1;
        default:
            return 0;
    }
}

int generateFollowUp(DayRecord& accDay, BookingRecord& booking, const MessageType& followUp) {
    consoleLine("Beginn Meldung generieren!\n");

    if (targetTimeRefuses(followUp, accDay)) {
        // Recorded even without the verbose log: operators look for refused
        // follow-ups when a sickness did not carry on.
        logAlways(kTargetTimeRefused, "Pnr:%s Tag:%s KelBor:%s\n", accDay.TagPnr.c_str(),
                  accDay.TagTag.c_str(), followUp.FcdNum.c_str());
        consoleLine("Ende Meldung generieren!\n");
        return 0;
    }

    booking.BchPnr.assign(accDay.TagPnr);
    booking.BchVon.assign(accDay.TagTag);
    booking.BchUhr.assign(kMidnight);
    booking.BchFcd.assign(followUp.FcdNum);
    booking.BchFkt = followUp.FcdTyp;

    int rc = insertBooking(booking);
    logEntry(rc != 0 ? kInsertFailed : kInsertDone, "RC:%d Pnr:%s Tag:%s Fkt:%d Fcd:%s\n", rc,
             booking.BchPnr.c_str(), booking.BchVon.c_str(), booking.BchFkt,
             booking.BchFcd.c_str());

    WorkTimeRule rule{};
    rc = readWorkTimeRule(accDay.TagPnr, accDay.TagTag, rule);
    if (rc != 0) {
        logEntry(kRuleReadFailed, "RC:%d Pnr:%s Tag:%s\n", rc, accDay.TagPnr.c_str(),
                 accDay.TagTag.c_str());
    }

    enterFollowUpSlot(accDay, followUp.FcdTyp, followUp.FcdNum.c_str(),
                      followUpSlotValue(followUp, rule));

    rc = updateDayRecord(accDay);
    logEntry(rc != 0 ? kUpdateFailed : kUpdateDone, "RC:%d Pnr:%s Tag:%s\n", rc,
             accDay.TagPnr.c_str(), accDay.TagTag.c_str());

    consoleLine("Ende Meldung generieren!\n");
    return 1;
}
