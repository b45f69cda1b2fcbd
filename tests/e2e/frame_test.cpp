// The batch as an operator starts it, in a folder of its own: usage text,
// the log switch, the log restart, and a failed connection that must not
// give the password away. The configuration files are written by
// kelbor-config, as on a real installation.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/support.h"

namespace {

const char kUsage[] =
    "Aufruf: kelbor [Param1] [Param2] [Param3]\n"
    "Param1: Pfad der Inidatei\n"
    "Param2: QUORV/XXX QUORV=Firmenkonsol.-Version\n"
    "Param3: D/X D=Debug\n";

const char kPassword[] = "Geheim!Pw42";
const char kStampPattern[] = "\nDatum: \\d\\d\\.\\d\\d\\.\\d{4}  Uhrzeit: \\d\\d:\\d\\d:\\d\\d\n";
const std::string kFailureLine =
    "Fehler(DB-Connect)! RC:-1 Name:kelboruser Pwd:*** Net:nosuchdsn\n";
const std::string kNoLoginLine = "#Fehler(DB-Connect)! RC:-1 Name: Pwd:*** Net:\n";
constexpr std::size_t kLogLimit = 1048576;

// The log with every time stamp line replaced by "#".
std::string marked(const std::string& log) {
    return std::regex_replace(log, std::regex(kStampPattern), "#");
}

class Frame : public ::testing::Test {
  protected:
    void SetUp() override {
        kt::iniDir();  // a private, empty set of data sources
        kt::writeConfig(ini_, "kelboruser", kPassword, "nosuchdsn", "qrv");
    }

    // Runs kelbor in the test folder; KELBOR_DBG only when given in env.
    kt::RunResult run(const std::vector<std::string>& params,
                      const std::map<std::string, std::string>& env = {}) {
        std::vector<std::string> argv{kt::kelborBinary()};
        argv.insert(argv.end(), params.begin(), params.end());
        std::vector<std::string> unset;
        if (env.count("KELBOR_DBG") == 0) unset.emplace_back("KELBOR_DBG");
        return kt::runProgram(argv, dir_.path(), env, "", unset);
    }

    std::string logPath() const { return dir_.file("kelbor.log"); }
    std::string log() const { return kt::readWritten(logPath()); }

    kt::TempDir dir_;
    std::string ini_ = dir_.file("kelbor.ini");
};

TEST_F(Frame, FewerThanThreeParametersPrintUsage) {
    for (const std::vector<std::string>& params :
         {std::vector<std::string>{}, {"only"}, {ini_, "XXX"}}) {
        kt::RunResult r = run(params);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, kUsage);
        EXPECT_EQ(r.err, "");
    }
    EXPECT_FALSE(kt::fileExists(logPath()));
}

TEST_F(Frame, UpperCaseDAtStartOfParam3SwitchesTheLogOn) {
    struct Case {
        const char* param3;
        bool logged;
    };
    for (const Case& c : {Case{"D", true}, Case{"Debug", true}, Case{"d", false}, Case{"X", false},
                          Case{"xD", false}}) {
        SCOPED_TRACE(c.param3);
        std::remove(logPath().c_str());
        kt::RunResult r = run({ini_, "QUORV", c.param3});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, "");
        // The log is opened whatever the switch says.
        ASSERT_TRUE(kt::fileExists(logPath()));
        if (c.logged) {
            EXPECT_EQ(marked(log()), "#" + kFailureLine);
        } else {
            EXPECT_EQ(log(), "");
        }
    }
    // Runs append to the log.
    run({ini_, "XXX", "D"});
    run({ini_, "XXX", "D"});
    EXPECT_EQ(marked(log()), "#" + kFailureLine + "#" + kFailureLine);
}

TEST_F(Frame, FailedConnectionKeepsThePasswordSecret) {
    for (const char* debugValue : {"1", ""}) {
        SCOPED_TRACE(debugValue);
        std::remove(logPath().c_str());
        kt::RunResult r = run({ini_, "XXX", "D"}, {{"KELBOR_DBG", debugValue}});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(marked(log()), "#" + kFailureLine);
        // The driver manager's own diagnosis goes to the console in debug mode.
        EXPECT_EQ(r.out.rfind("Connect Error: SQLCode: 0 sqlState: IM002 Msg: ", 0), 0u) << r.out;
        EXPECT_EQ(r.out.back(), '\n');
        for (const std::string& output : {log(), r.out, r.err}) {
            EXPECT_EQ(output.find(kPassword), std::string::npos) << output;
        }
    }
}

TEST_F(Frame, MissingConfigurationGivesEmptyLogin) {
    kt::RunResult r = run({dir_.file("absent.ini"), "XXX", "D"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(marked(log()), kNoLoginLine);
}

TEST_F(Frame, LoginValuesAreLoggedAsRead) {
    // 50 characters are kept from the file, though only 23 reach the driver manager.
    std::string login(50, 'L');
    kt::RunResult tool =
        kt::runProgram({kt::configBinary(), "write", ini_, "--login", login, "--dsn", "nosuchdsn",
                        "--schema", "qrv", "--password-stdin"},
                       "", {}, std::string(kPassword) + "\n");
    ASSERT_EQ(tool.exitCode, 0) << tool.err;
    EXPECT_NE(tool.err.find("23"), std::string::npos) << tool.err;
    run({ini_, "XXX", "D"});
    const std::string longLoginLine =
        "#Fehler(DB-Connect)! RC:-1 Name:" + login + " Pwd:*** Net:nosuchdsn\n";
    EXPECT_EQ(marked(log()), longLoginLine);
    // Param1 is cut at 99 characters: a path that is longer names the file
    // of its first 99 characters.
    std::remove(logPath().c_str());
    std::string shortPath = dir_.path() + "/";
    shortPath += std::string(99 - shortPath.size(), 'k');
    std::rename(ini_.c_str(), shortPath.c_str());
    run({shortPath + ".ini", "XXX", "D"});
    EXPECT_EQ(marked(log()), longLoginLine);
}

TEST_F(Frame, LogLargerThanOneMebibyteIsStartedAfresh) {
    struct Case {
        std::size_t size;
        const char* param3;
        bool kept;
    };
    for (const Case& c : {Case{kLogLimit, "D", true}, Case{kLogLimit + 1, "D", false},
                          Case{kLogLimit, "X", true}, Case{kLogLimit + 1, "X", false}}) {
        SCOPED_TRACE(std::to_string(c.size) + c.param3);
        std::string old(c.size, 'x');
        kt::writeFile(logPath(), old);
        run({ini_, "XXX", c.param3});
        std::string now = log();
        std::string written = c.param3[0] == 'D' ? "#" + kFailureLine : "";
        if (c.kept) {
            ASSERT_GE(now.size(), old.size());
            EXPECT_EQ(now.compare(0, old.size(), old), 0);
            now.erase(0, old.size());
        }
        EXPECT_EQ(marked(now), written);
    }
}

// The one Frame case that opens a data source, in a suite of its own so that
// it runs on both routes while the rest of Frame runs on one.
class FrameLogin : public Frame {};

// Against the stand-in database: the login reaches the data source cut at 23
// characters, a good login hands over to the run driver, a wrong one is
// logged without the password.
TEST_F(FrameLogin, ReachesTheDataSource) {
    const std::string password = "ein-sehr-langes-Kennwort-mit-30";  // 31 characters
    kt::StandinDb db;
    db.loadSchema();
    db.setKeys({{"User", "kelboruser"}, {"Password", password.substr(0, 23)}});
    kt::writeConfig(ini_, "kelboruser", password, db.dsn(), "qrv");
    kt::RunResult r = run({ini_, "XXX", "D"}, {{"KELBOR_DBG", "1"}});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.find("Connect Error"), std::string::npos) << r.out;
    EXPECT_EQ(log().find("Fehler"), std::string::npos) << log();
    // Only a connected run starts the driver, which writes the parameter file.
    EXPECT_TRUE(kt::fileExists(dir_.file("kelbortgb")));

    std::remove(logPath().c_str());
    std::remove(dir_.file("kelbortgb").c_str());
    db.setKeys({{"User", "kelboruser"}, {"Password", "anders"}});
    r = run({ini_, "XXX", "D"}, {{"KELBOR_DBG", "1"}});
    EXPECT_EQ(marked(log()),
              "#Fehler(DB-Connect)! RC:-1 Name:kelboruser Pwd:*** Net:" + db.dsn() + "\n");
    // FreeTDS reports the refused login under 42000, Microsoft's driver and
    // the stand-in under 28000; only the debug console shows it.
    const std::string state = kt::onFreeTds() ? "42000" : "28000";
    EXPECT_EQ(r.out.rfind("Connect Error: SQLCode: 18456 sqlState: " + state + " Msg: ", 0), 0u)
        << r.out;
    EXPECT_FALSE(kt::fileExists(dir_.file("kelbortgb")));
    for (const std::string& output : {log(), r.out, r.err}) {
        EXPECT_EQ(output.find(password.substr(0, 10)), std::string::npos) << output;
    }
}

TEST(ConfigTool, WritesPrivateFileAndShowsItMasked) {
    kt::TempDir dir;
    std::string ini = dir.file("kelbor.ini");
    kt::writeConfig(ini, "nightly", kPassword, "zeit", "qrv");
    struct stat st {};
    ASSERT_EQ(stat(ini.c_str(), &st), 0);
    // On Windows an access list keeps the file private (shown below; Wine
    // shows one made from the file's mode).
    if (!kt::underWine()) {
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    std::string content = kt::readWritten(ini);
    EXPECT_EQ(content.find("nightly"), std::string::npos);
    EXPECT_EQ(content.find(kPassword), std::string::npos);
    EXPECT_TRUE(std::regex_match(content, std::regex("(\\[kelbor\\];KELBOR;[a-z ]+\n"
                                                     "[1-4];[A-Z]+;([0-9A-F]{16})+\n){4}")))
        << content;

    kt::RunResult shown = kt::runProgram({kt::configBinary(), "show", ini}, "");
    EXPECT_EQ(shown.exitCode, 0);
    if (kt::underWine()) {
        // Only the writer and SYSTEM (and Administrators) may read it.
        std::size_t access = shown.out.find("Access:\n");
        ASSERT_NE(access, std::string::npos) << shown.out;
        std::string list = shown.out.substr(access);
        EXPECT_NE(list.find("  full control: NT AUTHORITY\\SYSTEM\n"), std::string::npos) << list;
        EXPECT_EQ(list.find("Everyone"), std::string::npos) << list;
        EXPECT_EQ(list.find("Users"), std::string::npos) << list;
        shown.out.erase(access);
    }
    EXPECT_EQ(shown.out,
              "The batch uses:\n  LOGIN = nightly\n  PASS = ***\n  DATABASE = zeit\n"
              "  SCHEMA = qrv. (schema name QRV)\n"
              "Entries:\n  1 LOGIN = nightly\n  2 PASS = ***\n  3 DATABASE = zeit\n"
              "  4 SCHEMA = qrv.\n");
    EXPECT_EQ(shown.err, "");
    kt::RunResult revealed = kt::runProgram({kt::configBinary(), "show", ini, "--reveal"}, "");
    EXPECT_NE(revealed.out.find(std::string("  PASS = ") + kPassword + "\n"), std::string::npos);
    EXPECT_NE(revealed.out.find(std::string("2 PASS = ") + kPassword + "\n"), std::string::npos);
}

TEST(ConfigTool, RefusesWhatTheBatchCannotUse) {
    kt::TempDir dir;
    std::string ini = dir.file("kelbor.ini");
    auto write = [&](const std::string& login, const std::string& schema,
                     const std::string& password) {
        return kt::runProgram({kt::configBinary(), "write", ini, "--login", login, "--dsn", "zeit",
                               "--schema", schema, "--password-stdin"},
                              "", {}, password + "\n");
    };
    for (const kt::RunResult& r :
         {write(std::string(51, 'L'), "qrv", "pw"), write("sa", "qrv.", "pw"),
          write("sa", std::string(21, 's'), "pw"), write("sa", "", "pw"),
          write("sa", "qrv", std::string(51, 'p')),
          kt::runProgram({kt::configBinary(), "write", ini, "--login", "sa", "--schema", "qrv",
                          "--password-stdin"},
                         "", {}, "pw\n")}) {
        EXPECT_NE(r.exitCode, 0);
        EXPECT_NE(r.err, "");
        EXPECT_FALSE(kt::fileExists(ini));
    }
    kt::RunResult atLimit = write(std::string(50, 'L'), std::string(20, 's'), "pw");
    EXPECT_EQ(atLimit.exitCode, 0) << atLimit.err;
}

}  // namespace
