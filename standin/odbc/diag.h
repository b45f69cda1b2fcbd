// Diagnostic records of one handle: what SQLGetDiagRec and SQLGetDiagField
// read back. The entry points clear them at the start of every call on the
// handle except the diagnostic calls themselves, so the driver manager and
// then the application can read the same records again.
#pragma once

#include <sql.h>

#include <string>
#include <string_view>
#include <vector>

#include "standin/engine.h"

namespace standin::odbc {

struct DiagRecord {
    std::string sqlState;
    SQLINTEGER native = 0;
    std::string message;  // with the "[Standin][...]" prefix
};

struct Diagnostics {
    std::vector<DiagRecord> records;
    SQLRETURN returnCode = SQL_SUCCESS;
    SQLLEN rowCount = 0;  // SQL_DIAG_ROW_COUNT of the last execution

    void clear() {
        records.clear();
        returnCode = SQL_SUCCESS;
        rowCount = 0;
    }
    // A record the driver makes itself: native 0, the driver's prefix.
    void addDriver(std::string_view sqlState, std::string_view message);
    // A record the server (the engine) reports: its native number, the server prefix.
    void addServer(const Diag& diag);
};

// Posts the engine's records and maps its status to a return code
// (NoData to SQL_NO_DATA; the statement module softens that for ODBC 2).
SQLRETURN reportEngine(Diagnostics& diags, Status status, const std::vector<Diag>& records);

// Posts a driver record and returns SQL_ERROR, for one-line early exits.
SQLRETURN driverError(Diagnostics& diags, std::string_view sqlState, std::string_view message);

SQLRETURN getDiagRec(const Diagnostics& diags, SQLSMALLINT recNumber, SQLCHAR* state,
                     SQLINTEGER* native, SQLCHAR* message, SQLSMALLINT messageMax,
                     SQLSMALLINT* messageLength);
SQLRETURN getDiagField(const Diagnostics& diags, const std::string& serverName,
                       SQLSMALLINT recNumber, SQLSMALLINT field, SQLPOINTER value,
                       SQLSMALLINT valueMax, SQLSMALLINT* valueLength);

}  // namespace standin::odbc
