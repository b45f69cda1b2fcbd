// The entry point of the catch-up of a missed night: processes a given past
// accounting day exactly as the night after it would have, with the same
// rules, statements, log and parameter file; only the statement that
// selects the accounting day's records names the given day instead of the
// day before the server's date.
//
//   kelbor-catchup CONFIG YYYYMMDD PARAM2 PARAM3
//
// Exit status: 0 the day was processed (the log tells how, as for the
// nightly batch); 1 it was not: the lock file, the connection or the
// server's date could not be used (standard error says which); 2 wrong
// usage or no calendar day; 3 another run holds the lock; 4 the day is not
// before the server's date.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "db/day_records.h"
#include "db/session.h"
#include "followup/run_driver.h"
#include "frame/calendar_day.h"
#include "frame/fixed_text.h"
#include "frame/log.h"
#include "frame/night.h"
#include "frame/platform.h"
#include "frame/run_context.h"
#include "frame/run_lock.h"

namespace {

constexpr char kUsage[] =
    "usage: kelbor-catchup CONFIG YYYYMMDD PARAM2 PARAM3\n"
    "Processes the accounting day YYYYMMDD (a day before the database server's date)\n"
    "as the night after it would have; CONFIG, PARAM2 and PARAM3 as for kelbor.\n"
    "Run in the batch's working directory; takes its lock kelbor.lock, or the lock\n"
    "descriptor named by KELBOR_LOCK_FD when started by a holder of that lock.\n";

constexpr char kDateReadFailed[] = "Fehler(Catchup): Serverdatum lesen! ";
constexpr char kDayNotPast[] = "Fehler(Catchup): Tag nicht vor dem Serverdatum! ";

constexpr int kExitNotProcessed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitLocked = 3;
constexpr int kExitNotPast = 4;

// Takes the run lock. Returns 0, or the exit status after saying why not.
int takeLock() {
    int fd = -1;
    int error = 0;
    const char* inherited = std::getenv(kRunLockFdEnv);
    switch (takeRunLock(inherited, fd, error)) {
        case kRunLockTaken:
            return 0;
        case kRunLockHeld:
            std::fprintf(stderr, "kelbor-catchup: not started: another run still holds %s\n",
                         kRunLockName);
            return kExitLocked;
        case kRunLockForeign:
            std::fprintf(stderr,
                         "kelbor-catchup: not started: %s=%s is not an open descriptor of %s in "
                         "the working directory\n",
                         kRunLockFdEnv, inherited, kRunLockName);
            return kExitNotProcessed;
        default:
            std::fprintf(stderr, "kelbor-catchup: not started: cannot lock %s: %s\n", kRunLockName,
                         error == kNotRegularFile ? "not a regular file" : std::strerror(error));
            return kExitNotProcessed;
    }
}

// Refuses a day that is not before the server's date. Returns 0, or the
// exit status after logging and saying why.
int checkPastDay(const char* day) {
    FixedText<9> today{};
    int rc = readServerDate(today);
    if (rc != 0) {
        logEntry(kDateReadFailed, "RC:%d\n", rc);
        std::fprintf(stderr, "kelbor-catchup: %s not processed: the server's date cannot be read\n",
                     day);
        return kExitNotProcessed;
    }
    if (std::strcmp(day, today.c_str()) >= 0) {
        logEntry(kDayNotPast, "Tag:%s Heute:%s\n", day, today.c_str());
        std::fprintf(stderr,
                     "kelbor-catchup: %s not processed: it is not before the database server's "
                     "date %s (the nightly run processes yesterday)\n",
                     day, today.c_str());
        return kExitNotPast;
    }
    return 0;
}

// The run after the checks of the command line.
int catchUp(const char* iniPath, const char* day, const char* edition, const char* debug) {
    int status = takeLock();
    if (status != 0) return status;
    if (startNight(iniPath, edition, debug) != 0) {
        endNight();
        std::fprintf(stderr,
                     "kelbor-catchup: %s not processed: no connection to the database (see "
                     "kelbor.log)\n",
                     day);
        return kExitNotProcessed;
    }
    status = checkPastDay(day);
    if (status == 0) {
        setAccountingDay(day);
        processDayRecords(runContext.schemaName.text);
    }
    endNight();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("kelbor-catchup %s\n", KELBOR_VERSION);
        return 0;
    }
    if (argc != 5) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    if (!isCalendarDay(argv[2])) {
        std::fprintf(stderr, "kelbor-catchup: \"%s\" is not a day written YYYYMMDD\n", argv[2]);
        return kExitUsage;
    }
    return catchUp(argv[1], argv[2], argv[3], argv[4]);
}
