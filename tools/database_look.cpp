// The read-only look at the database shared by kelbor-config check and the
// nightly wrapper. Only SELECTs run here, each on a statement handle of its
// own that is freed before the function returns; the day-record count walks
// the batch's own previous-day cursor, so it counts what a run would handle.
#include "tools/database_look.h"

#include <cstdlib>

#include "db/connection.h"
#include "db/day_records.h"

namespace {

QueryResult runQuery(const std::string& sql, bool everyRow) {
    QueryResult result;
    SQLHSTMT stmt = nullptr;
    if (SQLAllocHandle(SQL_HANDLE_STMT, connHandle, &stmt) == SQL_ERROR) {
        result.diagnostics = allDiagnostics(SQL_HANDLE_DBC, connHandle);
        return result;
    }
    SQLRETURN rc =
        SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
    SQLSMALLINT columns = 0;
    if (SQL_SUCCEEDED(rc)) rc = SQLNumResultCols(stmt, &columns);
    while (SQL_SUCCEEDED(rc)) {
        rc = SQLFetch(stmt);
        if (!SQL_SUCCEEDED(rc)) break;  // SQL_NO_DATA after the last row
        std::vector<std::string> values;
        for (SQLSMALLINT c = 1; SQL_SUCCEEDED(rc) && c <= columns; ++c) {
            char value[256] = {};
            SQLLEN indicator = 0;
            rc = SQLGetData(stmt, static_cast<SQLUSMALLINT>(c), SQL_C_CHAR, value, sizeof value,
                            &indicator);
            values.emplace_back(indicator == SQL_NULL_DATA ? "NULL" : value);
        }
        if (!SQL_SUCCEEDED(rc)) break;
        if (result.rows.empty()) result.row = values;
        std::string joined;
        for (const std::string& v : values) joined += (joined.empty() ? "" : "\t") + v;
        result.rows.push_back(joined);
        if (!everyRow) break;
    }
    // A one-row query needs its row; a query for every row ends at SQL_NO_DATA.
    if (rc == SQL_NO_DATA && (everyRow || !result.rows.empty())) rc = SQL_SUCCESS;
    result.ok = SQL_SUCCEEDED(rc);
    if (!result.ok) result.diagnostics = allDiagnostics(SQL_HANDLE_STMT, stmt);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return result;
}

std::string trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// The day before the server's date, exactly as the previous-day cursor
// selects it.
constexpr const char* kAccountingDayExpr =
    "CONVERT(datetime, Convert(char(8), DATEADD(dd, -1, CURRENT_TIMESTAMP), 112), 112)";

}  // namespace

std::vector<DiagLine> allDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
    std::vector<DiagLine> lines;
    for (SQLSMALLINT record = 1; record < 100; ++record) {
        SQLCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLCHAR message[1024] = {};
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRec(handleType, handle, record, state, &native, message,
                                     sizeof message, &length);
        if (!SQL_SUCCEEDED(rc)) break;
        lines.push_back({reinterpret_cast<char*>(state), static_cast<long>(native),
                         reinterpret_cast<char*>(message)});
    }
    return lines;
}

QueryResult query(const std::string& sql) {
    return runQuery(sql, false);
}

QueryResult queryRows(const std::string& sql) {
    return runQuery(sql, true);
}

bool readAccountingDay(std::string& serverClock, std::string& accountingDay,
                       std::vector<DiagLine>& diagnostics) {
    QueryResult clock = query(
        "SELECT CONVERT(char(19), CURRENT_TIMESTAMP, 120), "
        "CONVERT(char(8), DATEADD(dd, -1, CURRENT_TIMESTAMP), 112)");
    if (!clock.ok || clock.row.size() != 2) {
        diagnostics = clock.diagnostics;
        return false;
    }
    serverClock = clock.row[0];
    accountingDay = clock.row[1];
    return true;
}

int countDayRecords(long& count) {
    count = 0;
    int rc = openPrevDayRecordCursor();
    if (rc != 0) return rc;
    DayRecord rec{};
    while ((rc = fetchPrevDayRecord(rec)) == 0) ++count;
    closePrevDayRecordCursor();
    return rc == SQL_NO_DATA ? 0 : rc;
}

bool listUnrepairedBreaks(const std::string& schemaName, const std::string& day,
                          std::vector<UnrepairedBreak>& breaks,
                          std::vector<DiagLine>& diagnostics) {
    const std::string& s = schemaName;
    // The day comes checked as eight digits.
    const std::string dayExpr =
        day.empty() ? std::string(kAccountingDayExpr) : "CONVERT(datetime, '" + day + "', 112)";
    // A slot that is NULL holds no code, so it is compared as an empty text.
    // DISTINCT: several message types may name the same follow-up.
    QueryResult r = queryRows(
        "SELECT DISTINCT b.BchPnr, b.BchFcd, b.BchFkt FROM " + s + ".Qrv321Bch b, " + s +
        ".Qrv327Tag t, " + s + ".Qrv131Fcd f WHERE b.BchVon = " + dayExpr +
        " AND CONVERT(char(8), b.BchUhr, 114) = '00:00:00' AND (b.BchFkt = 1 OR b.BchFkt = 2 OR "
        "b.BchFkt = 3) AND f.FcdFlg = b.BchFcd AND t.TagPnr = b.BchPnr AND t.TagTag = b.BchVon "
        "AND NOT ((b.BchFkt = 1 AND ISNULL(t.TagTgb, '') = b.BchFcd) OR (b.BchFkt = 2 AND "
        "ISNULL(t.TagHtv, '') = b.BchFcd) OR (b.BchFkt = 3 AND ISNULL(t.TagHtn, '') = "
        "b.BchFcd)) ORDER BY b.BchPnr, b.BchFkt");
    if (!r.ok) {
        diagnostics = r.diagnostics;
        return false;
    }
    for (const std::string& row : r.rows) {
        std::size_t a = row.find('\t');
        std::size_t b = row.find('\t', a + 1);
        if (a == std::string::npos || b == std::string::npos) continue;
        breaks.push_back({trimmed(row.substr(0, a)), trimmed(row.substr(a + 1, b - a - 1)),
                          std::atoi(row.c_str() + b + 1)});
    }
    return true;
}

std::string describeBreak(const UnrepairedBreak& b, const std::string& accountingDay) {
    static constexpr const char* kSlots[] = {"", "TagTgb/TagTgs", "TagHtv/TagHvs", "TagHtn/TagHns"};
    const char* slot = b.function >= 1 && b.function <= 3 ? kSlots[b.function] : "?";
    return b.pnr + " " + isoDate(accountingDay) + " " + b.code +
           ": booked, its credit is missing; " + "enter " + b.code +
           " and its time value in slot " + std::to_string(b.function) + " (" + slot +
           ") of the day record, or delete the booking and run again";
}

std::string isoDate(const std::string& compact) {
    if (compact.size() != 8) return compact;
    return compact.substr(0, 4) + "-" + compact.substr(4, 2) + "-" + compact.substr(6, 2);
}
