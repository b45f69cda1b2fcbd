// The run driver: one pass over the accounting day's day records.
//
// Owns the parameter file "kelbortgb" for the length of the pass: it is
// emptied at the start of every run that gets this far, so its consumer
// never sees the days of an earlier run, and gets one line for every day
// that received a follow-up. Each line goes to the file as it is written,
// so a run killed at any point leaves the days it listed up to then; a
// failed write or close is logged, and after it the file keeps only whole
// lines. The previous-day cursor stays open for the whole pass while the
// search and the rules run their own statements.
#include "followup/run_driver.h"

#include "frame/platform_odbc.h"
#include <cstdio>

#include "followup/console_trace.h"
#include "followup/daily_messages.h"
#include "followup/hourly_messages.h"
#include "followup/last_message_day.h"
#include "frame/log.h"
#include "frame/platform.h"
#include "frame/run_context.h"

namespace {

constexpr const char kParameterFileName[] = "kelbortgb";

constexpr const char kParameterFileFailed[] = "Fehler: fopen(kelbortgb)!\n";
constexpr const char kParameterWriteFailed[] = "Fehler: fwrite(kelbortgb)! ";
constexpr const char kParameterCloseFailed[] = "Fehler: fclose(kelbortgb)! ";
constexpr const char kCursorOpenFailed[] = "Fehler(Cur_open): Tagsatz(+TgbSol) lesen! ";
constexpr const char kCursorReadFailed[] = "Fehler(Cur_Read): Tagsatz(+TgbSol) lesen! ";

// The parameter file of the pass: its descriptor (-1 when it could not be
// opened), and whether a write has failed, after which nothing more is
// written and only that is logged.
struct ParameterFile {
    int fd;
    bool failed;
};

void openParameterFile(ParameterFile& file) {
    int error = 0;
    file = ParameterFile{openOutputFile(kParameterFileName, OutputMode::kReplace, error), false};
    if (file.fd < 0) logEntry(kParameterFileFailed, "%s", "");
}

void writeParameterLine(ParameterFile& file, const ParameterLine& line) {
    if (file.fd < 0 || file.failed) return;
    // After a failed write the file is cut back to its whole lines; should
    // even the cut fail, the entry below tells the file is short.
    int rc = writeLine(file.fd, line.c_str(), line.length());
    if (rc == 0) return;
    file.failed = true;
    logEntry(kParameterWriteFailed, "RC:%d\n", rc);
}

void closeParameterFile(ParameterFile& file) {
    if (file.fd < 0) return;
    int rc = closeFile(file.fd);
    file.fd = -1;
    if (rc != 0 && !file.failed) logEntry(kParameterCloseFailed, "RC:%d\n", rc);
}

// Prints both records under their headings on the console trace.
void dumpPair(const DayRecord& accDay, const DayRecord& lastDay) {
    consoleLine("aktueller Tagsatz!!!\n");
    dumpDayRecord(accDay);
    consoleLine("letzter Tagsatz!!!\n");
    dumpDayRecord(lastDay);
}

// Handles one record of the accounting day. Returns 1 when either rule
// generated a follow-up for it.
int processDayRecord(DayRecord& accDay) {
    DayRecord lastDay{};

    consoleLine("\nLesen TagSatz!\n");
    consoleLine("aktueller Tagsatz!!!\n");
    dumpDayRecord(accDay);

    if (findLastMessageDay(accDay.TagPnr, accDay.TagTag, lastDay) == 0) return 0;

    consoleLine("Tag mit letzter Meldung gefungen! Pnr: %s Datum: %s!\n", lastDay.TagPnr.c_str(),
                lastDay.TagTag.c_str());
    consoleLine("\nBeginn Meldungsverarbeitung!\n");
    dumpPair(accDay, lastDay);

    // The hourly rule runs whatever the daily rule did: it starts from the
    // slots and bookings the daily rule left on the accounting day.
    int daily = carryDailyMessages(accDay, lastDay);
    int hourly = carryHourlyMessage(accDay, lastDay);

    consoleLine("\nEnde Meldungsverarbeitung!\n");
    dumpPair(accDay, lastDay);
    return daily != 0 || hourly != 0 ? 1 : 0;
}

}  // namespace

int buildParameterLine(ParameterLine& line, int consolidated, const char* schema,
                       const DayRecord& accDay) {
    // dd.mm.yyyy from yyyymmdd; the field is 9 bytes, so every piece read
    // stays inside it even for a short text.
    FixedText<11> date{};
    const char* tag = accDay.TagTag.c_str();
    date.assignFormat("%.2s.%.2s.%.4s", tag + 6, tag + 4, tag);

    if (consolidated != 0) {
        return line.assignFormat("%-20s,%-8s,%-10s\n", schema, accDay.TagPnr.c_str(), date.c_str());
    }
    return line.assignFormat("%-8s,%-10s\n", accDay.TagPnr.c_str(), date.c_str());
}

void processDayRecords(const char* schema) {
    // Lines end as text files do on the platform: a line feed here, carriage
    // return and line feed on Windows.
    ParameterFile parameterFile{};
    openParameterFile(parameterFile);

    DayRecord accDay{};
    int rc = openPrevDayRecordCursor();
    if (rc != 0) logEntry(kCursorOpenFailed, "RC:%d\n", rc);

    while ((rc = fetchPrevDayRecord(accDay)) == 0) {
        if (processDayRecord(accDay) != 0) {
            ParameterLine line{};
            buildParameterLine(line, runContext.consolidated, schema, accDay);
            consoleLine("Parametersatz in Datei schreiben: %s!\n", line.c_str());
            writeParameterLine(parameterFile, line);
        }
        accDay = DayRecord{};
    }
    if (rc != SQL_NO_DATA) logEntry(kCursorReadFailed, "RC:%d\n", rc);

    closePrevDayRecordCursor();
    closeParameterFile(parameterFile);
}
