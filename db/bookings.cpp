// The three booking cursors over Qrv321Bch.
//
// Owns one statement handle per cursor, null while the cursor is closed;
// only this module writes them. The previous-day and the accounting-day
// message cursor run the same statement on their own handles, because the
// accounting day's is opened and walked while the previous day's waits on
// its next row. All three deliver the same eighteen columns through
// one column table and one fetch.
#include "db/bookings.h"

#include <cstddef>

#include "db/statement_patterns.h"

namespace {

constinit SQLHSTMT prevDayMsgCursor = nullptr;
constinit SQLHSTMT accDayMsgCursor = nullptr;
constinit SQLHSTMT hourlyMsgCursor = nullptr;

// The day-message bookings (functions 1 to 3) of one person on one day.
constexpr const char* kDayMessageSql =
    "SELECT BchPnr, CONVERT(char(8), BchVon, 112), CONVERT(char(8), BchUhr, 114), BchFkt, "
    "CONVERT(char(8), BchBis, 112), CONVERT(char(8), BchVws, 114), BchFcd, BchZwt, BchAbt, "
    "BchKst, BchKtr, BchKrt, BchAzt, BchVra, BchTxt, BchSta, BchErf, BchTrm FROM %s.Qrv321Bch "
    "WHERE BchPnr = '%s' AND BchVon = CONVERT(Datetime, '%s', 112) AND (BchFkt = 1 OR "
    "BchFkt = 2 OR BchFkt = 3)";

// Bookings inside the day record's own window, compared as yyyymmddhh:mm:ss
// text, newest first; cancelled (45) and 29 bookings never count.
constexpr const char* kHourlyMessageSql =
    "SELECT BchPnr, CONVERT(char(8), BchVon, 112), CONVERT(char(8), BchUhr, 114), BchFkt, "
    "CONVERT(char(8), BchBis, 112), CONVERT(char(8), BchVws, 114), BchFcd, BchZwt, BchAbt, "
    "BchKst, BchKtr, BchKrt, BchAzt, BchVra, BchTxt, BchSta, BchErf, BchTrm FROM %s.Qrv321Bch, "
    "%s.Qrv327Tag WHERE TagPnr = '%s' AND TagPnr = BchPnr AND TagTag = CONVERT(Datetime, '%s', "
    "112) AND CONVERT(char(8), BchVon, 112) + CONVERT(char(8), BchUhr, 114) >= "
    "CONVERT(char(8), TagVon, 112) + CONVERT(char(8), TagUhr, 114) AND CONVERT(char(8), BchVon, "
    "112) + CONVERT(char(8), BchUhr, 114) <= CONVERT(char(8), TagBis, 112) + "
    "CONVERT(char(8),TagEnd,114) AND BchFkt <> 45 AND BchFkt <> 29 ORDER BY "
    "CONVERT(char(8),BchVon,112) DESC, CONVERT(char(8),BchUhr,114) DESC ";

#define BCH_FIELD(f) offsetof(BookingRecord, f), sizeof(BookingRecord::f)

// BchErf and BchTrm are fetched into their buffers but never kept: nothing
// reads them from a record, and the insert of a generated booking writes
// its own BchErf.
constexpr ColumnSpec kBookingColumns[] = {
    {1, SQL_C_CHAR, 9, ColumnForm::Trimmed, BCH_FIELD(BchPnr)},
    {2, SQL_C_CHAR, 9, ColumnForm::Trimmed, BCH_FIELD(BchVon)},
    {3, SQL_C_CHAR, 20, ColumnForm::TimeTrimmed, BCH_FIELD(BchUhr)},
    {4, SQL_C_LONG, 4, ColumnForm::Number, BCH_FIELD(BchFkt)},
    {5, SQL_C_CHAR, 9, ColumnForm::Trimmed, BCH_FIELD(BchBis)},
    {6, SQL_C_CHAR, 9, ColumnForm::TimeTrimmed, BCH_FIELD(BchVws)},
    {7, SQL_C_CHAR, 4, ColumnForm::Trimmed, BCH_FIELD(BchFcd)},
    {8, SQL_C_LONG, 4, ColumnForm::Number, BCH_FIELD(BchZwt)},
    {9, SQL_C_CHAR, 16, ColumnForm::Trimmed, BCH_FIELD(BchAbt)},
    {10, SQL_C_CHAR, 31, ColumnForm::Trimmed, BCH_FIELD(BchKst)},
    {11, SQL_C_CHAR, 7, ColumnForm::Trimmed, BCH_FIELD(BchKtr)},
    {12, SQL_C_CHAR, 5, ColumnForm::Trimmed, BCH_FIELD(BchKrt)},
    {13, SQL_C_CHAR, 6, ColumnForm::Trimmed, BCH_FIELD(BchAzt)},
    {14, SQL_C_CHAR, 14, ColumnForm::Trimmed, BCH_FIELD(BchVra)},
    {15, SQL_C_LONG, 4, ColumnForm::Number, BCH_FIELD(BchTxt)},
    {16, SQL_C_LONG, 4, ColumnForm::Number, BCH_FIELD(BchSta)},
    {17, SQL_C_CHAR, 51, ColumnForm::Dropped, 0, 0},
    {18, SQL_C_CHAR, 256, ColumnForm::Dropped, 0, 0},
};
static_assert(columnsFit<BookingRecord>(kBookingColumns));

#undef BCH_FIELD

int openDayMessageCursor(SQLHSTMT& cursor, const FixedText<9>& pnr, const FixedText<9>& day) {
    return openCursor(cursor, kDayMessageSql, tableSchema(), quoted(pnr).text, quoted(day).text);
}

}  // namespace

int openPrevDayMsgCursor(const FixedText<9>& pnr, const FixedText<9>& day) {
    return openDayMessageCursor(prevDayMsgCursor, pnr, day);
}

int fetchPrevDayMsgCursor(BookingRecord& rec) {
    return fetchCursor(prevDayMsgCursor, kBookingColumns, &rec);
}

int closePrevDayMsgCursor() {
    return closeCursor(prevDayMsgCursor);
}

int openAccDayMsgCursor(const FixedText<9>& pnr, const FixedText<9>& day) {
    return openDayMessageCursor(accDayMsgCursor, pnr, day);
}

int fetchAccDayMsgCursor(BookingRecord& rec) {
    return fetchCursor(accDayMsgCursor, kBookingColumns, &rec);
}

int closeAccDayMsgCursor() {
    return closeCursor(accDayMsgCursor);
}

int openHourlyMsgCursor(const FixedText<9>& pnr, const FixedText<9>& day) {
    return openCursor(hourlyMsgCursor, kHourlyMessageSql, tableSchema(), tableSchema(),
                      quoted(pnr).text, quoted(day).text);
}

int fetchHourlyMsgCursor(BookingRecord& rec) {
    return fetchCursor(hourlyMsgCursor, kBookingColumns, &rec);
}

int closeHourlyMsgCursor() {
    return closeCursor(hourlyMsgCursor);
}
