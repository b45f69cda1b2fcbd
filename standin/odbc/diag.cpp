// Diagnostic records: building them with the right prefix and native number,
// and reading them back through SQLGetDiagRec and SQLGetDiagField.
#include "standin/odbc/diag.h"

#include <sqlext.h>

#include "standin/odbc/convert.h"

namespace standin::odbc {

namespace {

constexpr std::string_view driverPrefix = "[Standin][ODBC Driver]";
constexpr std::string_view serverPrefix = "[Standin][SQL Server]";

// SQLSTATEs ODBC defines itself come from "ODBC 3.0"; the rest from ISO 9075.
const char* classOrigin(const std::string& state) {
    static const char* const odbcClasses[] = {"01S", "07S", "08S", "21S", "25S", "42S", "HY", "IM"};
    for (const char* prefix : odbcClasses)
        if (state.starts_with(prefix)) return "ODBC 3.0";
    return "ISO 9075";
}

}  // namespace

void Diagnostics::addDriver(std::string_view sqlState, std::string_view message) {
    records.push_back({std::string(sqlState), 0, std::string(driverPrefix) + std::string(message)});
}

void Diagnostics::addServer(const Diag& diag) {
    records.push_back({diag.sqlState, diag.native, std::string(serverPrefix) + diag.message});
}

SQLRETURN driverError(Diagnostics& diags, std::string_view sqlState, std::string_view message) {
    diags.addDriver(sqlState, message);
    return SQL_ERROR;
}

SQLRETURN reportEngine(Diagnostics& diags, Status status, const std::vector<Diag>& records) {
    for (const Diag& d : records) diags.addServer(d);
    switch (status) {
        case Status::Success:
            return SQL_SUCCESS;
        case Status::SuccessWithInfo:
            return SQL_SUCCESS_WITH_INFO;
        case Status::NoData:
            return SQL_NO_DATA;
        case Status::Error:
            return SQL_ERROR;
    }
    return SQL_ERROR;
}

SQLRETURN getDiagRec(const Diagnostics& diags, SQLSMALLINT recNumber, SQLCHAR* state,
                     SQLINTEGER* native, SQLCHAR* message, SQLSMALLINT messageMax,
                     SQLSMALLINT* messageLength) {
    if (recNumber < 1 || messageMax < 0) return SQL_ERROR;
    if (static_cast<std::size_t>(recNumber) > diags.records.size()) return SQL_NO_DATA;
    const DiagRecord& rec = diags.records[recNumber - 1];
    if (state) copyText(rec.sqlState, state, 6, static_cast<SQLSMALLINT*>(nullptr));
    if (native) *native = rec.native;
    bool cut = copyText(rec.message, message, messageMax, messageLength);
    return cut ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN getDiagField(const Diagnostics& diags, const std::string& serverName,
                       SQLSMALLINT recNumber, SQLSMALLINT field, SQLPOINTER value,
                       SQLSMALLINT valueMax, SQLSMALLINT* valueLength) {
    auto text = [&](std::string_view s) {
        return copyText(s, value, valueMax, valueLength) ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
    };
    // Header fields, whatever the record number.
    switch (field) {
        case SQL_DIAG_NUMBER:
            if (value)
                *static_cast<SQLINTEGER*>(value) = static_cast<SQLINTEGER>(diags.records.size());
            return SQL_SUCCESS;
        case SQL_DIAG_RETURNCODE:
            if (value) *static_cast<SQLRETURN*>(value) = diags.returnCode;
            return SQL_SUCCESS;
        case SQL_DIAG_ROW_COUNT:
            if (value) *static_cast<SQLLEN*>(value) = diags.rowCount;
            return SQL_SUCCESS;
        case SQL_DIAG_CURSOR_ROW_COUNT:
            if (value) *static_cast<SQLLEN*>(value) = 0;
            return SQL_SUCCESS;
        case SQL_DIAG_DYNAMIC_FUNCTION:
            return text("");
        case SQL_DIAG_DYNAMIC_FUNCTION_CODE:
            if (value) *static_cast<SQLINTEGER*>(value) = SQL_DIAG_UNKNOWN_STATEMENT;
            return SQL_SUCCESS;
        default:
            break;
    }
    if (recNumber < 1) return SQL_ERROR;
    if (static_cast<std::size_t>(recNumber) > diags.records.size()) return SQL_NO_DATA;
    const DiagRecord& rec = diags.records[recNumber - 1];
    switch (field) {
        case SQL_DIAG_SQLSTATE:
            return text(rec.sqlState);
        case SQL_DIAG_NATIVE:
            if (value) *static_cast<SQLINTEGER*>(value) = rec.native;
            return SQL_SUCCESS;
        case SQL_DIAG_MESSAGE_TEXT:
            return text(rec.message);
        case SQL_DIAG_CLASS_ORIGIN:
        case SQL_DIAG_SUBCLASS_ORIGIN:
            return text(classOrigin(rec.sqlState));
        case SQL_DIAG_CONNECTION_NAME:
            return text("");
        case SQL_DIAG_SERVER_NAME:
            return text(serverName);
        case SQL_DIAG_ROW_NUMBER:
            if (value) *static_cast<SQLLEN*>(value) = SQL_ROW_NUMBER_UNKNOWN;
            return SQL_SUCCESS;
        case SQL_DIAG_COLUMN_NUMBER:
            if (value) *static_cast<SQLINTEGER*>(value) = SQL_COLUMN_NUMBER_UNKNOWN;
            return SQL_SUCCESS;
        default:
            return SQL_ERROR;
    }
}

}  // namespace standin::odbc
