// Day records of Qrv327Tag joined with their Qrv320Tgb day plan.
//
// Owns the handles of the previous-day cursor (open for the whole run, walked
// by the run driver; its day is the server's yesterday unless the entry
// point set another) and of the earlier-days cursor (opened per record by the
// last-message-day search). Both bind the same thirteen columns through one
// column table; only this module writes the handles.
#include "db/day_records.h"

#include <cstddef>

#include "db/statement_patterns.h"

namespace {

constinit SQLHSTMT prevDayCursor = nullptr;
constinit SQLHSTMT earlierDayCursor = nullptr;
// The accounting day of a catch-up; empty for the nightly run's yesterday.
constinit FixedText<9> givenDay{};

// The day's window must begin and end at 12:00:00 of one date: only such
// records are accounting days. The nightly run's statement names the day
// before the server's date; a catch-up's names its day as a literal in the
// same place, and the rest of the text is the same.
#define KELBOR_ACCOUNTING_DAY_SQL(day)                                                       \
    "SELECT TagPnr, CONVERT(char(8), TagTag, 112), CONVERT(char(8), TagVon, 112), "          \
    "CONVERT(char(8), TagUhr, 114), CONVERT(char(8), TagBis, 112), "                         \
    "CONVERT(char(8), TagEnd, 114), TgbSol, TagTgb, TagTgs, TagHtv, TagHvs, TagHtn, TagHns " \
    "FROM %s.Qrv327Tag, %s.Qrv320Tgb WHERE TagTag = CONVERT(datetime, " day                  \
    ", 112) AND "                                                                            \
    "CONVERT(char(8), TagVon, 112) = CONVERT(char(8), TagBis, 112) AND "                     \
    "CONVERT(char(8), TagUhr, 114) = CONVERT(char(8),TagEnd,114) AND "                       \
    "CONVERT(char(8),TagUhr,114) = '12:00:00' AND TgbPnr = TagPnr AND TgbDtm = TagTag AND "  \
    "TgbZtr = 1"

constexpr const char* kPrevDaySql =
    KELBOR_ACCOUNTING_DAY_SQL("Convert(char(8), DATEADD(dd, -1, CURRENT_TIMESTAMP), 112)");
constexpr const char* kGivenDaySql = KELBOR_ACCOUNTING_DAY_SQL("'%s'");

#undef KELBOR_ACCOUNTING_DAY_SQL

constexpr const char* kEarlierDaySql =
    "SELECT TagPnr, CONVERT(char(8), TagTag, 112), CONVERT(char(8), TagVon, 112), "
    "CONVERT(char(8), TagUhr, 114), CONVERT(char(8), TagBis, 112), CONVERT(char(8), TagEnd, 114), "
    "TgbSol, TagTgb, TagTgs, TagHtv, TagHvs, TagHtn, TagHns FROM %s.Qrv327Tag, %s.Qrv320Tgb "
    "WHERE TagPnr = '%s' AND TagTag < CONVERT(Datetime, '%s',112) AND TgbPnr = TagPnr AND "
    "TgbDtm = TagTag AND TgbZtr = 1 ORDER BY TagTag DESC";

constexpr const char* kUpdateDaySql =
    "UPDATE %s.QRV327Tag SET TagTgb = '%s', TagTgs = %ld, TagHtv = '%s', TagHvs = %ld, "
    "TagHtn = '%s', TagHns = %ld WHERE TagPnr = '%s' AND TagTag = CONVERT(datetime, '%s', 112)";

#define DAY_FIELD(f) offsetof(DayRecord, f), sizeof(DayRecord::f)

constexpr ColumnSpec kDayColumns[] = {
    {1, SQL_C_CHAR, 9, ColumnForm::Trimmed, DAY_FIELD(TagPnr)},
    {2, SQL_C_CHAR, 9, ColumnForm::Trimmed, DAY_FIELD(TagTag)},
    {3, SQL_C_CHAR, 9, ColumnForm::Trimmed, DAY_FIELD(TagVon)},
    {4, SQL_C_CHAR, 20, ColumnForm::TimeTrimmed, DAY_FIELD(TagUhr)},
    {5, SQL_C_CHAR, 9, ColumnForm::Trimmed, DAY_FIELD(TagBis)},
    {6, SQL_C_CHAR, 16, ColumnForm::TimeTrimmed, DAY_FIELD(TagEnd)},
    {7, SQL_C_LONG, 4, ColumnForm::Number, DAY_FIELD(TagSol)},
    {8, SQL_C_CHAR, 4, ColumnForm::Trimmed, DAY_FIELD(TagTgb)},
    {9, SQL_C_LONG, 4, ColumnForm::Number, DAY_FIELD(TagTgs)},
    {10, SQL_C_CHAR, 4, ColumnForm::Trimmed, DAY_FIELD(TagHtv)},
    {11, SQL_C_LONG, 4, ColumnForm::Number, DAY_FIELD(TagHvs)},
    {12, SQL_C_CHAR, 4, ColumnForm::Trimmed, DAY_FIELD(TagHtn)},
    {13, SQL_C_LONG, 4, ColumnForm::Number, DAY_FIELD(TagHns)},
};
static_assert(columnsFit<DayRecord>(kDayColumns));

#undef DAY_FIELD

}  // namespace

void setAccountingDay(const char* day) {
    givenDay.assign(day);
}

int openPrevDayRecordCursor() {
    if (givenDay.empty())
        return openCursor(prevDayCursor, kPrevDaySql, tableSchema(), tableSchema());
    return openCursor(prevDayCursor, kGivenDaySql, tableSchema(), tableSchema(),
                      quoted(givenDay).text);
}

int fetchPrevDayRecord(DayRecord& rec) {
    return fetchCursor(prevDayCursor, kDayColumns, &rec);
}

int closePrevDayRecordCursor() {
    return closeCursor(prevDayCursor);
}

int openEarlierDayRecordCursor(const FixedText<9>& pnr, const FixedText<9>& day) {
    return openCursor(earlierDayCursor, kEarlierDaySql, tableSchema(), tableSchema(),
                      quoted(pnr).text, quoted(day).text);
}

int fetchEarlierDayRecord(DayRecord& rec) {
    return fetchCursor(earlierDayCursor, kDayColumns, &rec);
}

int closeEarlierDayRecordCursor() {
    return closeCursor(earlierDayCursor);
}

int updateDayRecord(const DayRecord& rec) {
    return executeWrite(
        kUpdateDaySql, tableSchema(), quoted(rec.TagTgb).text, static_cast<long>(rec.TagTgs),
        quoted(rec.TagHtv).text, static_cast<long>(rec.TagHvs), quoted(rec.TagHtn).text,
        static_cast<long>(rec.TagHns), quoted(rec.TagPnr).text, quoted(rec.TagTag).text);
}
