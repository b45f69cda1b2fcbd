// The search for a person's last earlier day with a message.
//
// Walks the earlier-days cursor newest first. Day messages are looked at
// before hourly messages; a day whose day messages name no follow-up type
// ends the absence, and so the search, unless its type is marked with
// FcdFcd 24, which may be passed over once. No module state; the cursor is
// closed on every way out.
#include "followup/last_message_day.h"

#include "db/booking_writes.h"
#include "db/master_data.h"
#include "followup/run_driver.h"
#include "frame/log.h"
#include "frame/run_context.h"

namespace {

// The FcdFcd mark of a day-message type that may be passed over once.
constexpr std::int32_t kPassOverOnce = 24;

// Inspects the day in lastDay. Returns 1 with text set when it is the last
// message day, 0 to go on with the next earlier day, -1 to stop.
int inspectDay(const DayRecord& lastDay, DayRecord& passedOver, const char*& text) {
    std::int32_t count = 0;
    int rc = countDailyMessageBookings(lastDay, count);
    if (rc == 0 && count > 0) {
        MessageType type{};
        type.FcdNum.assign(lastDay.TagTgb);
        // An unreadable type stays cleared: no follow-up, FcdFcd 0, a stop.
        readMessageType(type);
        switch (judgeDayMessages(!type.FcdFlg.empty(), !passedOver.TagTag.empty(), type.FcdFcd)) {
            case DayMessageVerdict::kFound:
                text = "\nTag mit Tagesmeldungen gefunden !\n";
                return 1;
            case DayMessageVerdict::kStop:
                return -1;
            case DayMessageVerdict::kTryHourlyOnce:
                passedOver = lastDay;
                break;
        }
    }

    // The count from above is kept: the hourly count sets it only on success.
    rc = countHourlyMessageBookings(lastDay, count);
    if (rc == 0 && count > 0) {
        text = "\nTag mit Stundenmeldungen gefunden !\n";
        return 1;
    }
    return 0;
}

}  // namespace

DayMessageVerdict judgeDayMessages(bool hasFollowUp, bool dayPassedOver, std::int32_t fcdFcd) {
    if (hasFollowUp) return DayMessageVerdict::kFound;
    if (dayPassedOver || fcdFcd != kPassOverOnce) return DayMessageVerdict::kStop;
    return DayMessageVerdict::kTryHourlyOnce;
}

int findLastMessageDay(const char* pnr, const char* day, DayRecord& lastDay) {
    DayRecord passedOver{};
    int result = 0;

    // The open's result is not needed: after a failed open the fetch fails.
    openEarlierDayRecordCursor(pnr, day);
    while (fetchEarlierDayRecord(lastDay) == 0) {
        const char* text = nullptr;
        int verdict = inspectDay(lastDay, passedOver, text);
        if (verdict < 0) break;
        if (verdict > 0) {
            result = 1;
            if (runContext.consoleDebug) {
                consoleLine("%s", text);
                dumpDayRecord(lastDay);
            }
            break;
        }
    }

    closeEarlierDayRecordCursor();
    return result;
}
