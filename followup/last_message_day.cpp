// The search for a person's last earlier day with a message.
//
// Walks the earlier-days cursor newest first. Day messages are looked at
// before hourly messages; a day whose day messages name no follow-up type
// ends the absence, and so the search, unless its type is marked with
// FcdFcd 24, which may be passed over once. A statement that fails ends the
// search without a find and is logged: taking it for "no message" would
// carry forward an older absence instead. No module state; the cursor is
// closed on every way out.
#include "followup/last_message_day.h"

#include "frame/platform_odbc.h"

#include "db/booking_writes.h"
#include "db/master_data.h"
#include "followup/console_trace.h"
#include "followup/cursor_log.h"
#include "frame/log.h"

namespace {

// The FcdFcd mark of a day-message type that may be passed over once.
constexpr std::int32_t kPassOverOnce = 24;

constexpr const char kSearchFailed[] = "Fehler(Search): letzten Meldungstag lesen ";

// What one inspected day means for the search.
enum class Inspection {
    kFound,   // the last message day
    kNext,    // go on with the next earlier day
    kStop,    // the search ends without a find
    kFailed,  // a statement failed; the search ends without a find
};

// A statement of the search failed: anything but a result (0) or no row
// (SQL_NO_DATA, which the statement's own rule handles).
bool failed(int rc) {
    return rc != 0 && rc != SQL_NO_DATA;
}

// Inspects the day in lastDay. Returns kFound with text set, kNext, kStop,
// or kFailed with rc holding the failed statement's result.
Inspection inspectDay(const DayRecord& lastDay, DayRecord& passedOver, const char*& text, int& rc) {
    std::int32_t count = 0;
    rc = countDailyMessageBookings(lastDay, count);
    if (failed(rc)) return Inspection::kFailed;
    if (rc == 0 && count > 0) {
        MessageType type{};
        type.FcdNum.assign(lastDay.TagTgb);
        // A type that does not exist stays cleared: no follow-up, FcdFcd 0,
        // a stop.
        rc = readMessageType(type);
        if (failed(rc)) return Inspection::kFailed;
        switch (judgeDayMessages(!type.FcdFlg.empty(), !passedOver.TagTag.empty(), type.FcdFcd)) {
            case DayMessageVerdict::kFound:
                text = "\nTag mit Tagesmeldungen gefunden !\n";
                return Inspection::kFound;
            case DayMessageVerdict::kStop:
                return Inspection::kStop;
            case DayMessageVerdict::kTryHourlyOnce:
                passedOver = lastDay;
                break;
        }
    }

    // The count from above is kept: the hourly count sets it only on success.
    rc = countHourlyMessageBookings(lastDay, count);
    if (failed(rc)) return Inspection::kFailed;
    if (rc == 0 && count > 0) {
        text = "\nTag mit Stundenmeldungen gefunden !\n";
        return Inspection::kFound;
    }
    return Inspection::kNext;
}

// Walks the open earlier-days cursor. Returns 1 with lastDay found, 0 when
// the search ended without a find; a failed statement is logged once.
int searchEarlierDays(const char* pnr, const char* day, DayRecord& lastDay) {
    DayRecord passedOver{};
    int rc = 0;
    while ((rc = fetchEarlierDayRecord(lastDay)) == 0) {
        const char* text = nullptr;
        switch (inspectDay(lastDay, passedOver, text, rc)) {
            case Inspection::kFound:
                consoleLine("%s", text);
                dumpDayRecord(lastDay);
                return 1;
            case Inspection::kNext:
                continue;
            case Inspection::kStop:
                return 0;
            case Inspection::kFailed:
                logEntry(kSearchFailed, kDayDetail, rc, pnr, day);
                return 0;
        }
    }
    // A failed fetch must not pass for the end of the person's history.
    if (failed(rc)) logEntry(kSearchFailed, kDayDetail, rc, pnr, day);
    return 0;
}

}  // namespace

DayMessageVerdict judgeDayMessages(bool hasFollowUp, bool dayPassedOver, std::int32_t fcdFcd) {
    if (hasFollowUp) return DayMessageVerdict::kFound;
    if (dayPassedOver || fcdFcd != kPassOverOnce) return DayMessageVerdict::kStop;
    return DayMessageVerdict::kTryHourlyOnce;
}

int findLastMessageDay(const FixedText<9>& pnr, const FixedText<9>& day, DayRecord& lastDay) {
    int result = 0;
    int rc = openEarlierDayRecordCursor(pnr, day);
    if (failed(rc)) {
        logEntry(kSearchFailed, kDayDetail, rc, pnr.c_str(), day.c_str());
    } else {
        result = searchEarlierDays(pnr.c_str(), day.c_str(), lastDay);
    }
    closeEarlierDayRecordCursor();
    return result;
}
