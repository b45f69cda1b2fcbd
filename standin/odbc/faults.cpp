// Fault injection and tracing: the matching rules and the trace file.
#include "standin/odbc/faults.h"

#include <stdexcept>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace standin::odbc {

namespace {

bool containsNoCase(std::string_view text, std::string_view needle) {
    if (needle.empty()) return false;
    auto it =
        std::search(text.begin(), text.end(), needle.begin(), needle.end(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) ==
                   std::tolower(static_cast<unsigned char>(b));
        });
    return it != text.end();
}

// The SQLSTATE SQL Server's drivers report for the natives a test is likely
// to inject; everything else is a plain user error.
const char* stateForNative(std::int32_t native) {
    switch (native) {
        case 1205:
            return "40001";
        case 2627:
        case 2601:
        case 515:
            return "23000";
        case 8152:
            return "22001";
        case 208:
            return "42S02";
        case 207:
            return "42S22";
        default:
            return "42000";
    }
}

}  // namespace

bool statementMustFail(const Faults& faults, std::string_view sql) {
    return containsNoCase(sql, faults.failOn) && faults.failOnPassed >= faults.failAfter;
}

void throwIfInjected(const Faults& faults, std::string_view sql) {
    if (containsNoCase(sql, faults.throwOn)) throw std::out_of_range("injected internal fault");
}

void notePassed(Faults& faults, std::string_view sql) {
    if (containsNoCase(sql, faults.failOn)) ++faults.failOnPassed;
}

std::int64_t fetchFaultLimit(const Faults& faults, std::string_view sql) {
    return containsNoCase(sql, faults.failFetchOn) ? faults.failFetchAfter : -1;
}

Diag injectedDiag(const Faults& faults, std::string_view what) {
    return Diag{stateForNative(faults.failNative), faults.failNative,
                "Injected failure: " + std::string(what)};
}

bool statementGetsInfo(const Faults& faults, std::string_view sql) {
    return containsNoCase(sql, faults.infoOn);
}

Diag infoDiag(const Faults& faults) {
    return Diag{"01000", 0, "Information for a statement containing '" + faults.infoOn + "'"};
}

void traceStatement(const Faults& faults, std::string_view sql, SQLRETURN rc, std::int64_t micros) {
    if (faults.tracePath.empty()) return;
    std::string line = std::to_string(rc) + "\t" + std::to_string(micros) + "\t";
    for (char c : sql) line.push_back(c == '\n' || c == '\r' || c == '\t' ? ' ' : c);
    line.push_back('\n');
    if (std::FILE* f = std::fopen(faults.tracePath.c_str(), "a")) {
        std::fwrite(line.data(), 1, line.size(), f);
        std::fclose(f);
    }
}

}  // namespace standin::odbc
