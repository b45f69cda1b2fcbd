// The SQL functions the translated statements call (ts_dt, ts_dtstr, ts_fit,
// ts_assign, ts_int, ts_range, ts_str, ts_dateadd, ts_div, ts_mod) and the TSQL
// collation. Each function has one C++ implementation that serves twice:
// registered on the SQLite connection for run-time values, and called by
// the translator to fold constants, so both report the same errors.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include <sqlite3.h>

namespace standin {

// A run-time value: NULL, integer or text.
using Val = std::variant<std::monostate, std::int64_t, std::string>;
using FunctionImpl = Val (*)(const std::vector<Val>& args);

std::string valText(const Val& v);  // integers in decimal; "" for NULL

// Null when the name is not one of the engine's functions.
FunctionImpl findFunction(const std::string& name);

// Errors raised inside SQLite functions travel in the error message in
// this encoded form; decodeError recognises and unpacks it.
std::string encodeError(int native, const std::string& sqlState, const std::string& message);
bool decodeError(const std::string& text, int& native, std::string& sqlState, std::string& message);

// Registers the functions and the TSQL collation. Returns a SQLite result code.
int registerFunctions(sqlite3* db);

}  // namespace standin
