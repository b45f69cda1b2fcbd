// packaging/kelbor-nightly, the run wrapper of the service and the cron
// line, around the real batch against the stand-in: its one summary line,
// its exit status for a clean night, a night with errors and a run that did
// not end normally, only this run's entries counted, and the lock.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/e2e/followup_e2e.h"
#include "tests/support/support.h"

namespace {

std::string wrapper() {
    return kt::sourceDir() + "/packaging/kelbor-nightly";
}

// Runs the wrapper in the batch's working folder with the real batch.
kt::RunResult nightly(fu::Batch& batch, const std::string& param3 = "D",
                      const std::string& bin = kt::kelborBinary()) {
    std::string ini = batch.work().file("kelbor.ini");
    if (!kt::fileExists(ini)) kt::writeConfig(ini, "demo", "demo-pw", batch.db().dsn(), "qrv");
    return kt::runProgram({wrapper(), ini, "XXX", param3}, batch.work().path(), {{"KELBOR", bin}},
                          "", {"KELBOR_DBG"});
}

// 1002's sickness has no working-time rule to credit from.
std::string sickWithoutRule(const std::string& pnr) {
    return fu::day(pnr, "20260306", "KR") + fu::booking(pnr, "20260306", "00:00:00", 1, "KR") +
           fu::accDay(pnr);
}

TEST(NightlyWrapper, SummaryLineAndExitStatusTellHowTheNightWent) {
    const std::string stamp = "kelbor run \\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d: ";
    {
        SCOPED_TRACE("clean night");
        fu::Batch batch;
        batch.load(fu::commonTypes() + fu::sickSinceFriday("1001") + fu::accDay("1003") +
                   fu::day("1003", "20260306", "KR") +
                   fu::booking("1003", "20260306", "00:00:00", 1, "KR") +
                   fu::booking("1003", fu::kAccDay, "08:00:00", 1, "UR") + fu::rule("1003"));
        // Entries of an earlier night are not this run's.
        kt::writeFile(batch.work().file("kelbor.log"),
                      "\nDatum: 01.03.2026  Uhrzeit: 01:30:00\nFehler(DB-Connect)! RC:-1 Name: "
                      "Pwd:*** Net:\n");
        kt::RunResult r = nightly(batch);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_TRUE(std::regex_match(
            r.out, std::regex(stamp + "1 follow-ups inserted, 1 refused by priority, 0 refused by "
                                      "target time, 0 old cancellations deleted; no errors\n")))
            << r.out;
        EXPECT_EQ(r.err, "");
    }
    {
        SCOPED_TRACE("a night with an error");
        fu::Batch batch;
        batch.load(fu::commonTypes() + fu::sickSinceFriday("1001") + sickWithoutRule("1002"));
        kt::RunResult r = nightly(batch);
        EXPECT_EQ(r.exitCode, 1) << r.out;
        EXPECT_TRUE(std::regex_match(r.out, std::regex(stamp + "2 follow-ups inserted, .*; errors: "
                                                               "Azv_Read 1\n")))
            << r.out;
    }
    {
        SCOPED_TRACE("no connection");
        fu::Batch batch;
        kt::writeConfig(batch.work().file("kelbor.ini"), "demo", "demo-pw", "kelbor-no-such-dsn",
                        "qrv");
        kt::RunResult r = nightly(batch);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(std::regex_search(r.out, std::regex("; errors: DB-Connect 1\n$"))) << r.out;
    }
    {
        SCOPED_TRACE("log switched off");
        fu::Batch batch;
        kt::RunResult r = nightly(batch, "X");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.out.find("outcome unknown: the log is off"), std::string::npos) << r.out;
    }
}

TEST(NightlyWrapper, RunThatDoesNotEndNormallyFails) {
    fu::Batch batch;
    kt::TempDir bin;
    // Logs like the batch's start, then dies by a signal.
    const std::string killed = bin.file("kelbor");
    kt::writeFile(killed,
                  "#!/bin/sh\nprintf '\\nDatum: 10.03.2026  Uhrzeit: 01:30:00\\n' >>kelbor.log\n"
                  "kill -KILL $$\n");
    ASSERT_EQ(chmod(killed.c_str(), 0755), 0);
    kt::RunResult r = nightly(batch, "D", killed);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("kelbor run 10.03.2026 01:30:00: 0 follow-ups inserted"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("; the batch ended with status 137"), std::string::npos) << r.out;

    // The log restarted by the batch (over 1 MiB before): all of it is this run's.
    kt::writeFile(batch.work().file("kelbor.log"), std::string(1048577, 'x') + "\n");
    kt::RunResult fresh = nightly(batch);
    EXPECT_EQ(fresh.exitCode, 0) << fresh.out;
    EXPECT_TRUE(kt::readFile(batch.work().file("kelbor.log")).size() < 100);
    EXPECT_NE(fresh.out.find("no errors"), std::string::npos) << fresh.out;
}

TEST(NightlyWrapper, SecondRunDoesNotStartWhileTheFirstHoldsTheLock) {
    fu::Batch batch;
    batch.load(fu::commonTypes() + fu::sickSinceFriday("1001"));
    int fd = open(batch.work().file("kelbor.lock").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0640);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    kt::RunResult blocked = nightly(batch);
    EXPECT_EQ(blocked.exitCode, 3);
    EXPECT_NE(blocked.out.find("not started: another run still holds"), std::string::npos);
    EXPECT_FALSE(kt::fileExists(batch.work().file("kelbor.log"))) << "the batch ran";
    EXPECT_EQ(batch.accBookings("1001"), std::vector<std::string>{});
    close(fd);

    kt::RunResult after = nightly(batch);
    EXPECT_EQ(after.exitCode, 0) << after.out;
    EXPECT_EQ(batch.accBookings("1001"), std::vector<std::string>{"00:00:00 1 KF"});
}

}  // namespace
