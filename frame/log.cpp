// The log "kelbor.log" and the console trace.
//
// The log file lives in runContext.logFile; openLog and closeLog, called by
// the entry point, are the only writers of that field. Every entry is handed
// to the file as soon as it is written (a stream's line buffering would not
// do: Windows' runtime buffers such a stream fully), so a run killed at any
// point leaves a log of everything it did up to then. A failed write or
// close of the log is told once on standard error.
#include "frame/log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "frame/platform.h"
#include "frame/run_context.h"

namespace {

constexpr char kLogName[] = "kelbor.log";
// One MiB; a log of exactly this size is still appended to.
constexpr long long kLogLimit = 1048576;
constexpr char kLogRefused[] = "Fehler: fopen(kelbor.log)! %s\n";
constexpr char kLogWriteFailed[] = "Fehler: fwrite(kelbor.log)! RC:%d\n";

// Set once a write to the log has failed: the failure is told once, on
// standard error, since the log itself cannot carry it.
constinit int logWriteFailed = 0;

void writeEntry(const char* fixedText, const char* detailFmt, va_list ap) {
    std::fputs(fixedText, runContext.logFile);
    int rc = std::vfprintf(runContext.logFile, detailFmt, ap);
    // The flush hands the whole entry to the file; a full disk fails it.
    if (std::fflush(runContext.logFile) != 0) rc = -1;
    if (logWriteFailed != 0 || (rc >= 0 && std::ferror(runContext.logFile) == 0)) return;
    // A log that silently stops (a full disk) would read like a quiet night.
    logWriteFailed = 1;
    std::fprintf(stderr, kLogWriteFailed, errno);
}

}  // namespace

void logEntry(const char* fixedText, const char* detailFmt, ...) {
    if (runContext.logFile == nullptr || runContext.logVerbose == 0) return;
    va_list ap;
    va_start(ap, detailFmt);
    writeEntry(fixedText, detailFmt, ap);
    va_end(ap);
}

void logAlways(const char* fixedText, const char* detailFmt, ...) {
    if (runContext.logFile == nullptr) return;
    va_list ap;
    va_start(ap, detailFmt);
    writeEntry(fixedText, detailFmt, ap);
    va_end(ap);
}

void consoleLine(const char* fmt, ...) {
    if (runContext.consoleDebug == 0) return;
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
}

void openLog() {
    int error = 0;
    int fd = openOutputFile(kLogName, OutputMode::kAppend, error);
    if (fd >= 0 && fileSize(fd) > kLogLimit) {
        closeFile(fd);
        std::remove(kLogName);
        fd = openOutputFile(kLogName, OutputMode::kAppend, error);
    }
    if (fd >= 0) {
        runContext.logFile = appendStream(fd);
        if (runContext.logFile != nullptr) return;
        error = ENOMEM;
    }
    // A run without a log says so where the operator can see it.
    std::fprintf(stderr, kLogRefused, outputFileReason(error));
}

void closeLog() {
    if (runContext.logFile == nullptr) return;
    int rc = std::fclose(runContext.logFile);
    runContext.logFile = nullptr;
    if (rc != 0 && logWriteFailed == 0) std::fprintf(stderr, kLogWriteFailed, errno);
}
