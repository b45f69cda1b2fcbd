// kelbor-config as an operator uses it: the preflight check against a
// stand-in server (good set-up and each way it breaks), the command-line
// conventions, who may read the file it writes, and show's view of what the
// batch will take from a file.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "tests/e2e/followup_e2e.h"
#include "tests/support/support.h"

namespace {

const char kLogin[] = "nightly";
const char kPassword[] = "S3cret-Pw!";

// A service user that no machine has, so that what root writes does not
// depend on whether this one has the user kelbor.
const std::map<std::string, std::string> kNoServiceUser = {
    {"KELBOR_SERVICE_USER", "kelbor-no-such-user"}};

// The tool as another user can start it. The build tree may lie in a
// folder only its owner can enter (a clone in a private temporary folder),
// so that user runs a copy in a folder anyone may enter.
const std::string& configBinaryForAnyone() {
    static const kt::TempDir dir;
    static const std::string copy = [] {
        const std::string path = dir.file("kelbor-config");
        std::filesystem::copy_file(kt::configBinary(), path);
        chmod(dir.path().c_str(), 0755);
        chmod(path.c_str(), 0755);
        return path;
    }();
    return copy;
}

kt::RunResult tool(const std::vector<std::string>& args, const std::string& stdinText = "",
                   const std::map<std::string, std::string>& env = kNoServiceUser,
                   const kt::Identity* as = nullptr) {
    std::vector<std::string> argv{as == nullptr ? kt::configBinary() : configBinaryForAnyone()};
    argv.insert(argv.end(), args.begin(), args.end());
    return kt::runProgram(argv, "", env, stdinText, {}, as);
}

std::string encipher(const std::string& text) {
    kt::RunResult r = tool({"encipher"}, text + "\n");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out.substr(0, r.out.find('\n'));
}

std::string schemaWithout(const std::string& table) {
    std::string script;
    std::string all = kt::readFile(kt::sourceDir() + "/sql/schema.sql");
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t end = all.find('\n', start);
        if (end == std::string::npos) end = all.size();
        std::string line = all.substr(start, end - start);
        if (line.find("." + table + " ") == std::string::npos) script += line + "\n";
        start = end + 1;
    }
    return script;
}

// Every row of the six tables, in key order: what a check must leave as it
// found it. (The file's bytes are no measure: the server behind a data
// source may write its pages back to the file later.)
std::string contents(kt::StandinDb& db) {
    std::string all;
    for (const char* table :
         {"Qrv327Tag", "Qrv320Tgb", "Qrv321Bch", "Qrv131Fcd", "Qrv329Ztg", "Qrv140Azv"}) {
        all += std::string(table) + ":\n";
        for (const auto& row : db.query(std::string("SELECT * FROM QRV.") + table)) {
            for (const std::string& value : row) all += value + "|";
            all += "\n";
        }
    }
    return all;
}

// A stand-in server that accepts only kLogin with kPassword; its clock at
// 2026-03-10 02:30, so the accounting day is 2026-03-09.
class ConfigCheck : public ::testing::Test {
  protected:
    void SetUp() override { db_.loadSchema(); }

    kt::RunResult check(const std::string& password, const std::string& dsn) {
        kt::writeConfig(ini_, kLogin, password, dsn, "qrv");
        return tool({"check", ini_});
    }

    kt::StandinDb db_{{{"ServerTime", fu::kServerTime}}};
    kt::StandinDb server_{
        db_, {{"ServerTime", fu::kServerTime}, {"User", kLogin}, {"Password", kPassword}}};
    kt::TempDir dir_;
    std::string ini_ = dir_.file("kelbor.ini");
};

TEST_F(ConfigCheck, GoodSetUpShowsTablesClockAccountingDayAndItsDayRecords) {
    // Two accounting days the batch would process, one earlier day and one
    // record of the accounting day that is not open (no 12:00 window), which
    // the batch skips.
    db_.exec(fu::accDay("1001") + fu::accDay("1002") + fu::day("1001", "20260306") +
             fu::day("1003", fu::kAccDay));
    const std::string before = contents(db_);

    kt::RunResult r = check(kPassword, server_.dsn());
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    for (const char* table :
         {"Qrv327Tag", "Qrv320Tgb", "Qrv321Bch", "Qrv131Fcd", "Qrv329Ztg", "Qrv140Azv"}) {
        EXPECT_NE(r.out.find(std::string("table QRV.") + table + ": readable\n"), std::string::npos)
            << table;
    }
    EXPECT_NE(r.out.find("server clock: 2026-03-10 02:30:00\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("accounting day: 2026-03-09 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("day records of the accounting day: 2\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("result: a run would get going\n"), std::string::npos);
    EXPECT_EQ(r.out.find(kPassword), std::string::npos);
    EXPECT_EQ(contents(db_), before) << "the check changed the database";

    // A run would indeed get going: the batch connects and writes its
    // parameter file.
    kt::RunResult run =
        kt::runProgram({kt::kelborBinary(), ini_, "XXX", "D"}, dir_.path(), {}, "", {"KELBOR_DBG"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(kt::fileExists(dir_.file("kelbortgb")));
}

TEST_F(ConfigCheck, EachBrokenSetUpNamesItsCauseAndExitsOne) {
    kt::StandinDb fiveTables{{{"ServerTime", fu::kServerTime}}};
    fiveTables.exec(schemaWithout("Qrv140Azv"));

    struct Case {
        const char* name;
        std::string password;
        std::string dsn;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"wrong password",
         "Wrong-Pw-1",
         server_.dsn(),
         {"connection: failed\n",
          // FreeTDS reports the refusal under 42000, Microsoft's driver and
          // the stand-in driver under 28000.
          std::string("SQLSTATE ") + (kt::onFreeTds() ? "42000" : "28000") +
              ", native error 18456: ",
          "likely cause: login refused"}},
        {"unknown data source",
         kPassword,
         "kelbor-no-such-dsn",
         {"connection: failed\n", "SQLSTATE IM002",
          "likely cause: unknown data source: \"kelbor-no-such-dsn\""}},
        {"missing table",
         kPassword,
         fiveTables.dsn(),
         {"connection: ok\n", "table QRV.Qrv329Ztg: readable\n",
          "table QRV.Qrv140Azv: cannot be read\n", "SQLSTATE 42S02, native error 208: ",
          "likely cause: schema value unusable or tables missing"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::RunResult r = check(c.password, c.dsn);
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        for (const std::string& text : c.expected) {
            EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
        }
        EXPECT_NE(r.out.find("result: a run would not get going\n"), std::string::npos);
        EXPECT_EQ(r.out.find(c.password), std::string::npos) << r.out;
        EXPECT_EQ(r.err.find(c.password), std::string::npos) << r.err;
    }

    // A short password masked inside words would garble every message and,
    // by where it cuts, tell the password.
    kt::RunResult shortPw = check("x", "kelbor-no-such-dsn");
    EXPECT_EQ(shortPw.exitCode, 1);
    EXPECT_NE(shortPw.out.find("[unixODBC][Driver Manager]Data source name not found"),
              std::string::npos)
        << shortPw.out;
    EXPECT_EQ(shortPw.out.find("***ODBC"), std::string::npos) << shortPw.out;

    kt::RunResult missing = tool({"check", dir_.file("absent.ini")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.out.find("cannot read " + dir_.file("absent.ini") +
                               ": No such file or directory\n"),
              std::string::npos)
        << missing.out;
    EXPECT_NE(missing.out.find("likely cause: file unreadable"), std::string::npos);
    EXPECT_EQ(missing.out.find("connection:"), std::string::npos) << "connected without a file";
}

TEST_F(ConfigCheck, LoginValuesAreCutAsTheBatchCutsThem) {
    // The server's login is the first 23 characters of a longer name: the
    // batch hands the driver manager only those, and so does the check.
    const std::string login = "abcdefghijklmnopqrstuvw";
    kt::StandinDb longLogin{
        db_, {{"ServerTime", fu::kServerTime}, {"User", login}, {"Password", kPassword}}};
    kt::writeConfig(ini_, login + "xyz", kPassword, longLogin.dsn(), "qrv");
    kt::RunResult r = tool({"check", ini_});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("(26 characters; the connection uses the first 23)"), std::string::npos)
        << r.out;
}

TEST(ConfigTool, FollowsCommandLineConventions) {
    kt::TempDir dir;
    const std::string ini = dir.file("k.ini");
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        std::string errPart;
    };
    const Case usageErrors[] = {
        {"no argument", {}, 2, "a command is missing"},
        {"unknown command", {"frobnicate"}, 2, "unknown command frobnicate"},
        {"repeated option",
         {"write", ini, "--login", "a", "--login=b", "--dsn", "d", "--schema", "s"},
         2,
         "--login is given twice"},
        {"unknown option", {"show", ini, "--colour"}, 2, "unknown option --colour"},
        {"value for a flag", {"show", ini, "--reveal=yes"}, 2, "--reveal takes no value"},
        {"missing value", {"write", ini, "--login"}, 2, "--login needs a value"},
        {"missing file", {"check"}, 2, "check: FILE is missing"},
        {"two files", {"show", ini, ini}, 2, "unexpected argument"},
        {"missing option", {"write", ini, "--login", "a"}, 2, "are all needed"},
    };
    for (const Case& c : usageErrors) {
        SCOPED_TRACE(c.name);
        kt::RunResult r = tool(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.errPart), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("--help"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(kt::fileExists(ini));

    kt::RunResult help = tool({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("kelbor-config check FILE"), std::string::npos);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(tool({"show", "--help"}).out, help.out);
    kt::RunResult version = tool({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(std::regex_match(version.out, std::regex("kelbor-config \\d+\\.\\d+\\.\\d+\n")))
        << version.out;

    // Options in any order, with "=" or apart, give the same file.
    ASSERT_EQ(
        tool({"write", ini, "--login", "u", "--dsn", "d", "--schema", "s", "--password-stdin"},
             "pw\n")
            .exitCode,
        0);
    std::string first = kt::readFile(ini);
    ASSERT_EQ(tool({"write", "--password-stdin", "--schema=s", "--dsn=d", ini, "--login=u"}, "pw\n")
                  .exitCode,
              0);
    EXPECT_EQ(kt::readFile(ini), first);

    kt::RunResult empty =
        tool({"write", dir.file("e.ini"), "--login=u", "--dsn=d", "--schema=s", "--password-stdin"},
             "\n");
    EXPECT_EQ(empty.exitCode, 2);
    EXPECT_NE(empty.err.find("the password is empty"), std::string::npos) << empty.err;
    EXPECT_FALSE(kt::fileExists(dir.file("e.ini")));

    kt::RunResult unread = tool({"show", dir.file("absent.ini")});
    EXPECT_EQ(unread.exitCode, 1);
    EXPECT_EQ(unread.err, "kelbor-config: cannot read " + dir.file("absent.ini") +
                              ": No such file or directory\n");
    kt::RunResult folder = tool({"show", dir.path()});
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_NE(folder.err.find(": it is a directory"), std::string::npos) << folder.err;

    const std::string nowhere = dir.file("no/such/dir/k.ini");
    kt::RunResult noDir =
        tool({"write", nowhere, "--login=u", "--dsn=d", "--schema=s", "--password-stdin"}, "pw\n");
    EXPECT_EQ(noDir.exitCode, 1);
    EXPECT_EQ(noDir.err, "kelbor-config: cannot write " + nowhere + ": the directory " +
                             dir.file("no/such/dir") + " does not exist\n");
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

gid_t groupOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_gid;
}

TEST(ConfigTool, GroupRecipeAndRewritesKeepWhoMayRead) {
    // Root may hand the file to any group; anyone else to their own.
    const group* gr = geteuid() == 0 ? getgrnam("daemon") : getgrgid(getegid());
    ASSERT_NE(gr, nullptr);
    const std::string name = gr->gr_name;
    const gid_t gid = gr->gr_gid;
    kt::TempDir dir;
    const std::string ini = dir.file("kelbor.ini");
    auto write = [&](std::vector<std::string> extra) {
        std::vector<std::string> args{"write",   ini,          "--login=u",
                                      "--dsn=d", "--schema=s", "--password-stdin"};
        args.insert(args.end(), extra.begin(), extra.end());
        kt::RunResult r = tool(args, "pw\n");
        EXPECT_EQ(r.exitCode, 0) << r.err;
    };

    write({});
    EXPECT_EQ(modeOf(ini), 0600u);
    write({"--group", name});
    EXPECT_EQ(modeOf(ini), 0640u);
    EXPECT_EQ(groupOf(ini), gid);
    write({});  // a rewrite without --group keeps what the operator set
    EXPECT_EQ(modeOf(ini), 0640u);
    EXPECT_EQ(groupOf(ini), gid);
    ASSERT_EQ(chmod(ini.c_str(), 0664), 0);
    write({});  // ... but never keeps access for others
    EXPECT_EQ(modeOf(ini), 0660u);

    kt::RunResult unknown = tool(
        {"write", ini, "--login=u", "--dsn=d", "--schema=s", "--group=kelbor-no-such-group"}, "");
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("unknown group kelbor-no-such-group"), std::string::npos);
}

TEST(ConfigShow, ShowsWhatTheBatchTakesAndWarnsAboutEntriesAnsweringEveryKey) {
    kt::TempDir dir;
    const std::string ini = dir.file("kelbor.ini");
    const std::string pass = encipher(kPassword);
    const std::string entries = "[kelbor];KELBOR;login\n1;LOGIN;" + encipher("first") +
                                "\n[kelbor];KELBOR;data source\n3;DATABASE;" + encipher("dsn") +
                                "\n[kelbor];KELBOR;schema\n4;SCHEMA;" + encipher("qrv.") + "\n";
    struct Case {
        const char* name;
        std::string content;
        std::string uses;  // the "The batch uses" block
        bool warns;
    };
    const Case cases[] = {
        {"well-formed, LOGIN twice",
         entries + "[kelbor];KELBOR;again\n5;LOGIN;" + encipher("second") +
             "\n[kelbor];KELBOR;password\n2;PASS;" + pass + "\n",
         "  LOGIN = first\n  PASS = ***\n  DATABASE = dsn\n  SCHEMA = qrv. (schema name QRV)\n",
         false},
        {"password first, numbered 0", "[kelbor];KELBOR;password\n0;PASS;" + pass + "\n" + entries,
         "  LOGIN = ***\n  PASS = ***\n  DATABASE = ***\n  SCHEMA = ***\n", true},
        {"password first, header without two semicolons",
         "password\n2;PASS;" + pass + "\n" + entries,
         "  LOGIN = ***\n  PASS = ***\n  DATABASE = ***\n  SCHEMA = ***\n", true},
        {"no password entry", entries,
         "  LOGIN = first\n  PASS = (no entry: empty)\n  DATABASE = dsn\n  SCHEMA = qrv. (schema "
         "name QRV)\n",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kt::writeFile(ini, c.content);
        kt::RunResult r = tool({"show", ini});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out.substr(0, r.out.find("Entries:\n")), "The batch uses:\n" + c.uses);
        EXPECT_EQ(r.out.find(kPassword), std::string::npos) << r.out;
        EXPECT_EQ(r.err.find("answers every key") != std::string::npos, c.warns) << r.err;
        EXPECT_EQ(r.err.find(kPassword), std::string::npos) << r.err;
        if (c.warns) {
            EXPECT_NE(r.out.find("(answers every key)"), std::string::npos) << r.out;
            EXPECT_NE(tool({"show", ini, "--reveal"}).out.find(std::string("LOGIN = ") + kPassword),
                      std::string::npos);
        }

        // The preflight names no value the password gives away either: the
        // schema name is the value cut by one and upper-cased. It does not
        // connect with the password as the login name, as the batch does not.
        kt::RunResult chk = tool({"check", ini});
        EXPECT_EQ(chk.out.find(kPassword), std::string::npos) << chk.out;
        EXPECT_EQ(chk.out.find("S3CRET-PW"), std::string::npos) << chk.out;
        EXPECT_EQ(
            chk.out.find("connection: not tried\nlikely cause: the login name is the password") !=
                std::string::npos,
            c.warns)
            << chk.out;

        // The batch agrees: its failed-connect line names the login show named.
        kt::RunResult run = kt::runProgram({kt::kelborBinary(), ini, "XXX", "D"}, dir.path(), {},
                                           "", {"KELBOR_DBG"});
        EXPECT_EQ(run.exitCode, 0);
        std::string log = kt::readWritten(dir.file("kelbor.log"));
        if (!c.warns) {
            EXPECT_NE(log.find("Name:first Pwd:*** Net:dsn\n"), std::string::npos) << log;
        } else {
            EXPECT_NE(log.find("Name:*** Pwd:*** Net:***\nInfo: DB-Connect nicht versucht! "),
                      std::string::npos)
                << log;
        }
        std::remove(dir.file("kelbor.log").c_str());
    }
}

}  // namespace

namespace {

// A key other than LOGIN, DATABASE and SCHEMA may hold a secret under a
// mistyped name ("Pass"): show prints none of their values without --reveal.
// show lists the pairs exactly as the batch's reader walks them: a pair with
// a line over its limit, or without an entry, is marked ignored with the
// reason, and the batch indeed takes nothing from it.
TEST(ConfigShow, MarksThePairsTheBatchPassesOver) {
    kt::TempDir dir;
    const std::string ini = dir.file("kelbor.ini");
    const std::string header = "[kelbor];KELBOR;";
    const std::string content =
        header + std::string(183, 'x') + "\n0;PASS;" + encipher(kPassword) + "\n" +  // 200 bytes
        "[kelbor];KELBOR;login\n1;LOGIN;" + encipher("first") + "\n" +
        "[kelbor];KELBOR;data source\n3;DATABASE;" + encipher("dsn") + "\n" +
        "[kelbor];KELBOR;schema\n4;SCHEMA;" + encipher("qrv.") + "\n" +
        "[kelbor];KELBOR;long\n5;NOTE;" + std::string(393, '0') + "\n" +       // 400 bytes
        header + std::string(182, 'x') + "\n6;NOTE;" + encipher("n") + "\n" +  // 199 bytes
        "[kelbor];KELBOR;none\nno entry\n";
    kt::writeFile(ini, content);
    kt::RunResult r = tool({"show", ini});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("  PASS = (no entry: empty)\n"), std::string::npos) << r.out;
    // Windows adds the file's access list, which the test wrote.
    std::string entries = r.out.substr(r.out.find("Entries:\n"));
    if (kt::underWine()) entries.erase(std::min(entries.size(), entries.find("Access:\n")));
    EXPECT_EQ(entries,
              "Entries:\n"
              "  line 1: ignored (header line over 199 bytes with its line feed)\n"
              "  1 LOGIN = first\n  3 DATABASE = dsn\n  4 SCHEMA = qrv.\n"
              "  line 10: ignored (data line over 399 bytes with its line feed)\n"
              "  6 NOTE = ***\n"
              "  line 14: ignored (no entry: fewer than two \";\")\n");
    EXPECT_EQ(r.err, "");

    kt::RunResult run =
        kt::runProgram({kt::kelborBinary(), ini, "XXX", "D"}, dir.path(), {}, "", {"KELBOR_DBG"});
    EXPECT_EQ(run.exitCode, 0);
    const std::string log = kt::readWritten(dir.file("kelbor.log"));
    // Read, the pair numbered 0 would have answered every key.
    EXPECT_NE(log.find("Name:first Pwd:*** Net:dsn\n"), std::string::npos) << log;
}

TEST(ConfigShow, ShowsNoValueOfAnyOtherKeyWithoutReveal) {
    kt::TempDir dir;
    const std::string ini = dir.file("kelbor.ini");
    kt::writeFile(ini, "[kelbor];KELBOR;login\n1;LOGIN;" + encipher("first") +
                           "\n[kelbor];KELBOR;password\n2;Pass;" + encipher("Typo-Secret-1") +
                           "\n[kelbor];KELBOR;note\n5;NOTE;" + encipher("a-note") +
                           "\n[kelbor];KELBOR;data source\n3;DATABASE;" + encipher("dsn") + "\n");
    kt::RunResult r = tool({"show", ini});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find("Typo-Secret-1"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("a-note"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  2 Pass = ***\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  1 LOGIN = first\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  3 DATABASE = dsn\n"), std::string::npos) << r.out;
    kt::RunResult revealed = tool({"show", ini, "--reveal"});
    EXPECT_NE(revealed.out.find("  2 Pass = Typo-Secret-1\n"), std::string::npos) << revealed.out;
    EXPECT_NE(revealed.out.find("  5 NOTE = a-note\n"), std::string::npos) << revealed.out;
}

// An enciphered value is the password to anyone with this tool: decipher
// takes it from standard input, and warns when it stands on the command
// line, where every user sees it.
TEST(ConfigTool, DecipherReadsItsHexTextFromStandardInput) {
    const std::string hex = encipher("Kennwort-123");
    kt::RunResult piped = tool({"decipher"}, hex + "\n");
    EXPECT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(piped.out, "Kennwort-123\n");
    EXPECT_EQ(piped.err, "");
    kt::RunResult argument = tool({"decipher", hex});
    EXPECT_EQ(argument.exitCode, 0);
    EXPECT_EQ(argument.out, "Kennwort-123\n");
    EXPECT_NE(argument.err.find("warning: a hex text on the command line is visible"),
              std::string::npos)
        << argument.err;
    EXPECT_EQ(tool({"decipher"}).exitCode, 2);

    // The login name or data source as the password is refused when written.
    kt::TempDir dir;
    kt::RunResult same = tool(
        {"write", dir.file("k.ini"), "--login=Same-1", "--dsn=d", "--schema=s", "--password-stdin"},
        "Same-1\n");
    EXPECT_EQ(same.exitCode, 2);
    EXPECT_NE(same.err.find("the password is the login name"), std::string::npos) << same.err;
    EXPECT_FALSE(kt::fileExists(dir.file("k.ini")));
}

struct stat statOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st;
}

// Ids no user of the machine has.
constexpr kt::Identity kIntruder = {64123, 64123};
constexpr kt::Identity kWriter = {64124, 64124};

// Another user pre-creates the configuration file in a folder both may
// write. Replacing it while keeping its owner would hand that user the
// password: write refuses, for root and for an unprivileged writer alike,
// and keeps only an owner that is root or the writer.
TEST(ConfigTool, FilePlantedByAnotherUserIsNotReplaced) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as other users";
    kt::TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    const std::string ini = dir.file("kelbor.ini");
    const std::vector<std::string> args = {"write",   ini,          "--login=u",
                                           "--dsn=d", "--schema=s", "--password-stdin"};
    for (const kt::Identity* writer : {static_cast<const kt::Identity*>(nullptr), &kWriter}) {
        SCOPED_TRACE(writer == nullptr ? "root" : "unprivileged writer");
        kt::writeFile(ini, "planted\n");
        ASSERT_EQ(chown(ini.c_str(), kIntruder.uid, kIntruder.gid), 0);
        ASSERT_EQ(chmod(ini.c_str(), 0666), 0);
        kt::RunResult r = tool(args, "Root-Secret-9\n", kNoServiceUser, writer);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find("will not replace " + ini + ": it belongs to the user 64123"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(kt::readFile(ini), "planted\n");
        EXPECT_EQ(statOf(ini).st_uid, kIntruder.uid);
        ASSERT_EQ(unlink(ini.c_str()), 0);
    }

    // The writer's own file is replaced and keeps its group and mode.
    ASSERT_EQ(tool(args, "Own-Secret-1\n", kNoServiceUser, &kWriter).exitCode, 0);
    EXPECT_EQ(statOf(ini).st_uid, kWriter.uid);
    EXPECT_EQ(statOf(ini).st_mode & 0777, 0600u);
    ASSERT_EQ(chmod(ini.c_str(), 0640), 0);
    kt::RunResult again = tool(args, "Own-Secret-2\n", kNoServiceUser, &kWriter);
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(statOf(ini).st_uid, kWriter.uid);
    EXPECT_EQ(statOf(ini).st_mode & 0777, 0640u);
}

// Root writes the file the service user is to read: root's own, readable by
// that user's group. The service user is chosen through
// KELBOR_SERVICE_USER; nobody stands in for kelbor.
TEST(ConfigTool, RootWritesTheFileForTheServiceUsersGroup) {
    if (geteuid() != 0) GTEST_SKIP() << "root's behaviour";
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) GTEST_SKIP() << "no user nobody";
    const gid_t serviceGroup = nobody->pw_gid;
    const std::map<std::string, std::string> service = {{"KELBOR_SERVICE_USER", "nobody"}};
    kt::TempDir dir;
    const std::string ini = dir.file("kelbor.ini");
    const std::vector<std::string> args = {"write",   ini,          "--login=u",
                                           "--dsn=d", "--schema=s", "--password-stdin"};

    kt::RunResult r = tool(args, "pw-1\n", service);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(statOf(ini).st_uid, 0u);
    EXPECT_EQ(statOf(ini).st_gid, serviceGroup);
    EXPECT_EQ(statOf(ini).st_mode & 0777, 0640u);

    // A file root once kept to itself is handed over on the next write ...
    ASSERT_EQ(chown(ini.c_str(), 0, 0), 0);
    ASSERT_EQ(chmod(ini.c_str(), 0600), 0);
    EXPECT_EQ(tool(args, "pw-1\n", service).exitCode, 0);
    EXPECT_EQ(statOf(ini).st_gid, serviceGroup);
    EXPECT_EQ(statOf(ini).st_mode & 0777, 0640u);

    // ... a group the operator chose stays ...
    const group* daemon = getgrnam("daemon");
    ASSERT_NE(daemon, nullptr);
    ASSERT_EQ(chown(ini.c_str(), 0, daemon->gr_gid), 0);
    EXPECT_EQ(tool(args, "pw-1\n", service).exitCode, 0);
    EXPECT_EQ(statOf(ini).st_gid, daemon->gr_gid);

    // ... and without the service user, root says why the file stays its own.
    ASSERT_EQ(unlink(ini.c_str()), 0);
    kt::RunResult none = tool(args, "pw-1\n");
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_NE(none.err.find("note: there is no user kelbor-no-such-user"), std::string::npos)
        << none.err;
    EXPECT_EQ(statOf(ini).st_mode & 0777, 0600u);
}

}  // namespace

// check as root: a file the service user cannot read fails the check,
// however well root connects with it.
TEST_F(ConfigCheck, AsRootItAlsoChecksThatTheServiceUserCanReadTheFile) {
    if (geteuid() != 0) GTEST_SKIP() << "root's behaviour";
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) GTEST_SKIP() << "no user nobody";
    const std::map<std::string, std::string> service = {{"KELBOR_SERVICE_USER", "nobody"}};
    kt::writeConfig(ini_, kLogin, kPassword, server_.dsn(), "qrv");
    ASSERT_EQ(chown(ini_.c_str(), 0, 0), 0);
    ASSERT_EQ(chmod(ini_.c_str(), 0600), 0);

    kt::RunResult r = tool({"check", ini_}, "", service);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("service user nobody: cannot read " + ini_ + ": Permission denied\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("connection: ok\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("likely cause: file unreadable for the service user nobody"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("result: a run would not get going\n"), std::string::npos);

    ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
    ASSERT_EQ(chown(ini_.c_str(), 0, nobody->pw_gid), 0);
    ASSERT_EQ(chmod(ini_.c_str(), 0640), 0);
    kt::RunResult readable = tool({"check", ini_}, "", service);
    EXPECT_EQ(readable.exitCode, 0) << readable.out;
    EXPECT_NE(readable.out.find("service user nobody: can read " + ini_ + "\n"), std::string::npos)
        << readable.out;
}
