// The driver's exported ODBC functions. Each checks its handle, clears the
// handle's diagnostics (except the diagnostic calls, which read them), hands
// the work to the module of its handle type and records the return code.
// One lock serialises all calls, so a multi-threaded application cannot
// interleave two calls on the connection's engine.
#include <cstring>
#include <exception>
#include <mutex>
#include <string>

#include "standin/odbc/handles.h"

using namespace standin::odbc;

namespace {

constinit std::mutex driverLock;

template <typename H>
H* handleOf(SQLHANDLE h, HandleKind kind) {
    auto* base = static_cast<Handle*>(h);
    if (base == nullptr || base->kind != kind) return nullptr;
    return static_cast<H*>(base);
}

HandleKind kindOf(SQLSMALLINT handleType) {
    switch (handleType) {
        case SQL_HANDLE_ENV:
            return HandleKind::Env;
        case SQL_HANDLE_DBC:
            return HandleKind::Dbc;
        case SQL_HANDLE_STMT:
            return HandleKind::Stmt;
        default:
            return HandleKind::Freed;
    }
}

// Runs body and turns any exception it lets out into SQL_ERROR: nothing may
// unwind from the driver into the driver manager. With a handle the error
// gets a record (HY000) the application can read.
template <typename Body>
SQLRETURN guarded(Handle* handle, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::exception& e) {
        if (handle == nullptr) return SQL_ERROR;
        try {
            handle->diags.clear();
            return driverError(handle->diags, "HY000",
                               std::string("Internal error of the driver: ") + e.what());
        } catch (...) {
        }
    } catch (...) {
        if (handle == nullptr) return SQL_ERROR;
        try {
            handle->diags.clear();
            return driverError(handle->diags, "HY000", "Internal error of the driver");
        } catch (...) {
        }
    }
    return SQL_ERROR;
}

template <typename H, typename Body>
SQLRETURN enter(SQLHANDLE h, HandleKind kind, Body&& body) {
    std::lock_guard lock(driverLock);
    H* handle = handleOf<H>(h, kind);
    if (handle == nullptr) return SQL_INVALID_HANDLE;
    handle->diags.clear();
    SQLRETURN rc = guarded(handle, [&] { return body(*handle); });
    handle->diags.returnCode = rc;
    return rc;
}

template <typename Body>
SQLRETURN onEnv(SQLHENV h, Body&& body) {
    return enter<Env>(h, HandleKind::Env, body);
}
template <typename Body>
SQLRETURN onDbc(SQLHDBC h, Body&& body) {
    return enter<Dbc>(h, HandleKind::Dbc, body);
}
template <typename Body>
SQLRETURN onStmt(SQLHSTMT h, Body&& body) {
    return enter<Stmt>(h, HandleKind::Stmt, body);
}

std::string textArg(const SQLCHAR* text, SQLINTEGER length) {
    if (text == nullptr) return {};
    const char* p = reinterpret_cast<const char*>(text);
    return length == SQL_NTS ? std::string(p) : std::string(p, static_cast<std::size_t>(length));
}

const std::string& serverNameOf(Handle& h) {
    static const std::string none;
    if (h.kind == HandleKind::Dbc) return static_cast<Dbc&>(h).dsn;
    if (h.kind == HandleKind::Stmt) return static_cast<Stmt&>(h).dbc->dsn;
    return none;
}

SQLRETURN freeHandle(SQLSMALLINT type, SQLHANDLE handle) {
    switch (type) {
        case SQL_HANDLE_ENV: {
            Env* env = handleOf<Env>(handle, HandleKind::Env);
            if (env == nullptr) return SQL_INVALID_HANDLE;
            if (!env->connections.empty())
                return driverError(env->diags, "HY010", "Function sequence error");
            env->kind = HandleKind::Freed;
            delete env;
            return SQL_SUCCESS;
        }
        case SQL_HANDLE_DBC: {
            Dbc* dbc = handleOf<Dbc>(handle, HandleKind::Dbc);
            if (dbc == nullptr) return SQL_INVALID_HANDLE;
            if (dbc->engine) return driverError(dbc->diags, "HY010", "Function sequence error");
            std::erase(dbc->env->connections, dbc);
            dbc->kind = HandleKind::Freed;
            delete dbc;
            return SQL_SUCCESS;
        }
        case SQL_HANDLE_STMT: {
            Stmt* stmt = handleOf<Stmt>(handle, HandleKind::Stmt);
            if (stmt == nullptr) return SQL_INVALID_HANDLE;
            freeStatement(stmt);
            return SQL_SUCCESS;
        }
        default:
            return SQL_INVALID_HANDLE;
    }
}

}  // namespace

extern "C" {

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
    if (output == nullptr) return SQL_ERROR;
    switch (type) {
        case SQL_HANDLE_ENV: {
            std::lock_guard lock(driverLock);
            return guarded(nullptr, [&] {
                *output = static_cast<Handle*>(new Env());
                return SQLRETURN{SQL_SUCCESS};
            });
        }
        case SQL_HANDLE_DBC:
            return onEnv(input, [&](Env& env) {
                auto* dbc = new Dbc(&env);
                env.connections.push_back(dbc);
                *output = static_cast<Handle*>(dbc);
                return SQLRETURN{SQL_SUCCESS};
            });
        case SQL_HANDLE_STMT:
            return onDbc(input, [&](Dbc& dbc) {
                if (!dbc.engine) return driverError(dbc.diags, "08003", "Connection not open");
                auto* stmt = new Stmt(&dbc);
                dbc.statements.push_back(stmt);
                *output = static_cast<Handle*>(stmt);
                return SQLRETURN{SQL_SUCCESS};
            });
        case SQL_HANDLE_DESC:
            return onDbc(input, [](Dbc& dbc) {
                return driverError(dbc.diags, "HYC00", "Optional feature not implemented");
            });
        default:
            return SQL_ERROR;
    }
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
    std::lock_guard lock(driverLock);
    return guarded(nullptr, [&] { return freeHandle(type, handle); });
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT handle, SQLUSMALLINT option) {
    if (option == SQL_DROP) return SQLFreeHandle(SQL_HANDLE_STMT, handle);
    return onStmt(handle, [&](Stmt& stmt) {
        switch (option) {
            case SQL_CLOSE:
                return closeCursor(stmt, false);
            case SQL_UNBIND:
                stmt.bindings.clear();
                return SQLRETURN{SQL_SUCCESS};
            case SQL_RESET_PARAMS:
                return SQLRETURN{SQL_SUCCESS};
            default:
                return driverError(stmt.diags, "HY092", "Invalid attribute/option identifier");
        }
    });
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value,
                                SQLINTEGER) {
    return onEnv(handle, [&](Env& env) { return setEnvAttr(env, attribute, value); });
}

SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER,
                                SQLINTEGER* length) {
    return onEnv(handle, [&](Env& env) { return getEnvAttr(env, attribute, value, length); });
}

SQLRETURN SQL_API SQLConnect(SQLHDBC handle, SQLCHAR* dsn, SQLSMALLINT dsnLength, SQLCHAR* user,
                             SQLSMALLINT userLength, SQLCHAR* password,
                             SQLSMALLINT passwordLength) {
    return onDbc(handle, [&](Dbc& dbc) {
        return connect(dbc, textArg(dsn, dsnLength), textArg(user, userLength),
                       textArg(password, passwordLength));
    });
}

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC handle, SQLHWND, SQLCHAR* in, SQLSMALLINT inLength,
                                   SQLCHAR* out, SQLSMALLINT outMax, SQLSMALLINT* outLength,
                                   SQLUSMALLINT) {
    return onDbc(handle, [&](Dbc& dbc) {
        return driverConnect(dbc, textArg(in, inLength), out, outMax, outLength);
    });
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC handle) {
    return onDbc(handle, [](Dbc& dbc) { return disconnect(dbc); });
}

SQLRETURN SQL_API SQLGetInfo(SQLHDBC handle, SQLUSMALLINT type, SQLPOINTER value,
                             SQLSMALLINT bufferLength, SQLSMALLINT* length) {
    return onDbc(handle, [&](Dbc& dbc) { return getInfo(dbc, type, value, bufferLength, length); });
}

SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value,
                                    SQLINTEGER) {
    return onDbc(handle, [&](Dbc& dbc) { return setConnectAttr(dbc, attribute, value); });
}

SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value,
                                    SQLINTEGER bufferLength, SQLINTEGER* length) {
    return onDbc(handle, [&](Dbc& dbc) {
        return getConnectAttr(dbc, attribute, value, bufferLength, length);
    });
}

SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT handle, SQLINTEGER attribute, SQLPOINTER value,
                                 SQLINTEGER) {
    return onStmt(handle, [&](Stmt& stmt) { return setStmtAttr(stmt, attribute, value); });
}

SQLRETURN SQL_API SQLGetStmtAttr(SQLHSTMT handle, SQLINTEGER attribute, SQLPOINTER value,
                                 SQLINTEGER, SQLINTEGER* length) {
    return onStmt(handle, [&](Stmt& stmt) { return getStmtAttr(stmt, attribute, value, length); });
}

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT handle, SQLCHAR* text, SQLINTEGER length) {
    return onStmt(handle, [&](Stmt& stmt) { return execDirect(stmt, textArg(text, length)); });
}

SQLRETURN SQL_API SQLPrepare(SQLHSTMT handle, SQLCHAR* text, SQLINTEGER length) {
    return onStmt(handle, [&](Stmt& stmt) { return prepare(stmt, textArg(text, length)); });
}

SQLRETURN SQL_API SQLExecute(SQLHSTMT handle) {
    return onStmt(handle, [](Stmt& stmt) { return execute(stmt); });
}

SQLRETURN SQL_API SQLGetTypeInfo(SQLHSTMT handle, SQLSMALLINT dataType) {
    return onStmt(handle, [&](Stmt& stmt) { return typeInfo(stmt, dataType); });
}

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT handle, SQLSMALLINT* count) {
    return onStmt(handle, [&](Stmt& stmt) { return numResultCols(stmt, count); });
}

SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT handle, SQLUSMALLINT column, SQLCHAR* name,
                                 SQLSMALLINT nameMax, SQLSMALLINT* nameLength,
                                 SQLSMALLINT* dataType, SQLULEN* size, SQLSMALLINT* digits,
                                 SQLSMALLINT* nullable) {
    return onStmt(handle, [&](Stmt& stmt) {
        return describeCol(stmt, column, name, nameMax, nameLength, dataType, size, digits,
                           nullable);
    });
}

SQLRETURN SQL_API SQLColAttribute(SQLHSTMT handle, SQLUSMALLINT column, SQLUSMALLINT field,
                                  SQLPOINTER text, SQLSMALLINT textMax, SQLSMALLINT* textLength,
                                  SQLLEN* number) {
    return onStmt(handle, [&](Stmt& stmt) {
        return colAttribute(stmt, column, field, text, textMax, textLength, number);
    });
}

SQLRETURN SQL_API SQLBindCol(SQLHSTMT handle, SQLUSMALLINT column, SQLSMALLINT cType,
                             SQLPOINTER target, SQLLEN bufferLength, SQLLEN* indicator) {
    return onStmt(handle, [&](Stmt& stmt) {
        return bindCol(stmt, column, cType, target, bufferLength, indicator);
    });
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT handle) {
    return onStmt(handle, [](Stmt& stmt) { return fetch(stmt); });
}

SQLRETURN SQL_API SQLGetData(SQLHSTMT handle, SQLUSMALLINT column, SQLSMALLINT cType,
                             SQLPOINTER target, SQLLEN bufferLength, SQLLEN* indicator) {
    return onStmt(handle, [&](Stmt& stmt) {
        return getData(stmt, column, cType, target, bufferLength, indicator);
    });
}

SQLRETURN SQL_API SQLRowCount(SQLHSTMT handle, SQLLEN* count) {
    return onStmt(handle, [&](Stmt& stmt) { return rowCount(stmt, count); });
}

SQLRETURN SQL_API SQLMoreResults(SQLHSTMT handle) {
    return onStmt(handle, [](Stmt& stmt) { return moreResults(stmt); });
}

SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT handle) {
    return onStmt(handle, [](Stmt& stmt) { return closeCursor(stmt, true); });
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion) {
    auto finish = [completion](Dbc& dbc) {
        if (completion != SQL_COMMIT && completion != SQL_ROLLBACK)
            return driverError(dbc.diags, "HY012", "Invalid transaction operation code");
        return endTransaction(dbc, completion == SQL_COMMIT);
    };
    if (type == SQL_HANDLE_DBC) return onDbc(handle, finish);
    if (type != SQL_HANDLE_ENV) return SQL_INVALID_HANDLE;
    return onEnv(handle, [&](Env& env) {
        SQLRETURN rc = SQL_SUCCESS;
        for (Dbc* dbc : env.connections) {
            if (!dbc->engine) continue;
            dbc->diags.clear();
            if (finish(*dbc) == SQL_ERROR)
                rc = driverError(env.diags, "25S01", "Transaction state unknown");
        }
        return rc;
    });
}

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                SQLCHAR* state, SQLINTEGER* native, SQLCHAR* message,
                                SQLSMALLINT messageMax, SQLSMALLINT* messageLength) {
    std::lock_guard lock(driverLock);
    Handle* h = handleOf<Handle>(handle, kindOf(type));
    if (h == nullptr) return SQL_INVALID_HANDLE;
    return guarded(nullptr, [&] {
        return getDiagRec(h->diags, record, state, native, message, messageMax, messageLength);
    });
}

SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                  SQLSMALLINT field, SQLPOINTER value, SQLSMALLINT valueMax,
                                  SQLSMALLINT* valueLength) {
    std::lock_guard lock(driverLock);
    Handle* h = handleOf<Handle>(handle, kindOf(type));
    if (h == nullptr) return SQL_INVALID_HANDLE;
    return guarded(nullptr, [&] {
        return getDiagField(h->diags, serverNameOf(*h), record, field, value, valueMax,
                            valueLength);
    });
}

}  // extern "C"
