// The log "kelbor.log" and the console trace.
//
// The log file lives in runContext.logFile; openLog and closeLog, called by
// the entry point, are the only writers of that field. Entries are written
// with plain formatted output and never flushed by hand; closing the log at
// the end of the run writes out what is buffered.
#include "frame/log.h"

#include <cstdarg>
#include <cstdio>

#include "frame/run_context.h"

namespace {

constexpr char kLogName[] = "kelbor.log";
// One MiB; a log of exactly this size is still appended to.
constexpr long kLogLimit = 1048576;

void writeEntry(const char* fixedText, const char* detailFmt, va_list ap) {
    std::fputs(fixedText, runContext.logFile);
    std::vfprintf(runContext.logFile, detailFmt, ap);
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
    runContext.logFile = std::fopen(kLogName, "a");
    if (runContext.logFile == nullptr) return;
    // In append mode the position is only defined after a seek; the end is
    // the size.
    std::fseek(runContext.logFile, 0, SEEK_END);
    long size = std::ftell(runContext.logFile);
    if (size <= kLogLimit) return;
    std::fclose(runContext.logFile);
    std::remove(kLogName);
    runContext.logFile = std::fopen(kLogName, "a");
}

void closeLog() {
    if (runContext.logFile == nullptr) return;
    std::fclose(runContext.logFile);
    runContext.logFile = nullptr;
}
