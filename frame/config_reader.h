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

// The batch keeps at most this many characters of each login value it
// reads (login name, password, data source).
constexpr std::size_t kLoginValueWidth = 50;

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

// What every request makes of one pair of the file.
enum class PairVerdict {
    kUsable,         // parsed; selected when it answers the request
    kHeaderTooLong,  // header line over its limit: never selected
    kDataTooLong,    // data line over its limit: never selected
    kNoEntry,        // data line with fewer than two ";": never selected
};

// The longest lines read, line feed included.
constexpr std::size_t kConfigHeaderLimit = 199;
constexpr std::size_t kConfigDataLimit = 399;

// Called for each pair with its verdict and the number of its header line
// (from 1); entry holds the parsed pair, value still enciphered, when the
// verdict is kUsable. Returns false to end the walk.
using ConfigPairVisit = bool (*)(const ConfigEntry& entry, PairVerdict verdict, int headerLine,
                                 void* context);

// Walks the pairs of the file at path in order, reading them exactly as
// readConfigValue does, until visit returns false or the file ends (a
// header line without its data line ends it too). Returns 0, or -1 when the
// file cannot be opened as a regular file.
int walkConfigPairs(const char* path, ConfigPairVisit visit, void* context);

// Parses one pair into entry; each line as read, with its line feed when it
// had one (a carriage return before it already removed). The value stays
// enciphered. Returns 1 when the pair can be selected at all, 0 when its
// data line has fewer than two ";" (entry then holds no value).
int parseConfigPair(const char* header, std::size_t headerLength, const char* data,
                    std::size_t dataLength, ConfigEntry& entry);
