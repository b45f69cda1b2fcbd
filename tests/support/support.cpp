// Test support: temporary folders, stand-in data sources through the driver
// manager, and runs of the real binaries.
#include "tests/support/support.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace kt {

namespace {

// In a forked child: replaces the process with argv[0] run with argv; 127
// when it cannot be started, as a shell says.
[[noreturn]] void execArgv(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

}  // namespace

namespace {

struct RouteChoice {
    Route route;
    bool wine;
};

const RouteChoice& routeChoice() {
    static const RouteChoice chosen = [] {
        const char* name = std::getenv("KELBOR_TEST_ROUTE");
        std::string n = name == nullptr ? "standin" : name;
        bool wine = n.rfind("wine-", 0) == 0;
        if (wine) n = n.substr(5);
        if (n != "standin" && n != "freetds") {
            std::fprintf(stderr,
                         "KELBOR_TEST_ROUTE must be standin, freetds, wine-standin or "
                         "wine-freetds, not '%s'\n",
                         name);
            std::abort();
        }
        if (wine && (std::string(KELBOR_WINDOWS_DIR).empty() || std::string(WINE).empty())) {
            std::fprintf(stderr, "the wine routes need KELBOR_WINDOWS_BUILD_DIR and wine\n");
            std::abort();
        }
        // The build's prefix, whose persistent server the suite's wine.start
        // started: with another prefix every run would start Wine afresh.
        if (wine) setenv("WINEPREFIX", KELBOR_WINEPREFIX, 1);
        return RouteChoice{n == "freetds" ? Route::FreeTds : Route::Standin, wine};
    }();
    return chosen;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Under Wine, the Windows build's NAME.exe when it is built, else linuxPath.
// The batch and kelbor-catchup are always built for Windows: there they
// must be.
std::string program(const std::string& name, const std::string& linuxPath, bool required) {
    if (!underWine()) return linuxPath;
    std::string exe = std::string(KELBOR_WINDOWS_DIR) + "/" + name + ".exe";
    if (fileExists(exe)) return exe;
    if (required) {
        std::fprintf(stderr, "%s is not built (tools/build-windows)\n", exe.c_str());
        std::abort();
    }
    return linuxPath;
}

}  // namespace

Route route() {
    return routeChoice().route;
}

bool underWine() {
    return routeChoice().wine;
}

std::string sourceDir() {
    return KELBOR_SOURCE_DIR;
}
std::string kelborBinary() {
    return program("kelbor", KELBOR_BIN, true);
}
std::string catchupBinary() {
    return program("kelbor-catchup", KELBOR_CATCHUP_BIN, true);
}
std::string configBinary() {
    return program("kelbor-config", KELBOR_CONFIG_BIN, false);
}
std::string nightlyBinary() {
    return program("kelbor-nightly", KELBOR_NIGHTLY_BIN, false);
}
std::string standinDriver() {
    return STANDIN_DRIVER;
}
std::string standinTdsServer() {
    return STANDIN_TDS;
}
std::string freeTdsDriver() {
    return FREETDS_DRIVER;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool fileExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

namespace {

// Windows text as the tests expect it: every CR LF becomes LF. A line that
// ends with LF alone is a failure naming what was read (once per text); a
// CR elsewhere stays, so a line cut after its CR shows.
std::string fromWindowsText(const std::string& text, const std::string& what) {
    std::string out;
    out.reserve(text.size());
    bool reported = false;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') {
            out += text[i];
            continue;
        }
        if (i > lineStart && text[i - 1] == '\r') {
            out.back() = '\n';
        } else {
            if (!reported) {
                ADD_FAILURE() << what << ": a line ends with LF alone, not CR LF: '"
                              << text.substr(lineStart, i - lineStart) << "'";
            }
            reported = true;
            out += '\n';
        }
        lineStart = i + 1;
    }
    return out;
}

}  // namespace

std::string readWritten(const std::string& path) {
    std::string text = readFile(path);
    return underWine() ? fromWindowsText(text, path) : text;
}

std::string asWritten(const std::string& text) {
    if (!underWine()) return text;
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

std::string startable(const std::string& program, const std::string& starter) {
    if (!endsWith(program, ".exe") || endsWith(starter, ".exe")) return program;
    static std::map<std::string, std::string> launchers;
    auto found = launchers.find(program);
    if (found != launchers.end()) return found->second;
    // One folder for this process's launchers, removed at its exit.
    static const std::string dir = [] {
        char pattern[] = "/tmp/kelbor-test-XXXXXX";
        if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
        static char removeAtExit[512];
        std::snprintf(removeAtExit, sizeof removeAtExit, "%s", pattern);
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(removeAtExit, ec);
        });
        return std::string(pattern);
    }();
    std::string path = dir + "/" + fs::path(program).stem().string();
    // exec all the way down: the shell, wine's script and its loader each
    // replace the one before, so the pid is the Windows program's.
    writeFile(path, "#!/bin/sh\nWINEDEBUG=-all exec '" + std::string(WINE) + "' '" + program +
                        "' \"$@\"\n");
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    launchers[program] = path;
    return path;
}

namespace {

std::string makeTempDir() {
    char pattern[] = "/tmp/kelbor-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

// Every data source this process has created, rewritten into odbc.ini as a whole.
std::map<std::string, std::map<std::string, std::string>>& dataSources() {
    static std::map<std::string, std::map<std::string, std::string>> sources;
    return sources;
}

void writeOdbcIni() {
    std::string text;
    for (const auto& [dsn, keys] : dataSources()) {
        text += "[" + dsn + "]\n";
        for (const auto& [k, v] : keys) text += k + "=" + v + "\n";
        text += "\n";
    }
    writeFile(iniDir() + "/odbc.ini", text);
}

std::string diagText(SQLSMALLINT type, SQLHANDLE handle) {
    SQLCHAR state[6] = {0};
    SQLCHAR message[1024] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    if (!SQL_SUCCEEDED(
            SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &len)))
        return "(no diagnostics)";
    return std::string(reinterpret_cast<char*>(state)) + " native " + std::to_string(native) +
           ": " + reinterpret_cast<char*>(message);
}

// One ODBC 3 connection for the life of a helper call.
class Connection {
  public:
    // target is a data source name, or a connection string "DRIVER=...".
    explicit Connection(const std::string& target) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
        SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
        SQLRETURN rc;
        if (target.rfind("DRIVER=", 0) == 0) {
            rc = SQLDriverConnect(dbc_, nullptr, (SQLCHAR*)target.c_str(), SQL_NTS, nullptr, 0,
                                  nullptr, SQL_DRIVER_NOPROMPT);
        } else {
            rc = SQLConnect(dbc_, (SQLCHAR*)target.c_str(), SQL_NTS, (SQLCHAR*)kTestLogin, SQL_NTS,
                            (SQLCHAR*)kTestPassword, SQL_NTS);
        }
        if (!SQL_SUCCEEDED(rc)) {
            error_ = "connect to " + target + " failed: " + diagText(SQL_HANDLE_DBC, dbc_);
        } else {
            connected_ = true;
        }
    }
    ~Connection() {
        if (connected_) SQLDisconnect(dbc_);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool ok() const { return connected_; }
    const std::string& error() const { return error_; }
    SQLHDBC dbc() const { return dbc_; }

  private:
    SQLHENV env_ = SQL_NULL_HENV;
    SQLHDBC dbc_ = SQL_NULL_HDBC;
    bool connected_ = false;
    std::string error_;
};

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t pos = 0; (pos = text.find(from, pos)) != std::string::npos; pos += to.size())
        text.replace(pos, from.size(), to);
    return text;
}

std::atomic<int> dsnCounter{0};

}  // namespace

TempDir::TempDir() : path_(makeTempDir()) {}

TempDir::~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

const std::string& iniDir() {
    static const std::string dir = [] {
        std::string d = makeTempDir();
        writeFile(d + "/odbcinst.ini", "[Standin]\nDriver=" + standinDriver() +
                                           "\n\n[FreeTDS]\nDriver=" + freeTdsDriver() + "\n");
        writeFile(d + "/odbc.ini", "");
        setenv("ODBCSYSINI", d.c_str(), 1);
        setenv("ODBCINI", (d + "/odbc.ini").c_str(), 1);
        // The cleanup runs after static strings are destroyed: keep the path
        // in plain storage of its own.
        static char removeAtExit[512];
        std::snprintf(removeAtExit, sizeof removeAtExit, "%s", d.c_str());
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(removeAtExit, ec);
        });
        return d;
    }();
    return dir;
}

std::map<std::string, std::string> freeTdsDataSource(int port) {
    // TDS 7.4 is what the server speaks. ClientCharset=CP1252 makes FreeTDS
    // convert between the batch's Windows-1252 bytes and the UCS-2 of the
    // wire, so texts arrive in the database as the batch wrote them.
    return {{"Driver", "FreeTDS"},
            {"Server", "127.0.0.1"},
            {"Port", std::to_string(port)},
            {"TDS_Version", "7.4"},
            {"ClientCharset", "CP1252"}};
}

namespace {

// The server option of each data source keyword the stand-in driver knows.
const std::map<std::string, std::string>& serverOptions() {
    static const std::map<std::string, std::string> options = {
        {"ServerTime", "--server-time"},
        {"User", "--user"},
        {"Password", "--password"},
        {"FailOn", "--fail-on"},
        {"FailAfter", "--fail-after"},
        {"FailNative", "--fail-native"},
        {"FailFetchOn", "--fail-fetch-on"},
        {"FailFetchAfter", "--fail-fetch-after"},
        {"InfoOn", "--info-on"},
        {"ThrowOn", "--throw-on"},
        {"Trace", "--trace"},
        // Only standin-tds has these: a broken link, its request log, encryption.
        {"DropAfter", "--drop-after"},
        {"RequestLog", "--request-log"},
        {"TlsCert", "--tls-cert"},
        {"TlsKey", "--tls-key"}};
    return options;
}

std::atomic<int> serverCounter{0};

}  // namespace

TdsServer::TdsServer(const std::string& databaseFile,
                     const std::map<std::string, std::string>& keys) {
    std::vector<std::string> argv = {standinTdsServer(), "--database", databaseFile};
    for (const auto& [key, value] : keys) {
        // A server-wide default without a value: present or not.
        if (key == "NoCount") {
            if (value == "1") argv.push_back("--nocount");
            continue;
        }
        auto it = serverOptions().find(key);
        if (it == serverOptions().end())
            throw std::runtime_error("standin-tds has no option for the keyword " + key);
        argv.push_back(it->second);
        argv.push_back(value);
    }
    if (standinTdsServer().empty()) throw std::runtime_error("standin-tds is not built");
    errFile_ = databaseFile + ".tds" + std::to_string(++serverCounter) + ".err";
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        // Dies with the test process, whatever ends it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(126);
        int err = open(errFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out[1], 1);
        if (err >= 0) dup2(err, 2);
        close(out[0]);
        close(out[1]);
        execArgv(argv);
    }
    close(out[1]);
    pid_ = pid;
    out_ = out[0];

    // The one line "listening on 127.0.0.1:PORT", within ten seconds.
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fd = {out_, POLLIN, 0};
        int ready = left.count() > 0 ? poll(&fd, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR) continue;
        char buf[256];
        ssize_t n = ready > 0 ? read(out_, buf, sizeof buf) : 0;
        if (n <= 0) break;
        line.append(buf, static_cast<std::size_t>(n));
    }
    const std::string prefix = "listening on 127.0.0.1:";
    if (line.rfind(prefix, 0) == 0) port_ = std::atoi(line.c_str() + prefix.size());
    if (port_ <= 0 || line != prefix + std::to_string(port_) + "\n") {
        int code = stop();
        throw std::runtime_error("standin-tds did not come up (exit " + std::to_string(code) +
                                 ", stdout '" + line + "'): " + readFile(errFile_));
    }
}

int TdsServer::stop() {
    if (pid_ < 0) return 0;
    kill(pid_, SIGTERM);
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 500 && !ended; ++i) {
        ended = waitpid(pid_, &status, WNOHANG) == pid_;
        if (!ended) usleep(10000);
    }
    if (!ended) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    close(out_);
    out_ = -1;
    if (!ended) return -2;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TdsServer::~TdsServer() {
    int code = stop();
    EXPECT_EQ(code, 0) << "standin-tds on port " << port_
                       << " did not end cleanly on SIGTERM (-2: not within 5 s): "
                       << readFile(errFile_);
    std::remove(errFile_.c_str());
}

StandinDb::StandinDb(const std::map<std::string, std::string>& keys) : keys_(keys) {
    iniDir();
    dsn_ = "kt" + std::to_string(getpid()) + "_" + std::to_string(++dsnCounter);
    dbFile_ = dir_.file("db.sqlite");
    writeSection();
    helperServer_ = server_;
}

StandinDb::StandinDb(const StandinDb& sameFileAs, const std::map<std::string, std::string>& keys,
                     Route via)
    : keys_(keys), route_(via) {
    iniDir();
    dsn_ = "kt" + std::to_string(getpid()) + "_" + std::to_string(++dsnCounter);
    dbFile_ = sameFileAs.dbFile_;
    writeSection();
    helperServer_ = server_;
}

StandinDb::~StandinDb() {
    dataSources().erase(dsn_);
    writeOdbcIni();
}

void StandinDb::setKeys(const std::map<std::string, std::string>& keys) {
    for (const auto& [k, v] : keys) keys_[k] = v;
    writeSection();
}

void StandinDb::writeSection() {
    std::map<std::string, std::string> section;
    if (route_ == Route::FreeTds) {
        server_ = std::make_shared<TdsServer>(dbFile_, keys_);
        section = freeTdsDataSource(server_->port());
    } else {
        section = keys_;
        section["Driver"] = "Standin";
        section["Database"] = dbFile_;
    }
    dataSources()[dsn_] = section;
    writeOdbcIni();
}

std::string StandinDb::helperConnection() const {
    if (!helperServer_) return dsn_;
    std::string text = "DRIVER=FreeTDS;";
    for (const auto& [k, v] : freeTdsDataSource(helperServer_->port()))
        if (k != "Driver") text += k + "=" + v + ";";
    return text + "UID=" + kTestLogin + ";PWD=" + kTestPassword + ";";
}

void StandinDb::exec(const std::string& script, const std::string& schema) {
    Connection conn(helperConnection());
    ASSERT_TRUE(conn.ok()) << conn.error();
    std::istringstream lines(script);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line.compare(first, 2, "--") == 0) continue;
        std::string sql = replaceAll(line, "$(SCHEMA)", schema);
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        SQLAllocHandle(SQL_HANDLE_STMT, conn.dbc(), &stmt);
        SQLRETURN rc = SQLExecDirect(stmt, (SQLCHAR*)sql.c_str(), SQL_NTS);
        std::string why = rc == SQL_ERROR ? diagText(SQL_HANDLE_STMT, stmt) : "";
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        ASSERT_NE(rc, SQL_ERROR) << "statement failed: " << sql << "\n" << why;
    }
}

void StandinDb::execFile(const std::string& path, const std::string& schema) {
    ASSERT_TRUE(fileExists(path)) << path;
    exec(readFile(path), schema);
}

void StandinDb::loadSchema(const std::string& schema) {
    execFile(sourceDir() + "/sql/schema.sql", schema);
}

std::vector<std::vector<std::string>> StandinDb::query(const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    Connection conn(helperConnection());
    EXPECT_TRUE(conn.ok()) << conn.error();
    if (!conn.ok()) return rows;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, conn.dbc(), &stmt);
    SQLRETURN rc = SQLExecDirect(stmt, (SQLCHAR*)sql.c_str(), SQL_NTS);
    if (rc == SQL_ERROR) {
        ADD_FAILURE() << "query failed: " << sql << "\n" << diagText(SQL_HANDLE_STMT, stmt);
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return rows;
    }
    SQLSMALLINT cols = 0;
    SQLNumResultCols(stmt, &cols);
    while (SQL_SUCCEEDED(SQLFetch(stmt))) {
        std::vector<std::string> row;
        for (SQLUSMALLINT c = 1; c <= cols; ++c) {
            char buf[4096] = {0};
            SQLLEN ind = 0;
            SQLGetData(stmt, c, SQL_C_CHAR, buf, sizeof buf, &ind);
            row.push_back(ind == SQL_NULL_DATA ? "NULL" : std::string(buf));
        }
        rows.push_back(std::move(row));
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return rows;
}

std::string StandinDb::scalar(const std::string& sql) {
    auto rows = query(sql);
    if (rows.size() != 1 || rows[0].size() != 1) {
        ADD_FAILURE() << "expected one value from: " << sql << " (got " << rows.size() << " rows)";
        return "";
    }
    return rows[0][0];
}

RunResult runProgram(const std::vector<std::string>& command, const std::string& cwd,
                     const std::map<std::string, std::string>& env, const std::string& stdinText,
                     const std::vector<std::string>& unset, const Identity* as) {
    // A Windows program, alone or under timeout, is started by Wine's
    // loader, which execs its way to the program in the same process.
    std::vector<std::string> argv = command;
    std::string windowsProgram;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        if (i > 0 && argv[0] != "/usr/bin/timeout") break;
        if (endsWith(argv[i], ".exe")) {
            windowsProgram = fs::path(argv[i]).filename().string();
            argv.insert(argv.begin() + static_cast<std::ptrdiff_t>(i), WINE);
            break;
        }
    }
    if (!windowsProgram.empty()) underWine();  // sets WINEPREFIX
    RunResult result;
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        for (const auto& name : unset) unsetenv(name.c_str());
        // Wine's own messages are not the program's (KELBOR_TEST_WINEDEBUG
        // asks for some, when a run under Wine is looked into).
        const char* wineDebug = std::getenv("KELBOR_TEST_WINEDEBUG");
        if (!windowsProgram.empty()) setenv("WINEDEBUG", wineDebug ? wineDebug : "-all", 1);
        for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
        if (as != nullptr &&
            (setgroups(0, nullptr) != 0 || setgid(as->gid) != 0 || setuid(as->uid) != 0)) {
            _exit(125);
        }
        execArgv(argv);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    // Feed standard input and drain both outputs together, so neither side blocks.
    signal(SIGPIPE, SIG_IGN);
    std::size_t written = 0;
    if (stdinText.empty()) {
        close(in[1]);
        in[1] = -1;
    }
    fcntl(in[1], F_SETFL, O_NONBLOCK);
    bool outOpen = true, errOpen = true;
    // Wine's own services, when a Windows program's start brings them up,
    // inherit its standard handles and keep them open: for a .exe the run
    // ends once the program has ended and its output has been drained.
    bool ended = false;
    int status = 0;
    while (outOpen || errOpen || in[1] >= 0) {
        pollfd fds[3];
        int n = 0;
        if (outOpen) fds[n++] = {out[0], POLLIN, 0};
        if (errOpen) fds[n++] = {err[0], POLLIN, 0};
        if (in[1] >= 0) fds[n++] = {in[1], POLLOUT, 0};
        int ready = poll(fds, n, windowsProgram.empty() ? -1 : 100);
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (ready == 0) {
            if (ended) break;  // drained
            ended = waitpid(pid, &status, WNOHANG) == pid;
            continue;
        }
        for (int i = 0; i < n; ++i) {
            if (fds[i].revents == 0) continue;
            if (fds[i].fd == in[1]) {
                ssize_t w = write(in[1], stdinText.data() + written, stdinText.size() - written);
                if (w > 0) written += static_cast<std::size_t>(w);
                if (w < 0 || written == stdinText.size()) {
                    close(in[1]);
                    in[1] = -1;
                }
                continue;
            }
            char buf[8192];
            ssize_t r = read(fds[i].fd, buf, sizeof buf);
            bool isOut = fds[i].fd == out[0];
            if (r <= 0) {
                (isOut ? outOpen : errOpen) = false;
                continue;
            }
            (isOut ? result.out : result.err).append(buf, static_cast<std::size_t>(r));
        }
    }
    close(out[0]);
    close(err[0]);
    if (in[1] >= 0) close(in[1]);
    if (!ended) waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (!windowsProgram.empty()) {
        result.out = fromWindowsText(result.out, "standard output of " + windowsProgram);
        result.err = fromWindowsText(result.err, "standard error of " + windowsProgram);
    }
    return result;
}

std::map<std::string, std::string> clientEnv() {
    std::map<std::string, std::string> env;
    if (KELBOR_SANITIZED) {
        // The C++ runtime is preloaded too: the engine throws internally, and
        // the sanitizer can only intercept throws of a runtime present at start.
        Dl_info info{};
        dladdr(reinterpret_cast<void*>(&std::terminate), &info);
        std::string cxxRuntime = info.dli_fname ? info.dli_fname : "";
        env["LD_PRELOAD"] =
            std::string(KELBOR_LIBASAN) + (cxxRuntime.empty() ? "" : ":" + cxxRuntime);
        env["ASAN_OPTIONS"] = "detect_leaks=0";
    }
    return env;
}

void writeConfig(const std::string& path, const std::string& login, const std::string& password,
                 const std::string& dataSource, const std::string& schema) {
    RunResult r = runProgram({configBinary(), "write", path, "--login", login, "--dsn", dataSource,
                              "--schema", schema, "--password-stdin"},
                             "", {}, password + "\n");
    ASSERT_EQ(r.exitCode, 0) << "kelbor-config write failed: " << r.err;
}

}  // namespace kt

namespace kt {

void addDataSource(const std::string& name, const std::map<std::string, std::string>& keys) {
    dataSources()[name] = keys;
    writeOdbcIni();
}

}  // namespace kt
