// Bad inputs to the real binary: parameters and configuration values beyond
// their limits, malformed configuration files, hex texts that are not what
// the cipher expects, database texts longer than their fields, NULL in
// every selected column, apostrophes in personnel numbers and codes, files
// that cannot be written. Each run must end with exit status 0, nothing on
// standard error, and the outcome the batch's rules give.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "tests/e2e/followup_e2e.h"

namespace {

using Bookings = std::vector<std::string>;

const char kLogin[] = "kelboruser";
const char kPassword[] = "Bad-Input-Pw7";

std::string encipher(const std::string& text) {
    kt::RunResult r = kt::runProgram({kt::configBinary(), "encipher"}, "", {}, text + "\n");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::string hex = r.out;
    while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r')) hex.pop_back();
    return hex;
}

// A configuration file written by hand, as a text editor would leave it.
std::string handConfig(const std::string& login, const std::string& pass, const std::string& dsn,
                       const std::string& schema) {
    return "[kelbor];KELBOR;login\n1;LOGIN;" + login + "\n[kelbor];KELBOR;password\n2;PASS;" +
           pass + "\n[kelbor];KELBOR;data source\n3;DATABASE;" + dsn +
           "\n[kelbor];KELBOR;schema\n4;SCHEMA;" + schema + "\n";
}

// A sick employee on a database that accepts only kLogin/kPassword; the
// batch reaches it through a second data source on the same file.
class Guarded {
  public:
    Guarded()
        : guarded_(batch_.db(),
                   {{"ServerTime", fu::kServerTime}, {"User", kLogin}, {"Password", kPassword}}) {
        batch_.load(fu::commonTypes() + fu::sickSinceFriday("1001"));
    }
    std::string ini() const { return batch_.work().file("kelbor.ini"); }
    const std::string& dsn() const { return guarded_.dsn(); }
    fu::Outcome run(const std::string& config) {
        kt::writeFile(ini(), config);
        std::filesystem::remove(batch_.work().file("kelbortgb"));
        fu::Outcome o = batch_.run();
        EXPECT_EQ(o.result.err, "");
        return o;
    }
    // Only a connected run writes the parameter file.
    bool connected(const fu::Outcome& o) { return o.tgbExists; }

  private:
    fu::Batch batch_;
    kt::StandinDb guarded_;
};

std::string rejected(const std::string& login, const std::string& dsn) {
    return "Fehler(DB-Connect)! RC:-1 Name:" + login + " Pwd:*** Net:" + dsn + "\n";
}

TEST(BadInputs, HexTextsThatAreNotUpperCaseHexInBlocksOf16) {
    Guarded db;
    const std::string pass = encipher(kPassword);
    const std::string dsn = encipher(db.dsn());
    const std::string schema = encipher("qrv.");

    // The well-formed file connects: the reference for the cases below.
    fu::Outcome good = db.run(handConfig(encipher(kLogin), pass, dsn, schema));
    EXPECT_TRUE(db.connected(good));
    EXPECT_EQ(good.log, fu::generated("1001", 1, "KF"));

    // Lower-case letters are no hex digits here: the login deciphers to
    // other bytes and the server refuses it.
    std::string lower = encipher(kLogin);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ASSERT_NE(lower, encipher(kLogin));
    fu::Outcome o = db.run(handConfig(lower, pass, dsn, schema));
    EXPECT_FALSE(db.connected(o));
    EXPECT_NE(o.log.find("Fehler(DB-Connect)! RC:-1 Name:"), std::string::npos) << o.log;

    // Characters outside 0-9A-F, and a value of 199 of them.
    for (const std::string& junk : {std::string("ZZZZ-not hex at all!"), std::string(199, 'G')}) {
        o = db.run(handConfig(junk, pass, dsn, schema));
        EXPECT_FALSE(db.connected(o));
        EXPECT_NE(o.log.find("Fehler(DB-Connect)! RC:-1 Name:"), std::string::npos) << o.log;
    }
}

TEST(BadInputs, OddLengthHexIsCompletedWithZeros) {
    // A login whose hex text ends in "0": without that character the value
    // is one short of its last group, and completing it with "0" must give
    // the same login.
    std::string login;
    std::string hex;
    for (int i = 0; i < 300 && login.empty(); ++i) {
        std::string candidate = "u" + std::to_string(i);
        std::string h = encipher(candidate);
        if (!h.empty() && h.back() == '0') {
            login = candidate;
            hex = h;
        }
    }
    ASSERT_FALSE(login.empty()) << "no login with a hex text ending in 0 found";
    fu::Batch batch;
    batch.load(fu::commonTypes() + fu::sickSinceFriday("1001"));
    kt::StandinDb guarded(batch.db(),
                          {{"ServerTime", fu::kServerTime}, {"User", login}, {"Password", "pw"}});
    hex.pop_back();
    kt::writeFile(batch.work().file("kelbor.ini"),
                  handConfig(hex, encipher("pw"), encipher(guarded.dsn()), encipher("qrv.")));
    fu::Outcome o = batch.run();
    EXPECT_TRUE(o.tgbExists);
    EXPECT_EQ(o.log, fu::generated("1001", 1, "KF"));
}

TEST(BadInputs, MalformedConfigurationFilesGiveAnEmptyLogin) {
    const std::string empty = rejected("", "");
    const struct {
        const char* name;
        std::string content;
    } cases[] = {
        {"empty file", ""},
        {"lines without semicolons", "just some text\nmore text\nand more\nand the last\n"},
        {"data lines with one semicolon", "h;s;x\n1;LOGIN\nh;s;x\n2;PASS\n"},
        {"binary bytes", std::string("\x01\x02\xff\xfe\n\x80\x81\x82\x00\x00\n", 12)},
        {"a line of a megabyte", std::string(1 << 20, 'A') + "\n" + std::string(1 << 20, 'B')},
        {"only a header line", "[kelbor];KELBOR;login\n"},
        {"empty value fields", "h;;x\n1;LOGIN;\nh;;x\n2;PASS;\nh;;x\n3;DATABASE;\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kt::TempDir dir;
        kt::writeFile(dir.file("kelbor.ini"), c.content);
        kt::RunResult r = kt::runProgram({kt::kelborBinary(), "kelbor.ini", "XXX", "D"}, dir.path(),
                                         {}, "", {"KELBOR_DBG"});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(fu::withoutTimeStamp(kt::readWritten(dir.file("kelbor.log"))), empty);
        EXPECT_FALSE(kt::fileExists(dir.file("kelbortgb")));
    }
}

TEST(BadInputs, ConfigurationValuesAndParametersBeyondTheirLimits) {
    Guarded db;
    const std::string pass = encipher(kPassword);
    const std::string dsn = encipher(db.dsn());
    // A schema value far beyond 21 characters is cut: the tables of the cut
    // name do not exist, so every statement fails and the run ends at once.
    fu::Outcome o = db.run(handConfig(encipher(kLogin), pass, dsn, std::string(400, 'A')));
    EXPECT_TRUE(db.connected(o));
    EXPECT_EQ(o.log,
              "Fehler(Cur_open): Tagsatz(+TgbSol) lesen! RC:-1\n"
              "Fehler(Cur_Read): Tagsatz(+TgbSol) lesen! RC:-1\n");

    // A login value of 50 characters and more reaches the server cut to 23.
    o = db.run(handConfig(encipher(std::string(kLogin) + std::string(40, 'x')), pass, dsn,
                          encipher("qrv.")));
    EXPECT_FALSE(db.connected(o));

    // Huge second and third parameters: only their exact text / first
    // character count.
    kt::TempDir dir;
    // Within the limit for one argument: Linux's, or the 32767 characters of
    // a whole Windows command line.
    std::string big(kt::underWine() ? 10000 : 100000, 'D');
    kt::RunResult r = kt::runProgram({kt::kelborBinary(), "missing.ini", "QUORV" + big, big, "4th"},
                                     dir.path(), {}, "", {"KELBOR_DBG"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(fu::withoutTimeStamp(kt::readWritten(dir.file("kelbor.log"))), rejected("", ""));
    // Empty parameters: a full run with the log off.
    r = kt::runProgram({kt::kelborBinary(), "", "", ""}, dir.path(), {}, "", {"KELBOR_DBG"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out + r.err, "");
}

// sql/schema.sql with every fixed-width text column widened, so the
// database can hold texts longer than the batch's fields.
std::string widenedSchema() {
    std::string schema = kt::readFile(kt::sourceDir() + "/sql/schema.sql");
    return std::regex_replace(schema, std::regex(R"(\b(var)?char\(\d+\))"), "varchar(400)");
}

TEST(BadInputs, DatabaseTextsLongerThanTheirFieldsAreCut) {
    kt::StandinDb db(std::map<std::string, std::string>{{"ServerTime", fu::kServerTime}});
    db.exec(widenedSchema());
    const std::string longText(300, 'x');
    // KR names a follow-up type of ten characters, cut to "KFL" when read:
    // no such type, which is logged. The booking carries texts of 300
    // characters in every text column; an employee number of 12 characters
    // is cut to 8, under which no earlier day exists.
    db.exec(fu::type({.num = "KR", .flg = "KFLONGCODE"}) + fu::type({.num = "KF", .flg = "KF"}) +
            fu::day("1001", "20260306", "KR") + fu::accDay("1001") + fu::rule("1001") +
            "INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd, BchAbt, "
            "BchKst, BchKtr, BchKrt, BchAzt, BchVra, BchErf, BchTrm) VALUES ('1001', '20260306', "
            "'20260306 00:00:00', 1, 'KR', '" +
            longText + "', '" + longText + "', '" + longText + "', '" + longText + "', '" +
            longText + "', '" + longText + "', '" + longText + "', '" + std::string(255, 'y') +
            "')\n" + fu::sickSinceFriday("100200300400"));
    kt::TempDir work;
    kt::writeConfig(work.file("kelbor.ini"), "demo", "demo-pw", db.dsn(), "qrv");
    kt::RunResult r = kt::runProgram({kt::kelborBinary(), "kelbor.ini", "XXX", "D"}, work.path(),
                                     {}, "", {"KELBOR_DBG"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(fu::withoutTimeStamp(kt::readWritten(work.file("kelbor.log"))),
              "Fehler(Read): Meldungsart(Fcd) zur FolgeMld lesen RC:100 Pnr:1001 Fcd:KFL\n");
    EXPECT_EQ(kt::readWritten(work.file("kelbortgb")), "");
    EXPECT_EQ(db.scalar("SELECT COUNT(*) FROM QRV.Qrv321Bch WHERE BchVon = '20260309'"), "0");
}

TEST(BadInputs, NullInEverySelectedColumn) {
    fu::Batch batch;
    // 1001: every nullable column NULL but the ones that lead to the
    // follow-up (the day's code KR, the type's follow-up KF). KF's NULL type
    // gives a booking with function 0 and no slot; the NULL rule values and
    // the NULL target time give 0. 1002: the message day's code is NULL, so
    // its type cannot be read and the search stops there.
    batch.load(
        "INSERT INTO $(SCHEMA).Qrv131Fcd (FcdNum, FcdFlg) VALUES ('KR', 'KF')\n"
        "INSERT INTO $(SCHEMA).Qrv131Fcd (FcdNum) VALUES ('KF')\n"
        "INSERT INTO $(SCHEMA).Qrv320Tgb (TgbPnr, TgbDtm, TgbZtr) VALUES ('1001', '20260306', 1)\n"
        "INSERT INTO $(SCHEMA).Qrv327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, TagTgb) "
        "VALUES ('1001', '20260306', '20260306', '20260306 06:00:00', '20260306', "
        "'20260306 22:00:00', 'KR')\n"
        "INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd, BchDat) VALUES "
        "('1001', '20260306', '20260306 00:00:00', 1, 'KR', NULL)\n"
        "INSERT INTO $(SCHEMA).Qrv320Tgb (TgbPnr, TgbDtm, TgbZtr) VALUES ('1001', '20260309', 1)\n"
        "INSERT INTO $(SCHEMA).Qrv327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd) VALUES "
        "('1001', '20260309', '20260309', '20260309 12:00:00', '20260309', '20260309 12:00:00')\n"
        "INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchDat) VALUES "
        "('1001', '20260309', '20260309 08:00:00', 1, NULL)\n"
        "INSERT INTO $(SCHEMA).Qrv140Azv (AzvNum, AzvGvo) VALUES ('R1001', '20260101')\n"
        "INSERT INTO $(SCHEMA).Qrv329Ztg (ZtgPnr, ZtgVon, ZtgAzt) VALUES ('1001', '20260309', "
        "'R1001')\n" +
        fu::day("1002", "20260306") + fu::booking("1002", "20260306", "00:00:00", 1, "KR") +
        fu::accDay("1002") + fu::rule("1002"));
    fu::Outcome o = batch.run();
    EXPECT_EQ(o.result.err, "");
    EXPECT_EQ(o.log, fu::inserted("1001", 0, "KF") + fu::updated("1001"));
    EXPECT_EQ(o.tgb, fu::tgbLine("1001"));
    EXPECT_EQ(batch.accBookings("1001"), (Bookings{"00:00:00 0 KF", "08:00:00 1 "}));
    EXPECT_EQ(batch.slots("1001"), ":0 :0 :0");
    EXPECT_EQ(batch.accBookings("1002"), Bookings{});
}

TEST(BadInputs, ApostrophesInPersonnelNumbersAndCodes) {
    // Stored as O'N1, K'R and K'F; the fixture's literals double them.
    fu::Batch batch;
    batch.load(fu::type({.num = "K''R", .flg = "K''F"}) + fu::type({.num = "K''F", .flg = "K''F"}) +
               fu::type({.num = "GL", .pri = 30}) + fu::day("O''N1", "20260306", "K''R") +
               fu::booking("O''N1", "20260306", "00:00:00", 1, "K''R") + fu::accDay("O''N1") +
               fu::booking("O''N1", fu::kAccDay, "08:00:00", 1, "GL") + fu::rule("O''N1") +
               fu::accDay("1001"));
    fu::Outcome o = batch.run();
    EXPECT_EQ(o.result.err, "");
    EXPECT_EQ(o.log, fu::generated("O'N1", 1, "K'F"));
    EXPECT_EQ(o.tgb, fu::tgbLine("O'N1"));
    EXPECT_EQ(batch.accBookings("O''N1"), (Bookings{"00:00:00 1 K'F", "08:00:00 45 GL"}));
    EXPECT_EQ(batch.slots("O''N1"), "K'F:480 :0 :0");
    // Nobody else's day changed.
    EXPECT_EQ(batch.slots("1001"), ":0 :0 :0");
}

// kelbor.log and kelbortgb are opened only as regular files and never
// through a symbolic link or as a second name of another file (a hard
// link): a planted link must not truncate or append to the file it points
// to, a FIFO must not hang the run. Tests may run as
// root, for whom a read-only folder is no obstacle: a folder of the file's
// name stops everyone.
TEST(BadInputs, LogOrParameterFileThatIsNoPlainFile) {
    enum class Plant { kFolder, kLink, kHardLink, kFifo };
    const struct {
        const char* name;
        const char* file;
        Plant plant;
        std::string err;  // standard error of the run
    } cases[] = {
        {"kelbor.log is a folder", "kelbor.log", Plant::kFolder,
         "Fehler: fopen(kelbor.log)! Is a directory\n"},
        {"kelbor.log is a link", "kelbor.log", Plant::kLink,
         "Fehler: fopen(kelbor.log)! symbolischer Link\n"},
        {"kelbor.log is a hard link", "kelbor.log", Plant::kHardLink,
         "Fehler: fopen(kelbor.log)! harter Link\n"},
        {"kelbor.log is a FIFO", "kelbor.log", Plant::kFifo,
         "Fehler: fopen(kelbor.log)! keine regul\xE4"
         "re Datei\n"},
        {"kelbortgb is a folder", "kelbortgb", Plant::kFolder, ""},
        {"kelbortgb is a link", "kelbortgb", Plant::kLink, ""},
        {"kelbortgb is a hard link", "kelbortgb", Plant::kHardLink, ""},
        {"kelbortgb is a FIFO", "kelbortgb", Plant::kFifo, ""},
    };
    const std::string victimText = "[kelbor];KELBOR;login\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Wine 8 shows a symbolic link as the file it points to, never as a
        // reparse point: the Windows programs cannot see one there.
        if (c.plant == Plant::kLink && kt::underWine()) continue;
        fu::Batch batch;
        batch.load(fu::commonTypes() + fu::sickSinceFriday("1001"));
        const std::string path = batch.work().file(c.file);
        const std::string victim = batch.work().file("victim.ini");
        kt::writeFile(victim, victimText);
        if (c.plant == Plant::kFolder) std::filesystem::create_directory(path);
        if (c.plant == Plant::kLink) std::filesystem::create_symlink(victim, path);
        if (c.plant == Plant::kHardLink) std::filesystem::create_hard_link(victim, path);
        if (c.plant == Plant::kFifo) {
            ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        }
        // A batch that waits for a FIFO's reader is stopped after a while.
        kt::writeConfig(batch.work().file("kelbor.ini"), "demo", "demo-pw", batch.db().dsn(),
                        "qrv");
        kt::RunResult r =
            kt::runProgram({"/usr/bin/timeout", "60", kt::kelborBinary(), "kelbor.ini", "XXX", "D"},
                           batch.work().path(), {}, "", {"KELBOR_DBG"});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(kt::readFile(victim), victimText);
        EXPECT_EQ(batch.accBookings("1001"), Bookings{"00:00:00 1 KF"});
        if (std::string(c.file) == "kelbor.log") {
            EXPECT_EQ(kt::readWritten(batch.work().file("kelbortgb")), fu::tgbLine("1001"));
        } else {
            EXPECT_EQ(fu::withoutTimeStamp(kt::readWritten(batch.work().file("kelbor.log"))),
                      "Fehler: fopen(kelbortgb)!\n" + fu::generated("1001", 1, "KF"));
        }
    }
}

// The configuration is read only from a regular file: a FIFO would hang the
// batch, /dev/zero would be read until memory runs out.
TEST(BadInputs, ConfigurationThatIsNoPlainFileGivesAnEmptyLogin) {
    kt::TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("fifo.ini").c_str(), 0600), 0);
    for (const std::string& config : {dir.file("fifo.ini"), std::string("/dev/zero")}) {
        SCOPED_TRACE(config);
        std::filesystem::remove(dir.file("kelbor.log"));
        kt::RunResult r =
            kt::runProgram({"/usr/bin/timeout", "60", kt::kelborBinary(), config, "XXX", "D"},
                           dir.path(), {}, "", {"KELBOR_DBG"});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(fu::withoutTimeStamp(kt::readWritten(dir.file("kelbor.log"))), rejected("", ""));
    }
}

}  // namespace
