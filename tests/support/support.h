// Test support: temporary folders, stand-in data sources reached through the
// driver manager, and runs of the real binaries.
//
// The driver manager caches the paths of its ini files at its first call, so
// every test program uses one private ini folder (ODBCSYSINI and ODBCINI are
// set by iniDir() on first use, before any ODBC call). Each StandinDb adds a
// data source of its own to that folder, backed by a fresh SQLite file.
//
// A data source reaches its database by one of two routes, chosen per test
// process by the environment variable KELBOR_TEST_ROUTE:
// - "standin" (the default): the stand-in's own ODBC driver opens the file;
// - "freetds": FreeTDS's ODBC driver talks TDS to a standin-tds server that
//   the StandinDb starts on the file and stops when it is destroyed.
// The same tests run on both; CTest registers each database test twice.
//
// "wine-standin" and "wine-freetds" are these two routes with the Windows
// programs (a MinGW-w64 build) run under Wine in place of the Linux ones.
// The data sources stay as they are: Wine's odbc32 hands the calls to this
// machine's driver manager. What the Windows programs write ends its lines
// with CR LF; readWritten() and runProgram() check that and hand the tests
// the text with LF line ends, so one expectation serves every route.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kt {

enum class Route { Standin, FreeTds };
// The route of this test process; an unknown KELBOR_TEST_ROUTE aborts.
Route route();
inline bool onFreeTds() {
    return route() == Route::FreeTds;
}
// Whether this test process runs the Windows programs under Wine.
bool underWine();

// Paths of the project and the built programs. Under Wine the programs are
// the .exe files of the Windows build (a program not built for Windows yet
// is the Linux one).
std::string sourceDir();
std::string kelborBinary();
std::string catchupBinary();
std::string configBinary();
std::string nightlyBinary();
std::string standinDriver();
std::string standinTdsServer();
std::string freeTdsDriver();

std::string readFile(const std::string& path);
// A text file the programs wrote (kelbor.log, kelbortgb): under Wine every
// line must end with CR LF (a bare LF is a test failure naming the file), and
// the text comes back with LF line ends; on Linux it is readFile.
std::string readWritten(const std::string& path);
// text as the programs of this route write it: under Wine with CR LF for
// every LF, e.g. for a kelbortgb an earlier run left.
std::string asWritten(const std::string& text);
// A program path for another program, starter, to start (a shell, timeout,
// the wrapper through KELBOR): a .exe that a Linux program starts gets a
// launcher script that execs it under Wine, so the started process is the
// Windows program itself and a signal sent to it reaches that program; any
// other path, or a .exe that a .exe starts, is returned as it is.
std::string startable(const std::string& program, const std::string& starter = "/bin/sh");
void writeFile(const std::string& path, const std::string& content);
bool fileExists(const std::string& path);

// A fresh folder under /tmp, removed with everything in it when destroyed.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// The process-wide ini folder (odbcinst.ini registers the stand-in as
// "Standin" and FreeTDS's driver as "FreeTDS"); sets ODBCSYSINI and ODBCINI
// on first call.
const std::string& iniDir();

// The odbc.ini lines of a FreeTDS data source on 127.0.0.1:port (the README
// shows these lines, host and port aside).
std::map<std::string, std::string> freeTdsDataSource(int port);

// Adds (or replaces) a data source of the given keys in this process's
// odbc.ini, e.g. one that points FreeTDS at a server the test runs itself.
void addDataSource(const std::string& name, const std::map<std::string, std::string>& keys);

// A running standin-tds on a database file, the data source keys given as
// its options (ServerTime as --server-time, FailOn as --fail-on, NoCount=1 as
// --nocount, ...).
// Started at construction (a test failure when it does not come up) and
// stopped with SIGTERM at destruction, where it must end with exit 0; it
// also dies with the test process, so a crashed test leaves none behind.
class TdsServer {
  public:
    TdsServer(const std::string& databaseFile, const std::map<std::string, std::string>& keys);
    ~TdsServer();
    TdsServer(const TdsServer&) = delete;
    TdsServer& operator=(const TdsServer&) = delete;
    int port() const { return port_; }
    // Stops the server; returns its exit code (-1 after a signal).
    int stop();

  private:
    int pid_ = -1;
    int out_ = -1;
    int port_ = 0;
    std::string errFile_;
};

// A data source on a fresh stand-in database. keys are extra odbc.ini
// keywords (ServerTime, User, Password, FailOn, Trace, ...); on the FreeTDS
// route they become the options of the data source's standin-tds.
class StandinDb {
  public:
    explicit StandinDb(const std::map<std::string, std::string>& keys = {});
    // A second data source on an existing database file, e.g. one with fault
    // keys for the batch while the first stays clean for loading and checks.
    // via picks its route, e.g. the stand-in driver to look at the file as
    // it is, whatever route the test runs on.
    StandinDb(const StandinDb& sameFileAs, const std::map<std::string, std::string>& keys,
              Route via = route());
    ~StandinDb();
    StandinDb(const StandinDb&) = delete;
    StandinDb& operator=(const StandinDb&) = delete;

    const std::string& dsn() const { return dsn_; }
    const std::string& databaseFile() const { return dbFile_; }
    const std::string& dir() const { return dir_.path(); }

    // Rewrites this data source's odbc.ini keywords. The driver manager
    // caches a data source's keywords in the process that first connects to
    // it, so new keys reach child processes (the batch) but not this test
    // program once it has connected; a test that needs faults in-process
    // creates its data source with them. On the FreeTDS route a new server
    // with the new keys takes over the data source, and the helpers below
    // keep the server the data source was created with.
    void setKeys(const std::map<std::string, std::string>& keys);

    // Runs a T-SQL script: one statement per line; blank lines and lines
    // starting with "--" are skipped; "$(SCHEMA)" is replaced by schema.
    // A failing statement is a test failure naming the statement.
    void exec(const std::string& script, const std::string& schema = "QRV");
    void execFile(const std::string& path, const std::string& schema = "QRV");
    // sql/schema.sql under the schema name.
    void loadSchema(const std::string& schema = "QRV");

    // Runs one SELECT; every value as text, NULL as "NULL", trailing blanks kept.
    std::vector<std::vector<std::string>> query(const std::string& sql);
    // The single value of a one-row, one-column SELECT.
    std::string scalar(const std::string& sql);

  private:
    void writeSection();
    // How exec and query connect: the data source's name, or on the FreeTDS
    // route a connection string to the first server.
    std::string helperConnection() const;
    TempDir dir_;
    std::string dsn_;
    std::string dbFile_;
    std::map<std::string, std::string> keys_;
    Route route_ = route();
    std::shared_ptr<TdsServer> server_;        // serves the data source
    std::shared_ptr<TdsServer> helperServer_;  // serves exec and query
};

// Result of running a program to its end.
struct RunResult {
    int exitCode = -1;  // -1 when it did not exit normally (signal)
    std::string out;
    std::string err;
};

// Who a program runs as: a user and group id, no supplementary groups.
struct Identity {
    unsigned uid;
    unsigned gid;
};

// Runs argv[0] with arguments in cwd, the given variables added to (or, with
// an empty value, still set in) the environment, feeding stdinText. Variables
// named in unset are removed from the child's environment. With as (the
// test running as root), the program runs as that identity.
// A .exe as argv[0], or as the program of "/usr/bin/timeout DURATION", runs
// under Wine; its standard output and error are checked and returned as
// readWritten() does with a file.
RunResult runProgram(const std::vector<std::string>& argv, const std::string& cwd,
                     const std::map<std::string, std::string>& env = {},
                     const std::string& stdinText = "", const std::vector<std::string>& unset = {},
                     const Identity* as = nullptr);

// The login with which the test's own connections log in. FreeTDS takes an
// empty login as a request for a Kerberos login, so a login is always given;
// a data source without User accepts any. The password differs from the
// login name, as the batch refuses a login name that is its password.
inline constexpr const char* kTestLogin = "kt";
inline constexpr const char* kTestPassword = "kt-pw";

// Environment for a client program that loads a driver of this build (isql,
// python3): in the sanitizer build the sanitizer's runtime and the C++
// runtime are preloaded, as an uninstrumented program must have them first.
std::map<std::string, std::string> clientEnv();

// Writes a configuration file through kelbor-config (login, password read
// from standard input, data source, schema as the operator types it, e.g.
// "qrv"). Fails the test when the tool fails.
void writeConfig(const std::string& path, const std::string& login, const std::string& password,
                 const std::string& dataSource, const std::string& schema);

}  // namespace kt
