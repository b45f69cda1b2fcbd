// Platform calls of the batch and its tools; see the header. The only file
// of the product that asks which platform it is built for.
#include "frame/platform.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include "frame/windows_api.h"
#else
#include <sys/file.h>
#include <unistd.h>
#endif

#ifdef __linux__
#include <sys/prctl.h>
#endif

int forbidCoreDumps() {
#ifdef __linux__
    return prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0 ? 0 : -1;
#else
    // Windows writes no core file of a console program unless error
    // reporting is set up to collect dumps, which is the machine's policy.
    return 0;
#endif
}

void wipeMemory(void* p, std::size_t n) {
#ifdef _WIN32
    SecureZeroMemory(p, n);
#else
    explicit_bzero(p, n);
#endif
}

int localTime(std::time_t t, std::tm& out) {
#ifdef _WIN32
    // The C runtime knows only the POSIX form of TZ ("CET-1CEST"); without
    // TZ it takes the zone of Windows' settings.
    if (localtime_s(&out, &t) == 0) return 0;
#else
    if (localtime_r(&t, &out) != nullptr) return 0;
#endif
    out = std::tm{};
    return -1;
}

const char* outputFileReason(int error) {
    // ENXIO: a FIFO without a reader, or a device without its unit.
    if (error == kNotRegularFile || error == ENXIO)
        return "keine regul\xE4"
               "re Datei";
    if (error == ELOOP) return "symbolischer Link";
    if (error == kHardLinked) return "harter Link";
    return std::strerror(error);
}

int writeOutput(int fd, const char* text, std::size_t length) {
    while (length > 0) {
#ifdef _WIN32
        unsigned chunk = length > 1u << 30 ? 1u << 30 : static_cast<unsigned>(length);
        int n = _write(fd, text, chunk);
#else
        ssize_t n = write(fd, text, length);
#endif
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        // A regular file takes at least one byte unless it cannot take any.
        if (n == 0) return ENOSPC;
        text += n;
        length -= static_cast<std::size_t>(n);
    }
    return 0;
}

#ifdef _WIN32

namespace {

// The errno value closest to a Windows error, for the texts the operator
// reads (strerror) and the codes the callers tell apart.
int errnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        default:
            return EIO;
    }
}

// The error of a failed open of name: a folder in the file's place is
// refused by Windows as access denied, but told as what it is, with the
// error an open of it gives on Linux (folderError).
int openError(const char* name, int folderError) {
    DWORD last = GetLastError();
    if (last == ERROR_SHARING_VIOLATION) return EWOULDBLOCK;
    DWORD attributes = GetFileAttributesA(name);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return folderError;
    return errnoOf(last);
}

// Keeps h only when it is a regular file: a disk file, no folder, with
// links kRefuse no reparse point, and with oneName no file of more than one
// name. Returns 0, or the error with which h was closed.
int checkRegular(HANDLE h, LinkRule links, bool oneName) {
    int error = 0;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) != FILE_TYPE_DISK) {
        error = kNotRegularFile;
    } else if (!GetFileInformationByHandle(h, &info)) {
        error = errnoOf(GetLastError());
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = kNotRegularFile;
    } else if (links == LinkRule::kRefuse &&
               (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        error = ELOOP;
    } else if (oneName && info.nNumberOfLinks > 1) {
        error = kHardLinked;
    }
    if (error != 0) CloseHandle(h);
    return error;
}

// The descriptor of the C runtime for h (binary, without translation), or -1
// with error set and h closed.
int descriptorOf(HANDLE h, int flags, int& error) {
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY);
    if (fd < 0) {
        error = EMFILE;
        CloseHandle(h);
    }
    return fd;
}

// Opens a file for the output and the lock: an existing one or a new one,
// the link itself when a link is in its place (so that it can be refused),
// shared with others as given.
HANDLE openForWriting(const char* name, DWORD share, int& error) {
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = openError(name, EISDIR);
        return nullptr;
    }
    error = checkRegular(h, LinkRule::kRefuse, true);
    return error == 0 ? h : nullptr;
}

HANDLE handleOf(int fd) {
    intptr_t h = _get_osfhandle(fd);
    return h == -1 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(h);
}

}  // namespace

int openInputFile(const char* path, LinkRule links, int& error) {
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    if (links == LinkRule::kRefuse) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE h =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = openError(path, kNotRegularFile);
        return -1;
    }
    // As on Linux, a file read may have further names.
    error = checkRegular(h, links, false);
    if (error != 0) return -1;
    return descriptorOf(h, _O_RDONLY, error);
}

int openOutputFile(const char* name, OutputMode mode, int& error) {
    HANDLE h = openForWriting(name, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, error);
    if (h == nullptr) return -1;
    // The file is emptied only once it is known to be a regular file, so
    // opening something else truncates nothing.
    if (mode == OutputMode::kReplace && !SetEndOfFile(h)) {
        error = errnoOf(GetLastError());
        CloseHandle(h);
        return -1;
    }
    return descriptorOf(h, mode == OutputMode::kAppend ? _O_APPEND : 0, error);
}

int writeLine(int fd, const char* text, std::size_t length) {
    long long start = _lseeki64(fd, 0, SEEK_CUR);
    // The file keeps its lines in the platform's form: each line feed as
    // carriage return and line feed.
    int rc = 0;
    const char* end = text + length;
    while (rc == 0 && text < end) {
        const char* feed = static_cast<const char*>(std::memchr(text, '\n', end - text));
        std::size_t part = static_cast<std::size_t>((feed != nullptr ? feed : end) - text);
        rc = writeOutput(fd, text, part);
        if (rc == 0 && feed != nullptr) rc = writeOutput(fd, "\r\n", 2);
        text += part + (feed != nullptr ? 1 : 0);
    }
    // A part of the line may have gone out: the file's reader takes whole
    // lines. The cut goes to the true position the line began at, which
    // counts the carriage returns.
    if (rc != 0 && start >= 0) static_cast<void>(_chsize_s(fd, start));
    return rc;
}

int closeFile(int fd) {
    return _close(fd) == 0 ? 0 : errno;
}

std::FILE* appendStream(int fd) {
    // Text mode: the runtime writes each line feed as carriage return and
    // line feed.
    _setmode(fd, _O_TEXT);
    std::FILE* stream = _fdopen(fd, "a");
    if (stream == nullptr) _close(fd);
    return stream;
}

long long fileSize(int fd) {
    return _filelengthi64(fd);
}

int openLockFile(const char* name, int& error) {
    // Shared with nobody: while this handle, or one inherited from it, is
    // open, every other open of the file fails, which is the lock.
    HANDLE h = openForWriting(name, 0, error);
    if (h == nullptr) return -1;
    return descriptorOf(h, 0, error);
}

int lockInheritedFile(int fd, int& error) {
    // The handle was opened unshared by the run that started this one; it
    // is the lock.
    static_cast<void>(fd);
    error = 0;
    return 0;
}

bool isOpenOn(int fd, const char* name) {
    BY_HANDLE_FILE_INFORMATION held{};
    BY_HANDLE_FILE_INFORMATION named{};
    HANDLE h = handleOf(fd);
    if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(h, &held))
        return false;
    // No access asked but the attributes', which the holder's unshared open
    // does not refuse.
    HANDLE byName = CreateFileA(name, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (byName == INVALID_HANDLE_VALUE) return false;
    bool same =
        GetFileInformationByHandle(byName, &named) &&
        (named.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
        held.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
        held.nFileIndexHigh == named.nFileIndexHigh && held.nFileIndexLow == named.nFileIndexLow;
    CloseHandle(byName);
    return same;
}

long long shareWithChildren(int fd) {
    HANDLE h = handleOf(fd);
    if (h == INVALID_HANDLE_VALUE ||
        !SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
        return -1;
    return static_cast<long long>(reinterpret_cast<intptr_t>(h));
}

int inheritedDescriptor(long long number) {
    HANDLE h = reinterpret_cast<HANDLE>(static_cast<intptr_t>(number));
    DWORD flags = 0;
    if (number <= 0 || !GetHandleInformation(h, &flags)) return -1;
    return _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
}

#else  // POSIX

namespace {

// Opens path with flags, without waiting (a FIFO without a peer is refused
// at once), and tells what it is in st. Returns the descriptor, or -1 with
// error set.
int openAndStat(const char* path, int flags, struct stat& st, int& error) {
    int fd = open(path, flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    if (fstat(fd, &st) != 0) {
        error = errno;
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int openInputFile(const char* path, LinkRule links, int& error) {
    struct stat st {};
    int fd = openAndStat(path, O_RDONLY | (links == LinkRule::kRefuse ? O_NOFOLLOW : 0), st, error);
    if (fd >= 0 && !S_ISREG(st.st_mode)) {
        error = kNotRegularFile;
        close(fd);
        return -1;
    }
    return fd;
}

int openOutputFile(const char* name, OutputMode mode, int& error) {
    int flags = O_WRONLY | O_CREAT | O_NOFOLLOW;
    if (mode == OutputMode::kAppend) flags |= O_APPEND;
    struct stat st {};
    int fd = openAndStat(name, flags, st, error);
    if (fd < 0) return -1;
    // A hard link planted in the file's place is a regular file too, but
    // writing it would truncate or append to the linked file elsewhere.
    error = !S_ISREG(st.st_mode) ? kNotRegularFile : st.st_nlink > 1 ? kHardLinked : 0;
    // The file is emptied only once it is known to be a regular file, so
    // opening something else truncates nothing.
    if (error == 0 && mode == OutputMode::kReplace && ftruncate(fd, 0) != 0) error = errno;
    if (error != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int writeLine(int fd, const char* text, std::size_t length) {
    off_t start = lseek(fd, 0, SEEK_CUR);
    int rc = writeOutput(fd, text, length);
    // A part of the line may have gone out: the file's reader takes whole
    // lines.
    if (rc != 0 && start >= 0) {
        int cut = ftruncate(fd, start);
        static_cast<void>(cut);
    }
    return rc;
}

int closeFile(int fd) {
    return close(fd) == 0 ? 0 : errno;
}

std::FILE* appendStream(int fd) {
    std::FILE* stream = fdopen(fd, "a");
    if (stream == nullptr) close(fd);
    return stream;
}

long long fileSize(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

int openLockFile(const char* name, int& error) {
    int fd = openOutputFile(name, OutputMode::kAppend, error);
    if (fd < 0) return -1;
    if (lockInheritedFile(fd, error) == 0) return fd;
    close(fd);
    return -1;
}

int lockInheritedFile(int fd, int& error) {
    // The lock belongs to the open file, shared by every descriptor of it:
    // taking it again through an inherited one succeeds.
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
    error = errno;
    return -1;
}

bool isOpenOn(int fd, const char* name) {
    struct stat held {};
    struct stat named {};
    if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) return false;
    if (lstat(name, &named) != 0 || !S_ISREG(named.st_mode)) return false;
    return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

long long shareWithChildren(int fd) {
    return fcntl(fd, F_SETFD, 0) == 0 ? fd : -1;
}

int inheritedDescriptor(long long number) {
    if (number < 0 || number > 1 << 20 || fcntl(static_cast<int>(number), F_GETFD) < 0) return -1;
    return static_cast<int>(number);
}

#endif
