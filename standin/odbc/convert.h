// Conversions between the engine's values (text) and what applications ask
// for: text copied into application buffers, column values converted to C
// types, and the ODBC description of each engine column type.
//
// Stateless; the statement owns the per-column progress of SQLGetData.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "standin/engine.h"
#include "standin/odbc/diag.h"

namespace standin::odbc {

// Copies text into an application buffer of bufferLength bytes, cut to
// bufferLength - 1 and always terminated; stores the full length in *length.
// Returns true when the text had to be cut (the caller reports 01004).
template <typename BufLen, typename OutLen>
bool copyText(std::string_view text, SQLPOINTER buffer, BufLen bufferLength, OutLen* length) {
    if (length) *length = static_cast<OutLen>(text.size());
    if (buffer == nullptr) return false;
    if (bufferLength <= 0) return true;
    std::size_t room = static_cast<std::size_t>(bufferLength) - 1;
    std::size_t n = std::min(room, text.size());
    std::memcpy(buffer, text.data(), n);
    static_cast<char*>(buffer)[n] = '\0';
    return n < text.size();
}

// copyText for calls whose truncation is a warning on the handle: returns
// SQL_SUCCESS_WITH_INFO with 01004 when cut, SQL_SUCCESS otherwise.
template <typename BufLen, typename OutLen>
SQLRETURN putText(Diagnostics& diags, std::string_view text, SQLPOINTER buffer, BufLen bufferLength,
                  OutLen* length) {
    if (!copyText(text, buffer, bufferLength, length)) return SQL_SUCCESS;
    diags.addDriver("01004", "String data, right truncated");
    return SQL_SUCCESS_WITH_INFO;
}

// The ODBC description of an engine column.
SQLSMALLINT sqlType(const Column& column, bool odbc3);
SQLULEN columnSize(const Column& column);
SQLSMALLINT decimalDigits(const Column& column);
SQLLEN displaySize(const Column& column);
const char* typeName(const Column& column);

// Converts one column value into the C type the application asked for.
// value is null for SQL NULL. delivered is the SQLGetData progress of this
// value (-1 before the first call), or null for a bound column, which always
// gets the value from its start. Returns SQL_SUCCESS, SQL_SUCCESS_WITH_INFO
// (01004, text cut), SQL_NO_DATA (SQLGetData after the whole value was
// given) or SQL_ERROR with a record in diags.
SQLRETURN convertValue(Diagnostics& diags, const Column& column, const Value& value,
                       SQLSMALLINT cType, SQLPOINTER target, SQLLEN bufferLength, SQLLEN* indicator,
                       SQLLEN* delivered);

// True for the C types convertValue understands.
bool supportedCType(SQLSMALLINT cType);

}  // namespace standin::odbc
