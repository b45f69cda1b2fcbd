// What kelbor-config (and the check it shares with kelbor-nightly) asks of
// the operating system beyond frame/platform, in one place: the only file of
// these tools that asks which platform it runs on.
//
// On Linux the nightly run runs as the service user (kelbor unless
// KELBOR_SERVICE_USER names another), whose group should read the
// configuration file and nobody else's. On Windows the nightly task runs as
// an account of the Task Scheduler; the file's access list names who may
// read it.
#pragma once

#include <string>

// Tells, with one line on standard output, whether the account the nightly
// run runs as can read path, where that can be told: on Linux when run by
// root, which can take the service user's identity. Returns an empty text
// when it can (or nothing was told), else the likely cause for the operator.
std::string serviceUserProblem(const std::string& path);

// Whether path names a folder.
bool isFolder(const std::string& path);

#ifndef _WIN32
#include <sys/types.h>

struct ServiceUser {
    std::string name;
    bool exists = false;
    uid_t uid = 0;
    gid_t gid = 0;          // its primary group
    std::string groupName;  // that group's name, or its number
};

// The service user named by KELBOR_SERVICE_USER (when set and not empty) or
// "kelbor", looked up in the user database.
ServiceUser serviceUser();

// Opens path for reading as that user would (its uid, its primary and
// supplementary groups) in a child process. Returns an empty text when it
// can, else why not (the system's error text, or "not a regular file").
// Only root can take another user's identity; called by root only.
std::string unreadableFor(const ServiceUser& user, const std::string& path);

// The name of a user id, or the number when it has none.
std::string userName(uid_t uid);
#endif
