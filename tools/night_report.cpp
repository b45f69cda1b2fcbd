// Reads a run's log entries and the parameter file for the nightly wrapper.
//
// The texts below are the batch's: the time stamp line the entry point
// writes first, the generation's insert entry, the reconciliation's priority
// and cancellation entries, the target-time refusal, and every "Fehler"
// entry. Each is matched at the start of a line only.
#include "tools/night_report.h"

#include <cstring>
#include <vector>

namespace {

constexpr char kStampLine[] = "Datum: ";
constexpr char kStampTime[] = "  Uhrzeit: ";
constexpr char kInsertDone[] = "Info: Buchung eingepflegt! ";
constexpr char kPrevails[] = "Info: (Fcd) in BchSatz hat h\xF6";
constexpr char kTargetTimeRefused[] = "Info: Folgemeldungsart mit Sollzeitpr\xFC";
constexpr char kOldCancellationDeleted[] = "Info: BchSatz(Storno) gel\xF6";
constexpr char kFailure[] = "Fehler";

bool startsWith(const std::string& line, const char* prefix) {
    return line.compare(0, std::strlen(prefix), prefix) == 0;
}

// The value after "key" up to the next blank, or an empty text.
std::string field(const std::string& line, const char* key) {
    std::size_t at = line.find(key);
    if (at == std::string::npos) return "";
    at += std::strlen(key);
    std::size_t end = line.find(' ', at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// "Fehler(Kind)..." gives Kind, "Fehler: call(file)! ..." gives call(file),
// anything else "other".
std::string failureKind(const std::string& line) {
    if (line.size() > 7 && line[6] == '(') {
        std::size_t close = line.find(')', 7);
        if (close != std::string::npos) return line.substr(7, close - 7);
    }
    if (startsWith(line, "Fehler: ")) {
        std::size_t bang = line.find('!', 8);
        if (bang != std::string::npos) return line.substr(8, bang - 8);
    }
    return "other";
}

// The lines of text, each without its line end: a line feed, or carriage
// return and line feed as the batch writes them on Windows.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        std::size_t end = nl == std::string::npos ? text.size() : nl;
        std::size_t cut = nl != std::string::npos && end > pos && text[end - 1] == '\r' ? 1 : 0;
        lines.push_back(text.substr(pos, end - pos - cut));
        pos = nl == std::string::npos ? text.size() : nl + 1;
    }
    return lines;
}

std::string trimmed(const std::string& text) {
    std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    std::size_t last = text.find_last_not_of(" \r");
    return text.substr(first, last - first + 1);
}

}  // namespace

RunEntries readRunEntries(const std::string& text) {
    RunEntries entries;
    entries.complete = text.empty() || text.back() == '\n';
    for (const std::string& line : linesOf(text)) {
        if (startsWith(line, kStampLine) && entries.stamp.empty()) {
            std::string stamp = line.substr(std::strlen(kStampLine));
            std::size_t at = stamp.find(kStampTime);
            // Joined anew rather than replaced in place: GCC 12 warns (-Wrestrict)
            // about an overlap in the in-place replace that cannot happen.
            if (at != std::string::npos) {
                stamp = stamp.substr(0, at) + " " + stamp.substr(at + std::strlen(kStampTime));
            }
            entries.stamp = stamp;
        } else if (startsWith(line, kInsertDone)) {
            ++entries.inserted;
            entries.changedDays.insert({field(line, "Pnr:"), field(line, "Tag:")});
        } else if (startsWith(line, kPrevails)) {
            ++entries.refusedPriority;
        } else if (startsWith(line, kTargetTimeRefused)) {
            ++entries.refusedTargetTime;
        } else if (startsWith(line, kOldCancellationDeleted)) {
            ++entries.oldCancellationsDeleted;
        } else if (startsWith(line, kFailure)) {
            std::string kind = failureKind(line);
            ++entries.errorTotal;
            bool counted = false;
            for (auto& [name, count] : entries.errors) {
                if (name != kind) continue;
                ++count;
                counted = true;
            }
            if (!counted) entries.errors.emplace_back(kind, 1);
        }
    }
    return entries;
}

std::set<std::pair<std::string, std::string>> readParameterLines(const std::string& text) {
    std::set<std::pair<std::string, std::string>> days;
    for (const std::string& line : linesOf(text)) {
        // The last two fields are the personnel number and dd.mm.yyyy.
        std::size_t lastComma = line.rfind(',');
        if (lastComma == std::string::npos || lastComma == 0) continue;
        std::size_t comma = line.rfind(',', lastComma - 1);
        std::size_t pnrAt = comma == std::string::npos ? 0 : comma + 1;
        std::string pnr = trimmed(line.substr(pnrAt, lastComma - pnrAt));
        std::string date = trimmed(line.substr(lastComma + 1));
        if (date.size() != 10 || date[2] != '.' || date[5] != '.') continue;
        days.insert({pnr, date.substr(6, 4) + date.substr(3, 2) + date.substr(0, 2)});
    }
    return days;
}

bool startsWithRunStamp(const std::string& text) {
    for (const char* lineEnd : {"\n", "\r\n"}) {
        if (text.rfind(lineEnd + std::string(kStampLine), 0) == 0) return true;
    }
    return false;
}
