// The read-only look at the database that kelbor-config check and the
// nightly wrapper share: a statement's diagnostics, one-row queries, the
// accounting day, the number of its day records through the batch's own
// previous-day cursor, and the follow-up bookings that stand without their
// credit in the day record.
//
// Everything here reads; nothing writes. The statements run on the
// connection that connectDatabase (db/connection) opened, the day records
// under runContext.schemaName, which the caller forms first. No state of its
// own.
#pragma once

#include "frame/platform_odbc.h"

#include <string>
#include <vector>

struct DiagLine {
    std::string state;
    long native = 0;
    std::string message;
};

// Every diagnostic record of the handle, in order.
std::vector<DiagLine> allDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle);

struct QueryResult {
    bool ok = false;
    std::vector<std::string> row;   // the first row's values as texts, NULL as "NULL"
    std::vector<std::string> rows;  // with queryRows: every row, values joined by '\t'
    std::vector<DiagLine> diagnostics;
};

// Runs one SELECT on its own statement handle and reads its first row.
QueryResult query(const std::string& sql);
// The same, reading every row (each row's values joined by a tab).
QueryResult queryRows(const std::string& sql);

// The server's clock and the accounting day (the day before the server's
// date, yyyymmdd) as the previous-day cursor computes it. Returns false when
// the clock cannot be read (diagnostics then hold why).
bool readAccountingDay(std::string& serverClock, std::string& accountingDay,
                       std::vector<DiagLine>& diagnostics);

// Walks the batch's previous-day cursor to its end and counts the day
// records a run now would handle. Returns 0 with count set, otherwise the
// failing open's or fetch's result (diagRecord holds the cause; count then
// holds the records read before the failure).
int countDayRecords(long& count);

// A follow-up booking of the accounting day whose code is missing from the
// day record's slot of its function: the one break a re-run does not mend.
struct UnrepairedBreak {
    std::string pnr;
    std::string code;
    int function = 0;  // 1, 2 or 3: the slot it belongs in
};

// The follow-up bookings of the accounting day (at 00:00:00, function 1 to
// 3, a code that some message type names as its follow-up) whose day record
// does not hold the code in that function's slot; of day (yyyymmdd, a
// missed night's) instead when it is not empty. Returns false when the
// statement fails (diagnostics then hold why).
bool listUnrepairedBreaks(const std::string& schemaName, const std::string& day,
                          std::vector<UnrepairedBreak>& breaks, std::vector<DiagLine>& diagnostics);

// What to do about one such break, as one line: "<pnr> <code> (slot N
// TagX/TagY): enter ... or delete ...".
std::string describeBreak(const UnrepairedBreak& b, const std::string& accountingDay);

// "yyyymmdd" as "yyyy-mm-dd"; any other text as it is.
std::string isoDate(const std::string& compact);
