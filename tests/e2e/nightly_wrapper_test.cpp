// kelbor-nightly, the run wrapper of the service and the cron line, around
// the real batch against the stand-in: its summary line and exit status for
// good, failed, empty and unknowable nights, only this run's entries read
// (through a log restart, a rename and a full disk), the kept parameter
// files, the status file, the lock and a time limit on a silent server.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/followup_e2e.h"
#include "tests/support/support.h"

namespace {

// Runs the wrapper in the batch's working folder with the real batch (or
// the program bin names).
kt::RunResult nightly(fu::Batch& batch, const std::string& param3 = "D",
                      const std::string& bin = kt::startable(kt::kelborBinary(),
                                                             kt::nightlyBinary()),
                      const std::vector<std::string>& before = {}) {
    std::string ini = batch.work().file("kelbor.ini");
    if (!kt::fileExists(ini)) kt::writeConfig(ini, "demo", "demo-pw", batch.db().dsn(), "qrv");
    std::vector<std::string> argv = before;
    argv.push_back(kt::nightlyBinary());
    for (const std::string& a : {ini, std::string("XXX"), param3}) argv.push_back(a);
    return kt::runProgram(argv, batch.work().path(), {{"KELBOR", bin}}, "", {"KELBOR_DBG"});
}

// Whether the wrapper is kelbor-nightly.exe under Wine.
bool windowsWrapper() {
    const char* route = std::getenv("KELBOR_TEST_ROUTE");
    return route != nullptr && std::string(route).rfind("wine-", 0) == 0;
}

// The Windows name of a file under Wine (its Z: drive is the root).
std::string windowsPath(const std::string& path) {
    std::string name = "Z:" + path;
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

// The real batch for a fake one to run (REAL).
std::string realBatch() {
    return windowsWrapper() ? windowsPath(kt::kelborBinary()) : kt::kelborBinary();
}

// A stand-in batch in its own folder: a shell script, or for the Windows
// wrapper a cmd script (Wine starts a Unix program detached, without its
// exit status and standard error), written with CR LF. A fake without a cmd
// form is a case the Windows wrapper does not meet (available() false).
struct FakeBatch {
    kt::TempDir dir;
    std::string path;
    FakeBatch(const std::string& script, const std::string& cmd) {
        if (!windowsWrapper()) {
            path = dir.file("kelbor");
            kt::writeFile(path, "#!/bin/sh\n" + script);
            chmod(path.c_str(), 0755);
        } else if (!cmd.empty()) {
            path = dir.file("kelbor.cmd");
            kt::writeFile(path, std::regex_replace("@echo off\n" + cmd, std::regex("\n"), "\r\n"));
        }
    }
    bool available() const { return !path.empty(); }
};

// cmd's lines that log the start of a run as the batch does.
const std::string kCmdStamp =
    ">>kelbor.log echo.\n>>kelbor.log echo Datum: 10.03.2026  Uhrzeit: 01:30:00\n";

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> filesStartingWith(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (std::string(e->d_name).rfind(prefix, 0) == 0) names.emplace_back(e->d_name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// 1002's sickness has no working-time rule to credit from.
std::string sickWithoutRule(const std::string& pnr) {
    return fu::day(pnr, "20260306", "KR") + fu::booking(pnr, "20260306", "00:00:00", 1, "KR") +
           fu::accDay(pnr);
}

const std::string kEarlierNight =
    "\nDatum: 01.03.2026  Uhrzeit: 01:30:00\nFehler(DB-Connect)! RC:-1 Name: Pwd:*** Net:\n";
const std::string kStamp = "kelbor run \\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d: ";

TEST(NightlyWrapper, SummaryLineAndExitStatusTellHowTheNightWent) {
    {
        SCOPED_TRACE("good night, after an earlier night's error in the log");
        fu::Batch batch;
        batch.load(fu::commonTypes() + fu::sickSinceFriday("1001") + fu::accDay("1003") +
                   fu::day("1003", "20260306", "KR") +
                   fu::booking("1003", "20260306", "00:00:00", 1, "KR") +
                   fu::booking("1003", fu::kAccDay, "08:00:00", 1, "UR") + fu::rule("1003"));
        kt::writeFile(batch.work().file("kelbor.log"), kEarlierNight);
        kt::RunResult r = nightly(batch);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_TRUE(std::regex_match(
            r.out, std::regex(kStamp + "accounting day 2026-03-09, 2 day records; 1 follow-ups "
                                       "inserted, 1 refused by priority, 0 refused by target "
                                       "time, 0 old cancellations deleted; no errors\n")))
            << r.out;
        EXPECT_EQ(r.err, "");
    }
    {
        SCOPED_TRACE("a server whose sessions send no row counts");
        fu::Batch batch(std::map<std::string, std::string>{{"NoCount", "1"}});
        batch.load(fu::twoPeopleNight());
        kt::RunResult r = nightly(batch);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_TRUE(contains(r.out,
                             "; 2 follow-ups inserted, 0 refused by priority, 0 refused by "
                             "target time, 1 old cancellations deleted; no errors\n"))
            << r.out;
    }
    {
        SCOPED_TRACE("a night with an error");
        fu::Batch batch;
        batch.load(fu::commonTypes() + fu::sickSinceFriday("1001") + sickWithoutRule("1002"));
        kt::RunResult r = nightly(batch);
        EXPECT_EQ(r.exitCode, 1) << r.out;
        EXPECT_TRUE(std::regex_match(
            r.out, std::regex(kStamp + "accounting day 2026-03-09, 2 day records; 2 follow-ups "
                                       "inserted, .*; errors: Azv_Read 1\n")))
            << r.out;
    }
    {
        SCOPED_TRACE("no connection");
        fu::Batch batch;
        kt::writeConfig(batch.work().file("kelbor.ini"), "demo", "demo-pw", "kelbor-no-such-dsn",
                        "qrv");
        kt::RunResult r = nightly(batch);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(std::regex_search(
            r.out, std::regex(": accounting day unknown; 0 follow-ups inserted, .*; errors: "
                              "DB-Connect 1; the look at the database before the run failed: "
                              "cannot connect \\(SQLSTATE IM002;")))
            << r.out;
    }
    {
        SCOPED_TRACE("log switched off");
        fu::Batch batch;
        batch.load(fu::commonTypes() + fu::sickSinceFriday("1001"));
        kt::RunResult r = nightly(batch, "X");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(std::regex_match(
            r.out, std::regex("kelbor run \\(no time stamp\\): accounting day 2026-03-09, 1 day "
                              "records; outcome unknown: the log is off \\(PARAM3 does not start "
                              "with D\\)\n")))
            << r.out;
    }
}

// Every log text the wrapper counts, produced by the real batch: rewording
// one of them in the batch changes a count here.
TEST(NightlyWrapper, CountsEveryKindOfEntryTheBatchWrites) {
    fu::Batch batch;
    batch.load(fu::twoPeopleNight() + fu::type({.num = "KS", .sol = 1}) +
               fu::type({.num = "SR", .flg = "KS"}) + fu::day("1004", "20260306", "SR") +
               fu::booking("1004", "20260306", "00:00:00", 1, "SR") + fu::accDay("1004", 0) +
               fu::rule("1004") + fu::accDay("1003") + fu::day("1003", "20260306", "KR") +
               fu::booking("1003", "20260306", "00:00:00", 1, "KR") +
               fu::booking("1003", fu::kAccDay, "08:00:00", 1, "UR") + fu::rule("1003"));
    kt::RunResult r = nightly(batch);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out,
                         ": accounting day 2026-03-09, 4 day records; 2 follow-ups "
                         "inserted, 1 refused by priority, 1 refused by target time, 1 "
                         "old cancellations deleted; no errors\n"))
        << r.out;
}

TEST(NightlyWrapper, RunThatDoesNotEndNormallyFails) {
    fu::Batch batch;
    batch.load(fu::commonTypes() + fu::sickSinceFriday("1001"));
    // Logs like the batch's start, then dies by a signal.
    // On Windows: ends by an exception (an access violation's status).
    FakeBatch killed(
        "printf '\\nDatum: 10.03.2026  Uhrzeit: 01:30:00\\n' >>kelbor.log\n"
        "kill -KILL $$\n",
        kCmdStamp + "exit /b -1073741819\n");
    kt::RunResult r = nightly(batch, "D", killed.path);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.out,
                         "kelbor run 10.03.2026 01:30:00: accounting day 2026-03-09, 1 "
                         "day records; 0 follow-ups inserted"))
        << r.out;
    EXPECT_TRUE(contains(r.out, std::string("; the batch ended with status ") +
                                    (windowsWrapper() ? "0xC0000005" : "137")))
        << r.out;

    // An entry cut off without its line feed.
    FakeBatch cut(
        "printf '\\nDatum: 10.03.2026  Uhrzeit: 01:30:00\\nInfo: Buchung ein' "
        ">>kelbor.log\n",
        kCmdStamp + ">>kelbor.log <nul set /p \"=Info: Buchung ein\"\n");
    kt::RunResult partial = nightly(batch, "D", cut.path);
    EXPECT_EQ(partial.exitCode, 1);
    EXPECT_TRUE(contains(partial.out,
                         "day records; outcome unknown: the last entry in kelbor.log "
                         "is incomplete\n"))
        << partial.out;

    // Any line on standard error fails the night and is passed on.
    FakeBatch noisy(
        "printf '\\nDatum: 10.03.2026  Uhrzeit: 01:30:00\\n' >>kelbor.log\n"
        "echo 'something went wrong' >&2\n",
        kCmdStamp + ">&2 echo something went wrong\n");
    kt::RunResult loud = nightly(batch, "D", noisy.path);
    EXPECT_EQ(loud.exitCode, 1);
    EXPECT_TRUE(contains(loud.out, "no errors; standard error: something went wrong\n"))
        << loud.out;
    EXPECT_EQ(loud.err, "something went wrong\n");

    // A run that lost a parameter line for a day it changed.
    FakeBatch lossy("\"$REAL\" \"$@\"; : >kelbortgb\n", "\"%REAL%\" %*\ntype nul >kelbortgb\n");
    kt::RunResult lost = kt::runProgram(
        {kt::nightlyBinary(), batch.work().file("kelbor.ini"), "XXX", "D"}, batch.work().path(),
        {{"KELBOR", lossy.path}, {"REAL", realBatch()}}, "", {"KELBOR_DBG"});
    EXPECT_EQ(lost.exitCode, 1);
    EXPECT_TRUE(contains(lost.out,
                         "1 follow-ups inserted, 0 refused by priority, 0 refused by "
                         "target time, 0 old cancellations deleted; no errors; "
                         "parameter lines missing in kelbortgb for 1001 09.03.2026"))
        << lost.out;
}

// The batch restarts a log over 1 MiB, and logrotate may rename it while a
// run goes on; either way the run's own entries are read, and only they.
TEST(NightlyWrapper, ReadsThisRunsEntriesThroughARestartOrARename) {
    fu::Batch batch;
    batch.load(fu::commonTypes() + fu::sickSinceFriday("1001"));
    {
        SCOPED_TRACE("the real batch restarts a log over 1 MiB");
        kt::writeFile(batch.work().file("kelbor.log"), kEarlierNight + std::string(1048577, 'x'));
        kt::RunResult r = nightly(batch);
        EXPECT_EQ(r.exitCode, 0) << r.out;
        EXPECT_LT(kt::readFile(batch.work().file("kelbor.log")).size(), 1000u);
        EXPECT_TRUE(contains(r.out, "1 follow-ups inserted")) << r.out;
    }
    {
        SCOPED_TRACE("a run that writes more than the restarted log held");
        kt::writeFile(batch.work().file("kelbor.log"), kEarlierNight + std::string(1048577, 'x'));
        // cmd writes lines too slowly: it copies them from a file.
        kt::TempDir lines;
        std::string log = "\r\nDatum: 10.03.2026  Uhrzeit: 01:30:00\r\n";
        for (int i = 0; i < 30000; ++i)
            log += "Info: TagesSatz aktualisiert! RC:0 Pnr:1001 Tag:20260309\r\n";
        kt::writeFile(lines.file("log"), log);
        FakeBatch big(
            "rm kelbor.log\nprintf '\\nDatum: 10.03.2026  Uhrzeit: 01:30:00\\n' >kelbor.log\n"
            "awk 'BEGIN { for (i = 0; i < 30000; i++) print \"Info: TagesSatz aktualisiert! RC:0 "
            "Pnr:1001 Tag:20260309\" }' >>kelbor.log\n",
            "del kelbor.log\ncopy /b " + windowsPath(lines.file("log")) + " kelbor.log >nul\n");
        kt::RunResult r = nightly(batch, "D", big.path);
        EXPECT_GT(kt::readFile(batch.work().file("kelbor.log")).size(), 1048577u + 100);
        EXPECT_EQ(r.exitCode, 0) << r.out;
        EXPECT_TRUE(contains(r.out, "kelbor run 10.03.2026 01:30:00: ")) << r.out;
        EXPECT_TRUE(contains(r.out, "; no errors")) << r.out;
    }
    {
        SCOPED_TRACE("renamed before the real batch opens it");
        kt::writeFile(batch.work().file("kelbor.log"), kEarlierNight);
        FakeBatch rotate(
            "mv kelbor.log kelbor.log.1 && : >kelbor.log && exec \"$REAL\" \"$@\"\n",
            "move kelbor.log kelbor.log.1 >nul\ntype nul >kelbor.log\n\"%REAL%\" %*\n");
        kt::RunResult r = kt::runProgram(
            {kt::nightlyBinary(), batch.work().file("kelbor.ini"), "XXX", "D"}, batch.work().path(),
            {{"KELBOR", rotate.path}, {"REAL", realBatch()}}, "", {"KELBOR_DBG"});
        EXPECT_EQ(r.exitCode, 0) << r.out;
        EXPECT_TRUE(std::regex_search(r.out, std::regex(kStamp))) << r.out;
        EXPECT_TRUE(contains(r.out, "; no errors")) << r.out;
    }
    // On Windows the wrapper does not keep the log open (the batch could not
    // start a new one over 1 MiB while it did), so it cannot follow a log
    // renamed while the batch writes to it; nothing renames it there.
    if (!windowsWrapper()) {
        SCOPED_TRACE("renamed while the batch writes to it");
        kt::writeFile(batch.work().file("kelbor.log"), kEarlierNight);
        FakeBatch rotate(
            "exec 3>>kelbor.log\nprintf '\\nDatum: 10.03.2026  Uhrzeit: 01:30:00\\n' >&3\n"
            "mv kelbor.log kelbor.log.1 && : >kelbor.log\n"
            "printf 'Info: Buchung eingepflegt! RC:0 Pnr:1001 Tag:20260309 Fkt:1 Fcd:KF\\n' >&3\n"
            "printf '1001    ,09.03.2026\\n' >kelbortgb\n",
            "");
        kt::RunResult r = nightly(batch, "D", rotate.path);
        EXPECT_EQ(r.exitCode, 0) << r.out;
        EXPECT_TRUE(contains(r.out,
                             "kelbor run 10.03.2026 01:30:00: accounting day 2026-03-09, 1 "
                             "day records; 1 follow-ups inserted, 0 refused by priority, "
                             "0 refused by target time, 0 old cancellations deleted; no "
                             "errors"))
            << r.out;
    }
}

// The working folder on a tiny filesystem of its own when the test may
// mount one (root), else each file limited in size: either way the batch's
// log fills up during the night.
class SmallDisk {
  public:
    // KELBOR_TEST_NO_MOUNT=1 takes the other way even where mounting works.
    explicit SmallDisk(const std::string& dir) : dir_(dir) {
        if (std::getenv("KELBOR_TEST_NO_MOUNT") == nullptr && geteuid() == 0 &&
            mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k,mode=0755") == 0) {
            mounted_ = true;
            return;
        }
    }
    ~SmallDisk() {
        if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    // Fills the tmpfs up to `left` bytes.
    void fill(std::size_t left) {
        std::string filler = dir_ + "/filler";
        int fd = open(filler.c_str(), O_WRONLY | O_CREAT, 0600);
        std::string block(4096, 'f');
        while (write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size())) {
        }
        close(fd);
        // Give back what the night may use.
        struct stat st {};
        stat(filler.c_str(), &st);
        EXPECT_EQ(
            truncate(filler.c_str(), st.st_size > static_cast<off_t>(left) ? st.st_size - left : 0),
            0);
    }

  private:
    std::string dir_;
    bool mounted_ = false;
};

TEST(NightlyWrapper, FullDiskUnderTheWorkingFolderFailsTheNight) {
    fu::Batch batch;
    std::string fixture = fu::commonTypes();
    for (int i = 0; i < 40; ++i) fixture += fu::sickSinceFriday(std::to_string(2000 + i));
    batch.load(fixture);
    SmallDisk disk(batch.work().path());
    kt::RunResult r;
    kt::writeConfig(batch.work().file("kelbor.ini"), "demo", "demo-pw", batch.db().dsn(), "qrv");
    if (disk.mounted()) {
        std::cout << "[ filesystem ] a 64 KiB tmpfs under the working folder\n";
        disk.fill(4096);
        r = nightly(batch);
    } else {
        // The limit holds for every file the batch writes, the stand-in
        // driver's database included, so it lies above that database and a
        // log of just under 1 MiB (which the batch keeps) has 1000 bytes left.
        std::cout << "[ filesystem ] no tmpfs (not root, mount refused or KELBOR_TEST_NO_MOUNT): "
                     "RLIMIT_FSIZE 1 MiB, 1000 bytes left in kelbor.log\n";
        const std::size_t limit = 1048000;
        kt::writeFile(
            batch.work().file("kelbor.log"),
            kEarlierNight + std::string(limit - 1000 - kEarlierNight.size() - 1, 'x') + "\n");
        ASSERT_LT(kt::readFile(batch.db().databaseFile()).size(), limit / 2);
        struct rlimit old {};
        getrlimit(RLIMIT_FSIZE, &old);
        struct rlimit small = old;
        small.rlim_cur = limit;
        signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        r = nightly(batch);
        setrlimit(RLIMIT_FSIZE, &old);
        signal(SIGXFSZ, SIG_DFL);
    }
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_TRUE(std::regex_search(
        r.out, std::regex("^kelbor run \\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d: accounting "
                          "day 2026-03-09, 40 day records; outcome unknown: kelbor.log could not "
                          "be written; standard error: Fehler: fwrite\\(kelbor.log\\)! "
                          "RC:(28|27)")))
        << r.out;
    EXPECT_FALSE(contains(r.out, "follow-ups inserted")) << r.out;
    EXPECT_EQ(batch.accBookings("2039"), std::vector<std::string>{"00:00:00 1 KF"});
}

TEST(NightlyWrapper, LogThatCannotBeWrittenLeavesTheOutcomeUnknown) {
    fu::Batch batch;
    batch.load(fu::commonTypes() + fu::sickSinceFriday("1001"));
    // Root writes a root-owned file whatever its mode; a folder in the log's
    // place stops everyone.
    std::string log = batch.work().file("kelbor.log");
    if (geteuid() == 0) {
        ASSERT_EQ(mkdir(log.c_str(), 0755), 0);
    } else {
        kt::writeFile(log, kEarlierNight);
        ASSERT_EQ(chmod(log.c_str(), 0444), 0);
    }
    kt::RunResult r = nightly(batch);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(std::regex_match(
        r.out, std::regex("kelbor run \\(no time stamp\\): accounting day 2026-03-09, 1 day "
                          "records; outcome unknown: kelbor.log could not be written; standard "
                          "error: Fehler: fopen\\(kelbor.log\\)! .*\n")))
        << r.out;
    EXPECT_EQ(batch.accBookings("1001"), std::vector<std::string>{"00:00:00 1 KF"});
}

TEST(NightlyWrapper, NightWithoutDayRecordsFailsWithItsOwnStatus) {
    fu::Batch batch;
    // Friday's record is there, the accounting day's is not.
    batch.load(fu::commonTypes() + fu::day("1001", "20260306", "KR") + fu::rule("1001"));
    kt::RunResult r = nightly(batch);
    EXPECT_EQ(r.exitCode, 4) << r.out;
    EXPECT_TRUE(contains(r.out,
                         ": accounting day 2026-03-09, 0 day records; 0 follow-ups "
                         "inserted, 0 refused by priority, 0 refused by target time, 0 old "
                         "cancellations deleted; no errors; no day records for the "
                         "accounting day: nothing was processed; check the server's clock "
                         "and that the day-closing job ran\n"))
        << r.out;

    kt::RunResult check = kt::runProgram(
        {kt::configBinary(), "check", batch.work().file("kelbor.ini")}, batch.work().path());
    EXPECT_EQ(check.exitCode, 0) << check.out;
    EXPECT_TRUE(contains(check.out,
                         "day records of the accounting day: 0\nwarning: no day "
                         "records for 2026-03-09"))
        << check.out;
}

TEST(NightlyWrapper, EachRunKeepsTheLastParameterFileUnderItsTime) {
    fu::Batch batch;
    batch.load(fu::commonTypes() + fu::sickSinceFriday("1001"));
    kt::RunResult first = nightly(batch);
    EXPECT_EQ(first.exitCode, 0) << first.out;
    EXPECT_FALSE(contains(first.out, "kept")) << first.out;
    const std::string firstLines = kt::readWritten(batch.work().file("kelbortgb"));
    EXPECT_EQ(firstLines, fu::tgbLine("1001"));

    // Kept files of two weeks and more before; the oldest ones go.
    for (int day = 1; day <= 15; ++day) {
        char name[64];
        std::snprintf(name, sizeof name, "kelbortgb.202602%02d-013000", day);
        kt::writeFile(batch.work().file(name), "old\n");
    }
    // The second of one second goes with the others; a file of another
    // name the operator keeps stays.
    kt::writeFile(batch.work().file("kelbortgb.20260101-013000-2"), "old\n");
    kt::writeFile(batch.work().file("kelbortgb.20260101-013000.orig"), "mine\n");
    struct stat firstFile {};
    stat(batch.work().file("kelbortgb").c_str(), &firstFile);
    std::tm local{};
    localtime_r(&firstFile.st_mtime, &local);
    char expected[64];
    std::strftime(expected, sizeof expected, "kelbortgb.%Y%m%d-%H%M%S", &local);

    // A re-run of the same night: its follow-up is already there.
    kt::RunResult again = nightly(batch);
    EXPECT_EQ(again.exitCode, 0) << again.out;
    EXPECT_TRUE(
        contains(again.out, std::string("; the previous kelbortgb is kept as ") + expected + "\n"))
        << again.out;
    EXPECT_EQ(kt::readWritten(batch.work().file(expected)), firstLines);
    struct stat kept {};
    stat(batch.work().file(expected).c_str(), &kept);
    EXPECT_EQ(kept.st_nlink, 1u);
    EXPECT_EQ(kt::readWritten(batch.work().file("kelbortgb")), "");

    std::vector<std::string> names = filesStartingWith(batch.work().path(), "kelbortgb");
    ASSERT_EQ(names.size(), 16u) << "kelbortgb, the operator's file and 14 kept";
    EXPECT_EQ(names[0], "kelbortgb");
    EXPECT_EQ(names[1], "kelbortgb.20260101-013000.orig");
    EXPECT_EQ(names[2], "kelbortgb.20260203-013000");
    EXPECT_EQ(names.back(), expected);

    // An empty kelbortgb is not kept.
    kt::RunResult third = nightly(batch);
    EXPECT_FALSE(contains(third.out, "kept")) << third.out;
}

TEST(NightlyWrapper, FailedNightNamesTheFollowUpsWithoutTheirCredit) {
    fu::Batch batch;
    batch.load(fu::twoPeopleNight());
    batch.arm({{"FailOn", "QRV327Tag SET"}});
    kt::RunResult r = nightly(batch);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_TRUE(contains(r.out,
                         "; errors: Tag_Update 2; without credit: 1001 2026-03-09 KF: "
                         "booked, its credit is missing; enter KF and its time value in "
                         "slot 1 (TagTgb/TagTgs) of the day record, or delete the booking "
                         "and run again; without credit: 1002 2026-03-09 AF: booked, its "
                         "credit is missing; enter AF and its time value in slot 2 "
                         "(TagHtv/TagHvs) of the day record, or delete the booking and "
                         "run again\n"))
        << r.out;

    kt::RunResult check = kt::runProgram(
        {kt::configBinary(), "check", batch.work().file("kelbor.ini")}, batch.work().path());
    EXPECT_TRUE(contains(check.out,
                         "warning: follow-up without credit: 1001 2026-03-09 KF: "
                         "booked, its credit is missing; enter KF"))
        << check.out;
    EXPECT_TRUE(contains(check.out, "warning: follow-up without credit: 1002 2026-03-09 AF"))
        << check.out;

    // Once the credit stands, nothing is named.
    batch.arm({{"FailOn", "no statement holds this text"}});
    batch.db().exec(
        "UPDATE QRV.Qrv327Tag SET TagTgb = 'KF', TagTgs = 480 WHERE TagPnr = '1001'\n"
        "UPDATE QRV.Qrv327Tag SET TagHtv = 'AF', TagHvs = 240 WHERE TagPnr = '1002'");
    kt::RunResult repaired = kt::runProgram(
        {kt::configBinary(), "check", batch.work().file("kelbor.ini")}, batch.work().path());
    EXPECT_FALSE(contains(repaired.out, "without credit")) << repaired.out;
}

TEST(NightlyWrapper, StatusFileForMonitoring) {
    fu::Batch batch;
    batch.load(fu::commonTypes() + fu::sickSinceFriday("1001"));
    kt::RunResult good = nightly(batch);
    ASSERT_EQ(good.exitCode, 0) << good.out;
    std::string status = kt::readWritten(batch.work().file("kelbor.prom"));
    std::smatch run, success;
    ASSERT_TRUE(std::regex_search(
        status, run, std::regex("\nkelbor_nightly_last_run_timestamp_seconds (\\d+)\n")));
    ASSERT_TRUE(std::regex_search(
        status, success, std::regex("\nkelbor_nightly_last_success_timestamp_seconds (\\d+)\n")));
    EXPECT_EQ(run[1], success[1]);
    EXPECT_TRUE(contains(status, "\nkelbor_nightly_success 1\n")) << status;
    EXPECT_TRUE(contains(status, "\nkelbor_nightly_accounting_day 20260309\n")) << status;
    EXPECT_TRUE(contains(status, "\nkelbor_nightly_day_records 1\n")) << status;
    EXPECT_TRUE(contains(status, "\nkelbor_nightly_followups_inserted 1\n")) << status;
    EXPECT_TRUE(contains(status, "# TYPE kelbor_nightly_success gauge\n")) << status;

    // A failed night keeps the last good night's time.
    kt::writeFile(batch.work().file("kelbor.prom"),
                  "# TYPE kelbor_nightly_last_success_timestamp_seconds gauge\n"
                  "kelbor_nightly_last_success_timestamp_seconds 1773000000\n");
    FakeBatch failing(
        "printf '\\nDatum: 10.03.2026  Uhrzeit: 01:30:00\\nFehler(Cur_open): x "
        "RC:-1\\n' >>kelbor.log\n",
        kCmdStamp + ">>kelbor.log echo Fehler(Cur_open): x RC:-1\n");
    kt::RunResult bad = nightly(batch, "D", failing.path);
    ASSERT_EQ(bad.exitCode, 1) << bad.out;
    status = kt::readWritten(batch.work().file("kelbor.prom"));
    EXPECT_TRUE(contains(status, "\nkelbor_nightly_last_success_timestamp_seconds 1773000000\n"))
        << status;
    EXPECT_TRUE(contains(status, "\nkelbor_nightly_success 0\n")) << status;
    EXPECT_TRUE(contains(status, "\nkelbor_nightly_errors 1\n")) << status;

    // Another place, chosen by the operator.
    kt::TempDir textfiles;
    kt::RunResult elsewhere = kt::runProgram(
        {kt::nightlyBinary(), "--status-file", textfiles.file("kelbor.prom"),
         batch.work().file("kelbor.ini"), "XXX", "D"},
        batch.work().path(), {{"KELBOR", kt::startable(kt::kelborBinary(), kt::nightlyBinary())}},
        "", {"KELBOR_DBG"});
    EXPECT_EQ(elsewhere.exitCode, 0) << elsewhere.out;
    EXPECT_TRUE(
        contains(kt::readWritten(textfiles.file("kelbor.prom")), "kelbor_nightly_success 1"));
    EXPECT_EQ(filesStartingWith(textfiles.path(), ""),
              (std::vector<std::string>{".", "..", "kelbor.prom"}));
}

// Paths with blanks, as under "C:\\Program Files": the batch and
// kelbor-catchup beside it start, and the configuration file's path reaches
// them whole (on Windows a command line the programs split again).
TEST(NightlyWrapper, PathsWithBlanksReachTheProgramsWhole) {
    for (bool missedNight : {false, true}) {
        SCOPED_TRACE(missedNight ? "a missed night, through kelbor-catchup" : "the night");
        fu::Batch batch;
        batch.load(fu::commonTypes() + fu::sickSinceFriday("1001"));
        namespace fs = std::filesystem;
        const fs::path programs = batch.work().file("the programs");
        const fs::path configs = batch.work().file("my settings");
        fs::create_directory(programs);
        fs::create_directory(configs);
        for (const std::string& program : {kt::kelborBinary(), kt::catchupBinary()}) {
            fs::copy_file(program, programs / fs::path(program).filename());
        }
        const std::string ini = (configs / "kelbor night.ini").string();
        kt::writeConfig(ini, "demo", "demo-pw", batch.db().dsn(), "qrv");
        std::vector<std::string> command = {kt::nightlyBinary()};
        if (missedNight) command.insert(command.end(), {"--day", "20260309"});
        command.insert(command.end(), {ini, "XXX", "D"});
        const std::string bin = (programs / fs::path(kt::kelborBinary()).filename()).string();
        kt::RunResult r = kt::runProgram(command, batch.work().path(),
                                         {{"KELBOR", kt::startable(bin, kt::nightlyBinary())}}, "",
                                         {"KELBOR_DBG"});
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_TRUE(contains(r.out, std::string("accounting day 2026-03-09") +
                                        (missedNight ? " (a missed night, caught up)" : "") +
                                        ", 1 day records; 1 follow-ups inserted"))
            << r.out;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(batch.accBookings("1001"), std::vector<std::string>{"00:00:00 1 KF"});
    }
}

TEST(NightlyWrapper, HelpAndVersionGoToStandardOutput) {
    kt::TempDir work;
    kt::RunResult help = kt::runProgram({kt::nightlyBinary(), "--help"}, work.path());
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(
        contains(help.out,
                 "usage: kelbor-nightly [--status-file PATH] [--day YYYYMMDD] [--time-limit TIME] "
                 "CONFIG PARAM2 PARAM3\n"))
        << help.out;
    EXPECT_EQ(help.err, "");
    kt::RunResult version = kt::runProgram({kt::nightlyBinary(), "--version"}, work.path());
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(std::regex_match(version.out, std::regex("kelbor-nightly \\d+\\.\\d+\\.\\d+\n")))
        << version.out;
    kt::RunResult usage = kt::runProgram({kt::nightlyBinary(), "a.ini", "XXX"}, work.path());
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_EQ(usage.out, "");
    EXPECT_TRUE(contains(usage.err, "usage: ")) << usage.err;
    EXPECT_FALSE(kt::fileExists(work.file("kelbor.lock")));
}

TEST(NightlyWrapper, SecondRunDoesNotStartWhileTheFirstHoldsTheLock) {
    fu::Batch batch;
    batch.load(fu::commonTypes() + fu::sickSinceFriday("1001"));
    kt::RunResult blocked;
    if (!windowsWrapper()) {
        int fd =
            open(batch.work().file("kelbor.lock").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0640);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
        blocked = nightly(batch);
        close(fd);
    } else {
        // On Windows the lock is kelbor.lock opened unshared, which only a
        // Windows program holds: a first wrapper, whose batch waits (at most
        // a minute) until the second has run.
        FakeBatch waiting("",
                          "type nul >started\nset n=0\n:wait\nif exist go exit /b 0\n"
                          "set /a n+=1\nif %n% geq 60 exit /b 0\nping -n 2 127.0.0.1 >nul\n"
                          "goto wait\n");
        kt::RunResult first;
        std::thread holder([&] { first = nightly(batch, "D", waiting.path); });
        for (int i = 0; i < 600 && !kt::fileExists(batch.work().file("started")); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_TRUE(kt::fileExists(batch.work().file("started")));
        blocked = nightly(batch);
        kt::writeFile(batch.work().file("go"), "");
        holder.join();
        EXPECT_TRUE(contains(first.out, "the run left no kelbor.log")) << first.out;
    }
    EXPECT_EQ(blocked.exitCode, 3) << blocked.out;
    EXPECT_TRUE(contains(blocked.out, "not started: another run still holds")) << blocked.out;
    EXPECT_FALSE(kt::fileExists(batch.work().file("kelbor.log"))) << "the batch ran";
    EXPECT_EQ(batch.accBookings("1001"), std::vector<std::string>{});

    kt::RunResult after = nightly(batch);
    EXPECT_EQ(after.exitCode, 0) << after.out;
    EXPECT_EQ(batch.accBookings("1001"), std::vector<std::string>{"00:00:00 1 KF"});
}

// A server that accepts the connection and never answers, on 127.0.0.1.
class SilentServer {
  public:
    SilentServer() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(listener_, 8);
        socklen_t len = sizeof addr;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] {
            // Bounded: stops when the test ends, at the latest after a minute.
            auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!stop_ && std::chrono::steady_clock::now() < end) {
                pollfd p{listener_, POLLIN, 0};
                if (poll(&p, 1, 100) <= 0) continue;
                int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) held_.push_back(fd);
            }
        });
    }
    ~SilentServer() {
        stop_ = true;
        thread_.join();
        for (int fd : held_) close(fd);
        close(listener_);
    }
    int port() const { return port_; }

  private:
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::vector<int> held_;
    std::thread thread_;
};

// The cron line's and the service's time limit end a night hung on a silent
// server: the wrapper passes the signal on to the batch and fails the night.
TEST(NightlyWrapper, TimeLimitEndsANightHungOnASilentServer) {
    SilentServer silent;
    std::map<std::string, std::string> keys = kt::freeTdsDataSource(silent.port());
    kt::addDataSource("kelbor-silent", keys);
    fu::Batch batch;
    batch.load(fu::commonTypes() + fu::sickSinceFriday("1001"));
    kt::writeConfig(batch.work().file("silent.ini"), "demo", "demo-pw", "kelbor-silent", "qrv");
    {
        SCOPED_TRACE("the batch hangs");
        // The look before the run uses the good configuration, the batch the silent one;
        // the limit leaves the look time enough on a busy machine.
        FakeBatch hanging("exec \"$REAL\" silent.ini \"$2\" \"$3\"\n",
                          "\"%REAL%\" silent.ini %2 %3\n");
        auto start = std::chrono::steady_clock::now();
        kt::writeConfig(batch.work().file("kelbor.ini"), "demo", "demo-pw", batch.db().dsn(),
                        "qrv");
        kt::RunResult r =
            kt::runProgram({"/usr/bin/timeout", "-s", "TERM", "5", kt::nightlyBinary(),
                            batch.work().file("kelbor.ini"), "XXX", "D"},
                           batch.work().path(), {{"KELBOR", hanging.path}, {"REAL", realBatch()}},
                           "", {"KELBOR_DBG"});
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
        EXPECT_EQ(r.exitCode, 124) << r.out << r.err;
        EXPECT_TRUE(std::regex_match(
            r.out, std::regex(kStamp + "accounting day 2026-03-09, 1 day records; 0 follow-ups "
                                       "inserted, .*; no errors; the batch ended with status 143; "
                                       "stopped by signal 15 \\(a time limit\\? the server did "
                                       "not answer\\); follow-ups without credit not checked: "
                                       "the night was stopped \\(kelbor-config check lists "
                                       "them\\)\n")))
            << r.out;
        EXPECT_TRUE(contains(kt::readWritten(batch.work().file("kelbor.prom")),
                             "kelbor_nightly_success 0"));
    }
    {
        SCOPED_TRACE("the look before the run hangs");
        kt::RunResult r =
            kt::runProgram({"/usr/bin/timeout", "-s", "TERM", "3", kt::nightlyBinary(),
                            batch.work().file("silent.ini"), "XXX", "D"},
                           batch.work().path(),
                           {{"KELBOR", kt::startable(kt::kelborBinary(), kt::nightlyBinary())}}, "",
                           {"KELBOR_DBG"});
        EXPECT_EQ(r.exitCode, 124) << r.out << r.err;
        EXPECT_TRUE(contains(r.out, "kelbor run (not started): failed: stopped by a signal"))
            << r.out;
    }
    {
        SCOPED_TRACE("FreeTDS's Timeout in odbc.ini ends the wait by itself");
        keys["Timeout"] = "2";
        kt::addDataSource("kelbor-silent-timeout", keys);
        kt::writeConfig(batch.work().file("timeout.ini"), "demo", "demo-pw",
                        "kelbor-silent-timeout", "qrv");
        auto start = std::chrono::steady_clock::now();
        kt::RunResult r =
            kt::runProgram({"/usr/bin/timeout", "-s", "TERM", "60", kt::nightlyBinary(),
                            batch.work().file("timeout.ini"), "XXX", "D"},
                           batch.work().path(),
                           {{"KELBOR", kt::startable(kt::kelborBinary(), kt::nightlyBinary())}}, "",
                           {"KELBOR_DBG"});
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_TRUE(contains(r.out,
                             "; errors: DB-Connect 1; the look at the database before the "
                             "run failed: cannot connect (SQLSTATE HYT00;"))
            << r.out;
    }
}

// The wrapper's own limit (--time-limit, the Task Scheduler's way, whose
// limit ends the wrapper without a word) stops a hung night as SIGTERM does,
// and so does Ctrl+C, on both platforms.
TEST(NightlyWrapper, OwnTimeLimitEndsANightHungOnASilentServer) {
    SilentServer silent;
    kt::addDataSource("kelbor-silent", kt::freeTdsDataSource(silent.port()));
    fu::Batch batch;
    batch.load(fu::commonTypes() + fu::sickSinceFriday("1001"));
    kt::writeConfig(batch.work().file("silent.ini"), "demo", "demo-pw", "kelbor-silent", "qrv");
    kt::writeConfig(batch.work().file("kelbor.ini"), "demo", "demo-pw", batch.db().dsn(), "qrv");
    // The look before the run uses the good configuration, the batch the
    // silent one. command: what runs the wrapper, and its options.
    FakeBatch hanging("exec \"$REAL\" silent.ini \"$2\" \"$3\"\n", "\"%REAL%\" silent.ini %2 %3\n");
    auto hungNight = [&](std::vector<std::string> command,
                         const std::vector<std::string>& options) {
        command.push_back(kt::nightlyBinary());
        command.insert(command.end(), options.begin(), options.end());
        for (const std::string& a :
             {batch.work().file("kelbor.ini"), std::string("XXX"), std::string("D")})
            command.push_back(a);
        return kt::runProgram(command, batch.work().path(),
                              {{"KELBOR", hanging.path}, {"REAL", realBatch()}}, "",
                              {"KELBOR_DBG"});
    };
    {
        SCOPED_TRACE("the batch hangs");
        kt::RunResult r = hungNight({}, {"--time-limit", "5s"});
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_TRUE(std::regex_match(
            r.out, std::regex(kStamp + "accounting day 2026-03-09, 1 day records; 0 follow-ups "
                                       "inserted, .*; no errors; the batch ended with status 143; "
                                       "stopped by the time limit of 5s \\(the server did not "
                                       "answer\\?\\); follow-ups without credit not checked: "
                                       "the night was stopped \\(kelbor-config check lists "
                                       "them\\)\n")))
            << r.out;
        EXPECT_TRUE(contains(kt::readWritten(batch.work().file("kelbor.prom")),
                             "kelbor_nightly_success 0"));
    }
    {
        // Windows' Ctrl+C, which Wine makes of SIGINT. To the wrapper
        // alone (--foreground): Wine ends a batch that gets a Ctrl+C of its
        // own with status 0, which would race the wrapper's stop.
        SCOPED_TRACE("Ctrl+C while the batch hangs");
        kt::RunResult r = hungNight({"/usr/bin/timeout", "--foreground", "-s", "INT", "5"}, {});
        EXPECT_EQ(r.exitCode, 124) << r.out << r.err;
        EXPECT_TRUE(contains(r.out,
                             "; no errors; the batch ended with status 130; stopped by "
                             "signal 2 (a time limit? the server did not answer); "
                             "follow-ups without credit not checked"))
            << r.out;
    }
    {
        SCOPED_TRACE("the look before the run hangs");
        kt::RunResult r = kt::runProgram(
            {kt::nightlyBinary(), "--time-limit=2s", batch.work().file("silent.ini"), "XXX", "D"},
            batch.work().path(), {{"KELBOR", kt::kelborBinary()}}, "", {"KELBOR_DBG"});
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_EQ(r.out,
                  "kelbor run (not started): failed: stopped by the time limit of 2s while looking "
                  "at the database (the server did not answer)\n");
    }
    {
        SCOPED_TRACE("a limit that is no time");
        for (const char* limit : {"0s", "6", "-5m", "2d", "169h", " 5s"}) {
            kt::RunResult r = kt::runProgram({kt::nightlyBinary(), "--time-limit", limit,
                                              batch.work().file("kelbor.ini"), "XXX", "D"},
                                             batch.work().path(), {{"KELBOR", kt::kelborBinary()}},
                                             "", {"KELBOR_DBG"});
            EXPECT_EQ(r.exitCode, 2) << limit;
            EXPECT_EQ(r.out, "") << limit;
        }
    }
}

}  // namespace
