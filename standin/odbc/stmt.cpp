// Statements: execution through the engine, cursors over the materialised
// rows, column descriptions, conversion into bound and unbound buffers, and
// statement attributes.
//
// Every result is complete when the statement returns, so any number of
// statements may have open cursors; what a real server would refuse is
// reproduced by the busy rule (checkNotBusy) instead.
#include <algorithm>
#include <chrono>

#include "standin/odbc/convert.h"
#include "standin/odbc/handles.h"

namespace standin::odbc {

namespace {

SQLRETURN sequenceError(Stmt& stmt) {
    return driverError(stmt.diags, "HY010", "Function sequence error");
}

SQLRETURN invalidCursorState(Stmt& stmt) {
    return driverError(stmt.diags, "24000", "Invalid cursor state");
}

SQLRETURN notImplemented(Stmt& stmt) {
    return driverError(stmt.diags, "HYC00", "Optional feature not implemented");
}

// Ends the cursor; its default result set no longer keeps the connection busy.
void releaseCursor(Stmt& stmt) {
    if (stmt.dbc->busyWith == &stmt) stmt.dbc->busyWith = nullptr;
    stmt.cursorOpen = false;
    stmt.onRow = false;
    stmt.nextRow = 0;
    stmt.delivered.clear();
    stmt.failFetchAfter = -1;
}

// Makes stmt's fresh result current: SQL_NO_DATA becomes SQL_SUCCESS for an
// ODBC 2 application, and a result set opens the cursor (busy unless it is a
// server cursor).
SQLRETURN openResult(Stmt& stmt, SQLRETURN rc, std::int64_t fetchFaultAfter) {
    Dbc& dbc = *stmt.dbc;
    stmt.executed = rc != SQL_ERROR;
    stmt.diags.rowCount = stmt.result.noCount ? -1 : std::max<SQLLEN>(0, stmt.result.rowCount);
    if (rc == SQL_NO_DATA && !dbc.odbc3()) rc = SQL_SUCCESS;
    if (rc == SQL_ERROR || !stmt.result.hasResultSet) return rc;
    if (stmt.maxRows > 0 && stmt.result.rows.size() > stmt.maxRows)
        stmt.result.rows.resize(stmt.maxRows);
    stmt.cursorOpen = true;
    stmt.failFetchAfter = fetchFaultAfter;
    if (!stmt.serverCursor()) dbc.busyWith = &stmt;
    return rc;
}

// Checks that stmt may start a new result on its connection and drops its old one.
SQLRETURN beginExecution(Stmt& stmt) {
    if (!stmt.dbc->engine) return driverError(stmt.diags, "08003", "Connection not open");
    if (stmt.cursorOpen) return invalidCursorState(stmt);
    if (checkNotBusy(*stmt.dbc, &stmt, stmt) != SQL_SUCCESS) return SQL_ERROR;
    releaseCursor(stmt);
    stmt.result = Result{};
    stmt.executed = false;
    return SQL_SUCCESS;
}

SQLRETURN runStatement(Stmt& stmt, const std::string& sql) {
    Dbc& dbc = *stmt.dbc;
    if (beginExecution(stmt) != SQL_SUCCESS) return SQL_ERROR;
    if (statementMustFail(dbc.faults, sql)) {
        stmt.diags.addServer(
            injectedDiag(dbc.faults, "statement text contains '" + dbc.faults.failOn + "'"));
        return SQL_ERROR;
    }
    throwIfInjected(dbc.faults, sql);
    stmt.result = dbc.engine->execute(sql);
    SQLRETURN rc = reportEngine(stmt.diags, stmt.result.status, stmt.result.diags);
    if (rc == SQL_SUCCESS && statementGetsInfo(dbc.faults, sql)) {
        stmt.diags.addServer(infoDiag(dbc.faults));
        rc = SQL_SUCCESS_WITH_INFO;
    }
    if (rc != SQL_ERROR) notePassed(dbc.faults, sql);
    return openResult(stmt, rc, fetchFaultLimit(dbc.faults, sql));
}

// Runs sql and appends it to the connection's trace with its outcome.
SQLRETURN runTraced(Stmt& stmt, const std::string& sql) {
    auto start = std::chrono::steady_clock::now();
    SQLRETURN rc = runStatement(stmt, sql);
    auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
    traceStatement(stmt.dbc->faults, sql, rc, micros);
    return rc;
}

// Fails unless stmt has executed (a prepared statement is described only by
// running it, which this driver does not do behind the application's back).
SQLRETURN requireExecuted(Stmt& stmt) {
    if (stmt.executed) return SQL_SUCCESS;
    if (stmt.prepared) return notImplemented(stmt);
    return sequenceError(stmt);
}

SQLRETURN requireColumn(Stmt& stmt, SQLUSMALLINT column) {
    if (requireExecuted(stmt) != SQL_SUCCESS) return SQL_ERROR;
    if (column < 1 || column > stmt.result.columns.size())
        return driverError(stmt.diags, "07009", "Invalid descriptor index");
    return SQL_SUCCESS;
}

Value number(long long v) {
    return std::to_string(v);
}

// The rows SQLGetTypeInfo describes: the column types the engine knows.
Result typeInfoResult(SQLSMALLINT wanted, bool odbc3) {
    Result r;
    r.hasResultSet = true;
    const std::pair<const char*, ColType> columns[] = {
        {"TYPE_NAME", ColType::VarChar},
        {"DATA_TYPE", ColType::SmallInt},
        {"COLUMN_SIZE", ColType::Int},
        {"LITERAL_PREFIX", ColType::VarChar},
        {"LITERAL_SUFFIX", ColType::VarChar},
        {"CREATE_PARAMS", ColType::VarChar},
        {"NULLABLE", ColType::SmallInt},
        {"CASE_SENSITIVE", ColType::SmallInt},
        {"SEARCHABLE", ColType::SmallInt},
        {"UNSIGNED_ATTRIBUTE", ColType::SmallInt},
        {"FIXED_PREC_SCALE", ColType::SmallInt},
        {"AUTO_UNIQUE_VALUE", ColType::SmallInt},
        {"LOCAL_TYPE_NAME", ColType::VarChar},
        {"MINIMUM_SCALE", ColType::SmallInt},
        {"MAXIMUM_SCALE", ColType::SmallInt},
        {"SQL_DATA_TYPE", ColType::SmallInt},
        {"SQL_DATETIME_SUB", ColType::SmallInt},
        {"NUM_PREC_RADIX", ColType::Int},
        {"INTERVAL_PRECISION", ColType::SmallInt},
    };
    for (const auto& [name, type] : columns)
        r.columns.push_back(Column{name, type, type == ColType::VarChar ? 128 : 0, true});

    const SQLSMALLINT dateType = odbc3 ? SQL_TYPE_TIMESTAMP : SQL_TIMESTAMP;
    struct TypeRow {
        const char* name;
        SQLSMALLINT dataType;
        long long size;
        bool quoted;
        const char* createParams;
        bool numeric;
        SQLSMALLINT verboseType;
        Value datetimeSub;
        Value scale;
    };
    const TypeRow types[] = {
        {"char", SQL_CHAR, 8000, true, "length", false, SQL_CHAR, std::nullopt, std::nullopt},
        {"int", SQL_INTEGER, 10, false, nullptr, true, SQL_INTEGER, std::nullopt, number(0)},
        {"smallint", SQL_SMALLINT, 5, false, nullptr, true, SQL_SMALLINT, std::nullopt, number(0)},
        {"varchar", SQL_VARCHAR, 8000, true, "max length", false, SQL_VARCHAR, std::nullopt,
         std::nullopt},
        {"datetime", dateType, 23, true, nullptr, false, SQL_DATETIME, number(SQL_CODE_TIMESTAMP),
         number(3)},
    };
    for (const TypeRow& t : types) {
        bool isDate = t.verboseType == SQL_DATETIME;
        bool match = wanted == SQL_ALL_TYPES || wanted == t.dataType ||
                     (isDate && (wanted == SQL_TYPE_TIMESTAMP || wanted == SQL_TIMESTAMP));
        if (!match) continue;
        Value quote = t.quoted ? Value("'") : std::nullopt;
        Value numericFlag = t.numeric ? number(0) : std::nullopt;
        r.rows.push_back(Row{t.name, number(t.dataType), number(t.size), quote, quote,
                             t.createParams ? Value(t.createParams) : std::nullopt,
                             number(SQL_NULLABLE), number(SQL_FALSE), number(SQL_SEARCHABLE),
                             numericFlag, number(SQL_FALSE), numericFlag, t.name, t.scale, t.scale,
                             number(t.verboseType), t.datetimeSub,
                             t.numeric ? number(10) : std::nullopt, std::nullopt});
    }
    std::stable_sort(r.rows.begin(), r.rows.end(), [](const Row& a, const Row& b) {
        return std::stoi(*a[1]) < std::stoi(*b[1]);
    });
    return r;
}

SQLLEN octetLength(const Column& column) {
    switch (column.type) {
        case ColType::Int:
            return 4;
        case ColType::SmallInt:
            return 2;
        case ColType::Numeric:
            return 21;
        case ColType::DateTime:
            return sizeof(SQL_TIMESTAMP_STRUCT);
        default:
            return static_cast<SQLLEN>(columnSize(column));
    }
}

bool isNumeric(const Column& column) {
    return column.type == ColType::Int || column.type == ColType::SmallInt ||
           column.type == ColType::Numeric;
}

}  // namespace

SQLRETURN execDirect(Stmt& stmt, std::string sql) {
    stmt.prepared = false;
    return runTraced(stmt, sql);
}

SQLRETURN prepare(Stmt& stmt, std::string sql) {
    if (stmt.cursorOpen) return invalidCursorState(stmt);
    stmt.result = Result{};
    stmt.executed = false;
    stmt.preparedText = std::move(sql);
    stmt.prepared = true;
    return SQL_SUCCESS;
}

SQLRETURN execute(Stmt& stmt) {
    if (!stmt.prepared) return sequenceError(stmt);
    return runTraced(stmt, stmt.preparedText);
}

SQLRETURN typeInfo(Stmt& stmt, SQLSMALLINT dataType) {
    if (beginExecution(stmt) != SQL_SUCCESS) return SQL_ERROR;
    stmt.prepared = false;
    stmt.result = typeInfoResult(dataType, stmt.dbc->odbc3());
    return openResult(stmt, SQL_SUCCESS, -1);
}

SQLRETURN numResultCols(Stmt& stmt, SQLSMALLINT* count) {
    if (requireExecuted(stmt) != SQL_SUCCESS) return SQL_ERROR;
    if (count)
        *count =
            stmt.result.hasResultSet ? static_cast<SQLSMALLINT>(stmt.result.columns.size()) : 0;
    return SQL_SUCCESS;
}

SQLRETURN describeCol(Stmt& stmt, SQLUSMALLINT column, SQLCHAR* name, SQLSMALLINT nameMax,
                      SQLSMALLINT* nameLength, SQLSMALLINT* dataType, SQLULEN* size,
                      SQLSMALLINT* digits, SQLSMALLINT* nullable) {
    if (requireColumn(stmt, column) != SQL_SUCCESS) return SQL_ERROR;
    const Column& c = stmt.result.columns[column - 1];
    if (dataType) *dataType = sqlType(c, stmt.dbc->odbc3());
    if (size) *size = columnSize(c);
    if (digits) *digits = decimalDigits(c);
    if (nullable) *nullable = c.nullable ? SQL_NULLABLE : SQL_NO_NULLS;
    return putText(stmt.diags, c.name, name, nameMax, nameLength);
}

SQLRETURN colAttribute(Stmt& stmt, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER text,
                       SQLSMALLINT textMax, SQLSMALLINT* textLength, SQLLEN* number) {
    if (field == SQL_DESC_COUNT || field == SQL_COLUMN_COUNT) {
        SQLSMALLINT count = 0;
        if (numResultCols(stmt, &count) != SQL_SUCCESS) return SQL_ERROR;
        if (number) *number = count;
        return SQL_SUCCESS;
    }
    if (requireColumn(stmt, column) != SQL_SUCCESS) return SQL_ERROR;
    const Column& c = stmt.result.columns[column - 1];
    bool odbc3 = stmt.dbc->odbc3();
    auto put = [&](SQLLEN v) {
        if (number) *number = v;
        return SQL_SUCCESS;
    };
    auto putString = [&](std::string_view s) {
        return putText(stmt.diags, s, text, textMax, textLength);
    };
    switch (field) {
        case SQL_DESC_NAME:
        case SQL_COLUMN_NAME:
        case SQL_DESC_LABEL:
        case SQL_DESC_BASE_COLUMN_NAME:
            return putString(c.name);
        case SQL_DESC_TYPE_NAME:
        case SQL_DESC_LOCAL_TYPE_NAME:
            return putString(typeName(c));
        case SQL_DESC_TABLE_NAME:
        case SQL_DESC_BASE_TABLE_NAME:
        case SQL_DESC_SCHEMA_NAME:
        case SQL_DESC_CATALOG_NAME:
            return putString("");
        case SQL_DESC_LITERAL_PREFIX:
        case SQL_DESC_LITERAL_SUFFIX:
            return putString(isNumeric(c) ? "" : "'");
        case SQL_DESC_CONCISE_TYPE:
            return put(sqlType(c, odbc3));
        case SQL_DESC_TYPE:
            return put(c.type == ColType::DateTime && odbc3 ? SQL_DATETIME : sqlType(c, odbc3));
        case SQL_DESC_LENGTH:
            return put(static_cast<SQLLEN>(columnSize(c)));
        case SQL_COLUMN_LENGTH:
        case SQL_DESC_OCTET_LENGTH:
            return put(octetLength(c));
        case SQL_COLUMN_PRECISION:
            return put(static_cast<SQLLEN>(columnSize(c)));
        case SQL_DESC_PRECISION:
            return put(isNumeric(c) ? static_cast<SQLLEN>(columnSize(c)) : decimalDigits(c));
        case SQL_COLUMN_SCALE:
        case SQL_DESC_SCALE:
            return put(decimalDigits(c));
        case SQL_DESC_DISPLAY_SIZE:
            return put(displaySize(c));
        case SQL_COLUMN_NULLABLE:
        case SQL_DESC_NULLABLE:
            return put(c.nullable ? SQL_NULLABLE : SQL_NO_NULLS);
        case SQL_DESC_UNSIGNED:
            return put(isNumeric(c) ? SQL_FALSE : SQL_TRUE);
        case SQL_DESC_FIXED_PREC_SCALE:
        case SQL_DESC_AUTO_UNIQUE_VALUE:
        case SQL_DESC_CASE_SENSITIVE:
            return put(SQL_FALSE);
        case SQL_DESC_UPDATABLE:
            return put(SQL_ATTR_READWRITE_UNKNOWN);
        case SQL_DESC_SEARCHABLE:
            return put(SQL_PRED_SEARCHABLE);
        case SQL_DESC_NUM_PREC_RADIX:
            return put(isNumeric(c) ? 10 : 0);
        case SQL_DESC_UNNAMED:
            return put(c.name.empty() ? SQL_UNNAMED : SQL_NAMED);
        default:
            return driverError(stmt.diags, "HY091", "Invalid descriptor field identifier");
    }
}

SQLRETURN bindCol(Stmt& stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target,
                  SQLLEN bufferLength, SQLLEN* indicator) {
    if (column < 1) return driverError(stmt.diags, "07009", "Invalid descriptor index");
    if (target == nullptr && indicator == nullptr) {
        if (column <= stmt.bindings.size())
            stmt.bindings[column - 1] = Binding{0, nullptr, 0, nullptr};
        return SQL_SUCCESS;
    }
    if (!supportedCType(cType))
        return driverError(stmt.diags, "HY003", "Invalid application buffer type");
    if (bufferLength < 0)
        return driverError(stmt.diags, "HY090", "Invalid string or buffer length");
    if (stmt.bindings.size() < column)
        stmt.bindings.resize(column, Binding{0, nullptr, 0, nullptr});
    stmt.bindings[column - 1] = Binding{cType, target, bufferLength, indicator};
    return SQL_SUCCESS;
}

SQLRETURN fetch(Stmt& stmt) {
    if (!stmt.executed) return sequenceError(stmt);
    if (!stmt.cursorOpen) return invalidCursorState(stmt);
    Dbc& dbc = *stmt.dbc;
    // A server cursor fetches each row with a request of its own.
    if (stmt.serverCursor() && checkNotBusy(dbc, &stmt, stmt) != SQL_SUCCESS) return SQL_ERROR;
    if (stmt.rowsFetchedPtr) *stmt.rowsFetchedPtr = 0;
    stmt.onRow = false;
    if (stmt.failFetchAfter >= 0 && stmt.nextRow >= static_cast<std::size_t>(stmt.failFetchAfter)) {
        // The result set is broken off: it no longer holds the connection.
        if (dbc.busyWith == &stmt) dbc.busyWith = nullptr;
        stmt.diags.addServer(injectedDiag(
            dbc.faults, "fetch of a statement containing '" + dbc.faults.failFetchOn + "'"));
        return SQL_ERROR;
    }
    const Result& r = stmt.result;
    if (stmt.nextRow >= r.rows.size()) {
        if (dbc.busyWith == &stmt) dbc.busyWith = nullptr;
        return SQL_NO_DATA;
    }
    const Row& row = r.rows[stmt.nextRow++];
    stmt.onRow = true;
    stmt.delivered.assign(r.columns.size(), -1);
    SQLRETURN rc = SQL_SUCCESS;
    for (std::size_t i = 0; i < stmt.bindings.size() && rc != SQL_ERROR; ++i) {
        const Binding& b = stmt.bindings[i];
        if (b.cType == 0) continue;
        if (i >= r.columns.size()) {
            rc = driverError(stmt.diags, "07009", "Invalid descriptor index");
            break;
        }
        SQLRETURN one = convertValue(stmt.diags, r.columns[i], row[i], b.cType, b.target,
                                     b.bufferLength, b.indicator, nullptr);
        if (one == SQL_ERROR || (one == SQL_SUCCESS_WITH_INFO && rc == SQL_SUCCESS)) rc = one;
    }
    if (stmt.rowsFetchedPtr) *stmt.rowsFetchedPtr = 1;
    if (stmt.rowStatusPtr)
        *stmt.rowStatusPtr = rc == SQL_SUCCESS             ? SQL_ROW_SUCCESS
                             : rc == SQL_SUCCESS_WITH_INFO ? SQL_ROW_SUCCESS_WITH_INFO
                                                           : SQL_ROW_ERROR;
    return rc;
}

SQLRETURN getData(Stmt& stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target,
                  SQLLEN bufferLength, SQLLEN* indicator) {
    if (!stmt.cursorOpen || !stmt.onRow) return invalidCursorState(stmt);
    if (requireColumn(stmt, column) != SQL_SUCCESS) return SQL_ERROR;
    if (target == nullptr) return driverError(stmt.diags, "HY009", "Invalid use of null pointer");
    const Row& row = stmt.result.rows[stmt.nextRow - 1];
    return convertValue(stmt.diags, stmt.result.columns[column - 1], row[column - 1], cType, target,
                        bufferLength, indicator, &stmt.delivered[column - 1]);
}

SQLRETURN rowCount(Stmt& stmt, SQLLEN* count) {
    if (!stmt.executed) return sequenceError(stmt);
    // Without a count from the server (SET NOCOUNT ON) the driver knows none.
    if (count) {
        *count = stmt.result.hasResultSet || stmt.result.noCount
                     ? -1
                     : std::max<SQLLEN>(0, stmt.result.rowCount);
    }
    return SQL_SUCCESS;
}

SQLRETURN moreResults(Stmt& stmt) {
    // One statement gives one result: asking for the next discards the rest of this one.
    releaseCursor(stmt);
    return SQL_NO_DATA;
}

SQLRETURN closeCursor(Stmt& stmt, bool mustBeOpen) {
    if (mustBeOpen && !stmt.cursorOpen) return invalidCursorState(stmt);
    releaseCursor(stmt);
    return SQL_SUCCESS;
}

SQLRETURN setStmtAttr(Stmt& stmt, SQLINTEGER attribute, SQLPOINTER value) {
    auto v = static_cast<SQLULEN>(reinterpret_cast<SQLLEN>(value));
    // Only values this driver honours are accepted; anything else would
    // silently behave differently from what the application asked for.
    auto oneOf = [&](std::initializer_list<SQLULEN> allowed, SQLULEN* field) {
        if (std::find(allowed.begin(), allowed.end(), v) == allowed.end())
            return notImplemented(stmt);
        if (field) {
            if (stmt.cursorOpen && *field != v) return invalidCursorState(stmt);
            *field = v;
        }
        return SQLRETURN{SQL_SUCCESS};
    };
    switch (attribute) {
        case SQL_ATTR_CURSOR_SCROLLABLE:
            return oneOf({SQL_NONSCROLLABLE}, &stmt.scrollable);
        case SQL_ATTR_CONCURRENCY:
            return oneOf({SQL_CONCUR_READ_ONLY, SQL_CONCUR_LOCK}, &stmt.concurrency);
        case SQL_ATTR_CURSOR_TYPE:
            return oneOf({SQL_CURSOR_FORWARD_ONLY, SQL_CURSOR_STATIC}, &stmt.cursorType);
        case SQL_ATTR_CURSOR_SENSITIVITY:
            return oneOf({SQL_UNSPECIFIED, SQL_INSENSITIVE}, &stmt.sensitivity);
        case SQL_ATTR_QUERY_TIMEOUT:
            stmt.queryTimeout = v;
            return SQL_SUCCESS;
        case SQL_ATTR_MAX_ROWS:
            stmt.maxRows = v;
            return SQL_SUCCESS;
        case SQL_ATTR_NOSCAN:
            stmt.noScan = v;
            return SQL_SUCCESS;
        case SQL_ATTR_ROW_ARRAY_SIZE:
        case SQL_ROWSET_SIZE:
        case SQL_ATTR_PARAMSET_SIZE:
            return oneOf({1}, nullptr);
        case SQL_ATTR_MAX_LENGTH:
            return oneOf({0}, nullptr);
        case SQL_ATTR_ROW_BIND_TYPE:
            return oneOf({SQL_BIND_BY_COLUMN}, nullptr);
        case SQL_ATTR_RETRIEVE_DATA:
            return oneOf({SQL_RD_ON}, nullptr);
        case SQL_ATTR_USE_BOOKMARKS:
            return oneOf({SQL_UB_OFF}, nullptr);
        case SQL_ATTR_ASYNC_ENABLE:
            return oneOf({SQL_ASYNC_ENABLE_OFF}, nullptr);
        case SQL_ATTR_ENABLE_AUTO_IPD:
            return oneOf({SQL_FALSE}, nullptr);
        case SQL_ATTR_METADATA_ID:
            return oneOf({SQL_FALSE}, nullptr);
        case SQL_ATTR_SIMULATE_CURSOR:
            return oneOf({SQL_SC_UNIQUE}, nullptr);
        case SQL_ATTR_ROW_BIND_OFFSET_PTR:
        case SQL_ATTR_PARAMS_PROCESSED_PTR:
        case SQL_ATTR_PARAM_STATUS_PTR:
            return oneOf({0}, nullptr);
        case SQL_ATTR_ROWS_FETCHED_PTR:
            stmt.rowsFetchedPtr = static_cast<SQLULEN*>(value);
            return SQL_SUCCESS;
        case SQL_ATTR_ROW_STATUS_PTR:
            stmt.rowStatusPtr = static_cast<SQLUSMALLINT*>(value);
            return SQL_SUCCESS;
        default:
            return driverError(stmt.diags, "HY092", "Invalid attribute/option identifier");
    }
}

SQLRETURN getStmtAttr(Stmt& stmt, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER* length) {
    auto put = [&](SQLULEN v) {
        if (value) *static_cast<SQLULEN*>(value) = v;
        if (length) *length = sizeof v;
        return SQLRETURN{SQL_SUCCESS};
    };
    switch (attribute) {
        case SQL_ATTR_CURSOR_SCROLLABLE:
            return put(stmt.scrollable);
        case SQL_ATTR_CONCURRENCY:
            return put(stmt.concurrency);
        case SQL_ATTR_CURSOR_TYPE:
            return put(stmt.cursorType);
        case SQL_ATTR_CURSOR_SENSITIVITY:
            return put(stmt.sensitivity);
        case SQL_ATTR_QUERY_TIMEOUT:
            return put(stmt.queryTimeout);
        case SQL_ATTR_MAX_ROWS:
            return put(stmt.maxRows);
        case SQL_ATTR_NOSCAN:
            return put(stmt.noScan);
        case SQL_ATTR_ROW_ARRAY_SIZE:
        case SQL_ROWSET_SIZE:
        case SQL_ATTR_PARAMSET_SIZE:
            return put(1);
        case SQL_ATTR_MAX_LENGTH:
            return put(0);
        case SQL_ATTR_ROW_BIND_TYPE:
            return put(SQL_BIND_BY_COLUMN);
        case SQL_ATTR_RETRIEVE_DATA:
            return put(SQL_RD_ON);
        case SQL_ATTR_USE_BOOKMARKS:
            return put(SQL_UB_OFF);
        case SQL_ATTR_ASYNC_ENABLE:
            return put(SQL_ASYNC_ENABLE_OFF);
        case SQL_ATTR_ENABLE_AUTO_IPD:
        case SQL_ATTR_METADATA_ID:
            return put(SQL_FALSE);
        case SQL_ATTR_SIMULATE_CURSOR:
            return put(SQL_SC_UNIQUE);
        case SQL_ATTR_ROW_NUMBER:
            return put(stmt.onRow ? stmt.nextRow : 0);
        case SQL_ATTR_ROW_BIND_OFFSET_PTR:
        case SQL_ATTR_PARAMS_PROCESSED_PTR:
        case SQL_ATTR_PARAM_STATUS_PTR:
            return put(0);
        case SQL_ATTR_ROWS_FETCHED_PTR:
            return put(reinterpret_cast<SQLULEN>(stmt.rowsFetchedPtr));
        case SQL_ATTR_ROW_STATUS_PTR:
            return put(reinterpret_cast<SQLULEN>(stmt.rowStatusPtr));
        default:
            // Descriptor handles among them: this driver has no descriptors.
            return driverError(stmt.diags, "HY092", "Invalid attribute/option identifier");
    }
}

}  // namespace standin::odbc
