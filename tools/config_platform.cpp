// The platform calls of kelbor-config; see the header.
#include "tools/config_platform.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "frame/platform.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include "frame/windows_api.h"
// After windows.h, which they build on.
#include <aclapi.h>
#include <sddl.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#endif

std::string configFileSddl(const std::string& writerSid, const std::vector<std::string>& readers) {
    // P: the folder's inheritable entries do not reach the file. FA is full
    // control, FR generic read.
    std::string sddl = "D:P(A;;FA;;;" + writerSid + ")(A;;FA;;;SY)(A;;FA;;;BA)";
    for (const std::string& reader : readers) sddl += "(A;;FR;;;" + reader + ")";
    return sddl;
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// The folder that holds path.
std::string folderOf(const std::string& path) {
#ifdef _WIN32
    std::size_t slash = path.find_last_of("/\\");
    // "C:\k.ini" lies in "C:\", "C:k.ini" in the drive's current folder.
    if (slash == std::string::npos) {
        return path.size() > 1 && path[1] == ':' ? path.substr(0, 2) + "." : std::string(".");
    }
    if (slash == 0 || (slash == 2 && path[1] == ':')) return path.substr(0, slash + 1);
#else
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
#endif
    return path.substr(0, slash);
}

// Why the folder that is to hold path cannot, or an empty text.
std::string folderProblem(const std::string& path) {
    const std::string folder = folderOf(path);
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0) {
        if (errno == ENOENT) return "the directory " + folder + " does not exist";
        return "the directory " + folder + ": " + std::strerror(errno);
    }
    if (!S_ISDIR(st.st_mode)) return folder + " is not a directory";
    return "";
}

// The refusal to replace path, a file of another account (owner as told to
// the operator): whoever owns it could read the password written into it.
Failure foreignOwner(const std::string& path, const std::string& owner) {
    return {kExitFailure, "will not replace " + path + ": it belongs to " + owner +
                              ", who could then read the password; remove it first "
                              "(and check who may write its folder)"};
}

// Writes content to a new file beside path with the chosen access and puts
// it in path's place; the platform's part of replaceFile.
bool writeAndRename(const std::string& path, const std::string& content, const FileAccess& access,
                    Failure& failure);

}  // namespace

bool replaceFile(const std::string& path, const std::string& content, const FileAccess& access,
                 Failure& failure) {
    std::string problem = folderProblem(path);
    if (!problem.empty()) {
        failure = {kExitFailure, "cannot write " + path + ": " + problem};
        return false;
    }
    return writeAndRename(path, content, access, failure);
}

#ifdef _WIN32

namespace {

// The system's text for a Windows error, without its final full stop.
std::string errorText(DWORD error) {
    char* text = nullptr;
    DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string s = n != 0 && text != nullptr ? std::string(text, n) : "";
    if (text != nullptr) LocalFree(text);
    while (!s.empty() && std::strchr("\r\n. ", s.back()) != nullptr) s.pop_back();
    return s.empty() ? "Windows error " + std::to_string(error) : s;
}

std::string sidText(PSID sid) {
    char* text = nullptr;
    if (sid == nullptr || !ConvertSidToStringSidA(sid, &text)) return "";
    std::string s = text;
    LocalFree(text);
    return s;
}

// DOMAIN\name of an account or group, or its SID text when it has no name.
std::string accountName(PSID sid) {
    char name[256];
    char domain[256];
    DWORD nameSize = sizeof name;
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use{};
    if (!LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
        return sidText(sid);
    }
    return domain[0] != '\0' ? std::string(domain) + "\\" + name : std::string(name);
}

// The SID text of the account this process runs as, or an empty text.
std::string writerSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    std::string sid;
    if (size != 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        sid = sidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
    }
    CloseHandle(token);
    return sid;
}

// The owner and access list of an existing file.
struct FileSecurity {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    DWORD error = ERROR_SUCCESS;
    explicit FileSecurity(const std::string& path) {
        error = GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT,
                                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      &owner, nullptr, &dacl, nullptr, &descriptor);
    }
    ~FileSecurity() {
        if (descriptor != nullptr) LocalFree(descriptor);
    }
    FileSecurity(const FileSecurity&) = delete;
    FileSecurity& operator=(const FileSecurity&) = delete;
    bool ok() const { return error == ERROR_SUCCESS; }
};

bool isAnyOf(PSID sid, std::initializer_list<WELL_KNOWN_SID_TYPE> types) {
    for (WELL_KNOWN_SID_TYPE type : types) {
        if (IsWellKnownSid(sid, type)) return true;
    }
    return false;
}

// The accounts and groups that get the file anyway.
bool isWriterSystemOrAdministrators(PSID sid, const std::string& writer) {
    return sidText(sid) == writer || isAnyOf(sid, {WinLocalSystemSid, WinBuiltinAdministratorsSid});
}

// Groups that stand for everyone, or every user of the machine: the
// counterpart of "others", whose access a rewrite never keeps.
bool isEveryone(PSID sid) {
    return isAnyOf(sid,
                   {WinWorldSid, WinAuthenticatedUserSid, WinBuiltinUsersSid, WinAnonymousSid,
                    WinBuiltinGuestsSid, WinInteractiveSid, WinNetworkSid, WinCreatorOwnerSid});
}

std::string rightsInWords(ACCESS_MASK mask) {
    if ((mask & GENERIC_ALL) != 0 || (mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS) {
        return "full control";
    }
    const bool reads = (mask & (GENERIC_READ | FILE_READ_DATA)) != 0;
    const bool writes = (mask & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
    if (reads && writes) return "read and write";
    if (reads) return "read";
    if (writes) return "write";
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(mask));
    return std::string("rights ") + hex;
}

std::string lineEndsOfWindows(const std::string& content) {
    std::string out;
    out.reserve(content.size() + content.size() / 16);
    for (char c : content) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

void wipeText(std::string& s) {
    wipeMemory(s.data(), s.size());
    s.clear();
}

}  // namespace

void setUpToolProcess() {
    forbidCoreDumps();
    _setmode(_fileno(stdin), _O_BINARY);
}

bool askHidden(const std::vector<std::string>& prompts, std::vector<std::string>& answers,
               Failure& failure) {
    // The console itself, as /dev/tty on Linux: standard input may be a
    // pipe.
    HANDLE in = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE out =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD saved = 0;
    if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &saved)) {
        if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
        if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
        failure = {kExitFailure, "no console to ask for the password on; use --password-stdin"};
        return false;
    }
    bool ok = SetConsoleMode(in, (saved | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) &
                                     ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
    answers.clear();
    bool unconvertible = false;
    for (const std::string& prompt : prompts) {
        if (!ok) break;
        DWORD done = 0;
        WriteConsoleA(out, prompt.data(), static_cast<DWORD>(prompt.size()), &done, nullptr);
        // Read as the console's characters and passed on in the code page
        // of the ANSI calls that take the password to the driver, which
        // the console's own (OEM) code page is not.
        std::wstring line;
        wchar_t chunk[128];
        ok = false;
        DWORD n = 0;
        while (ReadConsoleW(in, chunk, 128, &n, nullptr) && n > 0) {
            line.append(chunk, n);
            if (line.back() == L'\n') {
                ok = true;
                break;
            }
        }
        SecureZeroMemory(chunk, sizeof chunk);
        // Echo off swallowed the line end too.
        WriteConsoleA(out, "\r\n", 2, &done, nullptr);
        while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r')) line.pop_back();
        std::string answer;
        if (ok && !line.empty()) {
            BOOL usedDefault = FALSE;
            int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, line.data(),
                                           static_cast<int>(line.size()), nullptr, 0, nullptr,
                                           &usedDefault);
            answer.resize(static_cast<std::size_t>(size > 0 ? size : 0));
            WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, line.data(),
                                static_cast<int>(line.size()), answer.data(), size, nullptr,
                                &usedDefault);
            unconvertible = usedDefault != FALSE;
            ok = size > 0 && !unconvertible;
        }
        SecureZeroMemory(line.data(), line.size() * sizeof(wchar_t));
        answers.push_back(answer);
        wipeText(answer);
    }
    SetConsoleMode(in, saved);
    CloseHandle(in);
    CloseHandle(out);
    if (!ok) {
        failure = {kExitFailure, unconvertible
                                     ? "the password has a character that Windows' code page "
                                       "for programs cannot hold"
                                     : "could not read the password from the console"};
    }
    return ok;
}

bool chooseAccess(const std::string& path, const std::string* group, FileAccess& access,
                  Failure& failure) {
    const std::string writer = writerSid();
    if (writer.empty()) {
        failure = {kExitFailure,
                   "cannot tell the account this program runs as: " + errorText(GetLastError())};
        return false;
    }
    DWORD attributes = GetFileAttributesA(path.c_str());
    const bool exists =
        attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    FileSecurity old(exists ? path : std::string());
    const bool known = exists && old.ok();
    if (known && old.owner != nullptr && !isWriterSystemOrAdministrators(old.owner, writer)) {
        failure = foreignOwner(path, accountName(old.owner));
        return false;
    }
    if (group != nullptr) {
        unsigned char sid[SECURITY_MAX_SID_SIZE];
        DWORD sidSize = sizeof sid;
        char domain[256];
        DWORD domainSize = sizeof domain;
        SID_NAME_USE use{};
        if (group->empty() || !LookupAccountNameA(nullptr, group->c_str(), sid, &sidSize, domain,
                                                  &domainSize, &use)) {
            failure = {kExitUsage, "write: unknown account or group " + *group};
            return false;
        }
        access.readers = {sidText(sid)};
        access.readerNames = accountName(sid);
        return true;
    }
    if (!known || old.dacl == nullptr) return true;
    // A rewrite keeps the accounts and groups the operator let read the
    // file, but none that stands for everyone.
    for (DWORD i = 0; i < old.dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(old.dacl, i, &entry)) continue;
        const auto* header = static_cast<ACE_HEADER*>(entry);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        PSID sid = &allowed->SidStart;
        const bool reads = (allowed->Mask & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA)) != 0;
        if (!reads || isWriterSystemOrAdministrators(sid, writer) || isEveryone(sid)) continue;
        const std::string text = sidText(sid);
        bool listed = false;
        for (const std::string& reader : access.readers) listed = listed || reader == text;
        if (listed || text.empty()) continue;
        access.readers.push_back(text);
        access.readerNames += (access.readerNames.empty() ? "" : ", ") + accountName(sid);
    }
    return true;
}

namespace {

bool writeAndRename(const std::string& path, const std::string& content, const FileAccess& access,
                    Failure& failure) {
    const std::string sddl = configFileSddl(writerSid(), access.readers);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        failure = {kExitFailure, "cannot write " + path + ": its access list cannot be made (" +
                                     errorText(GetLastError()) + ")"};
        return false;
    }
    // The file has its access list from the moment it exists, so nobody
    // else can open it in between.
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    std::string temp;
    HANDLE h = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_SUCCESS;
    unsigned long long seed =
        GetTickCount64() ^ (static_cast<unsigned long long>(GetCurrentProcessId()) << 20);
    for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%06llX", (seed + attempt * 7919ULL) & 0xFFFFFF);
        temp = path + suffix;
        h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        error = GetLastError();
        if (h == INVALID_HANDLE_VALUE && error != ERROR_FILE_EXISTS) break;
    }
    LocalFree(descriptor);
    if (h == INVALID_HANDLE_VALUE) {
        failure = {kExitFailure, "cannot write " + path + ": " + errorText(error)};
        return false;
    }
    std::string text = lineEndsOfWindows(content);
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < text.size()) {
        DWORD n = 0;
        ok =
            WriteFile(h, text.data() + done, static_cast<DWORD>(text.size() - done), &n, nullptr) &&
            n > 0;
        done += n;
    }
    wipeText(text);
    ok = ok && FlushFileBuffers(h);
    if (!ok) error = GetLastError();
    CloseHandle(h);
    // A rename: the file keeps the access list it was made with (ReplaceFile
    // would give it the old file's).
    if (ok && !MoveFileExA(temp.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        error = GetLastError();
    }
    if (!ok) {
        failure = {kExitFailure, "cannot write " + path + ": " + errorText(error)};
        DeleteFileA(temp.c_str());
    }
    return ok;
}

}  // namespace

std::string describeAccess(const std::string& path) {
    FileSecurity security(path);
    if (!security.ok()) return "Access: cannot be read (" + errorText(security.error) + ")\n";
    std::string out = "Access:\n  owner " + accountName(security.owner) + "\n";
    if (security.dacl == nullptr) {
        out += "  no access list: everyone has full control\n";
    } else {
        for (DWORD i = 0; i < security.dacl->AceCount; ++i) {
            void* entry = nullptr;
            if (!GetAce(security.dacl, i, &entry)) continue;
            const auto* header = static_cast<ACE_HEADER*>(entry);
            const bool allow = header->AceType == ACCESS_ALLOWED_ACE_TYPE;
            if (!allow && header->AceType != ACCESS_DENIED_ACE_TYPE) continue;
            // Both kinds of entry share their layout.
            auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(entry);
            out += std::string("  ") + (allow ? "" : "denied ") + rightsInWords(ace->Mask) + ": " +
                   accountName(&ace->SidStart) +
                   ((header->AceFlags & INHERITED_ACE) != 0 ? " (inherited)" : "") + "\n";
        }
    }
    char* sddl = nullptr;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorA(
            security.descriptor, SDDL_REVISION_1,
            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
        out += std::string("  SDDL ") + sddl + "\n";
        LocalFree(sddl);
    }
    return out;
}

std::string serviceUserProblem(const std::string& path) {
    // Whether another account may read a file is the access list's answer
    // for that account and all its groups, which takes its logon to tell;
    // the check does not pretend to know it.
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

struct ServiceUser {
    std::string name;
    bool exists = false;
    uid_t uid = 0;
    gid_t gid = 0;          // its primary group
    std::string groupName;  // that group's name, or its number
};

// The service user named by KELBOR_SERVICE_USER (when set and not empty) or
// "kelbor", looked up in the user database.
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

// Opens path for reading as that user would (its uid, its primary and
// supplementary groups) in a child process. Returns an empty text when it
// can, else why not (the system's error text, or "not a regular file").
// Only root can take another user's identity; called by root only.
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

// The name of a user id, or the number when it has none.
std::string userName(uid_t uid) {
    const passwd* pw = getpwuid(uid);
    return pw != nullptr ? pw->pw_name : std::to_string(uid);
}

// Asks on the terminal with echo off. Returns false when there is no
// terminal or reading fails.
bool promptHidden(int tty, const std::string& prompt, std::string& answer) {
    termios saved{};
    if (tcgetattr(tty, &saved) != 0) return false;
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    if (tcsetattr(tty, TCSAFLUSH, &quiet) != 0) return false;
    if (write(tty, prompt.data(), prompt.size()) < 0) return false;
    answer.clear();
    char ch = 0;
    bool ok = false;
    while (read(tty, &ch, 1) == 1) {
        if (ch == '\n') {
            ok = true;
            break;
        }
        answer.push_back(ch);
    }
    wipeMemory(&ch, sizeof ch);
    tcsetattr(tty, TCSAFLUSH, &saved);
    if (!answer.empty() && answer.back() == '\r') answer.pop_back();
    return ok;
}

}  // namespace

void setUpToolProcess() {
    forbidCoreDumps();
}

bool askHidden(const std::vector<std::string>& prompts, std::vector<std::string>& answers,
               Failure& failure) {
    int tty = open("/dev/tty", O_RDWR | O_NOCTTY);
    if (tty < 0) {
        failure = {kExitFailure, "no terminal to ask for the password on; use --password-stdin"};
        return false;
    }
    answers.clear();
    bool ok = true;
    for (const std::string& prompt : prompts) {
        std::string answer;
        ok = ok && promptHidden(tty, prompt, answer);
        answers.push_back(answer);
        wipeMemory(answer.data(), answer.size());
    }
    close(tty);
    if (!ok) failure = {kExitFailure, "could not read the password from the terminal"};
    return ok;
}

// A new file is private to its writer; a group shares it with that group
// for reading. Root writes for the service user: its group may read. A
// rewrite otherwise keeps the group and mode the replaced file had, so a
// file once handed to the service user stays readable for it. Others never
// get access to a file that holds the password.
//
// A file owned by another user is not replaced: it may have been planted
// in a folder both can write, and keeping its owner would hand that user
// the password. Root and the writer are the only owners kept.
bool chooseAccess(const std::string& path, const std::string* group, FileAccess& access,
                  Failure& failure) {
    struct stat st {};
    const bool exists = lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    if (exists && st.st_uid != 0 && st.st_uid != geteuid()) {
        failure = foreignOwner(path, "the user " + userName(st.st_uid));
        return false;
    }
    if (group != nullptr) {
        const struct group* gr = getgrnam(group->c_str());
        if (gr == nullptr) {
            failure = {kExitUsage, "write: unknown group " + *group};
            return false;
        }
        access.mode = S_IRUSR | S_IWUSR | S_IRGRP;
        access.group = gr->gr_gid;
        access.readerNames = *group;
        return true;
    }
    // A group the operator gave the file earlier (anything but root's own)
    // stays.
    const bool operatorsGroup = exists && st.st_gid != 0;
    if (geteuid() == 0 && !operatorsGroup) {
        ServiceUser user = serviceUser();
        if (user.exists) {
            access.mode = S_IRUSR | S_IWUSR | S_IRGRP;
            access.group = user.gid;
            access.readerNames = user.groupName;
            return true;
        }
        access.note = "note: there is no user " + user.name +
                      " (KELBOR_SERVICE_USER names the "
                      "service user), so " +
                      path +
                      " is readable by root only; give it to the "
                      "service user's group with --group GROUP";
    }
    if (!exists) return true;
    access.mode = st.st_mode & (S_IRWXU | S_IRWXG);
    access.group = st.st_gid;
    const struct group* gr = getgrgid(st.st_gid);
    access.readerNames = gr != nullptr ? gr->gr_name : std::to_string(st.st_gid);
    return true;
}

namespace {

bool writeAndRename(const std::string& path, const std::string& content, const FileAccess& access,
                    Failure& failure) {
    std::string temp = path + ".XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) {
        failure = {kExitFailure, "cannot write " + path + ": " + std::strerror(errno)};
        return false;
    }
    std::string step = "cannot write " + path;
    bool ok = fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    if (ok && access.group != -1) {
        ok = fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(access.group)) == 0;
        if (!ok) step = "cannot give " + path + " to the group " + access.readerNames;
    }
    ok = ok && fchmod(fd, static_cast<mode_t>(access.mode)) == 0;
    std::size_t done = 0;
    while (ok && done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        failure = {kExitFailure, step + ": " + std::strerror(errno)};
        unlink(temp.c_str());
    }
    return ok;
}

}  // namespace

std::string describeAccess(const std::string&) {
    // ls -l tells it.
    return "";
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
