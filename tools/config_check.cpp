// kelbor-config's view of a configuration file as the batch sees it, and the
// preflight check that connects with it.
//
// The check runs only statements that read: COUNT(*) of each table under a
// false condition (existence and the right to read, no scan), then, through
// the look it shares with kelbor-nightly (tools/database_look), the server's
// clock, the batch's own previous-day cursor, walked to count the day
// records a run now would process, and the follow-up bookings of the
// accounting day that stand without their credit. It prints findings one per line, plain
// ASCII, so the output reads the same on a terminal and in a log; the
// password never appears, not even inside a driver's message.
#include "tools/config_check.h"

#include "frame/platform_odbc.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/day_records.h"
#include "frame/config_reader.h"
#include "frame/platform.h"
#include "frame/run_context.h"
#include "frame/schema_name.h"
#include "frame/secret_mask.h"
#include "tools/catch_up.h"
#include "tools/database_look.h"
#include "tools/config_platform.h"

namespace {

constexpr const char* kTables[] = {"Qrv327Tag", "Qrv320Tgb", "Qrv321Bch",
                                   "Qrv131Fcd", "Qrv329Ztg", "Qrv140Azv"};

UsedValue readUsed(const std::string& path, const char* key) {
    UsedValue used;
    used.key = key;
    used.value = readConfigValue("", key, 0, path.c_str());
    // An entry was selected when the reader kept one: it then carries a key
    // name (possibly empty) or the fields of a pair that matched by number.
    used.found = !configEntry.key.empty() || !configEntry.section.empty() ||
                 !configEntry.value.empty() || configEntry.number != 0;
    used.answeredBy = configEntry.key.text;
    if (!used.answeredBy.empty() && used.answeredBy.back() == '\n') used.answeredBy.pop_back();
    used.answeredByNumber = configEntry.number;
    wipeConfigEntry();
    return used;
}

// Keeps a text for printing: the password, wherever it stands as a token of
// its own, becomes ***; words that merely contain it stay whole.
std::string masked(const std::string& text, const std::string& password) {
    std::vector<char> out(text.size() * 3 + 1);
    maskPassword(text.c_str(), password.c_str(), out.data(), out.size());
    std::string result = out.data();
    wipeMemory(out.data(), out.size());
    return result;
}

void printDiagnostics(const std::vector<DiagLine>& lines, const std::string& password) {
    if (lines.empty()) std::cout << "  (the driver manager gave no diagnostic record)\n";
    for (const DiagLine& line : lines) {
        std::cout << "  SQLSTATE " << line.state << ", native error " << line.native << ": "
                  << masked(line.message, password) << "\n";
    }
}

bool hasState(const std::vector<DiagLine>& lines, std::initializer_list<const char*> states) {
    for (const DiagLine& line : lines) {
        for (const char* state : states) {
            if (line.state == state) return true;
        }
    }
    return false;
}

bool containsNoCase(const std::string& text, const char* word) {
    std::string lower = text;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return lower.find(word) != std::string::npos;
}

// Microsoft's driver names the failed TLS handshake ("SSL Provider: ...
// certificate verify failed"). FreeTDS only says "Adaptive Server
// connection failed" (20002) without its "unavailable or does not exist"
// (20009): the server took the connection, and what then fails before the
// login is, with encryption required, the handshake.
bool tlsFailure(const std::vector<DiagLine>& lines) {
    bool unreachable = false;
    bool failedAfterConnect = false;
    for (const DiagLine& line : lines) {
        for (const char* word : {"ssl", "tls", "certificate", "encrypt"}) {
            if (containsNoCase(line.message, word)) return true;
        }
        unreachable = unreachable || line.native == 20009;
        failedAfterConnect = failedAfterConnect || line.native == 20002;
    }
    return failedAfterConnect && !unreachable;
}

std::string connectCause(const std::vector<DiagLine>& lines, const std::string& dataSource) {
    if (hasState(lines, {"IM002"})) {
        if (dataSource.empty()) return "unknown data source: the file names none (DATABASE)";
        return "unknown data source: \"" + dataSource +
               "\" is in no odbc.ini the driver manager reads (odbcinst -j names them)";
    }
    if (hasState(lines, {"IM003", "IM004"})) {
        return "the data source's driver cannot be loaded: check its Driver= in odbcinst.ini";
    }
    bool refused = hasState(lines, {"28000"});
    for (const DiagLine& line : lines) refused = refused || line.native == 18456;
    if (refused) {
        return "login refused: the server does not accept this login name and password, "
               "or not for its default database";
    }
    if (tlsFailure(lines)) {
        return "TLS or certificate failure: the server was reached, but the encrypted link was "
               "not set up: the CA file (FreeTDS: \"ca file\" in freetds.conf) does not vouch "
               "for the server's certificate, the certificate does not name the host, or only "
               "one side requires encryption (without encryption: the server at that address "
               "is no SQL Server, or does not speak the TDS version asked for)";
    }
    if (hasState(lines, {"08001", "08S01", "HYT00", "HYT01", "S1T00"})) {
        return "server not reachable: check Server= and Port= of the data source, the network "
               "and the server";
    }
    return "the connection failed; the records above say why";
}

void printValue(const UsedValue& used, const std::string& shown) {
    std::cout << used.key << ": ";
    if (!used.found) {
        std::cout << "no entry; the batch gets an empty value\n";
        return;
    }
    std::cout << shown;
    if (used.key != "SCHEMA" && used.value.size() > kLoginWidth) {
        std::cout << " (" << used.value.size() << " characters; the connection uses the first "
                  << kLoginWidth << ")";
    }
    std::cout << "\n";
}

// Tells which login value a run would actually pass on: cut to the width
// the batch keeps and then to what the connection passes on.
std::string connectForm(const std::string& value) {
    return value.substr(0, std::min(value.size(), std::min(kLoginValueWidth, kLoginWidth)));
}

// A login value that is the password (an entry answering every key gives
// the password for all of them) is shown like the password.
std::string shown(const std::string& value, const std::string& password) {
    if (!password.empty() && value == password) return "*** (the password's value)";
    return value;
}

// What the nightly wrapper's state in the current directory (run the check
// where the wrapper runs) says a run would catch up before yesterday.
void printCatchUp(const std::string& yesterday) {
    std::string last, problem;
    if (!readLastProcessedDay(kStateFileName, last, problem)) {
        if (!problem.empty()) {
            std::cout << "warning: " << problem << ": a run catches up no missed night\n";
        } else {
            std::cout << "last processed day: none recorded (no " << kStateFileName
                      << " here): a run processes yesterday only\n";
        }
        return;
    }
    std::cout << "last processed day: " << isoDate(last) << " (" << kStateFileName << ")\n";
    std::vector<std::string> missed = daysBetween(last, yesterday);
    if (missed.size() > kCatchUpBound) {
        std::cout << "warning: " << missed.size() << " nights missed, " << isoDate(missed.front())
                  << " to " << isoDate(missed.back()) << ", more than " << kCatchUpBound
                  << ": kelbor-nightly fails the night and catches up none of them; process "
                     "each, oldest first, with kelbor-nightly --day YYYYMMDD\n";
        return;
    }
    std::cout << "missed nights a run catches up first: ";
    if (missed.empty()) std::cout << "none";
    for (std::size_t i = 0; i < missed.size(); ++i) {
        std::cout << (i == 0 ? "" : ", ") << isoDate(missed[i]);
    }
    std::cout << "\n";
}

int connectAndRead(const UsedValues& used) {
    // The connection cuts each value itself; the cut password is what a
    // driver could echo.
    std::string password = connectForm(used.password.value);
    const bool loginIsPassword = isPasswordValue(used.login.value.c_str(), password.c_str()) != 0;
    if (loginIsPassword || isPasswordValue(used.dataSource.value.c_str(), password.c_str()) != 0) {
        wipeString(password);
        std::cout << "connection: not tried\n";
        std::cout << "likely cause: the " << (loginIsPassword ? "login name" : "data-source name")
                  << " is the password: an entry numbered 0, or under a header line without two "
                     "\";\", answers every key (kelbor-config show names it); the batch does not "
                     "connect with it either, as the server would see the password as a name\n";
        return 1;
    }
    int rc = connectDatabase(used.login.value.c_str(), used.password.value.c_str(),
                             used.dataSource.value.c_str());
    if (rc != 0) {
        std::cout << "connection: failed\n";
        std::vector<DiagLine> lines;
        if (connHandle != nullptr) lines = allDiagnostics(SQL_HANDLE_DBC, connHandle);
        printDiagnostics(lines, password);
        std::cout << "likely cause: "
                  << masked(connectCause(lines, shown(used.dataSource.value, password)), password)
                  << "\n";
        wipeString(password);
        return 1;
    }
    std::cout << "connection: ok\n";
    if (!used.password.value.empty() && used.schema.value == used.password.value) {
        wipeString(password);
        std::cout << "likely cause: schema value unusable: the SCHEMA entry the batch takes "
                     "holds the password (an entry that answers every key)\n";
        return 1;
    }
    if (isPlainSchemaName(used.schemaName.c_str()) == 0) {
        wipeString(password);
        std::cout << "likely cause: schema value unusable: the schema name \"" << used.schemaName
                  << "\" is not letters, digits and \"_\"\n";
        return 1;
    }

    int failures = 0;
    for (const char* table : kTables) {
        std::string name = used.schemaName + "." + table;
        QueryResult r = query("SELECT COUNT(*) FROM " + name + " WHERE 1 = 0");
        if (r.ok) {
            std::cout << "table " << name << ": readable\n";
            continue;
        }
        ++failures;
        std::cout << "table " << name << ": cannot be read\n";
        printDiagnostics(r.diagnostics, password);
    }
    if (failures != 0) {
        std::cout << "likely cause: schema value unusable or tables missing: the schema "
                  << used.schemaName << " lacks " << (failures == 1 ? "a table" : "tables")
                  << " or the login may not read " << (failures == 1 ? "it" : "them") << "\n";
        wipeString(password);
        return 1;
    }

    std::string clock, day;
    std::vector<DiagLine> clockDiagnostics;
    if (!readAccountingDay(clock, day, clockDiagnostics)) {
        std::cout << "server clock: cannot be read\n";
        printDiagnostics(clockDiagnostics, password);
        wipeString(password);
        return 1;
    }
    wipeString(password);
    std::cout << "server clock: " << clock << "\n";
    std::cout << "accounting day: " << isoDate(day)
              << " (the day before the server's date; a run now processes it)\n";
    printCatchUp(day);

    // The batch's own cursor, so the count is what a run would walk.
    formSchemaName(used.schema.value.c_str(), runContext.schemaName);
    long count = 0;
    rc = countDayRecords(count);
    if (rc != 0) {
        std::cout << "day records of the accounting day: "
                  << (count == 0 ? std::string("cannot be read")
                                 : "reading stopped after " + std::to_string(count))
                  << " (RC:" << rc << ")\n";
        printDiagnostics(
            {{diagRecord.SqlState.text, diagRecord.NativeError, diagRecord.Message.text}}, "");
        return 1;
    }
    std::cout << "day records of the accounting day: " << count << "\n";
    if (count == 0) {
        std::cout << "warning: no day records for " << isoDate(day)
                  << ": a run now would do nothing and kelbor-nightly would fail the night; "
                     "check the server's clock and that the day-closing job ran\n";
    }

    std::vector<UnrepairedBreak> breaks;
    std::vector<DiagLine> breakDiagnostics;
    if (!listUnrepairedBreaks(used.schemaName, "", breaks, breakDiagnostics)) {
        std::cout << "follow-up bookings without their credit: cannot be read\n";
        printDiagnostics(breakDiagnostics, "");
        return 1;
    }
    for (const UnrepairedBreak& b : breaks) {
        std::cout << "warning: follow-up without credit: " << describeBreak(b, day) << "\n";
    }
    return 0;
}

}  // namespace

UsedValues readUsedValues(const std::string& path) {
    UsedValues used;
    used.login = readUsed(path, "LOGIN");
    used.password = readUsed(path, "PASS");
    used.dataSource = readUsed(path, "DATABASE");
    used.schema = readUsed(path, "SCHEMA");
    SchemaName schemaName{};
    formSchemaName(used.schema.value.c_str(), schemaName);
    used.schemaName = schemaName.text;
    for (const UsedValue* v : {&used.login, &used.password, &used.dataSource, &used.schema}) {
        if (!v->found || v->answeredBy == v->key) continue;
        used.warnings.push_back(v->key + " is answered by the entry numbered " +
                                std::to_string(v->answeredByNumber) + " with the key \"" +
                                v->answeredBy +
                                "\": an entry numbered 0, or under a header line without two "
                                "\";\", answers every key that reaches it");
    }
    return used;
}

void wipeUsedValues(UsedValues& values) {
    for (UsedValue* v : {&values.login, &values.password, &values.dataSource, &values.schema}) {
        wipeString(v->value);
    }
}

void wipeString(std::string& s) {
    wipeMemory(s.data(), s.size());
    s.clear();
}

std::string unreadableReason(const std::string& path) {
    // The batch's own open: a file it would refuse is unreadable here too.
    int error = 0;
    int fd = openInputFile(path.c_str(), LinkRule::kFollow, error);
    if (fd >= 0) {
        closeFile(fd);
        return "";
    }
    if (error != kNotRegularFile) return std::strerror(error);
    return isFolder(path) ? "it is a directory" : "not a regular file";
}

int checkSetUp(const std::string& path) {
    std::cout << "configuration file: " << path << "\n";
    std::string reason = unreadableReason(path);
    if (!reason.empty()) {
        std::cout << "cannot read " << path << ": " << reason << "\n";
        std::cout << "likely cause: file unreadable (" << reason
                  << "); a run would connect with an empty login and fail\n";
        std::cout << "result: a run would not get going\n";
        return 1;
    }
    UsedValues used = readUsedValues(path);
    const std::string& password = used.password.value;
    printValue(used.login, shown(used.login.value, password));
    printValue(used.password, std::to_string(password.size()) + " characters, not shown");
    printValue(used.dataSource, shown(used.dataSource.value, password));
    // The schema name is the stored value cut and upper-cased, so it gives the
    // password away as well when the value is the password.
    const bool schemaIsPassword = !password.empty() && used.schema.value == password;
    printValue(used.schema, schemaIsPassword
                                ? shown(used.schema.value, password)
                                : used.schema.value + " (schema name " + used.schemaName + ")");
    for (const std::string& warning : used.warnings) std::cout << "warning: " << warning << "\n";
    const std::string serviceProblem = serviceUserProblem(path);

    int rc = connectAndRead(used);
    wipeUsedValues(used);
    if (!serviceProblem.empty()) {
        std::cout << "likely cause: " << serviceProblem << "\n";
        rc = 1;
    }
    std::cout << (rc == 0 ? "result: a run would get going\n"
                          : "result: a run would not get going\n");
    return rc;
}
