// Log and console output under the run's switches.
//
// Every log entry is one line written in two pieces: a fixed text that ends
// in a blank, then a detail part that ends the line. Entries go to the log
// only when it is open and logVerbose is set; logAlways ignores logVerbose
// (the target-time refusal is always worth recording). Console progress
// lines go to standard output only when consoleDebug is set. Texts are
// Windows-1252 bytes and written as they are.
#pragma once

// Writes fixedText, then the formatted detail, when the log is open and
// logVerbose is set.
__attribute__((format(printf, 2, 3))) void logEntry(const char* fixedText, const char* detailFmt,
                                                    ...);

// The same, written whenever the log is open.
__attribute__((format(printf, 2, 3))) void logAlways(const char* fixedText, const char* detailFmt,
                                                     ...);

// Formats a console line to standard output when consoleDebug is set.
__attribute__((format(printf, 1, 2))) void consoleLine(const char* fmt, ...);

// Opens "kelbor.log" in the current directory for appending into
// runContext.logFile, whatever logVerbose says, line buffered. A log larger
// than 1048576 bytes is deleted and started afresh. A symbolic link or
// anything but a regular file in its place is refused; when the log is
// refused or cannot be opened the run goes on without one (logFile stays
// null) and one line on standard error names the file and the reason.
void openLog();

// Closes the log if it is open.
void closeLog();
