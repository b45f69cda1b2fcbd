// kelbor-nightly's platform calls; see the header.
#include "tools/nightly_platform.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include "frame/windows_api.h"

#include <mutex>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

constexpr char kMe[] = "kelbor-nightly";

}  // namespace

std::vector<std::string> namesInCurrentDirectory() {
    std::vector<std::string> names;
    if (DIR* dir = opendir(".")) {
        while (dirent* entry = readdir(dir)) names.emplace_back(entry->d_name);
        closedir(dir);
    }
    return names;
}

#ifdef _WIN32

namespace {

// The program running and its job; guarded, since a stop comes from the
// console's handler thread or the time limit's.
std::mutex runningGuard;
HANDLE runningProcess = nullptr;
HANDLE runningJob = nullptr;
volatile LONG pendingStop = 0;

void (*stopHandler)(int) = nullptr;

void passOn(std::string& kept, const char* bytes, std::size_t n) {
    kept.append(bytes, n);
    // The bytes as they are: the program wrote its line ends already.
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), bytes, static_cast<DWORD>(n), &written, nullptr);
}

std::string windowsErrorText(DWORD error) {
    char text[512] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             error, 0, text, sizeof text, nullptr);
    std::string message(text, n);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(error) : message;
}

// One argument as the C runtime's and CommandLineToArgvW's rules read it
// back: quoted when it holds a blank or a quote or is empty, a quote
// escaped by a backslash, backslashes doubled only before a quote.
std::string quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, '\\');
    out += '"';
    return out;
}

// The standard handle kind, made inheritable so the program gets it.
HANDLE inheritable(DWORD kind) {
    HANDLE h = GetStdHandle(kind);
    if (h != nullptr && h != INVALID_HANDLE_VALUE)
        SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    return h;
}

void terminateRunning(int cause) {
    UINT code = 128 + static_cast<UINT>(cause);
    if (runningJob != nullptr) {
        TerminateJobObject(runningJob, code);
    } else if (runningProcess != nullptr) {
        TerminateProcess(runningProcess, code);
    }
}

BOOL WINAPI onControl(DWORD type) {
    int cause = type == CTRL_C_EVENT ? 2 : type == CTRL_BREAK_EVENT ? 21 : 15;
    if (stopHandler != nullptr) stopHandler(cause);
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) return TRUE;
    // A close, logoff or shutdown ends this program once the handler
    // returns: it waits while the night is judged (the system allows a few
    // seconds), and main's return ends it.
    Sleep(INFINITE);
    return TRUE;
}

}  // namespace

ProgramEnd runCapturing(const std::string& program, const std::vector<std::string>& args) {
    ProgramEnd end;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        end.startError = "pipe: " + windowsErrorText(GetLastError());
        return end;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::string commandLine = quoted(program);
    for (const std::string& a : args) commandLine += " " + quoted(a);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritable(STD_INPUT_HANDLE);
    startup.hStdOutput = inheritable(STD_OUTPUT_HANDLE);
    startup.hStdError = writeEnd;
    // The program and all it starts end together, with a stop or with this
    // program (the job closes with its last handle).
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job != nullptr) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    std::fflush(stdout);
    PROCESS_INFORMATION process{};
    // Inherited: the standard handles, the pipe's write end and the run
    // lock's handle (shareWithChildren), which keeps the lock while the
    // program lives.
    BOOL created = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                  CREATE_SUSPENDED, nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    end.started = true;
    if (!created) {
        // Told as a POSIX system tells a program that cannot be run.
        std::string message = std::string(kMe) + ": cannot start " + program + ": " +
                              windowsErrorText(GetLastError()) + "\r\n";
        passOn(end.errorOutput, message.data(), message.size());
        CloseHandle(readEnd);
        if (job != nullptr) CloseHandle(job);
        end.exited = true;
        end.code = 127;
        end.status = "127";
        return end;
    }
    // A system that refuses a job inside the one this program runs in (before
    // Windows 8) runs the program without one: a stop still ends it.
    if (job != nullptr && !AssignProcessToJobObject(job, process.hProcess)) {
        CloseHandle(job);
        job = nullptr;
    }
    {
        std::lock_guard<std::mutex> hold(runningGuard);
        runningProcess = process.hProcess;
        runningJob = job;
        if (pendingStop != 0) terminateRunning(pendingStop);
    }
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        passOn(end.errorOutput, buffer, n);
    }
    CloseHandle(readEnd);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    {
        std::lock_guard<std::mutex> hold(runningGuard);
        runningProcess = nullptr;
        runningJob = nullptr;
        end.exited = pendingStop == 0;
    }
    CloseHandle(process.hProcess);
    if (job != nullptr) CloseHandle(job);
    end.code = static_cast<int>(code);
    char status[32];
    // An exception's status (0xC0000005) reads best in hexadecimal.
    std::snprintf(status, sizeof status, code > 0xFFFF ? "0x%08lX" : "%lu",
                  static_cast<unsigned long>(code));
    end.status = status;
    return end;
}

void stopRunningProgram(int cause) {
    std::lock_guard<std::mutex> hold(runningGuard);
    if (pendingStop == 0) pendingStop = cause;
    terminateRunning(cause);
}

void onStopRequest(void (*handler)(int)) {
    stopHandler = handler;
    SetConsoleCtrlHandler(onControl, TRUE);
}

void writeStandardOutput(const char* text, std::size_t length) {
    // Text mode: each line feed goes out as CR LF.
    int ignored = _write(1, text, static_cast<unsigned>(length));
    (void)ignored;
}

void endNow(int code) {
    _exit(code);
}

std::string ownPath() {
    char path[MAX_PATH * 4] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

const char* pathSeparators() {
    return "\\/";
}

const char* packageProgramsPlace() {
    return "from this program's folder";
}

std::string packageProgramPath(const char* name) {
    std::string self = ownPath();
    std::size_t slash = self.find_last_of(pathSeparators());
    if (slash == std::string::npos) return name;
    return self.substr(0, slash + 1) + name + ".exe";
}

std::string markDoneCommand(const std::string& line, const char* file) {
    // cmd's echo writes the blank before ">" too; the reader takes it.
    return "echo " + line + " >" + file;
}

std::string currentDirectory() {
    char buffer[4096] = {};
    return _getcwd(buffer, sizeof buffer) != nullptr ? buffer : ".";
}

bool setEnvironment(const char* name, const std::string& value) {
    // The runtime's copy for getenv, the system's for the programs started.
    return _putenv_s(name, value.c_str()) == 0 && SetEnvironmentVariableA(name, value.c_str()) != 0;
}

bool identityOf(int fd, FileIdentity& identity) {
    intptr_t h = _get_osfhandle(fd);
    BY_HANDLE_FILE_INFORMATION info{};
    if (h == -1 || !GetFileInformationByHandle(reinterpret_cast<HANDLE>(h), &info)) return false;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

bool mayHoldLogOpen() {
    return false;
}

bool readFrom(int fd, long long offset, std::string& text, std::size_t limit) {
    text.clear();
    if (_lseeki64(fd, offset, SEEK_SET) < 0) return false;
    char buffer[65536];
    while (text.size() < limit) {
        std::size_t want = std::min(sizeof buffer, limit - text.size());
        int n = _read(fd, buffer, static_cast<unsigned>(want));
        if (n < 0) return false;
        if (n == 0) return true;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

bool regularFile(const char* name, long long& size, std::time_t& lastWrite) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(name, GetFileExInfoStandard, &data)) return false;
    constexpr DWORD kNotRegular =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    if ((data.dwFileAttributes & kNotRegular) != 0) return false;
    size = static_cast<long long>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                  data.nFileSizeLow);
    // FILETIME counts 100 ns from 1601-01-01; time_t seconds from 1970.
    std::uint64_t ticks = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                          data.ftLastWriteTime.dwLowDateTime;
    lastWrite = static_cast<std::time_t>((ticks - 116444736000000000ULL) / 10000000ULL);
    return true;
}

#else  // POSIX

namespace {

volatile sig_atomic_t runningPid = 0;
volatile sig_atomic_t pendingStop = 0;

void passOn(std::string& kept, const char* bytes, std::size_t n) {
    kept.append(bytes, n);
    ssize_t ignored = write(STDERR_FILENO, bytes, n);
    (void)ignored;
}

}  // namespace

ProgramEnd runCapturing(const std::string& program, const std::vector<std::string>& args) {
    ProgramEnd end;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        end.startError = std::string("pipe: ") + std::strerror(errno);
        return end;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid < 0) {
        end.startError = std::string("fork: ") + std::strerror(errno);
        close(pipeFds[0]);
        close(pipeFds[1]);
        return end;
    }
    if (pid == 0) {
        // The program inherits the run lock's descriptor, so the lock stays
        // held while it lives.
        signal(SIGTERM, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        dup2(pipeFds[1], STDERR_FILENO);
        if (program.find('/') != std::string::npos) {
            execv(program.c_str(), argv.data());
        } else {
            execvp(program.c_str(), argv.data());
        }
        std::fprintf(stderr, "%s: cannot start %s: %s\n", kMe, program.c_str(),
                     std::strerror(errno));
        _exit(127);
    }
    runningPid = pid;
    end.started = true;
    // A stop that came between the fork and here has not reached it.
    if (pendingStop != 0) kill(pid, pendingStop);
    close(pipeFds[1]);
    char buffer[4096];
    for (;;) {
        ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        passOn(end.errorOutput, buffer, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    runningPid = 0;
    end.exited = WIFEXITED(status);
    end.code = end.exited ? WEXITSTATUS(status) : -1;
    int reported = end.exited ? end.code : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    end.status = std::to_string(reported);
    return end;
}

void stopRunningProgram(int cause) {
    if (pendingStop == 0) pendingStop = cause;
    pid_t pid = static_cast<pid_t>(runningPid);
    if (pid > 0) kill(pid, cause);
}

void onStopRequest(void (*handler)(int)) {
    struct sigaction stop {};
    stop.sa_handler = handler;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGHUP, &stop, nullptr);
}

void writeStandardOutput(const char* text, std::size_t length) {
    ssize_t ignored = write(STDOUT_FILENO, text, length);
    (void)ignored;
}

void endNow(int code) {
    _exit(code);
}

std::string ownPath() {
    char path[4096] = {};
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

const char* pathSeparators() {
    return "/";
}

const char* packageProgramsPlace() {
    return "from PATH";
}

std::string packageProgramPath(const char* name) {
    return name;
}

std::string markDoneCommand(const std::string& line, const char* file) {
    return "echo '" + line + "' > " + file;
}

std::string currentDirectory() {
    char buffer[4096] = {};
    return getcwd(buffer, sizeof buffer) != nullptr ? buffer : ".";
}

bool setEnvironment(const char* name, const std::string& value) {
    return setenv(name, value.c_str(), 1) == 0;
}

bool identityOf(int fd, FileIdentity& identity) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return false;
    identity.volume = static_cast<std::uint64_t>(st.st_dev);
    identity.index = static_cast<std::uint64_t>(st.st_ino);
    return true;
}

bool mayHoldLogOpen() {
    return true;
}

bool readFrom(int fd, long long offset, std::string& text, std::size_t limit) {
    char buffer[65536];
    text.clear();
    for (off_t at = static_cast<off_t>(offset); text.size() < limit;) {
        std::size_t want = std::min(sizeof buffer, limit - text.size());
        ssize_t n = pread(fd, buffer, want, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        text.append(buffer, static_cast<std::size_t>(n));
        at += n;
    }
    return true;
}

bool regularFile(const char* name, long long& size, std::time_t& lastWrite) {
    struct stat st {};
    if (lstat(name, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    size = static_cast<long long>(st.st_size);
    lastWrite = st.st_mtime;
    return true;
}

#endif
