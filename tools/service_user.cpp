// The service user; see the header.
#include "tools/service_user.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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
