// The entry point of the nightly batch: parameters, log, configuration,
// connection, then the run driver.
//
// Writes runContext (flags, log file, schema name) while starting up; from
// the call of processDayRecords on it is only read. The exit status is 0
// whatever happens; the log tells how the run went.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "db/connection.h"
#include "followup/run_driver.h"
#include "frame/config_reader.h"
#include "frame/fixed_text.h"
#include "frame/log.h"
#include "frame/platform.h"
#include "frame/run_context.h"
#include "frame/schema_name.h"
#include "frame/wipe.h"

namespace {

constexpr char kConsolidatedEdition[] = "QUORV";
constexpr char kDebugEnv[] = "KELBOR_DBG";
constexpr char kConnectFailed[] = "Fehler(DB-Connect)! ";
constexpr char kPasswordAsLogin[] = "Info: DB-Connect nicht versucht! ";
constexpr char kPasswordAsLoginDetail[] =
    "Name oder Net ist das Kennwort (ein Eintrag mit Nummer 0 oder unter einer Kopfzeile ohne "
    "zwei \";\" beantwortet jeden Schl\xFC"
    "ssel)\n";
constexpr char kMasked[] = "***";

// The login as read from the configuration file; each value is cut at its
// width.
struct Login {
    FixedText<51> loginName;
    FixedText<51> password;
    FixedText<51> dataSource;
    FixedText<22> schemaValue;
};

void printUsage() {
    std::printf("Aufruf: kelbor [Param1] [Param2] [Param3]\n");
    std::printf("Param1: Pfad der Inidatei\n");
    std::printf("Param2: QUORV/XXX QUORV=Firmenkonsol.-Version\n");
    std::printf("Param3: D/X D=Debug\n");
}

void writeTimeStamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
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

int main(int argc, char** argv) {
    // Before anything is read: a core file of this process could hold the
    // deciphered password.
    forbidCoreDumps();
    if (argc < 4) {
        printUsage();
        return 0;
    }
    FixedText<100> iniPath{};
    iniPath.assign(argv[1]);
    runContext.logVerbose = argv[3][0] == 'D' ? 1 : 0;
    runContext.consoleDebug = std::getenv(kDebugEnv) != nullptr ? 1 : 0;
    runContext.consolidated = std::strcmp(argv[2], kConsolidatedEdition) == 0 ? 1 : 0;

    openLog();
    writeTimeStamp();

    Login login{};
    readLogin(iniPath.text, login);
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
        if (name == kMasked || net == kMasked)
            logEntry(kPasswordAsLogin, "%s", kPasswordAsLoginDetail);
    } else {
        processDayRecords(runContext.schemaName.text);
    }
    closeLog();
    return 0;
}
