// Fault injection and statement tracing of one connection, configured from
// the data source's FailOn/FailAfter/FailNative, FailFetchOn/FailFetchAfter,
// InfoOn and Trace keywords when it connects. The statement module asks here before
// running a statement or delivering a row, and reports every execution.
#pragma once

#include <sql.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "standin/engine.h"

namespace standin::odbc {

struct Faults {
    std::string failOn;  // empty: no statement fault
    std::int64_t failAfter = 0;
    std::int32_t failNative = 50000;
    std::string failFetchOn;  // empty: no fetch fault
    std::int64_t failFetchAfter = 0;
    std::string infoOn;             // empty: no informational message
    std::string throwOn;            // empty: no internal fault
    std::string tracePath;          // empty: no trace
    std::int64_t failOnPassed = 0;  // statements matching failOn that succeeded so far
};

// True when sql matches FailOn and FailAfter such statements have already
// succeeded: the statement must fail without running.
bool statementMustFail(const Faults& faults, std::string_view sql);
// Counts a statement that matched FailOn and ran successfully.
void notePassed(Faults& faults, std::string_view sql);
// Rows a fetch fault lets through for this statement, or -1 when it has none.
std::int64_t fetchFaultLimit(const Faults& faults, std::string_view sql);
// The record an injected fault reports, shaped like the server's own error
// for the configured native number.
Diag injectedDiag(const Faults& faults, std::string_view what);
// True when sql matches InfoOn: a statement that succeeds then returns
// SQL_SUCCESS_WITH_INFO with infoDiag's record, as a trigger's PRINT makes
// the server do.
bool statementGetsInfo(const Faults& faults, std::string_view sql);
// The informational record: SQLSTATE 01000, native 0.
Diag infoDiag(const Faults& faults);
// Throws a C++ exception (not the engine's error type) when sql matches
// ThrowOn, as an internal fault of the stand-in would: the fronts must turn
// it into an error for this statement alone.
void throwIfInjected(const Faults& faults, std::string_view sql);
// Appends "<rc>\t<microseconds>\t<statement>" to the trace file, if any.
void traceStatement(const Faults& faults, std::string_view sql, SQLRETURN rc, std::int64_t micros);

}  // namespace standin::odbc
