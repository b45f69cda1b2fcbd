// The working directory's run lock. No state: the descriptor that holds the
// lock stays open until the process ends.
#include "frame/run_lock.h"

#include <cerrno>

#include "frame/platform.h"

namespace {

// The descriptor number in text: decimal digits only, below 2^40 (Windows
// passes a handle's value); -1 otherwise.
long long descriptorNumber(const char* text) {
    constexpr long long kLimit = 1LL << 40;
    if (text[0] == '\0') return -1;
    long long number = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return -1;
        number = number * 10 + (*p - '0');
        if (number >= kLimit) return -1;
    }
    return number;
}

int lockResult(int error) {
    return error == EWOULDBLOCK ? kRunLockHeld : kRunLockUnusable;
}

}  // namespace

int takeRunLock(const char* inheritedFd, int& fd, int& error) {
    error = 0;
    if (inheritedFd != nullptr) {
        long long number = descriptorNumber(inheritedFd);
        fd = number < 0 ? -1 : inheritedDescriptor(number);
        if (fd < 0 || !isOpenOn(fd, kRunLockName)) return kRunLockForeign;
        return lockInheritedFile(fd, error) == 0 ? kRunLockTaken : lockResult(error);
    }
    fd = openLockFile(kRunLockName, error);
    return fd >= 0 ? kRunLockTaken : lockResult(error);
}
