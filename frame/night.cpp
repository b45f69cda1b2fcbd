// The shared start and end of a run: parameters, log, configuration,
// connection, row counts.
//
// Writes runContext (flags, log file, schema name) while starting up. The
// login lives on the stack only while it is used; the password is wiped
// as soon as the connection is made or refused.
#include "frame/night.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "db/connection.h"
#include "db/session.h"
#include "frame/config_reader.h"
#include "frame/fixed_text.h"
#include "frame/log.h"
#include "frame/platform.h"
#include "frame/run_context.h"
#include "frame/schema_name.h"

namespace {

constexpr char kConsolidatedEdition[] = "QUORV";
constexpr char kDebugEnv[] = "KELBOR_DBG";
constexpr char kConnectFailed[] = "Fehler(DB-Connect)! ";
constexpr char kRowCountsFailed[] = "Fehler(DB-Set): NOCOUNT OFF setzen! ";
constexpr char kPasswordAsLogin[] = "Info: DB-Connect nicht versucht! ";
constexpr char kPasswordAsLoginDetail[] =
    "Name oder Net ist das Kennwort (ein Eintrag mit Nummer 0 oder unter einer Kopfzeile ohne "
    "zwei \";\" beantwortet jeden Schl\xFC"
    "ssel)\n";
constexpr char kMasked[] = "***";

// The login as read from the configuration file; each value is cut at its
// width.
struct Login {
    FixedText<kLoginValueWidth + 1> loginName;
    FixedText<kLoginValueWidth + 1> password;
    FixedText<kLoginValueWidth + 1> dataSource;
    FixedText<kSchemaNameWidth + 2> schemaValue;
};

void writeTimeStamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localTime(now, local);
    char stamp[100];
    if (std::strftime(stamp, sizeof stamp, "\nDatum: %d.%m.%Y  Uhrzeit: %H:%M:%S\n", &local) == 0) {
        return;
    }
    logEntry("", "%s", stamp);
}

void readLogin(const char* iniPath, Login& login) {
    login.loginName.assign(readConfigValue("", "LOGIN", 0, iniPath));
    login.password.assign(readConfigValue("", "PASS", 0, iniPath));
    login.dataSource.assign(readConfigValue("", "DATABASE", 0, iniPath));
    login.schemaValue.assign(readConfigValue("", "SCHEMA", 0, iniPath));
}

}  // namespace

int startNight(const char* iniPath, const char* edition, const char* debug) {
    // Before anything is read: a core file of this process could hold the
    // deciphered password.
    forbidCoreDumps();
    FixedText<100> path{};
    path.assign(iniPath);
    runContext.logVerbose = debug[0] == 'D' ? 1 : 0;
    runContext.consoleDebug = std::getenv(kDebugEnv) != nullptr ? 1 : 0;
    runContext.consolidated = std::strcmp(edition, kConsolidatedEdition) == 0 ? 1 : 0;

    openLog();
    writeTimeStamp();

    Login login{};
    readLogin(path.text, login);
    wipeConfigEntry();
    formSchemaName(login.schemaValue.text, runContext.schemaName);

    // connectDatabase refuses a login name or data-source name that is the
    // password, without calling the driver.
    int rc = connectDatabase(login.loginName.text, login.password.text, login.dataSource.text);
    // The password stays out of the log: the line names it only by "***".
    // An entry that answers every request (numbered 0, or under a header
    // without two ";") gives the login and the data source the password's
    // value, so they are masked alike when they equal it.
    const char* name = login.loginName.text;
    const char* net = login.dataSource.text;
    if (isPasswordValue(name, login.password.text) != 0) name = kMasked;
    if (isPasswordValue(net, login.password.text) != 0) net = kMasked;
    wipeMemory(&login.password, sizeof login.password);
    if (rc != 0) {
        logEntry(kConnectFailed, "RC:%d Name:%s Pwd:%s Net:%s\n", rc, name, kMasked, net);
        if (name == kMasked || net == kMasked) {
            logEntry(kPasswordAsLogin, "%s", kPasswordAsLoginDetail);
        }
        return -1;
    }
    // Every write tells "no row matched" by its row count. A server whose
    // sessions start with NOCOUNT ON (a DBA's choice through its "user
    // options") sends none, and every write would read as a failure, so
    // the run asks for them itself. Should that fail, the run goes on: on a
    // server with counts on it loses nothing.
    rc = requestRowCounts();
    if (rc != 0) logEntry(kRowCountsFailed, "RC:%d\n", rc);
    return 0;
}

void endNight() {
    closeLog();
}
