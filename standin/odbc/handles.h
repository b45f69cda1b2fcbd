// The stand-in driver's handles: environment, connection and statement, as
// the entry points hand them to the modules below them.
//
// Each handle is owned by the driver manager's matching SQLAllocHandle /
// SQLFreeHandle pair; the connection also owns (and frees on disconnect) the
// statements allocated on it. Only the entry points create or free handles;
// env.cpp, dbc.cpp and stmt.cpp change their fields.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "standin/engine.h"
#include "standin/odbc/diag.h"
#include "standin/odbc/faults.h"

namespace standin::odbc {

// A tag at the start of every handle, so a handle of the wrong kind (or one
// already freed) is refused with SQL_INVALID_HANDLE instead of misread.
enum class HandleKind : std::uint32_t {
    Env = 0x53456e76,
    Dbc = 0x53446263,
    Stmt = 0x53537474,
    Freed = 0xdeadbeef,
};

struct Handle {
    explicit Handle(HandleKind k) : kind(k) {}
    HandleKind kind;
    Diagnostics diags;
};

struct Dbc;
struct Stmt;

struct Env : Handle {
    Env() : Handle(HandleKind::Env) {}
    SQLINTEGER odbcVersion = SQL_OV_ODBC3;
    std::vector<Dbc*> connections;
};

struct Dbc : Handle {
    explicit Dbc(Env* e) : Handle(HandleKind::Dbc), env(e) {}
    Env* env;
    std::unique_ptr<Engine> engine;  // null while not connected
    std::string dsn;
    std::string user;
    std::string database;
    bool autocommit = true;
    SQLUINTEGER loginTimeout = 0;
    SQLUINTEGER connectionTimeout = 0;
    Faults faults;
    std::vector<Stmt*> statements;
    // The statement whose default result set still has unread rows: while
    // set, every other request on this connection is refused as busy.
    Stmt* busyWith = nullptr;

    bool odbc3() const { return env->odbcVersion != SQL_OV_ODBC2; }
};

// One SQLBindCol target, converted into at every fetch.
struct Binding {
    SQLSMALLINT cType = SQL_C_CHAR;
    SQLPOINTER target = nullptr;
    SQLLEN bufferLength = 0;
    SQLLEN* indicator = nullptr;
};

struct Stmt : Handle {
    explicit Stmt(Dbc* d) : Handle(HandleKind::Stmt), dbc(d) {}
    Dbc* dbc;

    // Cursor attributes. Left at these defaults the statement gets a
    // default result set, which keeps the connection busy until it is read.
    SQLULEN cursorType = SQL_CURSOR_FORWARD_ONLY;
    SQLULEN concurrency = SQL_CONCUR_READ_ONLY;
    SQLULEN scrollable = SQL_NONSCROLLABLE;
    SQLULEN sensitivity = SQL_UNSPECIFIED;
    SQLULEN queryTimeout = 0;
    SQLULEN maxRows = 0;
    SQLULEN noScan = SQL_NOSCAN_OFF;
    SQLULEN* rowsFetchedPtr = nullptr;
    SQLUSMALLINT* rowStatusPtr = nullptr;

    std::string preparedText;
    bool prepared = false;

    // The last execution's outcome; the rows stay here while the cursor is open.
    Result result;
    bool executed = false;
    bool cursorOpen = false;
    std::size_t nextRow = 0;  // index of the row the next fetch delivers
    bool onRow = false;       // a fetch delivered a row that SQLGetData may read
    std::vector<SQLLEN>
        delivered;  // per column of the current row: bytes SQLGetData gave, -1 none yet
    std::int64_t failFetchAfter = -1;  // armed fetch fault: rows allowed before it fires
    std::vector<Binding> bindings;     // index = column number - 1; cType 0 = unbound

    bool serverCursor() const {
        return cursorType != SQL_CURSOR_FORWARD_ONLY || concurrency != SQL_CONCUR_READ_ONLY ||
               scrollable != SQL_NONSCROLLABLE || sensitivity != SQL_UNSPECIFIED;
    }
};

// env.cpp
SQLRETURN setEnvAttr(Env& env, SQLINTEGER attribute, SQLPOINTER value);
SQLRETURN getEnvAttr(Env& env, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER* length);

// dbc.cpp
SQLRETURN connect(Dbc& dbc, const std::string& dsn, const std::string& user,
                  const std::string& password);
SQLRETURN driverConnect(Dbc& dbc, const std::string& connectionString, SQLCHAR* out,
                        SQLSMALLINT outMax, SQLSMALLINT* outLength);
SQLRETURN disconnect(Dbc& dbc);
SQLRETURN setConnectAttr(Dbc& dbc, SQLINTEGER attribute, SQLPOINTER value);
SQLRETURN getConnectAttr(Dbc& dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER bufferLength,
                         SQLINTEGER* length);
SQLRETURN getInfo(Dbc& dbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT bufferLength,
                  SQLSMALLINT* length);
SQLRETURN endTransaction(Dbc& dbc, bool commit);
// Posts the busy error on h and returns SQL_ERROR when another statement's
// default result set is pending on dbc; SQL_SUCCESS otherwise.
SQLRETURN checkNotBusy(Dbc& dbc, const Stmt* requester, Handle& h);
void freeStatement(Stmt* stmt);

// stmt.cpp
SQLRETURN execDirect(Stmt& stmt, std::string sql);
SQLRETURN prepare(Stmt& stmt, std::string sql);
SQLRETURN execute(Stmt& stmt);
SQLRETURN typeInfo(Stmt& stmt, SQLSMALLINT dataType);
SQLRETURN numResultCols(Stmt& stmt, SQLSMALLINT* count);
SQLRETURN describeCol(Stmt& stmt, SQLUSMALLINT column, SQLCHAR* name, SQLSMALLINT nameMax,
                      SQLSMALLINT* nameLength, SQLSMALLINT* dataType, SQLULEN* columnSize,
                      SQLSMALLINT* digits, SQLSMALLINT* nullable);
SQLRETURN colAttribute(Stmt& stmt, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER text,
                       SQLSMALLINT textMax, SQLSMALLINT* textLength, SQLLEN* number);
SQLRETURN bindCol(Stmt& stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target,
                  SQLLEN bufferLength, SQLLEN* indicator);
SQLRETURN fetch(Stmt& stmt);
SQLRETURN getData(Stmt& stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target,
                  SQLLEN bufferLength, SQLLEN* indicator);
SQLRETURN rowCount(Stmt& stmt, SQLLEN* count);
SQLRETURN moreResults(Stmt& stmt);
SQLRETURN closeCursor(Stmt& stmt, bool mustBeOpen);
SQLRETURN setStmtAttr(Stmt& stmt, SQLINTEGER attribute, SQLPOINTER value);
SQLRETURN getStmtAttr(Stmt& stmt, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER* length);

}  // namespace standin::odbc
