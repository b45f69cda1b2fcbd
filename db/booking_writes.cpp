// One-shot statements on Qrv321Bch: the cancellation of a booking (count,
// then function change), the delete that clears its way, the insert of a
// generated booking, and the two counts of the last-message-day search.
//
// No state: each statement runs on a handle of its own that is freed before
// the call returns, so any of them may run while cursors are open.
#include "db/booking_writes.h"

#include "db/conversions.h"
#include "db/statement_patterns.h"

namespace {

constexpr const char* kCountSameKeySql =
    "SELECT COUNT(*) FROM %s.Qrv321Bch WHERE BchPnr = '%s' AND BchVon = CONVERT(datetime, '%s', "
    "112) AND CONVERT(char(8), BchUhr, 114) = '%s' AND BchFkt = %d";

constexpr const char* kUpdateFunctionSql =
    "UPDATE %s.QRV321Bch SET BchFkt = %d, BchDat = CURRENT_TIMESTAMP, BchErf = 'Quorvel' WHERE "
    "BchPnr = '%s' AND BchVon = CONVERT(datetime, '%s', 112) AND CONVERT(char(8), BchUhr, 114) = "
    "'%s' AND BchFkt = %ld AND BchFcd = '%s'";

constexpr const char* kDeleteSql =
    "DELETE FROM %s.QRV321Bch WHERE BchPnr = '%s' AND BchVon = CONVERT(Datetime, '%s', 112) AND "
    "CONVERT(char(8), BchUhr, 114) = '%s' AND BchFkt = %d";

// The booking stands at its date (BchVon) and at date and time (BchUhr).
constexpr const char* kInsertSql =
    "INSERT INTO %s.Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd, BchSta, BchErf, BchDat) "
    "VALUES ('%s', CONVERT(Datetime, '%s', 112), CONVERT(Datetime, '%s', 120), %ld, '%s', 1, "
    "'Quorvel', CURRENT_TIMESTAMP)";

constexpr const char* kCountDailySql =
    "SELECT Count(*) FROM %s.Qrv321Bch WHERE BchPnr = '%s' AND BchVon = CONVERT(Datetime, '%s', "
    "112) AND BchFkt = 1";

// Booking date and time joined as yyyy-mm-dd hh:mm:ss text, both window
// ends included.
constexpr const char* kCountHourlySql =
    "SELECT Count(*) FROM %s.Qrv321Bch WHERE BchPnr = '%s' AND (CONVERT(char(10), BchVon, 120) "
    "+ ' ' + CONVERT(char(8), BchUhr, 114)) >= '%s' AND (CONVERT(char(10), BchVon, 120) + ' ' + "
    "CONVERT(char(8), BchUhr, 114)) <= '%s' AND (BchFkt = 21 OR BchFkt = 22 OR BchFkt = 23 OR "
    "BchFkt = 24 OR BchFkt = 25 OR BchFkt = 29 OR BchFkt = 30 OR BchFkt = 0) ";

// The one column of a COUNT(*), read into a plain 32-bit count.
constexpr ColumnSpec kCountColumn[] = {
    {1, SQL_C_LONG, 4, ColumnForm::Number, 0, sizeof(std::int32_t)},
};
static_assert(columnsFit<std::int32_t>(kCountColumn));

// hh:mm:ss of a compact time, the form BchUhr is compared in.
using TimeText = FixedText<9>;
// yyyy-mm-dd hh:mm:ss of a compact date and time.
using StampText = FixedText<20>;

void timeText(const char* time, TimeText& out) {
    toDbText("", time, out.text, out.capacity, "Z");
}

void stampText(const char* date, const char* time, StampText& out) {
    toDbText(date, time, out.text, out.capacity, "T");
}

// A booking's person, date and hh:mm:ss time, quoted for the WHERE clauses
// that find it.
struct BookingKey {
    FixedText<2 * sizeof(BookingRecord::BchPnr) - 1> pnr;
    FixedText<2 * sizeof(BookingRecord::BchVon) - 1> von;
    FixedText<2 * TimeText::capacity - 1> uhr;
};

BookingKey bookingKey(const BookingRecord& rec) {
    TimeText time;
    timeText(rec.BchUhr.text, time);
    return {quoted(rec.BchPnr), quoted(rec.BchVon), quoted(time)};
}

}  // namespace

int updateBookingFunction(const BookingRecord& rec, std::int32_t newCode) {
    BookingKey key = bookingKey(rec);
    // BchFkt is part of the key: a booking that already carries newCode at
    // the same person, date and time would make the change a duplicate.
    std::int32_t sameKey = 0;
    int rc = lookupRow(Failure::NativeError, kCountColumn, &sameKey, kCountSameKeySql,
                       tableSchema(), key.pnr.text, key.von.text, key.uhr.text, newCode);
    if (rc != 0) return rc;
    if (sameKey > 0) return kDuplicateKey;

    // The time is compared to the second, so the booking's own code keeps
    // the change off another booking of the same second.
    return executeWrite(kUpdateFunctionSql, tableSchema(), newCode, key.pnr.text, key.von.text,
                        key.uhr.text, static_cast<long>(rec.BchFkt), quoted(rec.BchFcd).text);
}

int deleteBooking(const BookingRecord& rec, std::int32_t code) {
    BookingKey key = bookingKey(rec);
    return executeWrite(kDeleteSql, tableSchema(), key.pnr.text, key.von.text, key.uhr.text, code);
}

int insertBooking(const BookingRecord& rec) {
    StampText stamp;
    stampText(rec.BchVon.text, rec.BchUhr.text, stamp);
    return executeWrite(Failure::NativeError, kInsertSql, tableSchema(), quoted(rec.BchPnr).text,
                        quoted(rec.BchVon).text, quoted(stamp).text, static_cast<long>(rec.BchFkt),
                        quoted(rec.BchFcd).text);
}

int countDailyMessageBookings(const DayRecord& day, std::int32_t& count) {
    return lookupRow(kCountColumn, &count, kCountDailySql, tableSchema(), quoted(day.TagPnr).text,
                     quoted(day.TagTag).text);
}

int countHourlyMessageBookings(const DayRecord& day, std::int32_t& count) {
    StampText from;
    StampText to;
    stampText(day.TagVon.text, day.TagUhr.text, from);
    stampText(day.TagBis.text, day.TagEnd.text, to);
    return lookupRow(kCountColumn, &count, kCountHourlySql, tableSchema(), quoted(day.TagPnr).text,
                     quoted(from).text, quoted(to).text);
}
