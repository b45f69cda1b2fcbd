// Opening files only as regular files, and writing the output files. No
// state.
#include "frame/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

int openRegularFile(const char* path, int flags, int& error) {
    int fd = open(path, flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        error = errno;
        close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        error = kNotRegularFile;
        close(fd);
        return -1;
    }
    return fd;
}

int openOutputFile(const char* name, OutputMode mode, int& error) {
    int flags = O_WRONLY | O_CREAT | O_NOFOLLOW;
    if (mode == OutputMode::kAppend) flags |= O_APPEND;
    // The file is emptied only once it is known to be a regular file, so
    // opening something else truncates nothing.
    int fd = openRegularFile(name, flags, error);
    if (fd < 0) return -1;
    // A hard link planted in the file's place is a regular file too, but
    // writing it would truncate or append to the linked file elsewhere.
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_nlink > 1) {
        error = st.st_nlink > 1 ? kHardLinked : errno;
        close(fd);
        return -1;
    }
    if (mode == OutputMode::kReplace && ftruncate(fd, 0) != 0) {
        error = errno;
        close(fd);
        return -1;
    }
    return fd;
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
        ssize_t n = write(fd, text, length);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        // A regular file takes at least one byte unless it cannot take any.
        if (n == 0) return ENOSPC;
        text += n;
        length -= static_cast<std::size_t>(n);
    }
    return 0;
}
