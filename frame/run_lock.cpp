// The working directory's run lock. No state: the descriptor that holds the
// lock stays open until the process ends.
#include "frame/run_lock.h"

#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>

#include "frame/regular_file.h"

namespace {

// The descriptor number in text: decimal digits only, below 2^20; -1
// otherwise.
int descriptorNumber(const char* text) {
    constexpr int kLimit = 1 << 20;
    if (text[0] == '\0') return -1;
    int fd = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return -1;
        fd = fd * 10 + (*p - '0');
        if (fd >= kLimit) return -1;
    }
    return fd;
}

// Whether fd is open on the regular file that kelbor.lock of the working
// directory is (not on a link to it, nor on a file of the same name
// elsewhere).
bool isRunLockFile(int fd) {
    struct stat held {};
    struct stat named {};
    if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) return false;
    if (lstat(kRunLockName, &named) != 0 || !S_ISREG(named.st_mode)) return false;
    return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

int lockDescriptor(int fd, int& error) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return kRunLockTaken;
    error = errno;
    return error == EWOULDBLOCK ? kRunLockHeld : kRunLockUnusable;
}

}  // namespace

int takeRunLock(const char* inheritedFd, int& fd, int& error) {
    error = 0;
    if (inheritedFd != nullptr) {
        fd = descriptorNumber(inheritedFd);
        if (fd < 0 || !isRunLockFile(fd)) return kRunLockForeign;
        return lockDescriptor(fd, error);
    }
    fd = openOutputFile(kRunLockName, OutputMode::kAppend, error);
    if (fd < 0) return kRunLockUnusable;
    return lockDescriptor(fd, error);
}
