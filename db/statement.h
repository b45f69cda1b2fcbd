// Statement patterns and date/time text conversions shared by every
// statement of the system.
//
// Owns statementText (the one buffer every SQL text is formatted into just
// before it runs) and columnIndicator (the length/indicator passed to every
// SQLBindCol). The cursor, lookup and write patterns live here once; the
// table modules only supply their SQL text and column tables.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>

// Converts a database text form into a compact form. Code "Z": hh:mm:ss ->
// hhmmss. Any other code writes an empty text. src and dst may be the same
// buffer; dst receives at most dstSize-1 characters.
void fromDbText(const char* src, char* dst, std::size_t dstSize, const char* code);

// Builds a database text form from compact forms. Code "Z": time hhmmss ->
// hh:mm:ss; code "T": date yyyymmdd and time hhmmss -> yyyy-mm-dd hh:mm:ss.
// Returns 0 for a known code, non-zero (writing nothing) otherwise.
int toDbText(const char* date, const char* time, char* out, std::size_t outSize, const char* code);

// Removes trailing blanks, tabs and line feeds in place; returns text.
char* trimTrailingBlanks(char* text);
