// What kelbor-nightly asks of the operating system beyond the batch's own
// platform layer (frame/platform): starting a program of the package with
// its standard error captured and waiting for it, stopping it on request,
// the stop requests themselves, this program's path, a file's identity and
// last write, and the environment. The only file of the wrapper that asks
// which platform it runs on: Linux (POSIX) or Windows.
//
// Module state: the program running (its process, on Windows its job), so
// that a stop request or the time limit, which come from a signal handler or
// another thread, can stop it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// How a program started by runCapturing ended.
struct ProgramEnd {
    bool started = false;
    std::string startError;   // why it did not start
    bool exited = false;      // it ended by itself (not by a signal or a stop)
    int code = -1;            // its exit status when exited
    std::string status;       // the status to report: the code, 128+N after signal N
    std::string errorOutput;  // all it wrote on standard error
};

// Runs program with args in the working directory. Its standard input and
// output are this program's; what it writes on standard error is passed on
// to ours as it comes and kept. It inherits what this program shares with
// its children (the run lock). On Windows the program and whatever it
// starts run in one job that ends with them, or with this program.
// A stop requested (stopRunningProgram) before the program started reaches
// it as soon as it has started. A program named without a folder is looked
// for as the platform does (Linux: PATH).
ProgramEnd runCapturing(const std::string& program, const std::vector<std::string>& args);

// Stops the program runCapturing runs (none: nothing), as a signal of
// number cause would on Linux: it ends with the status 128 + cause.
// Safe in a signal handler and from another thread.
void stopRunningProgram(int cause);

// Installs handler for the requests to stop this program: SIGTERM, SIGINT
// and SIGHUP on Linux (a time limit, Ctrl+C, a closed terminal); on
// Windows Ctrl+C (2), Ctrl+Break (21) and the console's close, logoff and
// shutdown (15). The handler gets the number; on Linux it runs as a signal
// handler, on Windows on a thread of its own, and this program ends once
// it has returned from a close, logoff or shutdown.
void onStopRequest(void (*handler)(int));

// Writes text to standard output at once, as the console's text is
// written there (Windows: line feeds as CR LF). Safe in a signal handler.
void writeStandardOutput(const char* text, std::size_t length);

// Ends this program at once with code, without flushing streams or running
// destructors. Safe in a signal handler.
[[noreturn]] void endNow(int code);

// The path of this program's executable, or an empty text.
std::string ownPath();

// The folder separators of paths on this platform.
const char* pathSeparators();

// The path of the package's program name where the platform finds it when
// no folder is named: Linux: name (looked for in PATH); Windows: name.exe
// in this program's own folder, since no installer adds that folder to
// PATH.
std::string packageProgramPath(const char* name);

// Where packageProgramPath finds them, for the help: "from PATH".
const char* packageProgramsPlace();

// The shell command that writes line as the whole of file, for the
// operator to type: Linux's sh, Windows' cmd.
std::string markDoneCommand(const std::string& line, const char* file);

// The working directory, or "." when it cannot be told.
std::string currentDirectory();

// Sets the environment variable name to value for this program and the
// ones it starts. Returns false when it could not.
bool setEnvironment(const char* name, const std::string& value);

// Which file an open file is: on Linux its device and inode, on Windows its
// volume's serial number and its file index.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of the open file fd. Returns false when it cannot be told.
bool identityOf(int fd, FileIdentity& identity);

// Whether fd may stay open on the log while the batch runs: on Windows an
// open file's name stays taken after its deletion until every handle is
// closed, which would keep the batch from starting a new log.
bool mayHoldLogOpen();

// Reads fd from offset to its end, or limit bytes at most, into text.
// Returns false (errno set) when a read failed.
bool readFrom(int fd, long long offset, std::string& text, std::size_t limit = SIZE_MAX);

// When name is a regular file in its own right (not a link, a reparse
// point, a folder or a device): true, with its size and the time of its
// last write. False otherwise or when it does not exist.
bool regularFile(const char* name, long long& size, std::time_t& lastWrite);

// The names in the working directory.
std::vector<std::string> namesInCurrentDirectory();
