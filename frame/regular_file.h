// Files the batch opens only as regular files: the configuration it reads
// and the two it writes in its working directory, "kelbor.log" and
// "kelbortgb".
//
// A FIFO or device in a file's place must neither hang the run nor feed it
// without end. The output files are moreover never opened through a
// symbolic link nor when another name links to them: a link planted in the
// working directory must not make the run truncate or append to another
// file of its user. No state.
#pragma once

#include <cstddef>

enum class OutputMode {
    kAppend,   // kept, written at its end
    kReplace,  // emptied before the first write
};

// The error of a refused file that is not a regular one; every other error
// is the errno value of the failed call.
constexpr int kNotRegularFile = -1;
// The error of an output file that has more than one name (a hard link).
constexpr int kHardLinked = -2;

// Opens path with the open(2) flags given, without waiting (a FIFO without
// a peer is refused at once), and keeps it only when it is a regular file.
// Returns the file descriptor, or -1 with error set: kNotRegularFile, or the
// errno of the call that failed.
int openRegularFile(const char* path, int flags, int& error);

// Opens name (created with mode 0666 less the umask when missing) for
// writing. Returns the file descriptor, or -1 with error set: ELOOP for a
// symbolic link, kNotRegularFile, kHardLinked for a file with more than one
// link, ENXIO for a FIFO without a reader, or the errno of the call that
// failed.
int openOutputFile(const char* name, OutputMode mode, int& error);

// A short German text for an error of openOutputFile, for the operator.
const char* outputFileReason(int error);

// Writes length bytes of text to fd, retrying after interruptions and
// partial writes. Returns 0, or the errno value of the write that failed.
int writeOutput(int fd, const char* text, std::size_t length);
