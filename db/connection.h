// The one ODBC environment and connection of the run, and the diagnostics
// reader every statement uses after a failed call.
//
// Owns the environment handle, connHandle and diagRecord. Only
// connectDatabase writes the handles; readDiagnostics overwrites diagRecord after every failure, so
// a caller that needs the native error reads it straight after the call.
#pragma once

#include "frame/platform_odbc.h"

#include <cstddef>
#include <cstdint>

#include "frame/fixed_text.h"

struct DiagRecord {
    FixedText<256> SqlState;
    FixedText<1000> Message;
    std::int32_t NativeError;
};

// The driver manager is handed at most this many characters of each login
// value.
constexpr std::size_t kLoginWidth = 23;

extern SQLHDBC connHandle;
extern DiagRecord diagRecord;

// 1 when value, as the driver would get it (its first 23 characters), is
// the non-empty password as the driver would get it; 0 otherwise.
int isPasswordValue(const char* value, const char* password);

// Connects to the data source with the login. Returns 0 when connected
// (SQL_SUCCESS_WITH_INFO included), -1 when a handle could not be allocated
// or the connect failed (diagRecord then holds the first diagnostic record),
// and -1 without calling the driver when the login name or the data-source
// name is the password (isPasswordValue), which would send or show it in
// clear.
int connectDatabase(const char* loginName, const char* password, const char* dataSource);

// Reads diagnostic record 1 of the handle into rec after clearing it.
// Returns SQLGetDiagRec's result, which callers may ignore.
int readDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle, DiagRecord& rec);
