// What one run of the batch left in its log and parameter file, read by the
// nightly wrapper: the counted entries, the errors by kind, the days the run
// changed, and the parameter lines. Pure text work, no files, no state.
//
// The texts matched here are the batch's own log texts; the wrapper's
// end-to-end tests run the real batch into each of them, so rewording one in
// the batch fails those tests.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

// The counted kinds of a run's entries.
struct RunEntries {
    std::string stamp;  // "dd.mm.yyyy hh:mm:ss" of the run's first line, empty without one
    int inserted = 0;
    int refusedPriority = 0;
    int refusedTargetTime = 0;
    int oldCancellationsDeleted = 0;
    // Fehler entries by kind ("Bch_Insert", "fopen(kelbortgb)", ...), in the
    // order of their first appearance, with their counts.
    std::vector<std::pair<std::string, int>> errors;
    int errorTotal = 0;
    bool complete = true;  // the text ends with a line feed (or is empty)
    // (personnel number, accounting day yyyymmdd) of every inserted follow-up.
    std::set<std::pair<std::string, std::string>> changedDays;
};

// Reads a run's entries: text is exactly what the run appended to the log.
RunEntries readRunEntries(const std::string& text);

// The (personnel number, yyyymmdd) of every parameter line of kelbortgb, in
// either line form (the consolidated one starts with the schema name).
std::set<std::pair<std::string, std::string>> readParameterLines(const std::string& text);

// True when text starts the way every logging run of the batch starts its
// entries: an empty line and the time stamp line.
bool startsWithRunStamp(const std::string& text);
