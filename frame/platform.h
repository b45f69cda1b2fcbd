// What the batch and its tools ask of the operating system beyond the
// standard library, in one place, so the rest of the code never asks which
// platform it runs on: Linux (and other POSIX systems) or Windows. No state.
//
// Files the batch opens are opened only as regular files: the configuration
// it reads and the two it writes in its working directory, "kelbor.log" and
// "kelbortgb". A FIFO, device or folder in a file's place must neither hang
// the run nor feed it without end. The output files are moreover never
// opened through a link (a symbolic link, or on Windows any reparse point)
// nor when another name links to them: a link planted in the working
// directory must not make the run truncate or append to another file of its
// user.
//
// Files are plain integer descriptors of the C runtime on both platforms.
// Text written through writeLine and the log's stream ends its lines as the
// platform's text files do: a line feed here, carriage return and line feed
// on Windows.
#pragma once

#include <cstddef>
#include <cstdio>
#include <ctime>

// Makes the process non-dumpable: no core file is written when it crashes
// or is aborted, and other processes of the same user cannot attach to it
// or read its memory through /proc. Called before the configuration is
// read, so the deciphered password can never reach a core file. Returns 0,
// or -1 when the system refused (the run goes on; there is nothing better
// to do).
int forbidCoreDumps();

// Overwrites n bytes at p with zeros; never optimised away as a dead store,
// so secrets are really gone once they are no longer needed.
void wipeMemory(void* p, std::size_t n);

// The local time of t in out, by the platform's time zone rules. Returns 0,
// or -1 when it cannot be told (out is then all zeros).
int localTime(std::time_t t, std::tm& out);

enum class OutputMode {
    kAppend,   // kept, written at its end
    kReplace,  // emptied before the first write
};

enum class LinkRule {
    kFollow,  // a symbolic link is followed to the regular file it names
    kRefuse,  // a link in the file's place is refused (ELOOP)
};

// The error of a refused file that is not a regular one; every other error
// is an errno value.
constexpr int kNotRegularFile = -1;
// The error of an output file that has more than one name (a hard link).
constexpr int kHardLinked = -2;

// Opens path for reading, byte for byte, without waiting (a FIFO without a
// peer is refused at once), and keeps it only when it is a regular file.
// Returns the file descriptor, or -1 with error set: kNotRegularFile, ELOOP
// for a refused link, or the errno of the call that failed.
int openInputFile(const char* path, LinkRule links, int& error);

// Opens name (created with mode 0666 less the umask when missing) for
// writing. Returns the file descriptor, or -1 with error set: ELOOP for a
// link, kNotRegularFile, kHardLinked for a file with more than one link,
// ENXIO for a FIFO without a reader, or the errno of the call that failed.
int openOutputFile(const char* name, OutputMode mode, int& error);

// A short German text for an error of openOutputFile, for the operator.
const char* outputFileReason(int error);

// Writes length bytes of text to fd as they are, retrying after
// interruptions and partial writes. Returns 0, or the errno value of the
// write that failed.
int writeOutput(int fd, const char* text, std::size_t length);

// Writes one line (text ends with its line feed) to fd, with the platform's
// line end, and has it in the file before returning. After a failed write
// the file is cut back to where the line began, so the file keeps only
// whole lines (should the cut fail too, the file is short of that line's
// end). Returns 0, or the errno value of the write that failed.
int writeLine(int fd, const char* text, std::size_t length);

// Closes fd. Returns 0, or the errno value of the failed close.
int closeFile(int fd);

// A stream that appends text to the output file fd (from openOutputFile),
// with the platform's line ends; fd belongs to the stream from then on.
// Returns nullptr when no stream can be made (fd is then closed).
std::FILE* appendStream(int fd);

// The size of the open file fd in bytes, or -1 when it cannot be told.
long long fileSize(int fd);

// The run lock's file name, opened for writing (created when missing, never
// through a link) and locked for this process and the programs it passes
// the descriptor to (shareWithChildren): the lock lasts until the last of
// them ends. Returns the descriptor, or -1 with error set: EWOULDBLOCK when
// another run holds the lock, or an error of openOutputFile.
int openLockFile(const char* name, int& error);

// Takes the lock on fd, a descriptor of the run lock's file that this
// process inherited. Returns 0, or -1 with error set: EWOULDBLOCK when
// another run holds it, or the errno of the call that failed.
int lockInheritedFile(int fd, int& error);

// Whether fd is open on the regular file that name in the working directory
// is (not on a link to it, nor on a file of the same name elsewhere).
bool isOpenOn(int fd, const char* name);

// Lets the programs this process starts inherit fd. Returns the number they
// are told (inheritedDescriptor turns it back into their descriptor), or -1.
long long shareWithChildren(int fd);

// The descriptor of this process for number, as a starting process told it
// (shareWithChildren), or -1 when number names no open file here.
int inheritedDescriptor(long long number);
