// The platform calls of kelbor-config; see the header.
#include "tools/config_platform.h"

#include <sys/stat.h>

#include <iostream>

#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#endif

bool isFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

#ifdef _WIN32

std::string serviceUserProblem(const std::string& path) {
    // Whether another account may read a file is the access list's answer,
    // and telling it for an account and all its groups takes that account's
    // logon; the check does not pretend to know it.
    std::cout << "service user: not checked on Windows; the account of the nightly task needs "
                 "read access to "
              << path << " (kelbor-config show lists who has it)\n";
    return "";
}

#else  // POSIX

namespace {

constexpr char kDefaultUser[] = "kelbor";
// Exit codes of the child beyond errno's range.
constexpr int kNotRegular = 200;
constexpr int kNoIdentity = 201;

}  // namespace

ServiceUser serviceUser() {
    ServiceUser user;
    const char* chosen = std::getenv("KELBOR_SERVICE_USER");
    user.name = chosen != nullptr && *chosen != '\0' ? chosen : kDefaultUser;
    const passwd* pw = getpwnam(user.name.c_str());
    if (pw == nullptr) return user;
    user.exists = true;
    user.uid = pw->pw_uid;
    user.gid = pw->pw_gid;
    const group* gr = getgrgid(pw->pw_gid);
    user.groupName = gr != nullptr ? gr->gr_name : std::to_string(pw->pw_gid);
    return user;
}

std::string unreadableFor(const ServiceUser& user, const std::string& path) {
    pid_t pid = fork();
    if (pid < 0) return std::strerror(errno);
    if (pid == 0) {
        if (initgroups(user.name.c_str(), user.gid) != 0 || setgid(user.gid) != 0 ||
            setuid(user.uid) != 0) {
            _exit(kNoIdentity);
        }
        int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) _exit(errno);
        struct stat st {};
        _exit(fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? 0 : kNotRegular);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status)) return "the test as that user did not finish";
    int code = WEXITSTATUS(status);
    if (code == 0) return "";
    if (code == kNotRegular) return "not a regular file";
    if (code == kNoIdentity) return "cannot take the user's identity";
    return std::strerror(code);
}

std::string userName(uid_t uid) {
    const passwd* pw = getpwuid(uid);
    return pw != nullptr ? pw->pw_name : std::to_string(uid);
}

std::string serviceUserProblem(const std::string& path) {
    // Root reads every file; the nightly run is the service user's.
    if (geteuid() != 0) return "";
    ServiceUser user = serviceUser();
    std::cout << "service user " << user.name << ": ";
    if (!user.exists) {
        std::cout << "no such user, so not checked whether it can read the file "
                     "(KELBOR_SERVICE_USER names the service user)\n";
        return "";
    }
    std::string why = unreadableFor(user, path);
    if (why.empty()) {
        std::cout << "can read " << path << "\n";
        return "";
    }
    std::cout << "cannot read " << path << ": " << why << "\n";
    return "file unreadable for the service user " + user.name + " (" + why +
           "): give the file to its group (kelbor-config write as root does; or chgrp " +
           user.groupName + " and chmod 0640) and let it pass every folder above";
}

#endif
