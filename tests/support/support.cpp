// Test support: temporary folders, stand-in data sources through the driver
// manager, and runs of the real binaries.
#include "tests/support/support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace kt {

std::string sourceDir() {
    return KELBOR_SOURCE_DIR;
}
std::string kelborBinary() {
    return KELBOR_BIN;
}
std::string configBinary() {
    return KELBOR_CONFIG_BIN;
}
std::string standinDriver() {
    return STANDIN_DRIVER;
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
    explicit Connection(const std::string& dsn) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
        SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
        SQLRETURN rc = SQLConnect(dbc_, (SQLCHAR*)dsn.c_str(), SQL_NTS, (SQLCHAR*)"", SQL_NTS,
                                  (SQLCHAR*)"", SQL_NTS);
        if (!SQL_SUCCEEDED(rc)) {
            error_ = "connect to " + dsn + " failed: " + diagText(SQL_HANDLE_DBC, dbc_);
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
        writeFile(d + "/odbcinst.ini", "[Standin]\nDriver=" + standinDriver() + "\n");
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

StandinDb::StandinDb(const std::map<std::string, std::string>& keys) : keys_(keys) {
    iniDir();
    dsn_ = "kt" + std::to_string(getpid()) + "_" + std::to_string(++dsnCounter);
    dbFile_ = dir_.file("db.sqlite");
    writeSection();
}

StandinDb::StandinDb(const StandinDb& sameFileAs, const std::map<std::string, std::string>& keys)
    : keys_(keys) {
    iniDir();
    dsn_ = "kt" + std::to_string(getpid()) + "_" + std::to_string(++dsnCounter);
    dbFile_ = sameFileAs.dbFile_;
    writeSection();
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
    auto section = keys_;
    section["Driver"] = "Standin";
    section["Database"] = dbFile_;
    dataSources()[dsn_] = section;
    writeOdbcIni();
}

void StandinDb::exec(const std::string& script, const std::string& schema) {
    Connection conn(dsn_);
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
    Connection conn(dsn_);
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

RunResult runProgram(const std::vector<std::string>& argv, const std::string& cwd,
                     const std::map<std::string, std::string>& env, const std::string& stdinText,
                     const std::vector<std::string>& unset) {
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
        for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
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
    while (outOpen || errOpen || in[1] >= 0) {
        pollfd fds[3];
        int n = 0;
        if (outOpen) fds[n++] = {out[0], POLLIN, 0};
        if (errOpen) fds[n++] = {err[0], POLLIN, 0};
        if (in[1] >= 0) fds[n++] = {in[1], POLLOUT, 0};
        if (poll(fds, n, -1) < 0) {
            if (errno == EINTR) continue;
            break;
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
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

void writeConfig(const std::string& path, const std::string& login, const std::string& password,
                 const std::string& dataSource, const std::string& schema) {
    RunResult r = runProgram({configBinary(), "write", path, "--login", login, "--dsn", dataSource,
                              "--schema", schema, "--password-stdin"},
                             "", {}, password + "\n");
    ASSERT_EQ(r.exitCode, 0) << "kelbor-config write failed: " << r.err;
}

}  // namespace kt
