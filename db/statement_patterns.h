// The statement header: the three execution patterns every statement of
// db/ runs through. Private to db/: the table modules (day_records,
// bookings, booking_writes, master_data, session) include it; nothing
// outside db/ may (the build's layer check says so).
//
// A statement is one call: the pattern takes the SQL format and its
// arguments (checked by the compiler like printf's), formats them into a
// buffer private to the pattern module and runs the result; a text that
// would not fit the buffer runs nothing and fails as -1. Text values go in
// as quoted(field), whose room follows from the field's type, so no value
// is ever cut. Result columns are described by a ColumnSpec table; the
// patterns bind, fetch and copy from it, so every cursor or lookup over the
// same columns shares one code path.
#pragma once

#include "frame/platform_odbc.h"

#include <cstddef>
#include <cstdint>
#include <span>

#include "frame/fixed_text.h"
#include "frame/run_context.h"

// Large enough for the longest statement (the hourly booking cursor, about
// 900 characters) with a full schema name and every quoted value doubled.
constexpr std::size_t kStatementCapacity = 4096;

// The schema that qualifies every table name of every statement.
inline const char* tableSchema() {
    return runContext.schemaName.text;
}

// Copies value into out (room for capacity bytes) with every apostrophe
// doubled, stopping at whole characters before out is full. Returns out.
const char* quoteInto(const char* value, char* out, std::size_t capacity);

// The text of a FixedText<N> ready to stand between single quotes: every
// apostrophe doubled. N-1 apostrophes double into 2N-2 characters, so the
// quoted form of any value of the field fits and none is cut. Pass
// quoted(field).text as a %s argument; the temporary lives to the end of
// the call.
template <std::size_t N>
FixedText<2 * N - 1> quoted(const FixedText<N>& value) {
    FixedText<2 * N - 1> out{};
    quoteInto(value.text, out.text, out.capacity);
    return out;
}

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

// Cursor open: formats the statement, allocates cursor, sets the two
// cursor attributes and executes. Returns 0 (SQL_SUCCESS_WITH_INFO
// included); -1 when the text did not fit or the allocation failed, or when
// the execution failed (diagRecord filled, cursor freed and null); any
// other code unchanged with the cursor open.
__attribute__((format(printf, 2, 3))) int openCursor(SQLHSTMT& cursor, const char* fmt, ...);

// Cursor fetch-next into record. Returns 0 with record filled; -1 when the
// cursor is closed or the fetch failed (diagRecord filled, cursor freed and
// null); SQL_NO_DATA after the last row and any other code unchanged, with
// the cursor left open. On any non-zero result record is untouched.
int fetchCursor(SQLHSTMT& cursor, std::span<const ColumnSpec> columns, void* record);

// Cursor close. Returns 0 when the cursor is closed already, else
// SQLFreeHandle's result; the cursor is null afterwards.
int closeCursor(SQLHSTMT& cursor);

// How a lookup reports a fetch that brings no row, and a write a failed
// execution: ODBC's own code, or the server's native error number from the
// diagnostics (-1 when they carry none, since 0 would read as success).
enum class Failure : std::uint8_t {
    PassCode,
    NativeError,
};

// Single-row lookup on a local handle, no attributes: formats and executes
// the statement, reads the first row into out. Returns 0 with out filled;
// -1 when the text did not fit, the allocation or the execution failed
// (diagRecord filled after an execution); otherwise the fetch's code
// (SQL_NO_DATA when no row matched), or with Failure::NativeError the
// native error of the fetch's diagnostics. out is untouched on any non-zero
// result.
__attribute__((format(printf, 3, 4))) int lookupRow(std::span<const ColumnSpec> columns, void* out,
                                                    const char* fmt, ...);
__attribute__((format(printf, 4, 5))) int lookupRow(Failure onFailure,
                                                    std::span<const ColumnSpec> columns, void* out,
                                                    const char* fmt, ...);

// Write statement on a local handle, no attributes: formats and executes.
// Returns -1 when the text did not fit or the allocation failed; 0 when the
// statement did its work (SQL_SUCCESS_WITH_INFO included); SQL_NO_DATA when
// an UPDATE or DELETE matched nothing, also from a driver that reports that
// as success with row count 0; after a failed execution diagRecord is
// filled and the result is SQL_ERROR (-1), or with Failure::NativeError the
// native error.
__attribute__((format(printf, 1, 2))) int executeWrite(const char* fmt, ...);
__attribute__((format(printf, 2, 3))) int executeWrite(Failure onFailure, const char* fmt, ...);
