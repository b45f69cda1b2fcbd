// What kelbor-config (and the check it shares with kelbor-nightly) asks of
// the operating system beyond frame/platform, in one place: the only file of
// these tools that asks which platform it runs on.
//
// On Linux the nightly run runs as the service user (kelbor unless
// KELBOR_SERVICE_USER names another), whose group should read the
// configuration file and nobody else's: the file gets mode 0600 or 0640 and
// a group. On Windows the nightly task runs as an account of the Task
// Scheduler: the file gets an access list of its own (none inherited from
// its folder) that lets its writer, SYSTEM and the Administrators in, and
// with --group one more account or group read it.
#pragma once

#include <string>
#include <vector>

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Why a command failed, for kelbor-config's message, and its exit code.
struct Failure {
    int code;
    std::string message;
};

// Makes the process non-dumpable (no core file holds a password) and has
// standard input read byte for byte (on Windows no translation of line
// ends, and no end of input at a Ctrl-Z byte inside a password).
void setUpToolProcess();

// Asks each prompt in turn on the terminal (Linux: /dev/tty; Windows: the
// console), whatever standard input is, with echo off, and reads one line
// for each into answers. Returns false with failure set when there is no
// terminal or reading fails.
bool askHidden(const std::vector<std::string>& prompts, std::vector<std::string>& answers,
               Failure& failure);

// Who gets a configuration file that the tool writes. Its owner is always
// the writer.
struct FileAccess {
    // Linux: the file's mode and group (-1: the writer's).
    unsigned mode = 0600;
    long long group = -1;
    // Windows: who may read it besides the writer, SYSTEM and the
    // Administrators, as security identifiers (S-1-...).
    std::vector<std::string> readers;
    std::string readerNames;  // the group or accounts, for messages
    std::string note;         // told on standard error once the file is written
};

// Chooses who may read the file path is to become, before the password is
// asked for: the writer alone, or with group (when not null) the group (on
// Windows: the account or group) of that name too. A rewrite without group
// keeps who could read the replaced file (never others on Linux). A file
// that belongs to another account is not replaced. Returns false with
// failure set.
bool chooseAccess(const std::string& path, const std::string* group, FileAccess& access,
                  Failure& failure);

// Writes content (lines ending with "\n", written with the platform's line
// ends) to a new file next to path with the chosen access, has it on disk
// and puts it in path's place in one step, so a reader, or a crash, sees
// the old file or the new one, never half of one. Returns false with
// failure set; no temporary file is left behind.
bool replaceFile(const std::string& path, const std::string& content, const FileAccess& access,
                 Failure& failure);

// Lines telling who may read path, each ending with "\n", where the file's
// mode and group do not tell it plainly: on Windows its owner and access
// list, in words and as SDDL. Empty on Linux.
std::string describeAccess(const std::string& path);

// The access list of a written file on Windows, as SDDL: protected (nothing
// inherited from the folder), full control for the writer, SYSTEM and the
// Administrators, read for each of readers.
std::string configFileSddl(const std::string& writerSid, const std::vector<std::string>& readers);

// Tells, with one line on standard output, whether the account the nightly
// run runs as can read path, where that can be told: on Linux when run by
// root, which can take the service user's identity. Returns an empty text
// when it can (or nothing was told), else the likely cause for the operator.
std::string serviceUserProblem(const std::string& path);

// Whether path names a folder.
bool isFolder(const std::string& path);
