// The one ODBC environment and connection of the run, and the diagnostics
// reader.
//
// Owns envHandle, connHandle and diagRecord. connectDatabase is the only
// writer of the handles. The batch connects once and never disconnects, so
// its handles stay allocated until the process ends; a further connect (the
// tests connect more than once in one process) first frees the earlier
// connection's handles. The login copies are wiped as soon as the
// connect call is over, so the password does not linger on the stack.
//
// A login name or data-source name that is the password (an entry of the
// configuration file that answers every key gives them its value) is never
// handed to the driver: the user name crosses the link unscrambled, and the
// server names it in its failed-login message and its log.
#include "db/connection.h"

#include <cstdio>
#include <cstring>

#include "frame/run_context.h"
#include "frame/secret_mask.h"
#include "frame/platform.h"

SQLHDBC connHandle = nullptr;
DiagRecord diagRecord{};

namespace {

SQLHENV envHandle = nullptr;

struct LoginFields {
    FixedText<kLoginWidth + 1> dataSource;
    FixedText<kLoginWidth + 1> password;
    FixedText<kLoginWidth + 1> loginName;
};

void releaseHandles() {
    if (connHandle != nullptr) {
        SQLDisconnect(connHandle);
        SQLFreeHandle(SQL_HANDLE_DBC, connHandle);
        connHandle = nullptr;
    }
    if (envHandle != nullptr) {
        SQLFreeHandle(SQL_HANDLE_ENV, envHandle);
        envHandle = nullptr;
    }
}

SQLCHAR* odbcText(FixedText<24>& field) {
    return reinterpret_cast<SQLCHAR*>(field.text);
}

}  // namespace

int isPasswordValue(const char* value, const char* password) {
    if (password[0] == '\0') return 0;
    return std::strncmp(value, password, kLoginWidth) == 0 ? 1 : 0;
}

int connectDatabase(const char* loginName, const char* password, const char* dataSource) {
    releaseHandles();
    if (isPasswordValue(loginName, password) != 0 || isPasswordValue(dataSource, password) != 0) {
        return -1;
    }
    LoginFields login{};
    login.dataSource.assign(dataSource);
    login.password.assign(password);
    login.loginName.assign(loginName);

    SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &envHandle);
    if (!SQL_SUCCEEDED(rc)) {
        wipeMemory(&login, sizeof login);
        return -1;
    }
    SQLSetEnvAttr(envHandle, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                  SQL_IS_INTEGER);
    rc = SQLAllocHandle(SQL_HANDLE_DBC, envHandle, &connHandle);
    if (!SQL_SUCCEEDED(rc)) {
        wipeMemory(&login, sizeof login);
        return -1;
    }
    rc = SQLConnect(connHandle, odbcText(login.dataSource), SQL_NTS, odbcText(login.loginName),
                    SQL_NTS, odbcText(login.password), SQL_NTS);
    // SQL_SUCCESS_WITH_INFO is a working connection too.
    if (SQL_SUCCEEDED(rc)) {
        wipeMemory(&login, sizeof login);
        return 0;
    }
    readDiagnostics(SQL_HANDLE_DBC, connHandle, diagRecord);
    if (runContext.consoleDebug != 0) {
        // A driver may quote what it was given; the password it got is the
        // cut one.
        FixedText<sizeof diagRecord.Message> message{};
        maskPassword(diagRecord.Message.text, login.password.text, message);
        std::printf("Connect Error: SQLCode: %ld sqlState: %s Msg: %s\n",
                    static_cast<long>(diagRecord.NativeError), diagRecord.SqlState.text,
                    message.text);
        wipeMemory(&message, sizeof message);
    }
    wipeMemory(&login, sizeof login);
    return -1;
}

int readDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle, DiagRecord& rec) {
    rec.SqlState.clear();
    rec.Message.clear();
    rec.NativeError = 0;
    SQLINTEGER nativeError = 0;
    SQLSMALLINT textLength = 0;
    SQLRETURN rc = SQLGetDiagRec(
        handleType, handle, 1, reinterpret_cast<SQLCHAR*>(rec.SqlState.text), &nativeError,
        reinterpret_cast<SQLCHAR*>(rec.Message.text), sizeof rec.Message.text, &textLength);
    // A failing call may leave partial output behind; the record stays cleared then.
    if (!SQL_SUCCEEDED(rc)) {
        rec.SqlState.clear();
        rec.Message.clear();
        return rc;
    }
    rec.NativeError = nativeError;
    return rc;
}
