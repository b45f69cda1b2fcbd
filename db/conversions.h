// Conversions between the database's date and time texts and the compact
// forms of the records (yyyymmdd, hhmmss), and the bounded text copies the
// fetched columns go through. No state.
#pragma once

#include <cstddef>

// Copies value into a text field of fieldSize bytes, cut at fieldSize-1
// characters, the rest of the field zeroed.
void storeText(char* field, std::size_t fieldSize, const char* value);

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
