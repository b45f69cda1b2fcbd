// Day records: one employee's row of Qrv327Tag for one day, with the target
// time from the matching Qrv320Tgb row.
//
// Owns the statement handles of the previous-day cursor (walked once per
// run by the run driver) and of the earlier-days cursor (walked per record
// by the last-message-day search); each is null while its cursor is closed.
#pragma once

#include <cstdint>

#include "frame/fixed_text.h"

struct DayRecord {
    FixedText<9> TagPnr;  // personnel number
    FixedText<9> TagTag;  // the day, yyyymmdd
    FixedText<9> TagVon;  // window start date
    FixedText<7> TagUhr;  // window start time, hhmmss
    FixedText<9> TagBis;  // window end date
    FixedText<7> TagEnd;  // window end time
    std::int32_t TagSol;  // target time (TgbSol of the day plan)
    FixedText<4> TagTgb;  // slot 1 message-type code
    std::int32_t TagTgs;  // slot 1 time value
    FixedText<4> TagHtv;  // slot 2
    std::int32_t TagHvs;
    FixedText<4> TagHtn;  // slot 3
    std::int32_t TagHns;
};

// Cursors: open returns 0, -1 on failure (diagRecord filled), or another
// ODBC code unchanged. Fetch returns 0 with rec filled, SQL_NO_DATA after the
// last row, -1 when the cursor is closed or the fetch failed; on any
// non-zero result rec is untouched. Close returns 0 or SQLFreeHandle's result.
// The previous-day cursor selects the records of the day before the
// server's date, or of day (yyyymmdd) once it is set here: the catch-up of
// a missed night sets its day before the run driver starts. An empty day
// goes back to the server's yesterday.
void setAccountingDay(const char* day);

int openPrevDayRecordCursor();
int fetchPrevDayRecord(DayRecord& rec);
int closePrevDayRecordCursor();

int openEarlierDayRecordCursor(const FixedText<9>& pnr, const FixedText<9>& day);
int fetchEarlierDayRecord(DayRecord& rec);
int closeEarlierDayRecordCursor();

// Writes the three message slots back. Returns 0 when the record was
// written (success with information included), SQL_NO_DATA when no day
// record matched, -1 when the statement failed (diagRecord filled).
int updateDayRecord(const DayRecord& rec);
