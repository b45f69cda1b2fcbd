// The statement patterns: quoting, and the cursor, lookup and write
// patterns, the only places in the batch that allocate, execute, fetch and
// free statement handles, so return codes and diagnostics are handled the
// same way for every statement. (The tools' look at the database,
// tools/database_look.cpp, runs its own read-only statements.)
//
// Owns statementText, the buffer each pattern formats its statement into
// just before running it; only formatStatement writes it, and nothing
// outside this file sees it.
#include "db/statement_patterns.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "db/connection.h"
#include "db/conversions.h"

namespace {

constinit FixedText<kStatementCapacity> statementText{};

// Passed to every SQLBindCol and never read: NULL and empty are not told
// apart, a NULL column simply leaves its cleared buffer as it was.
constinit SQLLEN columnIndicator = -1;

// Frees a statement handle at scope end unless released, and nulls the
// variable that held it, so a cursor freed on an error path reads as closed.
class StatementGuard {
  public:
    explicit StatementGuard(SQLHSTMT& handle) : handle_(handle) {}
    ~StatementGuard() {
        if (!engaged_) return;
        SQLFreeHandle(SQL_HANDLE_STMT, handle_);
        handle_ = nullptr;
    }
    StatementGuard(const StatementGuard&) = delete;
    StatementGuard& operator=(const StatementGuard&) = delete;
    void release() { engaged_ = false; }

  private:
    SQLHSTMT& handle_;
    bool engaged_ = true;
};

// One buffer per result column, cleared before every fetch: a NULL column
// leaves its buffer as cleared and so arrives as an empty text or 0.
struct ColumnBuffers {
    char text[kMaxColumns][kMaxColumnBuffer];
    SQLINTEGER number[kMaxColumns];
};

int allocateStatement(SQLHSTMT& handle) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connHandle, &handle))) return -1;
    return 0;
}

// Executes statementText; after SQL_ERROR the handle's first diagnostic
// record is in diagRecord before anyone frees the handle.
SQLRETURN executeStatementText(SQLHSTMT handle) {
    SQLRETURN rc = SQLExecDirect(handle, reinterpret_cast<SQLCHAR*>(statementText.text), SQL_NTS);
    if (rc == SQL_ERROR) readDiagnostics(SQL_HANDLE_STMT, handle, diagRecord);
    return rc;
}

// ODBC passes integer attribute values in the pointer argument.
void setIntegerAttribute(SQLHSTMT handle, SQLINTEGER attribute, SQLULEN value) {
    SQLSetStmtAttr(handle, attribute,
                   reinterpret_cast<SQLPOINTER>(value),  // NOLINT(performance-no-int-to-ptr)
                   SQL_IS_INTEGER);
}

// Clears every buffer and binds the columns afresh: the cursors' handles
// are shared by statements of equal shape only, but binding on every call
// keeps each fetch independent of what ran before.
void bindColumns(SQLHSTMT handle, std::span<const ColumnSpec> columns, ColumnBuffers& buffers) {
    std::memset(&buffers, 0, sizeof buffers);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const ColumnSpec& c = columns[i];
        SQLPOINTER target = c.cType == SQL_C_LONG ? static_cast<SQLPOINTER>(&buffers.number[i])
                                                  : static_cast<SQLPOINTER>(buffers.text[i]);
        SQLBindCol(handle, c.number, c.cType, target, c.bufferLength, &columnIndicator);
    }
}

// Copies the fetched columns into the record's fields.
void storeColumns(std::span<const ColumnSpec> columns, ColumnBuffers& buffers, void* record) {
    char* base = static_cast<char*>(record);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const ColumnSpec& c = columns[i];
        char* field = base + c.fieldOffset;
        char* text = buffers.text[i];
        // The driver terminates within the buffer length; this makes sure of it.
        text[c.bufferLength - 1] = '\0';
        switch (c.form) {
            case ColumnForm::Number: {
                std::int32_t value = buffers.number[i];
                std::memcpy(field, &value, sizeof value);
                break;
            }
            case ColumnForm::TimeTrimmed:
                fromDbText(text, text, static_cast<std::size_t>(c.bufferLength), "Z");
                storeText(field, c.fieldSize, trimTrailingBlanks(text));
                break;
            case ColumnForm::Trimmed:
                storeText(field, c.fieldSize, trimTrailingBlanks(text));
                break;
            case ColumnForm::AsFetched:
                storeText(field, c.fieldSize, text);
                break;
            case ColumnForm::Dropped:
                break;
        }
    }
}

// Formats the statement into statementText. Returns 0, or -1 when the text
// would be cut; statementText is then empty, so nothing half-built can run.
int formatStatement(const char* fmt, va_list ap) {
    int n = std::vsnprintf(statementText.text, statementText.capacity, fmt, ap);
    if (n < 0 || static_cast<std::size_t>(n) >= statementText.capacity) {
        statementText.clear();
        return -1;
    }
    return 0;
}

// The result of a failed call as the caller asked for it; diagRecord holds
// the call's diagnostics.
int failureResult(Failure onFailure, SQLRETURN rc) {
    if (onFailure == Failure::PassCode) return rc;
    // A driver-made error carries native 0, which must not read as success.
    return diagRecord.NativeError != 0 ? diagRecord.NativeError : -1;
}

int lookupFormatted(Failure onFailure, std::span<const ColumnSpec> columns, void* out,
                    const char* fmt, va_list ap) {
    if (formatStatement(fmt, ap) != 0) return -1;
    SQLHSTMT handle = nullptr;
    if (allocateStatement(handle) != 0) return -1;
    StatementGuard guard(handle);
    if (executeStatementText(handle) == SQL_ERROR) return -1;
    ColumnBuffers buffers;
    bindColumns(handle, columns, buffers);
    SQLRETURN rc = SQLFetch(handle);
    if (SQL_SUCCEEDED(rc)) {
        storeColumns(columns, buffers, out);
        // The server has sent the whole result already. Reading past its end
        // costs nothing, while freeing a result that is still being read makes
        // the driver cancel it on the server: a round trip for every lookup.
        // Whatever the rest holds, the lookup's answer is the first row.
        SQLMoreResults(handle);
        return 0;
    }
    if (onFailure == Failure::PassCode) return rc;
    readDiagnostics(SQL_HANDLE_STMT, handle, diagRecord);
    return failureResult(onFailure, rc);
}

int writeFormatted(Failure onFailure, const char* fmt, va_list ap) {
    if (formatStatement(fmt, ap) != 0) return -1;
    SQLHSTMT handle = nullptr;
    if (allocateStatement(handle) != 0) return -1;
    StatementGuard guard(handle);
    SQLRETURN rc = executeStatementText(handle);
    if (rc == SQL_ERROR) return failureResult(onFailure, rc);
    if (!SQL_SUCCEEDED(rc)) return rc;
    // Callers take SQL_NO_DATA as "no row matched", which is how Microsoft's
    // driver reports a searched UPDATE or DELETE that changed nothing.
    // FreeTDS says SQL_SUCCESS with a row count of 0 instead; the count
    // makes both drivers give the same result.
    SQLLEN rows = -1;
    if (SQLRowCount(handle, &rows) == SQL_SUCCESS && rows == 0) return SQL_NO_DATA;
    // An informational message (a trigger's PRINT, say) comes with a write
    // that has done its work.
    return 0;
}

}  // namespace

const char* quoteInto(const char* value, char* out, std::size_t capacity) {
    std::size_t at = 0;
    for (const char* p = value; *p != '\0'; ++p) {
        std::size_t need = *p == '\'' ? 2 : 1;
        if (at + need >= capacity) break;
        out[at++] = *p;
        if (need == 2) out[at++] = '\'';
    }
    out[at] = '\0';
    return out;
}

int openCursor(SQLHSTMT& cursor, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int formatted = formatStatement(fmt, ap);
    va_end(ap);
    if (formatted != 0) return -1;
    if (allocateStatement(cursor) != 0) return -1;
    StatementGuard guard(cursor);
    setIntegerAttribute(cursor, SQL_ATTR_CURSOR_SCROLLABLE, SQL_NONSCROLLABLE);
    setIntegerAttribute(cursor, SQL_ATTR_CONCURRENCY, SQL_CONCUR_LOCK);
    SQLRETURN rc = executeStatementText(cursor);
    if (rc == SQL_ERROR) return -1;
    guard.release();
    return SQL_SUCCEEDED(rc) ? 0 : rc;
}

int fetchCursor(SQLHSTMT& cursor, std::span<const ColumnSpec> columns, void* record) {
    if (cursor == nullptr) return -1;
    ColumnBuffers buffers;
    bindColumns(cursor, columns, buffers);
    SQLRETURN rc = SQLFetch(cursor);
    if (rc == SQL_ERROR) {
        readDiagnostics(SQL_HANDLE_STMT, cursor, diagRecord);
        closeCursor(cursor);
        return -1;
    }
    if (!SQL_SUCCEEDED(rc)) return rc;
    storeColumns(columns, buffers, record);
    return 0;
}

int closeCursor(SQLHSTMT& cursor) {
    if (cursor == nullptr) return 0;
    SQLRETURN rc = SQLFreeHandle(SQL_HANDLE_STMT, cursor);
    cursor = nullptr;
    return rc;
}

int lookupRow(std::span<const ColumnSpec> columns, void* out, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int rc = lookupFormatted(Failure::PassCode, columns, out, fmt, ap);
    va_end(ap);
    return rc;
}

int lookupRow(Failure onFailure, std::span<const ColumnSpec> columns, void* out, const char* fmt,
              ...) {
    va_list ap;
    va_start(ap, fmt);
    int rc = lookupFormatted(onFailure, columns, out, fmt, ap);
    va_end(ap);
    return rc;
}

int executeWrite(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int rc = writeFormatted(Failure::PassCode, fmt, ap);
    va_end(ap);
    return rc;
}

int executeWrite(Failure onFailure, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    int rc = writeFormatted(onFailure, fmt, ap);
    va_end(ap);
    return rc;
}
