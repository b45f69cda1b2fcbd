// The nightly wrapper's catch-up of missed nights: the state file that
// remembers the last accounting day a night processed, and the days a night
// must process before its own. No state.
#pragma once

#include <string>
#include <vector>

// In the working directory; its name does not begin with "kelbortgb", so
// the consumer never takes it for a parameter file.
inline constexpr char kStateFileName[] = "kelbor-nightly.state";

// A gap of more missed days than this is no longer caught up by itself: the
// night fails and names the days and the command that processes them.
inline constexpr std::size_t kCatchUpBound = 31;

// Reads the last processed day (yyyymmdd) from the state file at path.
// Returns false when there is none (problem empty: no file, the first
// night) or when the file cannot be read or holds no day (problem says so).
bool readLastProcessedDay(const std::string& path, std::string& day, std::string& problem);

// Replaces the file at path by text, whole or not at all: written under
// path + ".tmp" and renamed into place, so a reader (the next night, a
// monitoring collector) never sees half a file. Returns false with error
// set ("cannot write PATH.tmp", "cannot rename PATH.tmp to PATH: reason")
// when it failed.
bool replaceFileWhole(const std::string& path, const std::string& text, std::string& error);

// Writes day as the last processed day through replaceFileWhole. Returns
// false with error set when it failed.
bool writeLastProcessedDay(const std::string& path, const std::string& day, std::string& error);

// The days after lastDay and before yesterday, oldest first (empty when
// yesterday follows lastDay or is not after it). Both are yyyymmdd.
std::vector<std::string> daysBetween(const std::string& lastDay, const std::string& yesterday);
