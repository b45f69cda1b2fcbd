// Connections: logging in with the data source's keywords, connection
// attributes, SQLGetInfo, transactions, and the busy rule that stands in for
// SQL Server's one pending default result set per connection.
#include <odbcinst.h>

#include <cstdlib>
#include <map>
#include <strings.h>

#include "standin/odbc/convert.h"
#include "standin/odbc/handles.h"

namespace standin::odbc {

namespace {

struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    }
};
using Keywords = std::map<std::string, std::string, NoCaseLess>;

// The keywords a data source section may hold for this driver.
constexpr const char* dsnKeywords[] = {
    "Database",    "ServerTime",     "User",   "Password", "FailOn",  "FailAfter", "FailNative",
    "FailFetchOn", "FailFetchAfter", "InfoOn", "Trace",    "NoCount", "ThrowOn"};

Keywords readDataSource(const std::string& dsn) {
    Keywords keys;
    if (dsn.empty()) return keys;
    for (const char* key : dsnKeywords) {
        char buf[2048] = {0};
        SQLGetPrivateProfileString(dsn.c_str(), key, "", buf, sizeof buf, "odbc.ini");
        if (buf[0] != '\0') keys[key] = buf;
    }
    return keys;
}

std::string keyword(const Keywords& keys, const char* name) {
    auto it = keys.find(name);
    return it == keys.end() ? std::string() : it->second;
}

// A whole decimal number, or fallback when the keyword is absent.
bool numberKeyword(const Keywords& keys, const char* name, std::int64_t fallback,
                   std::int64_t* out) {
    std::string text = keyword(keys, name);
    if (text.empty()) {
        *out = fallback;
        return true;
    }
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0') return false;
    *out = v;
    return true;
}

// Logs in: checks the login, reads fault and trace settings, opens the engine.
SQLRETURN openConnection(Dbc& dbc, const std::string& dsn, const Keywords& keys,
                         const std::string& user, const std::string& password) {
    if (dbc.engine) return driverError(dbc.diags, "08002", "Connection name in use");
    std::string requiredUser = keyword(keys, "User");
    if (!requiredUser.empty() && (strcasecmp(requiredUser.c_str(), user.c_str()) != 0 ||
                                  keyword(keys, "Password") != password)) {
        dbc.diags.addServer({"28000", 18456, "Login failed for user '" + user + "'."});
        return SQL_ERROR;
    }
    Options options;
    options.databasePath = keyword(keys, "Database");
    options.serverTime = keyword(keys, "ServerTime");
    std::int64_t noCount = 0;
    if (!numberKeyword(keys, "NoCount", 0, &noCount) || (noCount != 0 && noCount != 1))
        return driverError(dbc.diags, "08001", "NoCount must be 0 or 1");
    options.noCount = noCount == 1;
    // One lock serialises every call into the driver (see entry.cpp).
    options.callsSerialised = true;
    if (options.databasePath.empty())
        return driverError(dbc.diags, "08001", "Data source '" + dsn + "' names no Database file");
    Faults faults;
    faults.failOn = keyword(keys, "FailOn");
    faults.failFetchOn = keyword(keys, "FailFetchOn");
    faults.infoOn = keyword(keys, "InfoOn");
    faults.throwOn = keyword(keys, "ThrowOn");
    faults.tracePath = keyword(keys, "Trace");
    std::int64_t native = 0;
    if (!numberKeyword(keys, "FailAfter", 0, &faults.failAfter) ||
        !numberKeyword(keys, "FailNative", 50000, &native) ||
        !numberKeyword(keys, "FailFetchAfter", 0, &faults.failFetchAfter))
        return driverError(dbc.diags, "08001",
                           "FailAfter, FailNative and FailFetchAfter must be whole numbers");
    faults.failNative = static_cast<std::int32_t>(native);

    Diag error;
    std::unique_ptr<Engine> engine = Engine::open(options, &error);
    if (!engine) {
        if (error.sqlState.empty()) error.sqlState = "08001";
        dbc.diags.addServer(error);
        return SQL_ERROR;
    }
    if (!dbc.autocommit) engine->setAutocommit(false);
    dbc.engine = std::move(engine);
    dbc.dsn = dsn;
    dbc.user = user;
    dbc.database = options.databasePath;
    dbc.faults = faults;
    return SQL_SUCCESS;
}

// Splits "KEY=value;KEY={va;lue};" into keys and values.
Keywords parseConnectionString(const std::string& text) {
    Keywords keys;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t eq = text.find('=', pos);
        if (eq == std::string::npos) break;
        std::string key = text.substr(pos, eq - pos);
        key.erase(0, key.find_first_not_of(' '));
        key.erase(key.find_last_not_of(' ') + 1);
        std::string value;
        std::size_t end;
        if (eq + 1 < text.size() && text[eq + 1] == '{') {
            std::size_t close = text.find('}', eq + 2);
            if (close == std::string::npos) close = text.size();
            value = text.substr(eq + 2, close - eq - 2);
            end = text.find(';', close);
        } else {
            end = text.find(';', eq + 1);
            value = text.substr(eq + 1, (end == std::string::npos ? text.size() : end) - eq - 1);
        }
        if (!key.empty()) keys[key] = value;
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    return keys;
}

struct InfoValue {
    SQLUSMALLINT type;
    enum { Text, Small, Integer } kind;
    const char* text;
    SQLUINTEGER number;
};

// The fixed answers of SQLGetInfo; the connection-dependent ones are in getInfo.
constexpr InfoValue infoTable[] = {
    {SQL_ACTIVE_CONNECTIONS, InfoValue::Small, nullptr, 0},
    {SQL_MAX_CONCURRENT_ACTIVITIES, InfoValue::Small, nullptr, 1},
    {SQL_DRIVER_NAME, InfoValue::Text, "libstandinodbc.so", 0},
    {SQL_DRIVER_VER, InfoValue::Text, "01.00.0000", 0},
    {SQL_DRIVER_ODBC_VER, InfoValue::Text, "03.00", 0},
    {SQL_ODBC_VER, InfoValue::Text, "03.00", 0},
    {SQL_DBMS_NAME, InfoValue::Text, "Microsoft SQL Server", 0},
    {SQL_DBMS_VER, InfoValue::Text, "15.00.0000", 0},
    {SQL_FETCH_DIRECTION, InfoValue::Integer, nullptr, SQL_FD_FETCH_NEXT},
    {SQL_ODBC_API_CONFORMANCE, InfoValue::Small, nullptr, SQL_OAC_LEVEL1},
    {SQL_ODBC_SQL_CONFORMANCE, InfoValue::Small, nullptr, SQL_OSC_MINIMUM},
    {SQL_ROW_UPDATES, InfoValue::Text, "N", 0},
    {SQL_SEARCH_PATTERN_ESCAPE, InfoValue::Text, "\\", 0},
    {SQL_ACCESSIBLE_TABLES, InfoValue::Text, "Y", 0},
    {SQL_ACCESSIBLE_PROCEDURES, InfoValue::Text, "N", 0},
    {SQL_PROCEDURES, InfoValue::Text, "N", 0},
    {SQL_CONCAT_NULL_BEHAVIOR, InfoValue::Small, nullptr, SQL_CB_NULL},
    {SQL_CURSOR_COMMIT_BEHAVIOR, InfoValue::Small, nullptr, SQL_CB_PRESERVE},
    {SQL_CURSOR_ROLLBACK_BEHAVIOR, InfoValue::Small, nullptr, SQL_CB_PRESERVE},
    {SQL_DATA_SOURCE_READ_ONLY, InfoValue::Text, "N", 0},
    {SQL_DEFAULT_TXN_ISOLATION, InfoValue::Integer, nullptr, SQL_TXN_READ_COMMITTED},
    {SQL_TXN_ISOLATION_OPTION, InfoValue::Integer, nullptr, SQL_TXN_READ_COMMITTED},
    {SQL_TXN_CAPABLE, InfoValue::Small, nullptr, SQL_TC_ALL},
    {SQL_MULTIPLE_ACTIVE_TXN, InfoValue::Text, "Y", 0},
    {SQL_MULT_RESULT_SETS, InfoValue::Text, "N", 0},
    {SQL_EXPRESSIONS_IN_ORDERBY, InfoValue::Text, "Y", 0},
    {SQL_IDENTIFIER_CASE, InfoValue::Small, nullptr, SQL_IC_MIXED},
    {SQL_QUOTED_IDENTIFIER_CASE, InfoValue::Small, nullptr, SQL_IC_MIXED},
    {SQL_IDENTIFIER_QUOTE_CHAR, InfoValue::Text, "\"", 0},
    {SQL_MAX_COLUMN_NAME_LEN, InfoValue::Small, nullptr, 128},
    {SQL_MAX_CURSOR_NAME_LEN, InfoValue::Small, nullptr, 128},
    {SQL_MAX_SCHEMA_NAME_LEN, InfoValue::Small, nullptr, 128},
    {SQL_MAX_CATALOG_NAME_LEN, InfoValue::Small, nullptr, 128},
    {SQL_MAX_TABLE_NAME_LEN, InfoValue::Small, nullptr, 128},
    {SQL_MAX_USER_NAME_LEN, InfoValue::Small, nullptr, 128},
    {SQL_MAX_IDENTIFIER_LEN, InfoValue::Small, nullptr, 128},
    {SQL_MAX_STATEMENT_LEN, InfoValue::Integer, nullptr, 0},
    {SQL_OUTER_JOINS, InfoValue::Text, "N", 0},
    {SQL_SCHEMA_TERM, InfoValue::Text, "schema", 0},
    {SQL_PROCEDURE_TERM, InfoValue::Text, "stored procedure", 0},
    {SQL_CATALOG_TERM, InfoValue::Text, "database", 0},
    {SQL_CATALOG_NAME_SEPARATOR, InfoValue::Text, ".", 0},
    {SQL_CATALOG_NAME, InfoValue::Text, "N", 0},
    {SQL_TABLE_TERM, InfoValue::Text, "table", 0},
    {SQL_SCROLL_CONCURRENCY, InfoValue::Integer, nullptr, SQL_SCCO_READ_ONLY | SQL_SCCO_LOCK},
    {SQL_SCROLL_OPTIONS, InfoValue::Integer, nullptr, SQL_SO_FORWARD_ONLY | SQL_SO_STATIC},
    {SQL_CONVERT_FUNCTIONS, InfoValue::Integer, nullptr, SQL_FN_CVT_CONVERT},
    {SQL_NUMERIC_FUNCTIONS, InfoValue::Integer, nullptr, 0},
    {SQL_STRING_FUNCTIONS, InfoValue::Integer, nullptr, 0},
    {SQL_SYSTEM_FUNCTIONS, InfoValue::Integer, nullptr, 0},
    {SQL_TIMEDATE_FUNCTIONS, InfoValue::Integer, nullptr, 0},
    {SQL_INTEGRITY, InfoValue::Text, "Y", 0},
    {SQL_CORRELATION_NAME, InfoValue::Small, nullptr, SQL_CN_ANY},
    {SQL_NON_NULLABLE_COLUMNS, InfoValue::Small, nullptr, SQL_NNC_NON_NULL},
    {SQL_POS_OPERATIONS, InfoValue::Integer, nullptr, 0},
    {SQL_POSITIONED_STATEMENTS, InfoValue::Integer, nullptr, 0},
    {SQL_GETDATA_EXTENSIONS, InfoValue::Integer, nullptr,
     SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND},
    {SQL_BOOKMARK_PERSISTENCE, InfoValue::Integer, nullptr, 0},
    {SQL_STATIC_SENSITIVITY, InfoValue::Integer, nullptr, 0},
    {SQL_FILE_USAGE, InfoValue::Small, nullptr, SQL_FILE_NOT_SUPPORTED},
    {SQL_NULL_COLLATION, InfoValue::Small, nullptr, SQL_NC_LOW},
    {SQL_ALTER_TABLE, InfoValue::Integer, nullptr, 0},
    {SQL_COLUMN_ALIAS, InfoValue::Text, "Y", 0},
    {SQL_GROUP_BY, InfoValue::Small, nullptr, SQL_GB_NOT_SUPPORTED},
    {SQL_KEYWORDS, InfoValue::Text, "", 0},
    {SQL_ORDER_BY_COLUMNS_IN_SELECT, InfoValue::Text, "N", 0},
    {SQL_SCHEMA_USAGE, InfoValue::Integer, nullptr,
     SQL_SU_DML_STATEMENTS | SQL_SU_TABLE_DEFINITION | SQL_SU_INDEX_DEFINITION},
    {SQL_CATALOG_USAGE, InfoValue::Integer, nullptr, 0},
    {SQL_SPECIAL_CHARACTERS, InfoValue::Text, "#@$", 0},
    {SQL_SUBQUERIES, InfoValue::Integer, nullptr, 0},
    {SQL_UNION, InfoValue::Integer, nullptr, 0},
    {SQL_MAX_ROW_SIZE_INCLUDES_LONG, InfoValue::Text, "N", 0},
    {SQL_NEED_LONG_DATA_LEN, InfoValue::Text, "N", 0},
    {SQL_LIKE_ESCAPE_CLAUSE, InfoValue::Text, "N", 0},
    {SQL_CATALOG_LOCATION, InfoValue::Small, nullptr, SQL_CL_START},
    {SQL_DESCRIBE_PARAMETER, InfoValue::Text, "N", 0},
    {SQL_ODBC_INTERFACE_CONFORMANCE, InfoValue::Integer, nullptr, SQL_OIC_CORE},
    {SQL_SQL_CONFORMANCE, InfoValue::Integer, nullptr, SQL_SC_SQL92_ENTRY},
    {SQL_DATETIME_LITERALS, InfoValue::Integer, nullptr, 0},
    {SQL_BATCH_SUPPORT, InfoValue::Integer, nullptr, 0},
    {SQL_BATCH_ROW_COUNT, InfoValue::Integer, nullptr, 0},
    {SQL_PARAM_ARRAY_ROW_COUNTS, InfoValue::Integer, nullptr, SQL_PARC_NO_BATCH},
    {SQL_PARAM_ARRAY_SELECTS, InfoValue::Integer, nullptr, SQL_PAS_NO_SELECT},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1, InfoValue::Integer, nullptr, SQL_CA1_NEXT},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2, InfoValue::Integer, nullptr,
     SQL_CA2_READ_ONLY_CONCURRENCY | SQL_CA2_LOCK_CONCURRENCY},
    {SQL_STATIC_CURSOR_ATTRIBUTES1, InfoValue::Integer, nullptr, SQL_CA1_NEXT},
    {SQL_STATIC_CURSOR_ATTRIBUTES2, InfoValue::Integer, nullptr,
     SQL_CA2_READ_ONLY_CONCURRENCY | SQL_CA2_LOCK_CONCURRENCY},
    {SQL_DYNAMIC_CURSOR_ATTRIBUTES1, InfoValue::Integer, nullptr, 0},
    {SQL_DYNAMIC_CURSOR_ATTRIBUTES2, InfoValue::Integer, nullptr, 0},
    {SQL_KEYSET_CURSOR_ATTRIBUTES1, InfoValue::Integer, nullptr, 0},
    {SQL_KEYSET_CURSOR_ATTRIBUTES2, InfoValue::Integer, nullptr, 0},
    {SQL_CURSOR_SENSITIVITY, InfoValue::Integer, nullptr, SQL_INSENSITIVE},
    {SQL_ASYNC_MODE, InfoValue::Integer, nullptr, SQL_AM_NONE},
    {SQL_MAX_ASYNC_CONCURRENT_STATEMENTS, InfoValue::Integer, nullptr, 0},
    {SQL_XOPEN_CLI_YEAR, InfoValue::Text, "1995", 0},
    {SQL_COLLATION_SEQ, InfoValue::Text, "SQL_Latin1_General_CP1_CI_AS", 0},
};

// A fixed-size answer of SQLGetInfo or SQLGetConnectAttr.
template <typename T, typename Len>
SQLRETURN putNumber(SQLPOINTER value, Len* length, T number) {
    if (value) *static_cast<T*>(value) = number;
    if (length) *length = sizeof(T);
    return SQL_SUCCESS;
}

SQLRETURN notImplemented(Diagnostics& diags) {
    return driverError(diags, "HYC00", "Optional feature not implemented");
}

}  // namespace

SQLRETURN connect(Dbc& dbc, const std::string& dsn, const std::string& user,
                  const std::string& password) {
    return openConnection(dbc, dsn, readDataSource(dsn), user, password);
}

SQLRETURN driverConnect(Dbc& dbc, const std::string& connectionString, SQLCHAR* out,
                        SQLSMALLINT outMax, SQLSMALLINT* outLength) {
    Keywords given = parseConnectionString(connectionString);
    std::string dsn = keyword(given, "DSN");
    // Keywords in the connection string override those of the data source.
    Keywords keys = readDataSource(dsn);
    for (const char* key : dsnKeywords)
        if (given.count(key)) keys[key] = given[key];
    SQLRETURN rc = openConnection(dbc, dsn, keys, keyword(given, "UID"), keyword(given, "PWD"));
    if (rc != SQL_SUCCESS) return rc;
    return putText(dbc.diags, connectionString, out, outMax, outLength);
}

void freeStatement(Stmt* stmt) {
    Dbc& dbc = *stmt->dbc;
    if (dbc.busyWith == stmt) dbc.busyWith = nullptr;
    std::erase(dbc.statements, stmt);
    stmt->kind = HandleKind::Freed;
    delete stmt;
}

SQLRETURN disconnect(Dbc& dbc) {
    if (!dbc.engine) return driverError(dbc.diags, "08003", "Connection not open");
    while (!dbc.statements.empty()) freeStatement(dbc.statements.back());
    dbc.engine.reset();
    return SQL_SUCCESS;
}

SQLRETURN checkNotBusy(Dbc& dbc, const Stmt* requester, Handle& h) {
    if (dbc.busyWith == nullptr || dbc.busyWith == requester) return SQL_SUCCESS;
    return driverError(h.diags, "HY000", "Connection is busy with results for another command");
}

SQLRETURN setConnectAttr(Dbc& dbc, SQLINTEGER attribute, SQLPOINTER value) {
    auto v = static_cast<SQLULEN>(reinterpret_cast<SQLLEN>(value));
    switch (attribute) {
        case SQL_ATTR_AUTOCOMMIT:
            if (v != SQL_AUTOCOMMIT_ON && v != SQL_AUTOCOMMIT_OFF)
                return driverError(dbc.diags, "HY024", "Invalid attribute value");
            if (dbc.engine && checkNotBusy(dbc, nullptr, dbc) != SQL_SUCCESS) return SQL_ERROR;
            dbc.autocommit = v == SQL_AUTOCOMMIT_ON;
            if (dbc.engine) dbc.engine->setAutocommit(dbc.autocommit);
            return SQL_SUCCESS;
        case SQL_ATTR_LOGIN_TIMEOUT:
            dbc.loginTimeout = static_cast<SQLUINTEGER>(v);
            return SQL_SUCCESS;
        case SQL_ATTR_CONNECTION_TIMEOUT:
            dbc.connectionTimeout = static_cast<SQLUINTEGER>(v);
            return SQL_SUCCESS;
        case SQL_ATTR_ACCESS_MODE:
            return v == SQL_MODE_READ_WRITE ? SQL_SUCCESS : notImplemented(dbc.diags);
        case SQL_ATTR_TXN_ISOLATION:
            return v == SQL_TXN_READ_COMMITTED ? SQL_SUCCESS : notImplemented(dbc.diags);
        case SQL_ATTR_METADATA_ID:
            return v == SQL_FALSE ? SQL_SUCCESS : notImplemented(dbc.diags);
        case SQL_ATTR_ASYNC_ENABLE:
            return v == SQL_ASYNC_ENABLE_OFF ? SQL_SUCCESS : notImplemented(dbc.diags);
        case SQL_ATTR_ANSI_APP:
        case SQL_ATTR_QUIET_MODE:
        case SQL_ATTR_PACKET_SIZE:
            // Informative only: this driver never prompts and has no network packets.
            return SQL_SUCCESS;
        case SQL_ATTR_CURRENT_CATALOG:
            return notImplemented(dbc.diags);
        default:
            return driverError(dbc.diags, "HY092", "Invalid attribute/option identifier");
    }
}

SQLRETURN getConnectAttr(Dbc& dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER bufferLength,
                         SQLINTEGER* length) {
    switch (attribute) {
        case SQL_ATTR_AUTOCOMMIT:
            return putNumber<SQLUINTEGER>(value, length,
                                          dbc.autocommit ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF);
        case SQL_ATTR_LOGIN_TIMEOUT:
            return putNumber<SQLUINTEGER>(value, length, dbc.loginTimeout);
        case SQL_ATTR_CONNECTION_TIMEOUT:
            return putNumber<SQLUINTEGER>(value, length, dbc.connectionTimeout);
        case SQL_ATTR_ACCESS_MODE:
            return putNumber<SQLUINTEGER>(value, length, SQL_MODE_READ_WRITE);
        case SQL_ATTR_TXN_ISOLATION:
            return putNumber<SQLUINTEGER>(value, length, SQL_TXN_READ_COMMITTED);
        case SQL_ATTR_METADATA_ID:
            return putNumber<SQLUINTEGER>(value, length, SQL_FALSE);
        case SQL_ATTR_ASYNC_ENABLE:
            return putNumber<SQLULEN>(value, length, SQL_ASYNC_ENABLE_OFF);
        case SQL_ATTR_PACKET_SIZE:
            return putNumber<SQLUINTEGER>(value, length, 4096);
        case SQL_ATTR_CONNECTION_DEAD:
            return putNumber<SQLUINTEGER>(value, length, dbc.engine ? SQL_CD_FALSE : SQL_CD_TRUE);
        case SQL_ATTR_CURRENT_CATALOG:
            return putText(dbc.diags, dbc.database, value, bufferLength, length);
        default:
            return driverError(dbc.diags, "HY092", "Invalid attribute/option identifier");
    }
}

SQLRETURN getInfo(Dbc& dbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT bufferLength,
                  SQLSMALLINT* length) {
    switch (type) {
        case SQL_DATA_SOURCE_NAME:
        case SQL_SERVER_NAME:
            return putText(dbc.diags, dbc.dsn, value, bufferLength, length);
        case SQL_DATABASE_NAME:
            return putText(dbc.diags, dbc.database, value, bufferLength, length);
        case SQL_USER_NAME:
            return putText(dbc.diags, dbc.user, value, bufferLength, length);
        default:
            break;
    }
    for (const InfoValue& info : infoTable) {
        if (info.type != type) continue;
        switch (info.kind) {
            case InfoValue::Text:
                return putText(dbc.diags, info.text, value, bufferLength, length);
            case InfoValue::Small:
                return putNumber<SQLUSMALLINT>(value, length,
                                               static_cast<SQLUSMALLINT>(info.number));
            case InfoValue::Integer:
                return putNumber<SQLUINTEGER>(value, length, info.number);
        }
    }
    return driverError(dbc.diags, "HY096", "Information type out of range");
}

SQLRETURN endTransaction(Dbc& dbc, bool commit) {
    if (!dbc.engine) return driverError(dbc.diags, "08003", "Connection not open");
    if (checkNotBusy(dbc, nullptr, dbc) != SQL_SUCCESS) return SQL_ERROR;
    Result r = dbc.engine->endTransaction(commit);
    return reportEngine(dbc.diags, r.status, r.diags);
}

}  // namespace standin::odbc
