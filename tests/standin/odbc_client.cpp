// The tests' ODBC client (see odbc_client.h).
#include "tests/standin/odbc_client.h"

namespace st {

std::vector<DiagRec> diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    std::vector<DiagRec> out;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLCHAR state[6] = {0};
        SQLCHAR message[1024] = {0};
        SQLINTEGER native = 0;
        SQLSMALLINT len = 0;
        if (!SQL_SUCCEEDED(
                SQLGetDiagRec(type, handle, i, state, &native, message, sizeof message, &len)))
            break;
        out.push_back({reinterpret_cast<char*>(state), static_cast<int>(native),
                       reinterpret_cast<char*>(message)});
    }
    return out;
}

Client::Client(SQLINTEGER odbcVersion) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION,
                  reinterpret_cast<SQLPOINTER>(static_cast<SQLLEN>(odbcVersion)), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
}

Client::~Client() {
    if (connected_) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

SQLRETURN Client::connect(const std::string& dsn, const std::string& user,
                          const std::string& password) {
    SQLRETURN rc = SQLConnect(dbc_, (SQLCHAR*)dsn.c_str(), SQL_NTS, (SQLCHAR*)user.c_str(), SQL_NTS,
                              (SQLCHAR*)password.c_str(), SQL_NTS);
    connected_ = SQL_SUCCEEDED(rc);
    return rc;
}

SQLRETURN Client::driverConnect(const std::string& connectionString, std::string* out) {
    SQLCHAR buf[1024] = {0};
    SQLSMALLINT len = 0;
    SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, (SQLCHAR*)connectionString.c_str(), SQL_NTS, buf,
                                    sizeof buf, &len, SQL_DRIVER_NOPROMPT);
    connected_ = SQL_SUCCEEDED(rc);
    if (out) *out = reinterpret_cast<char*>(buf);
    return rc;
}

Statement::Statement(Client& client) {
    SQLAllocHandle(SQL_HANDLE_STMT, client.dbc(), &h_);
}

void Statement::free() {
    if (h_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, h_);
    h_ = SQL_NULL_HSTMT;
}

void Statement::makeLockingCursor() {
    SQLSetStmtAttr(h_, SQL_ATTR_CURSOR_SCROLLABLE, reinterpret_cast<SQLPOINTER>(SQL_NONSCROLLABLE),
                   SQL_IS_INTEGER);
    SQLSetStmtAttr(h_, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_LOCK),
                   SQL_IS_INTEGER);
}

SQLRETURN Statement::exec(const std::string& sql) {
    return SQLExecDirect(h_, (SQLCHAR*)sql.c_str(), SQL_NTS);
}

std::string Statement::text(SQLUSMALLINT column) {
    char buf[4096] = {0};
    SQLLEN ind = 0;
    SQLRETURN rc = SQLGetData(h_, column, SQL_C_CHAR, buf, sizeof buf, &ind);
    if (!SQL_SUCCEEDED(rc)) return "(SQLGetData " + std::to_string(rc) + ")";
    return ind == SQL_NULL_DATA ? "NULL" : std::string(buf);
}

std::vector<std::vector<std::string>> Statement::rest() {
    std::vector<std::vector<std::string>> rows;
    SQLSMALLINT cols = 0;
    SQLNumResultCols(h_, &cols);
    while (SQL_SUCCEEDED(fetch())) {
        std::vector<std::string> row;
        for (SQLUSMALLINT c = 1; c <= cols; ++c) row.push_back(text(c));
        rows.push_back(row);
    }
    return rows;
}

SQLLEN Statement::rowCount() {
    SQLLEN n = -2;
    SQLRowCount(h_, &n);
    return n;
}

std::map<std::string, std::string> childEnv() {
    return kt::clientEnv();
}

}  // namespace st
