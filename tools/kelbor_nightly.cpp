// kelbor-nightly: one scheduled run of the batch, and the truth about it.
//
//   kelbor-nightly [--status-file PATH] [--day YYYYMMDD] [--time-limit TIME]
//                  CONFIG PARAM2 PARAM3
//
// In the batch's working directory it takes the lock kelbor.lock, looks at
// the database read-only (the accounting day and how many day records a run
// would handle, through the batch's own statements), keeps the previous
// kelbortgb under a dated name, runs "kelbor CONFIG PARAM2 PARAM3", reads
// exactly the entries this run wrote to kelbor.log and what it wrote on
// standard error, prints one summary line, writes a status file for
// monitoring and exits with the night's verdict. The batch itself always
// exits 0; this is the operator's signal.
//
// Missed nights are caught up first: the state file kelbor-nightly.state
// holds the last accounting day whose run succeeded, and each day between
// it and yesterday is processed before yesterday, oldest first, by the
// wrapper itself with --day, which runs kelbor-catchup for that day under
// the same lock (the descriptor named in KELBOR_LOCK_FD) and judges it as a
// night. A failed day stops the catch-up.
//
// Exit status: 0 a good night; 1 a failed night or one whose outcome cannot
// be known; 2 wrong usage; 3 another run holds the lock; 4 the accounting
// day has no day records (an empty night).
//
// The same program runs on Linux and Windows; what differs (starting the
// batch, stop requests, file identities) is in tools/nightly_platform.
//
// Module state: the phase of the night and the stop that ended it, written
// by main and read by the stop handler (a signal handler on Linux, a thread
// on Windows) and the time limit's thread.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "db/connection.h"
#include "db/day_records.h"
#include "frame/calendar_day.h"
#include "frame/platform.h"
#include "frame/run_context.h"
#include "frame/run_lock.h"
#include "frame/schema_name.h"
#include "tools/catch_up.h"
#include "tools/config_check.h"
#include "tools/database_look.h"
#include "tools/night_report.h"
#include "tools/nightly_platform.h"

namespace {

constexpr int kGood = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kLockHeld = 3;
constexpr int kEmptyNight = 4;

constexpr char kMe[] = "kelbor-nightly";
constexpr char kLogName[] = "kelbor.log";
constexpr char kParameterFile[] = "kelbortgb";
constexpr char kDefaultStatusFile[] = "kelbor.prom";
// At least the last seven nights' parameter files stay; two weeks leave a
// consumer that missed a week its lines.
constexpr std::size_t kKeptParameterFiles = 14;

// Where the night stands, for the stop handler: looking at the database
// before the batch runs, the batch running, or the batch ended.
enum Phase : int { kLooking, kBatchRunning, kJudging };
volatile sig_atomic_t phase = kLooking;
volatile sig_atomic_t stopSignal = 0;
// Set when the wrapper's own time limit (--time-limit) stopped the night.
volatile sig_atomic_t limitReached = 0;
// The summary line of a night whose look at the database the time limit
// ended, formed before the limit can strike.
char limitStoppedLook[200] = {};

// A time limit (timeout, systemd, --time-limit) stops the wrapper with
// SIGTERM, often twice over (timeout signals the wrapper and then its whole
// group): the batch gets the stop too, and the wrapper still judges the
// night. Before the batch runs (the look at the database may hang on a
// silent server) there is nothing to judge: the night fails at once.
void onStop(int sig) {
    stopSignal = sig;
    if (phase == kBatchRunning) {
        // Before the batch started, its start passes the stop on.
        stopRunningProgram(sig);
        return;
    }
    if (phase == kJudging) return;
    static const char kStopped[] =
        "kelbor run (not started): failed: stopped by a signal while looking at the database "
        "(a time limit? the server did not answer)\n";
    if (limitReached) {
        writeStandardOutput(limitStoppedLook, std::strlen(limitStoppedLook));
    } else {
        writeStandardOutput(kStopped, sizeof kStopped - 1);
    }
    endNow(kFailed);
}

// The night's own time limit: when it passes before the night is judged,
// the night is stopped as by SIGTERM. On Windows, where the Task
// Scheduler's limit ends the wrapper without a word, this is how a night
// hung on a silent server still gets its verdict.
class TimeLimit {
  public:
    // text: the limit as given ("6h"); seconds: 0 for none.
    TimeLimit(const std::string& text, long seconds) {
        if (seconds <= 0) return;
        std::snprintf(limitStoppedLook, sizeof limitStoppedLook,
                      "kelbor run (not started): failed: stopped by the time limit of %s while "
                      "looking at the database (the server did not answer)\n",
                      text.c_str());
        watcher_ = std::thread([this, seconds] {
            std::unique_lock<std::mutex> hold(guard_);
            if (ended_.wait_for(hold, std::chrono::seconds(seconds), [this] { return done_; }))
                return;
            limitReached = 1;
            onStop(SIGTERM);
        });
    }
    ~TimeLimit() {
        if (!watcher_.joinable()) return;
        {
            std::lock_guard<std::mutex> hold(guard_);
            done_ = true;
        }
        ended_.notify_all();
        watcher_.join();
    }

  private:
    std::mutex guard_;
    std::condition_variable ended_;
    bool done_ = false;
    std::thread watcher_;
};

// How many decimal digits text holds from at on.
std::size_t digitsAt(const std::string& text, std::size_t at) {
    std::size_t n = 0;
    while (at + n < text.size() && text[at + n] >= '0' && text[at + n] <= '9') ++n;
    return n;
}

// A time limit as given on the command line: whole seconds, minutes or
// hours ("90s", "45m", "6h"), at most a week. Returns the seconds, or -1
// for anything else.
long parseTimeLimit(const std::string& text) {
    std::size_t digits = digitsAt(text, 0);
    if (digits == 0 || digits > 6 || digits + 1 != text.size()) return -1;
    char unit = text.back();
    long scale = unit == 's' ? 1 : unit == 'm' ? 60 : unit == 'h' ? 3600 : 0;
    long seconds = std::stol(text.substr(0, digits)) * scale;
    return seconds > 0 && seconds <= 7 * 24 * 3600 ? seconds : -1;
}

void printUsage(std::ostream& out) {
    out << "usage: " << kMe
        << " [--status-file PATH] [--day YYYYMMDD] [--time-limit TIME] CONFIG PARAM2 "
           "PARAM3\n"
        << "Runs \"kelbor CONFIG PARAM2 PARAM3\" in the current directory under the lock "
        << kRunLockName
        << ",\nprints one summary line and exits 0 for a good night, 1 for a failed "
           "one\n(or one whose outcome cannot be known), 2 for wrong usage, 3 when another\nrun "
           "holds the lock, 4 when the accounting day has no day records.\n"
        << "KELBOR names the batch (default: kelbor " << packageProgramsPlace()
        << "). The status file for\nmonitoring "
           "(Prometheus textfile format) is "
        << kDefaultStatusFile
        << " in the current directory\nunless --status-file names "
           "another.\n"
        << "Nights missed since the last good one (" << kStateFileName
        << ") are caught up first,\noldest first, up to " << kCatchUpBound
        << " days. --day processes that one past accounting day\nthrough kelbor-catchup "
           "(beside KELBOR when it is set, else "
        << packageProgramsPlace() << ") instead.\n"
        << "--time-limit stops a night still going after TIME (90s, 45m, 6h) as SIGTERM\n"
           "would (the batch is stopped, the night fails).\n";
}

std::string errnoText(int error) {
    return std::strerror(error);
}

bool readFileText(const char* path, std::string& text) {
    int error = 0;
    int fd = openInputFile(path, LinkRule::kRefuse, error);
    if (fd < 0) return false;
    bool ok = readFrom(fd, 0, text);
    closeFile(fd);
    return ok;
}

// What the database says before the run.
struct Look {
    bool done = false;          // connected and read the day and its count
    std::string failure;        // why not
    std::string accountingDay;  // yyyymmdd
    long dayRecords = -1;
};

// Connects with the login the batch reads from config and forms the
// schema name as the batch does; the deciphered values are wiped before it
// returns. Returns connectDatabase's result.
int connectAsTheBatch(const std::string& config) {
    UsedValues used = readUsedValues(config);
    int rc = connectDatabase(used.login.value.c_str(), used.password.value.c_str(),
                             used.dataSource.value.c_str());
    formSchemaName(used.schema.value.c_str(), runContext.schemaName);
    wipeUsedValues(used);
    return rc;
}

Look lookAtDatabase(const std::string& config, const std::string& day) {
    Look look;
    std::string reason = unreadableReason(config);
    if (!reason.empty()) {
        look.failure = "cannot read " + config + ": " + reason;
        return look;
    }
    int rc = connectAsTheBatch(config);
    if (rc != 0) {
        look.failure = "cannot connect (SQLSTATE " + std::string(diagRecord.SqlState.text) +
                       "; kelbor-config check " + config + " tells why)";
        return look;
    }
    std::string clock;
    std::vector<DiagLine> diagnostics;
    if (!readAccountingDay(clock, look.accountingDay, diagnostics)) {
        look.failure = "cannot read the server's clock";
        return look;
    }
    // A missed night's day is counted through the catch-up's statement.
    if (!day.empty()) {
        look.accountingDay = day;
        setAccountingDay(day.c_str());
    }
    long count = 0;
    rc = countDayRecords(count);
    if (rc != 0) {
        look.failure = "cannot read the day records (RC:" + std::to_string(rc) + " " +
                       diagRecord.SqlState.text + ")";
        return look;
    }
    look.dayRecords = count;
    look.done = true;
    return look;
}

void endLook() {
    if (connHandle != nullptr) SQLDisconnect(connHandle);
}

// The follow-ups without their credit after a failed night.
std::vector<std::string> breaksAfterRun(const std::string& config, const Look& look,
                                        const std::string& day) {
    std::vector<std::string> lines;
    if (!look.done) return lines;
    int rc = connectAsTheBatch(config);
    if (rc != 0) {
        lines.push_back("follow-ups without credit not checked: cannot connect");
        return lines;
    }
    std::vector<UnrepairedBreak> breaks;
    std::vector<DiagLine> diagnostics;
    if (!listUnrepairedBreaks(runContext.schemaName.text, day, breaks, diagnostics)) {
        lines.push_back("follow-ups without credit not checked: the query failed");
    }
    for (const UnrepairedBreak& b : breaks) {
        lines.push_back("without credit: " + describeBreak(b, look.accountingDay));
    }
    endLook();
    return lines;
}

// kelbortgb.yyyymmdd-hhmmss, with -N when two were written in one second.
bool isKeptName(const std::string& name) {
    const std::string prefix = std::string(kParameterFile) + ".";
    if (name.rfind(prefix, 0) != 0) return false;
    std::size_t at = prefix.size();
    if (digitsAt(name, at) != 8 || name.size() < at + 15 || name[at + 8] != '-' ||
        digitsAt(name, at + 9) != 6)
        return false;
    at += 15;
    // The optional -N; digitsAt stops at the end.
    return at == name.size() || (name[at] == '-' && digitsAt(name, at + 1) > 0 &&
                                 at + 1 + digitsAt(name, at + 1) == name.size());
}

// Moves a non-empty kelbortgb aside under the time it was last written, so
// this run's fresh file cannot cost the consumer the last one's lines, and
// removes the oldest kept files beyond the limit. Returns false (reason set)
// when the file could not be kept; the run must not start then.
bool keepParameterFile(std::string& keptAs, std::string& reason, std::size_t keepAtLeast) {
    long long size = 0;
    std::time_t lastWrite = 0;
    // Anything but a regular file the batch refuses, and logs that.
    if (!regularFile(kParameterFile, size, lastWrite)) return true;
    if (size > 0) {
        std::tm local{};
        localTime(lastWrite, local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
        std::string name = std::string(kParameterFile) + "." + stamp;
        auto taken = [](const std::string& n) {
            std::error_code ignored;
            return std::filesystem::symlink_status(n, ignored).type() !=
                   std::filesystem::file_type::not_found;
        };
        for (int n = 2; taken(name); ++n) {
            name = std::string(kParameterFile) + "." + stamp + "-" + std::to_string(n);
        }
        // rename replaces nothing on Windows; here the name is free.
        if (std::rename(kParameterFile, name.c_str()) != 0) {
            reason = "cannot keep kelbortgb as " + name + ": " + errnoText(errno);
            return false;
        }
        keptAs = name;
    }
    std::vector<std::string> kept;
    for (const std::string& name : namesInCurrentDirectory()) {
        if (isKeptName(name)) kept.push_back(name);
    }
    std::sort(kept.begin(), kept.end());
    for (std::size_t i = 0; i + keepAtLeast < kept.size(); ++i) std::remove(kept[i].c_str());
    return true;
}

// Where kelbor.log stood when the run started.
struct LogMark {
    bool found = false;  // a kelbor.log was there
    int fd = -1;         // read-only, follows the file through a rename (Linux)
    long long offset = 0;
    FileIdentity identity;
    // Its first bytes: a log the batch started afresh begins with this run's
    // time stamp, never with an earlier run's.
    std::string head;
};

// What of the log's beginning is compared: more than an entry's time stamp.
constexpr std::size_t kLogHead = 256;

LogMark markLog() {
    LogMark mark;
    int error = 0;
    int fd = openInputFile(kLogName, LinkRule::kRefuse, error);
    if (fd < 0) return mark;
    mark.offset = fileSize(fd);
    mark.found =
        mark.offset >= 0 && identityOf(fd, mark.identity) && readFrom(fd, 0, mark.head, kLogHead);
    if (mark.found && mayHoldLogOpen()) {
        mark.fd = fd;
    } else {
        closeFile(fd);
    }
    return mark;
}

// This run's entries: what the file marked at the start gained (it may have
// been renamed meanwhile, which only the open file shows), or else the
// whole of the kelbor.log the run started afresh. Returns false with reason
// set when neither holds.
bool readThisRunsEntries(const LogMark& mark, std::string& text, std::string& reason) {
    if (mark.fd >= 0 && fileSize(mark.fd) > mark.offset) {
        if (readFrom(mark.fd, mark.offset, text)) return true;
        reason = "kelbor.log cannot be read: " + errnoText(errno);
        return false;
    }
    int error = 0;
    int fd = openInputFile(kLogName, LinkRule::kRefuse, error);
    if (fd < 0) {
        reason = "the run left no kelbor.log";
        return false;
    }
    FileIdentity now;
    std::string head;
    long long size = fileSize(fd);
    bool known = identityOf(fd, now) && readFrom(fd, 0, head, kLogHead);
    long long from = 0;
    // The file marked, still under its name. Where the wrapper does not hold
    // it open (Windows), a file made afresh may be given the same identity
    // (Wine's come from inodes, which are reused): its beginning tells.
    if (known && mark.found && now == mark.identity && size >= mark.offset &&
        head.compare(0, mark.head.size(), mark.head) == 0) {
        if (size == mark.offset) {
            closeFile(fd);
            reason = "the run wrote nothing to kelbor.log";
            return false;
        }
        from = mark.offset;
    }
    bool read = readFrom(fd, from, text);
    int readError = errno;
    closeFile(fd);
    if (!read) {
        reason = "kelbor.log cannot be read: " + errnoText(readError);
        return false;
    }
    return true;
}

// The batch: KELBOR when set, else kelbor where the platform keeps the
// package's programs. Another program of the package (kelbor-catchup):
// beside KELBOR when it is set, else where the batch would be.
std::string packageProgram(const char* name) {
    const char* kelbor = std::getenv("KELBOR");
    if (kelbor == nullptr || *kelbor == '\0') return packageProgramPath(name);
    if (std::strcmp(name, "kelbor") == 0) return kelbor;
    std::string dir = kelbor;
    std::size_t slash = dir.find_last_of(pathSeparators());
    return slash == std::string::npos ? name : dir.substr(0, slash + 1) + name;
}

// Runs a program under the lock (it inherits the lock's descriptor, shared
// with the children before): what it writes on standard error is passed on
// as it comes and kept for the verdict, line by line. From the start on a
// stop is the program's to take; the stop handler passes it on.
ProgramEnd runBatch(const std::string& program, const std::vector<std::string>& args,
                    std::vector<std::string>& stderrLines) {
    phase = kBatchRunning;
    ProgramEnd run = runCapturing(program, args);
    phase = kJudging;
    std::istringstream lines(run.errorOutput);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) stderrLines.push_back(line);
    }
    return run;
}

std::string pnrDayText(const std::pair<std::string, std::string>& day) {
    const std::string& d = day.second;
    std::string dotted =
        d.size() == 8 ? d.substr(6, 2) + "." + d.substr(4, 2) + "." + d.substr(0, 4) : d;
    return day.first + " " + dotted;
}

// The counts and the verdict for the status file.
struct Night {
    int exitCode = kFailed;
    bool outcomeKnown = false;
    RunEntries entries;
    Look look;
};

// Reads the last good night's time from the earlier status file.
std::string lastGoodFrom(const std::string& path) {
    std::string text;
    if (!readFileText(path.c_str(), text)) return "0";
    const std::string key = "kelbor_nightly_last_success_timestamp_seconds ";
    std::size_t at = text.find("\n" + key);
    if (at == std::string::npos) return "0";
    at += 1 + key.size();
    // Written with CR LF on Windows.
    std::string value = text.substr(at, text.find('\n', at) - at);
    if (!value.empty() && value.back() == '\r') value.pop_back();
    return value;
}

void writeStatusFile(const std::string& path, const Night& night, std::time_t ended) {
    std::string lastGood = night.exitCode == kGood ? std::to_string(static_cast<long long>(ended))
                                                   : lastGoodFrom(path);
    std::ostringstream out;
    auto metric = [&out](const char* name, const char* help, const std::string& value) {
        out << "# HELP " << name << " " << help << "\n# TYPE " << name << " gauge\n"
            << name << " " << value << "\n";
    };
    metric("kelbor_nightly_last_run_timestamp_seconds", "When the last night's run ended.",
           std::to_string(static_cast<long long>(ended)));
    metric("kelbor_nightly_last_success_timestamp_seconds",
           "When the last good night ended (0: none yet).", lastGood);
    metric("kelbor_nightly_success", "1 when the last night was good.",
           night.exitCode == kGood ? "1" : "0");
    metric("kelbor_nightly_exit_code", "The wrapper's exit status of the last night.",
           std::to_string(night.exitCode));
    metric("kelbor_nightly_outcome_known", "0 when the last night's outcome could not be known.",
           night.outcomeKnown ? "1" : "0");
    metric("kelbor_nightly_accounting_day",
           "The last night's accounting day as yyyymmdd (0: unknown).",
           night.look.done ? night.look.accountingDay : "0");
    metric("kelbor_nightly_day_records", "Day records of the accounting day (-1: unknown).",
           std::to_string(night.look.dayRecords));
    const RunEntries& e = night.entries;
    metric("kelbor_nightly_followups_inserted", "Follow-up bookings inserted by the last night.",
           std::to_string(e.inserted));
    metric("kelbor_nightly_refused_by_priority", "Follow-ups refused by priority.",
           std::to_string(e.refusedPriority));
    metric("kelbor_nightly_refused_by_target_time", "Follow-ups refused by target time.",
           std::to_string(e.refusedTargetTime));
    metric("kelbor_nightly_old_cancellations_deleted", "Old cancelled bookings deleted.",
           std::to_string(e.oldCancellationsDeleted));
    metric("kelbor_nightly_errors", "Fehler entries of the last night's log.",
           std::to_string(e.errorTotal));
    // Never half a file for the collector.
    std::string error;
    if (!replaceFileWhole(path, out.str(), error)) {
        std::cerr << kMe << ": cannot write the status file: " << error << "\n";
    }
}

// This program, to run it again for a missed night.
std::string selfPath() {
    std::string path = ownPath();
    return path.empty() ? std::string(kMe) : path;
}

// Runs this wrapper with --day for each accounting day between the last one
// whose run succeeded (the state file) and yesterday, oldest first; each
// prints its own summary line. Returns kGood when there was none or all of
// them were good (caughtUp counts them), else kFailed after a line that says
// what stopped and how to go on. Without a state file (the first night)
// there is nothing to catch up.
int catchUpMissedNights(const std::string& statusFile, const std::vector<std::string>& args,
                        const std::string& yesterday, std::size_t& caughtUp) {
    std::string last, problem;
    if (!readLastProcessedDay(kStateFileName, last, problem)) {
        if (!problem.empty()) {
            std::cout << "kelbor catch-up: " << problem << ": no missed night caught up\n";
        }
        return kGood;
    }
    std::vector<std::string> days = daysBetween(last, yesterday);
    if (days.empty()) return kGood;
    auto command = [&args](const std::string& day) {
        return std::string(kMe) + " --day " + day + " " + args[0] + " " + args[1] + " " + args[2];
    };
    if (days.size() > kCatchUpBound) {
        std::cout << "kelbor catch-up: failed: " << days.size() << " nights missed, "
                  << isoDate(days.front()) << " to " << isoDate(days.back()) << ", more than "
                  << kCatchUpBound << " to catch up by itself; nothing was processed. Process "
                  << "each day, oldest first, in this directory with \"" << command("YYYYMMDD")
                  << "\" (from " << days.front() << " to " << days.back()
                  << "); the nights then go on by themselves\n";
        return kFailed;
    }
    for (const std::string& d : days) {
        std::vector<std::string> dayArgs = {"--status-file", statusFile, "--day", d};
        dayArgs.insert(dayArgs.end(), args.begin(), args.begin() + 3);
        std::vector<std::string> ignored;  // passed on already
        ProgramEnd run = runBatch(selfPath(), dayArgs, ignored);
        int code = run.started && run.exited ? run.code : -1;
        if (code != kGood) {
            std::cout << "kelbor catch-up: failed: the missed night of " << isoDate(d) << " (exit "
                      << code << ") stops the catch-up; yesterday " << isoDate(yesterday)
                      << " and the days between are not processed. Retry it with \"" << command(d)
                      << "\", or once it is done by hand mark it done with \""
                      << markDoneCommand("last_processed_day " + d, kStateFileName)
                      << "\"; the next night goes on from there\n";
            return kFailed;
        }
        ++caughtUp;
    }
    return kGood;
}

}  // namespace

int main(int argc, char** argv) {
    // The look at the database holds the deciphered password for a moment: no
    // core file of this process. The batch starts dumpable again after exec.
    forbidCoreDumps();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        printUsage(std::cout);
        return kGood;
    }
    if (!args.empty() && args[0] == "--version") {
        std::cout << kMe << " " << KELBOR_VERSION << "\n";
        return kGood;
    }
    std::string statusFile = kDefaultStatusFile;
    std::string day;            // --day: a missed night's accounting day
    std::string timeLimit;      // --time-limit as given
    long timeLimitSeconds = 0;  // 0 for none
    bool usage = false;
    while (!usage && !args.empty() && args[0].rfind("--", 0) == 0) {
        std::string option = args[0];
        std::string value;
        std::size_t eq = option.find('=');
        if (eq != std::string::npos) {
            value = option.substr(eq + 1);
            option.resize(eq);
            args.erase(args.begin());
        } else if (args.size() > 1) {
            value = args[1];
            args.erase(args.begin(), args.begin() + 2);
        } else {
            usage = true;
        }
        if (option == "--status-file") {
            statusFile = value;
        } else if (option == "--day") {
            day = value;
            usage = usage || !isCalendarDay(day.c_str());
        } else if (option == "--time-limit") {
            timeLimit = value;
            timeLimitSeconds = parseTimeLimit(value);
        } else {
            usage = true;
        }
    }
    if (usage || args.size() < 3 || statusFile.empty() || timeLimitSeconds < 0) {
        printUsage(std::cerr);
        return kUsage;
    }
    const std::string& config = args[0];
    const bool logOn = !args[2].empty() && args[2][0] == 'D';

    onStopRequest(onStop);

    // Two runs at once would both insert the same follow-ups (duplicate-key
    // errors) and cancel bookings twice, so a run never starts beside
    // another. The batch inherits the descriptor, so the lock is held while
    // either of them lives.
    const std::string lockPath = currentDirectory() + pathSeparators()[0] + kRunLockName;
    // Started by a holder of the lock (the wrapper catching up a night), it
    // takes the lock on the holder's descriptor; otherwise on kelbor.lock
    // opened afresh by the rules kelbor-catchup checks that descriptor by.
    const char* inherited = std::getenv(kRunLockFdEnv);
    int lockFd = -1;
    int lockError = 0;
    int lockRc = takeRunLock(inherited, lockFd, lockError);
    if (lockRc == kRunLockHeld) {
        std::cout << "kelbor: not started: another run still holds " << lockPath << "\n";
        return kLockHeld;
    }
    if (lockRc != kRunLockTaken && inherited != nullptr) {
        std::cout << "kelbor: not started: " << kRunLockFdEnv << "=" << inherited
                  << " is not a descriptor of " << lockPath << " that can be locked\n";
        return kFailed;
    }
    if (lockRc != kRunLockTaken) {
        std::cout << "kelbor: not started: cannot open the lock file " << lockPath << "\n";
        return kFailed;
    }
    // A fresh lock file is opened closed-on-exec; the programs started under
    // the lock need the descriptor, and the batch keeps the lock should the
    // wrapper end first.
    // Every program started under the lock (kelbor-catchup, the wrapper for
    // a missed night) takes it on this descriptor.
    setEnvironment(kRunLockFdEnv, std::to_string(shareWithChildren(lockFd)));

    // From here the night may be stopped by its time limit; the limit ends
    // (its thread joined) when main returns.
    TimeLimit limit(timeLimit, timeLimitSeconds);
    Night night;
    night.look = lookAtDatabase(config, day);
    endLook();

    // Missed nights first, each judged as a night of its own.
    std::size_t caughtUp = 0;
    if (day.empty() && night.look.done) {
        int rc = catchUpMissedNights(statusFile, args, night.look.accountingDay, caughtUp);
        if (rc != kGood) {
            // The night failed before its own run: monitoring sees it so.
            night.exitCode = rc;
            writeStatusFile(statusFile, night, std::time(nullptr));
            return rc;
        }
        phase = kLooking;
    }

    std::string keptAs, keepFailure;
    std::vector<std::string> reasons;  // why the night failed
    std::string unknown;               // why its outcome cannot be known
    ProgramEnd run;
    std::vector<std::string> stderrLines;
    std::string text;
    // The parameter files this night kept stay for the consumer; a missed
    // night's run leaves the pruning to the night.
    std::size_t keepAtLeast = day.empty() ? kKeptParameterFiles + caughtUp : SIZE_MAX;
    if (!keepParameterFile(keptAs, keepFailure, keepAtLeast)) {
        reasons.push_back("not started: " + keepFailure);
    } else {
        LogMark mark = markLog();
        if (day.empty()) {
            run = runBatch(packageProgram("kelbor"), args, stderrLines);
        } else {
            std::vector<std::string> catchUpArgs = {args[0], day, args[1], args[2]};
            run = runBatch(packageProgram("kelbor-catchup"), catchUpArgs, stderrLines);
        }
        if (!run.started) {
            reasons.push_back("not started: " + run.startError);
        } else if (!logOn) {
            unknown = "the log is off (PARAM3 does not start with D)";
        } else if (!readThisRunsEntries(mark, text, unknown)) {
            // unknown says why
        } else if (!startsWithRunStamp(text)) {
            unknown = "this run's entries in kelbor.log do not start with its time stamp";
        }
        if (mark.fd >= 0) closeFile(mark.fd);
    }
    // A log that could not be opened or written holds too little to judge by.
    // The batch's own texts for a log it could not open or write:
    // "Fehler: fopen(kelbor.log)! ..." and "Fehler: fwrite(kelbor.log)! RC:...".
    for (const std::string& line : stderrLines) {
        if (line.find("(kelbor.log)!") != std::string::npos) {
            unknown = "kelbor.log could not be written";
        }
    }
    night.entries = readRunEntries(text);
    night.outcomeKnown = run.started && unknown.empty();
    if (night.outcomeKnown && !night.entries.complete) {
        unknown = "the last entry in kelbor.log is incomplete";
        night.outcomeKnown = false;
    }

    const RunEntries& e = night.entries;
    std::ostringstream line;
    line << "kelbor run " << (e.stamp.empty() ? "(no time stamp)" : e.stamp) << ": ";
    if (night.look.done) {
        line << "accounting day " << isoDate(night.look.accountingDay)
             << (day.empty() ? "" : " (a missed night, caught up)") << ", " << night.look.dayRecords
             << " day records; ";
    } else {
        reasons.push_back("the look at the database before the run failed: " + night.look.failure);
        line << "accounting day unknown; ";
    }
    if (night.outcomeKnown) {
        line << e.inserted << " follow-ups inserted, " << e.refusedPriority
             << " refused by priority, " << e.refusedTargetTime << " refused by target time, "
             << e.oldCancellationsDeleted << " old cancellations deleted; ";
        if (e.errorTotal == 0) {
            line << "no errors";
        } else {
            line << "errors:";
            for (std::size_t i = 0; i < e.errors.size(); ++i) {
                line << " " << e.errors[i].first << " " << e.errors[i].second
                     << (i + 1 < e.errors.size() ? "," : "");
            }
            reasons.emplace_back();  // named in the line already
        }
        // Every day the run changed must reach the consumer.
        std::string tgb;
        readFileText(kParameterFile, tgb);
        std::set<std::pair<std::string, std::string>> listed = readParameterLines(tgb);
        std::string missing;
        for (const auto& day : e.changedDays) {
            if (listed.count(day) == 0) missing += (missing.empty() ? "" : ", ") + pnrDayText(day);
        }
        if (!missing.empty())
            reasons.push_back("parameter lines missing in kelbortgb for " + missing);
    } else if (run.started) {
        line << "outcome unknown: " << unknown;
        reasons.emplace_back();
    }
    if (run.started && !(run.exited && run.code == 0)) {
        reasons.push_back("the batch ended with status " + run.status);
    }
    if (limitReached) {
        reasons.push_back("stopped by the time limit of " + timeLimit +
                          " (the server did not answer?)");
    } else if (stopSignal != 0) {
        reasons.push_back("stopped by signal " + std::to_string(stopSignal) +
                          " (a time limit? the server did not answer)");
    }
    for (const std::string& err : stderrLines) reasons.push_back("standard error: " + err);

    bool empty = night.look.done && night.look.dayRecords == 0;
    bool failed = false;
    for (const std::string& r : reasons) {
        failed = true;
        if (!r.empty()) line << "; " << r;
    }
    if (empty) {
        line << "; no day records for the accounting day: nothing was processed; check the "
                "server's clock and that the day-closing job ran";
    }
    // A night stopped by its time limit may have met a server that hangs;
    // a second look could hang as well and cost the summary.
    if (failed && stopSignal != 0) {
        line << "; follow-ups without credit not checked: the night was stopped (kelbor-config "
                "check lists them)";
    } else if (failed) {
        for (const std::string& b : breaksAfterRun(config, night.look, day)) line << "; " << b;
    }
    if (!keptAs.empty()) line << "; the previous kelbortgb is kept as " << keptAs;
    // A missed night's verdict, spelled out: the exit status of the whole
    // night tells only the last day's.
    if (!day.empty()) {
        line << "; missed night " << day
             << (failed  ? " failed"
                 : empty ? " failed: empty"
                         : " caught up: good");
    }
    std::cout << line.str() << "\n";
    std::cout.flush();

    night.exitCode = failed ? kFailed : empty ? kEmptyNight : kGood;
    writeStatusFile(statusFile, night, std::time(nullptr));
    // The next night catches up from the last day whose run succeeded.
    std::string stateError;
    if (night.exitCode == kGood &&
        !writeLastProcessedDay(kStateFileName, night.look.accountingDay, stateError)) {
        std::cerr << kMe << ": " << stateError << "\n";
    }
    return night.exitCode;
}
