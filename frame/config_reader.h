// The configuration file reader.
//
// The file holds line pairs: a header line "free;section;free" and a data
// line "number;key;value", the value being enciphered hex text. A request
// selects the first pair whose section, key or number equals the requested
// one; its value comes back deciphered.
//
// Owns configEntry, the pair of the last request: cleared at the start of
// every call and after every pair that is not selected, so after a call it
// holds the selected pair or nothing. Callers copy the value before the next
// call overwrites it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/fixed_text.h"

struct ConfigEntry {
    std::int32_t number;
    FixedText<201> section;
    FixedText<201> key;
    FixedText<201> value;
};

extern ConfigEntry configEntry;

// Returns the deciphered value of the first pair in the file at path whose
// section, key or number equals the requested one, or an empty text when
// the file cannot be read or no pair is selected. The text lives in
// configEntry until the next call.
const char* readConfigValue(const char* section, const char* key, int number, const char* path);

// Wipes configEntry. An entry numbered 0 answers every request, so after
// the last read it may well hold the password's value, deciphered.
void wipeConfigEntry();

// Parses one pair into entry; each line as read, with its line feed when it
// had one (a carriage return before it already removed). The value stays
// enciphered. Returns 1 when the pair can be selected at all, 0 when its
// data line has fewer than two ";" (entry then holds no value).
int parseConfigPair(const char* header, std::size_t headerLength, const char* data,
                    std::size_t dataLength, ConfigEntry& entry);
