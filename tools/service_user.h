// The service user, as kelbor-config run by root sees it: the user the
// nightly run runs as (kelbor unless KELBOR_SERVICE_USER names another),
// whose group should read the configuration file and nobody else's.
#pragma once

#include <sys/types.h>

#include <string>

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
