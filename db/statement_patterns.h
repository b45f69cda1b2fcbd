// The statement header: the three execution patterns every statement of
// db/ runs through, and the helpers that build their SQL text. Private to
// db/: the table modules (day_records, bookings, booking_writes,
// master_data) include it; nothing outside db/ should.
//
// Owns statementText, the one buffer every SQL text is formatted into just
// before it runs; only formatStatement writes it. A table module formats
// its SQL into statementText with formatStatement, then calls one pattern,
// which executes statementText as it stands. Result columns are
// described by a ColumnSpec table; the patterns bind, fetch and copy from it,
// so every cursor or lookup over the same columns shares one code path.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "frame/fixed_text.h"
#include "frame/run_context.h"

// Large enough for the longest statement (the hourly booking cursor, about
// 900 characters) with a full schema name and every quoted value doubled.
constexpr std::size_t kStatementCapacity = 4096;

extern FixedText<kStatementCapacity> statementText;

// Formats the SQL text into statementText. Returns 0, or -1 when the text
// would be cut or a value given to sqlQuoted did not fit; statementText is
// then empty, so nothing half-built can run.
__attribute__((format(printf, 1, 2))) int formatStatement(const char* fmt, ...);

// The schema that qualifies every table name of every statement.
inline const char* tableSchema() {
    return runContext.schemaName.text;
}

// A text value ready to stand between single quotes.
using QuotedValue = FixedText<128>;

// Copies value into out with every apostrophe doubled, so the value cannot
// end its literal early, and returns out's text for use as a %s argument.
// When the doubled value does not fit, out is emptied and the next
// formatStatement fails.
const char* sqlQuoted(const char* value, QuotedValue& out);

// How a fetched column reaches its record field.
enum class ColumnForm : std::uint8_t {
    Trimmed,      // text, trailing blanks, tabs and line feeds removed
    TimeTrimmed,  // hh:mm:ss text turned into hhmmss, then trimmed
    AsFetched,    // text copied as the driver delivered it
    Number,       // SQL_C_LONG, copied unchanged
    Dropped,      // received and not kept
};

// One result column: its number, C type and buffer length (the buffer
// length decides where an over-long text is cut), and where it goes in the
// record (byte offset and size of the field).
struct ColumnSpec {
    SQLUSMALLINT number;
    SQLSMALLINT cType;
    SQLLEN bufferLength;
    ColumnForm form;
    std::size_t fieldOffset;
    std::size_t fieldSize;
};

// The largest text buffer any column table asks for (BchTrm).
constexpr SQLLEN kMaxColumnBuffer = 256;
constexpr std::size_t kMaxColumns = 18;

// Checks a column table against its record at compile time: columns
// numbered 1..n in order, buffers within the scratch area, numbers bound as
// 4-byte integers into 4-byte fields, every field inside the record.
template <typename Record, std::size_t N>
consteval bool columnsFit(const ColumnSpec (&columns)[N]) {
    if (N > kMaxColumns) return false;
    for (std::size_t i = 0; i < N; ++i) {
        const ColumnSpec& c = columns[i];
        if (c.number != i + 1) return false;
        if (c.bufferLength < 1 || c.bufferLength > kMaxColumnBuffer) return false;
        if (c.fieldOffset + c.fieldSize > sizeof(Record)) return false;
        bool number = c.form == ColumnForm::Number;
        if (number != (c.cType == SQL_C_LONG)) return false;
        if (number && (c.bufferLength != 4 || c.fieldSize != 4)) return false;
        if (!number && c.cType != SQL_C_CHAR) return false;
    }
    return true;
}

// Cursor open: allocates cursor, sets the two cursor attributes and executes
// statementText. Returns 0 (SQL_SUCCESS_WITH_INFO included); -1 when the
// allocation failed, or when the execution failed (diagRecord filled,
// cursor freed and null); any other code unchanged with the cursor open.
int openCursor(SQLHSTMT& cursor);

// Cursor fetch-next into record. Returns 0 with record filled; -1 when the
// cursor is closed or the fetch failed (diagRecord filled, cursor freed and
// null); SQL_NO_DATA after the last row and any other code unchanged, with
// the cursor left open. On any non-zero result record is untouched.
int fetchCursor(SQLHSTMT& cursor, std::span<const ColumnSpec> columns, void* record);

// Cursor close. Returns 0 when the cursor is closed already, else
// SQLFreeHandle's result; the cursor is null afterwards.
int closeCursor(SQLHSTMT& cursor);

// What a single-row lookup returns after a failed fetch.
enum class FetchFailure : std::uint8_t {
    PassCode,  // the fetch's own code, no diagnostics
    Diagnose,  // diagnostics read, kFetchDiagnosed returned
};
constexpr int kFetchDiagnosed = -1000;

// Single-row lookup of statementText on a local handle, no attributes.
// Returns 0 with out filled from the first row; -1 when allocation or
// execution failed (diagRecord filled after an execution); otherwise as
// onFailure says (SQL_NO_DATA when no row matched). out is untouched on any
// non-zero result.
int lookupRow(std::span<const ColumnSpec> columns, void* out,
              FetchFailure onFailure = FetchFailure::PassCode);

// What a write statement returns when its execution fails.
enum class ExecFailure : std::uint8_t {
    PassCode,     // SQL_ERROR (-1)
    NativeError,  // the native error number of the diagnostics, -1 if none
};

// The native error number in diagRecord after a failed call, or -1 when the
// diagnostics carry none (0 would read as success to every caller).
int nativeErrorOrFailure();

// Write statement: executes statementText on a local handle, no attributes.
// Returns -1 when the allocation failed; 0 when the statement did its work
// (SQL_SUCCESS_WITH_INFO included); SQL_NO_DATA when an UPDATE or DELETE
// matched nothing, also from a driver that reports that as success with row
// count 0; after a failed execution diagRecord is filled and the result is as
// onFailure says.
int executeWrite(ExecFailure onFailure = ExecFailure::PassCode);
