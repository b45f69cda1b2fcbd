// Day records of Qrv327Tag joined with their Qrv320Tgb day plan.
//
// Owns the handles of the previous-day cursor (open for the whole run, walked
// by the run driver) and of the earlier-days cursor (opened per record by the
// last-message-day search). Both bind the same thirteen columns through one
// column table; only this module writes the handles.
#include "db/day_records.h"

#include <cstddef>

#include "db/statement_patterns.h"

namespace {

constinit SQLHSTMT prevDayCursor = nullptr;
constinit SQLHSTMT earlierDayCursor = nullptr;

// The day's window must begin and end at 12:00:00 of one date: only such
// records are accounting days of yesterday.
constexpr const char* kPrevDaySql =
    "SELECT TagPnr, CONVERT(char(8), TagTag, 112), CONVERT(char(8), TagVon, 112), "
    "CONVERT(char(8), TagUhr, 114), CONVERT(char(8), TagBis, 112), CONVERT(char(8), TagEnd, 114), "
    "TgbSol, TagTgb, TagTgs, TagHtv, TagHvs, TagHtn, TagHns FROM %s.Qrv327Tag, %s.Qrv320Tgb "
    "WHERE TagTag = CONVERT(datetime, Convert(char(8), DATEADD(dd, -1, CURRENT_TIMESTAMP), 112), "
    "112) AND CONVERT(char(8), TagVon, 112) = CONVERT(char(8), TagBis, 112) AND "
    "CONVERT(char(8), TagUhr, 114) = CONVERT(char(8),TagEnd,114) AND "
    "CONVERT(char(8),TagUhr,114) = '12:00:00' AND TgbPnr = TagPnr AND TgbDtm = TagTag AND "
    "TgbZtr = 1";

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

int openPrevDayRecordCursor() {
    if (formatStatement(kPrevDaySql, tableSchema(), tableSchema()) != 0) return -1;
    return openCursor(prevDayCursor);
}

int fetchPrevDayRecord(DayRecord& rec) {
    return fetchCursor(prevDayCursor, kDayColumns, &rec);
}

int closePrevDayRecordCursor() {
    return closeCursor(prevDayCursor);
}

int openEarlierDayRecordCursor(const char* pnr, const char* day) {
    QuotedValue qPnr;
    QuotedValue qDay;
    if (formatStatement(kEarlierDaySql, tableSchema(), tableSchema(), sqlQuoted(pnr, qPnr),
                        sqlQuoted(day, qDay)) != 0)
        return -1;
    return openCursor(earlierDayCursor);
}

int fetchEarlierDayRecord(DayRecord& rec) {
    return fetchCursor(earlierDayCursor, kDayColumns, &rec);
}

int closeEarlierDayRecordCursor() {
    return closeCursor(earlierDayCursor);
}

int updateDayRecord(const DayRecord& rec) {
    QuotedValue qTgb;
    QuotedValue qHtv;
    QuotedValue qHtn;
    QuotedValue qPnr;
    QuotedValue qTag;
    if (formatStatement(kUpdateDaySql, tableSchema(), sqlQuoted(rec.TagTgb.text, qTgb),
                        static_cast<long>(rec.TagTgs), sqlQuoted(rec.TagHtv.text, qHtv),
                        static_cast<long>(rec.TagHvs), sqlQuoted(rec.TagHtn.text, qHtn),
                        static_cast<long>(rec.TagHns), sqlQuoted(rec.TagPnr.text, qPnr),
                        sqlQuoted(rec.TagTag.text, qTag)) != 0)
        return -1;
    return executeWrite();
}
