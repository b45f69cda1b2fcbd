// kelbor-catchup: a missed night's accounting day processed afterwards, as
// the night after it would have, on a database whose server date has moved
// on. The stand-in's clock is set per run through its ServerTime key.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/followup_e2e.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;

// Four accounting days, Monday to Thursday, and the server's clock in the
// night after each.
struct Night {
    const char* day;
    const char* clock;
};
constexpr Night kNights[] = {{"20260309", "2026-03-10 02:30:00"},
                             {"20260310", "2026-03-11 02:30:00"},
                             {"20260311", "2026-03-12 02:30:00"},
                             {"20260312", "2026-03-13 02:30:00"}};

// One working-time rule per person, assigned on every accounting day.
std::string ruleEveryDay(const std::string& pnr) {
    std::string sql =
        "INSERT INTO $(SCHEMA).Qrv140Azv (AzvNum, AzvGvo, AzvGbi, AzvSta, AzvSol, AzvSo2, AzvVhs, "
        "AzvHso, AzvHs2, AzvHtv) VALUES ('R" +
        pnr + "', '20260101', NULL, 0, 480, 300, 20, 230, 150, 7)\n";
    for (const Night& n : kNights) {
        sql += "INSERT INTO $(SCHEMA).Qrv329Ztg (ZtgPnr, ZtgVon, ZtgAzt, ZtgSta) VALUES ('" + pnr +
               "', '" + n.day + "', 'R" + pnr + "', 0)\n";
    }
    return sql;
}

// 1001 is sick since Friday: KR, carried forward as KF from night to night,
// each night's KF found by the next. 1002 is sick too, but has vacation
// (UR, higher priority) booked for Wednesday: UR prevails there and ends
// the absence. 1003 went to the doctor on Monday afternoon (AR, hourly,
// Monday's day closed): Tuesday gets AF through the hourly rule.
std::string fourDays() {
    std::string sql = fu::commonTypes();
    for (const char* pnr : {"1001", "1002"}) {
        sql += fu::day(pnr, "20260306", "KR") + fu::booking(pnr, "20260306", "00:00:00", 1, "KR") +
               fu::day(pnr, "20260307", std::nullopt, 0) +
               fu::day(pnr, "20260308", std::nullopt, 0);
        for (const Night& n : kNights) sql += fu::accDay(pnr, 480, n.day);
        sql += ruleEveryDay(pnr);
    }
    sql += fu::booking("1002", "20260311", "00:00:00", 1, "UR");
    sql += fu::day("1003", "20260309") + fu::booking("1003", "20260309", "15:00:00", 24, "AR");
    for (int i = 1; i < 4; ++i) sql += fu::accDay("1003", 480, kNights[i].day);
    sql += ruleEveryDay("1003");
    return sql;
}

// Every booking but its insertion time, and every day record.
Rows bookingRows(kt::StandinDb& db) {
    return db.query(
        "SELECT BchPnr, CONVERT(char(8), BchVon, 112), CONVERT(char(8), BchUhr, 114), BchFkt, "
        "BchFcd, BchBis, BchVws, BchZwt, BchAbt, BchKst, BchKtr, BchKrt, BchAzt, BchVra, BchTxt, "
        "BchSta, BchErf, BchTrm FROM QRV.Qrv321Bch ORDER BY BchPnr, BchVon, BchUhr, BchFkt");
}
Rows dayRows(kt::StandinDb& db) {
    return db.query(
        "SELECT TagPnr, CONVERT(char(8), TagTag, 112), TagTgb, TagTgs, TagHtv, TagHvs, TagHtn, "
        "TagHns FROM QRV.Qrv327Tag ORDER BY TagPnr, TagTag");
}

// The part of the log a run added.
std::string added(const std::string& before, const fu::Outcome& o) {
    return o.log.substr(before.size());
}

TEST(CatchUp, MissedNightsCaughtUpEndAsIfEveryNightHadRun) {
    // Four nights, one after the other.
    fu::Batch nightly;
    nightly.load(fourDays());
    std::string nightlyTgb;
    fu::Outcome o;
    for (const Night& n : kNights) {
        nightly.arm({{"ServerTime", n.clock}});
        o = nightly.run();
        nightlyTgb += o.tgb;
    }

    // Only the first and the last night ran; before the last, the two
    // missed days are caught up, oldest first.
    fu::Batch missed;
    missed.load(fourDays());
    missed.arm({{"ServerTime", kNights[0].clock}});
    fu::Outcome m = missed.run();
    std::string missedTgb = m.tgb;
    missed.arm({{"ServerTime", kNights[3].clock}});
    for (const char* day : {kNights[1].day, kNights[2].day}) {
        m = missed.catchUp(day);
        EXPECT_EQ(m.result.exitCode, 0) << m.result.err;
        EXPECT_EQ(m.result.err, "");
        missedTgb += m.tgb;
    }
    m = missed.run();
    missedTgb += m.tgb;

    EXPECT_EQ(bookingRows(missed.db()), bookingRows(nightly.db()));
    EXPECT_EQ(dayRows(missed.db()), dayRows(nightly.db()));
    EXPECT_EQ(missedTgb, nightlyTgb);
    EXPECT_EQ(m.log, o.log);

    // What the nights did: KF chained over all four days, UR prevailing on
    // Wednesday, AF from Monday's hourly message on each later day (AF,
    // function 2, is no day message the search stops at).
    std::string expectedTgb;
    for (const auto& [pnr, date] :
         std::vector<std::pair<std::string, std::string>>{{"1001", "09.03.2026"},
                                                          {"1002", "09.03.2026"},
                                                          {"1001", "10.03.2026"},
                                                          {"1002", "10.03.2026"},
                                                          {"1003", "10.03.2026"},
                                                          {"1001", "11.03.2026"},
                                                          {"1003", "11.03.2026"},
                                                          {"1001", "12.03.2026"},
                                                          {"1003", "12.03.2026"}}) {
        expectedTgb += fu::tgbLine(pnr, date);
    }
    EXPECT_EQ(nightlyTgb, expectedTgb);
    EXPECT_EQ(nightly.bookings("1001"),
              (std::vector<std::string>{"20260306 00:00:00 1 KR", "20260309 00:00:00 1 KF",
                                        "20260310 00:00:00 1 KF", "20260311 00:00:00 1 KF",
                                        "20260312 00:00:00 1 KF"}));
    EXPECT_NE(o.log.find("hat h\xF6here Priorit\xE4t Pnr:1002 Tag:20260311 Fcd:UR\n"),
              std::string::npos)
        << o.log;
    EXPECT_EQ(nightly.slots("1003", "20260312"), ":0 AF:240 :0");

    // A day caught up once more is a re-run of its night: on the same
    // data, the catch-up of Tuesday does what the batch does when run again
    // in Wednesday's night (KF and AF, FcdGpu 0, keep their first booking).
    const std::string beforeRerun = o.log;
    nightly.arm({{"ServerTime", kNights[1].clock}});
    fu::Outcome rerun = nightly.run();
    const std::string beforeCatchUp = m.log;
    fu::Outcome again = missed.catchUp(kNights[1].day);
    EXPECT_EQ(again.result.exitCode, 0);
    EXPECT_EQ(added(beforeCatchUp, again), added(beforeRerun, rerun));
    EXPECT_EQ(again.tgb, rerun.tgb);
    EXPECT_EQ(again.tgb, "");
    EXPECT_NE(added(beforeCatchUp, again).find("Priorit\xE4t Pnr:1001 Tag:20260310 Fcd:KF\n"),
              std::string::npos);
    EXPECT_EQ(bookingRows(missed.db()), bookingRows(nightly.db()));
    EXPECT_EQ(dayRows(missed.db()), dayRows(nightly.db()));
}

// The batch's statement, byte for byte; the catch-up's differs only where
// the day enters.
TEST(CatchUp, TheDayEntersOnlyTheAccountingDayStatement) {
    const std::string prevDay =
        "SELECT TagPnr, CONVERT(char(8), TagTag, 112), CONVERT(char(8), TagVon, 112), "
        "CONVERT(char(8), TagUhr, 114), CONVERT(char(8), TagBis, 112), CONVERT(char(8), TagEnd, "
        "114), TgbSol, TagTgb, TagTgs, TagHtv, TagHvs, TagHtn, TagHns FROM QRV.Qrv327Tag, "
        "QRV.Qrv320Tgb WHERE TagTag = CONVERT(datetime, Convert(char(8), DATEADD(dd, -1, "
        "CURRENT_TIMESTAMP), 112), 112) AND CONVERT(char(8), TagVon, 112) = CONVERT(char(8), "
        "TagBis, 112) AND CONVERT(char(8), TagUhr, 114) = CONVERT(char(8),TagEnd,114) AND "
        "CONVERT(char(8),TagUhr,114) = '12:00:00' AND TgbPnr = TagPnr AND TgbDtm = TagTag AND "
        "TgbZtr = 1";
    const std::string dayExpression = "Convert(char(8), DATEADD(dd, -1, CURRENT_TIMESTAMP), 112)";
    std::string givenDay = prevDay;
    givenDay.replace(givenDay.find(dayExpression), dayExpression.size(), "'20260309'");

    // Statements as the server ran them, without the result code and time.
    auto statements = [](const std::string& trace) {
        std::vector<std::string> out;
        size_t pos = 0;
        while (pos < trace.size()) {
            size_t nl = trace.find('\n', pos);
            std::string line = trace.substr(pos, nl - pos);
            out.push_back(line.substr(line.find('\t', line.find('\t') + 1) + 1));
            pos = nl == std::string::npos ? trace.size() : nl + 1;
        }
        return out;
    };

    fu::Batch nightly;
    nightly.load(fu::twoPeopleNight());
    nightly.arm({{"Trace", nightly.work().file("trace")}});
    fu::Outcome n = nightly.run();
    fu::Batch caught;
    caught.load(fu::twoPeopleNight());
    caught.arm({{"Trace", caught.work().file("trace")}, {"ServerTime", "2026-03-14 02:30:00"}});
    fu::Outcome c = caught.catchUp(fu::kAccDay);
    ASSERT_EQ(c.result.exitCode, 0) << c.result.err;

    std::vector<std::string> ran = statements(kt::readFile(nightly.work().file("trace")));
    std::vector<std::string> caughtUp = statements(kt::readFile(caught.work().file("trace")));
    ASSERT_GE(ran.size(), 3u);
    EXPECT_EQ(ran[0], "SET NOCOUNT OFF");
    EXPECT_EQ(ran[1], prevDay);
    // The catch-up reads the server's date before it starts; everything
    // after is the night's.
    ASSERT_EQ(caughtUp.size(), ran.size() + 1);
    EXPECT_EQ(caughtUp[1], "SELECT CONVERT(char(8), CURRENT_TIMESTAMP, 112)");
    EXPECT_EQ(caughtUp[2], givenDay);
    ran[1] = givenDay;
    caughtUp.erase(caughtUp.begin() + 1);
    EXPECT_EQ(caughtUp, ran);
    EXPECT_EQ(c.log, n.log);
    EXPECT_EQ(c.tgb, n.tgb);
}

TEST(CatchUp, RefusesTodayLaterDaysAndWhatIsNoDay) {
    fu::Batch batch;
    batch.load(fu::twoPeopleNight());
    kt::writeFile(batch.work().file("kelbortgb"), kt::asWritten("kept\n"));
    // The server's date is 2026-03-10.
    for (const char* day : {"20260310", "20260311", "99991231"}) {
        SCOPED_TRACE(day);
        fu::Outcome o = batch.catchUp(day);
        EXPECT_EQ(o.result.exitCode, 4);
        EXPECT_EQ(o.result.err, std::string("kelbor-catchup: ") + day +
                                    " not processed: it is not before the database server's "
                                    "date 20260310 (the nightly run processes yesterday)\n");
        EXPECT_NE(o.log.find(std::string("Fehler(Catchup): Tag nicht vor dem Serverdatum! Tag:") +
                             day + " Heute:20260310\n"),
                  std::string::npos);
        EXPECT_EQ(o.tgb, "kept\n");
    }
    const std::string logBefore = kt::readFile(batch.work().file("kelbor.log"));
    for (const char* day : {"2026039", "202603099", "2026-03-09", "20260230", "20250229",
                            "17521231", "20261301", "20260300", "", "2026030x"}) {
        SCOPED_TRACE(day);
        fu::Outcome o = batch.catchUp(day);
        EXPECT_EQ(o.result.exitCode, 2);
        EXPECT_EQ(o.result.err,
                  std::string("kelbor-catchup: \"") + day + "\" is not a day written YYYYMMDD\n");
    }
    EXPECT_EQ(kt::readFile(batch.work().file("kelbor.log")), logBefore);
    EXPECT_EQ(batch.accBookings("1001"),
              (std::vector<std::string>{"07:00:00 1 ", "08:00:00 1 GL", "08:00:00 45 UR"}));
    EXPECT_EQ(kt::readFile(batch.work().file("kelbortgb")), kt::asWritten("kept\n"));

    kt::RunResult usage = kt::runProgram({kt::catchupBinary(), "kelbor.ini", fu::kAccDay, "XXX"},
                                         batch.work().path());
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_EQ(usage.err.rfind("usage: kelbor-catchup CONFIG YYYYMMDD PARAM2 PARAM3\n", 0), 0u);
    kt::RunResult help = kt::runProgram({kt::catchupBinary(), "--help"}, batch.work().path());
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("usage: kelbor-catchup", 0), 0u);
}

// The nightly wrapper's lock: a run beside another is refused; started by
// the holder of the lock, the catch-up takes it on the descriptor it names.
TEST(CatchUp, TakesTheWrappersLockOrTheOneItsStarterHolds) {
    fu::Batch batch;
    batch.load(fu::twoPeopleNight());
    batch.arm({{"ServerTime", "2026-03-11 02:30:00"}});
    const std::string ini = batch.work().file("kelbor.ini");
    kt::writeConfig(ini, "demo", "demo-pw", batch.db().dsn(), "qrv");
    const std::string lockPath = batch.work().file("kelbor.lock");

    // Another run holds the lock.
    int held = open(lockPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    fu::Outcome o = batch.catchUp(fu::kAccDay);
    EXPECT_EQ(o.result.exitCode, 3);
    EXPECT_EQ(o.result.err, "kelbor-catchup: not started: another run still holds kelbor.lock\n");
    EXPECT_FALSE(kt::fileExists(batch.work().file("kelbor.log")));
    // A starter that names its own descriptor of the file without holding
    // the lock cannot let the catch-up in beside that run either.
    const std::string asWrapper =
        "exec 9>>kelbor.lock; [ \"$LOCK\" = no ] || flock -n 9 || exit 99; KELBOR_LOCK_FD=9 "
        "exec \"$@\"";
    kt::RunResult r =
        kt::runProgram({"/bin/sh", "-c", asWrapper, "sh", kt::startable(kt::catchupBinary()), ini,
                        fu::kAccDay, "XXX", "D"},
                       batch.work().path(), {{"LOCK", "no"}});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_FALSE(kt::fileExists(batch.work().file("kelbor.log")));
    close(held);

    // A descriptor that is not kelbor.lock's is refused.
    kt::writeFile(batch.work().file("other"), "");
    r = kt::runProgram({"/bin/sh", "-c", "exec 9>>other; KELBOR_LOCK_FD=9 exec \"$@\"", "sh",
                        kt::startable(kt::catchupBinary()), ini, fu::kAccDay, "XXX", "D"},
                       batch.work().path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err,
              "kelbor-catchup: not started: KELBOR_LOCK_FD=9 is not an open descriptor of "
              "kelbor.lock in the working directory\n");
    EXPECT_FALSE(kt::fileExists(batch.work().file("kelbor.log")));

    // Started as the wrapper starts it, holding the lock: the day is done.
    r = kt::runProgram({"/bin/sh", "-c", asWrapper, "sh", kt::startable(kt::catchupBinary()), ini,
                        fu::kAccDay, "XXX", "D"},
                       batch.work().path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(kt::readWritten(batch.work().file("kelbortgb")),
              fu::tgbLine("1001") + fu::tgbLine("1002"));
    // And on its own, once nobody holds it.
    o = batch.catchUp(fu::kAccDay);
    EXPECT_EQ(o.result.exitCode, 0) << o.result.err;
}

// kelbor-nightly in the batch's working folder, the real batch beside it.
kt::RunResult wrapper(fu::Batch& batch) {
    std::string ini = batch.work().file("kelbor.ini");
    if (!kt::fileExists(ini)) kt::writeConfig(ini, "demo", "demo-pw", batch.db().dsn(), "qrv");
    return kt::runProgram({kt::nightlyBinary(), ini, "XXX", "D"}, batch.work().path(),
                          {{"KELBOR", kt::startable(kt::kelborBinary(), kt::nightlyBinary())}}, "",
                          {"KELBOR_DBG"});
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// Every parameter line the consumer got: the kept files, oldest first, then
// the current one.
std::string allParameterLines(const kt::TempDir& work) {
    std::vector<std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator(work.path())) {
        std::string name = entry.path().filename().string();
        if (name.rfind("kelbortgb.", 0) == 0) kept.push_back(name);
    }
    std::sort(kept.begin(), kept.end());
    std::string all;
    for (const std::string& name : kept) all += kt::readWritten(work.file(name));
    return all + kt::readWritten(work.file("kelbortgb"));
}

// The nightly wrapper remembers the last good night and catches up the
// nights missed since, oldest first, before its own: the database ends as
// if every night had run, and the consumer has every night's lines.
TEST(WrapperCatchUp, MissedNightsAreCaughtUpOldestFirstBeforeTheNight) {
    fu::Batch nightly;
    nightly.load(fourDays());
    std::string nightlyTgb;
    for (const Night& n : kNights) {
        nightly.arm({{"ServerTime", n.clock}});
        nightlyTgb += nightly.run().tgb;
    }

    fu::Batch wrapped;
    wrapped.load(fourDays());
    const std::string state = wrapped.work().file("kelbor-nightly.state");
    // The first night: nothing to catch up, yesterday only.
    wrapped.arm({{"ServerTime", kNights[0].clock}});
    kt::RunResult first = wrapper(wrapped);
    EXPECT_EQ(first.exitCode, 0) << first.out << first.err;
    EXPECT_EQ(kt::readWritten(state), "last_processed_day 20260309\n");
    // Two nights missed; the fourth catches them up first.
    wrapped.arm({{"ServerTime", kNights[3].clock}});
    kt::RunResult fourth = wrapper(wrapped);
    EXPECT_EQ(fourth.exitCode, 0) << fourth.out << fourth.err;
    EXPECT_EQ(fourth.err, "");
    std::vector<std::string> summary = lines(fourth.out);
    ASSERT_EQ(summary.size(), 3u) << fourth.out;
    EXPECT_NE(summary[0].find("accounting day 2026-03-10 (a missed night, caught up), 3 day "
                              "records; 3 follow-ups inserted"),
              std::string::npos)
        << summary[0];
    EXPECT_NE(summary[0].find("; missed night 20260310 caught up: good"), std::string::npos);
    EXPECT_NE(summary[1].find("accounting day 2026-03-11 (a missed night, caught up), 3 day "
                              "records; 2 follow-ups inserted, 1 refused by priority"),
              std::string::npos)
        << summary[1];
    EXPECT_NE(summary[2].find("accounting day 2026-03-12, 3 day records; 2 follow-ups inserted"),
              std::string::npos)
        << summary[2];
    EXPECT_EQ(kt::readWritten(state), "last_processed_day 20260312\n");

    EXPECT_EQ(bookingRows(wrapped.db()), bookingRows(nightly.db()));
    EXPECT_EQ(dayRows(wrapped.db()), dayRows(nightly.db()));
    EXPECT_EQ(allParameterLines(wrapped.work()), nightlyTgb);

    // The same night once more: nothing missed, yesterday re-run.
    kt::RunResult again = wrapper(wrapped);
    EXPECT_EQ(lines(again.out).size(), 1u) << again.out;
    EXPECT_EQ(kt::readWritten(state), "last_processed_day 20260312\n");
}

// A missed night that fails (here one without day records) stops the
// catch-up before yesterday, and the summary says how to go on; a gap
// beyond the bound is not caught up by itself at all.
TEST(WrapperCatchUp, AFailedMissedNightStopsItAndAGapBeyondTheBoundIsNotCaughtUp) {
    fu::Batch batch;
    batch.load(fu::twoPeopleNight());
    const std::string state = batch.work().file("kelbor-nightly.state");
    const auto before1001 = batch.bookings("1001");

    // kelbor-config check, run where the wrapper runs, tells beforehand.
    auto check = [&batch]() {
        return kt::runProgram({kt::configBinary(), "check", batch.work().file("kelbor.ini")},
                              batch.work().path())
            .out;
    };
    kt::writeConfig(batch.work().file("kelbor.ini"), "demo", "demo-pw", batch.db().dsn(), "qrv");
    EXPECT_NE(check().find("last processed day: none recorded (no kelbor-nightly.state here): a "
                           "run processes yesterday only\n"),
              std::string::npos);

    kt::writeFile(state, "last_processed_day 20260101\n");
    EXPECT_NE(check().find("last processed day: 2026-01-01 (kelbor-nightly.state)\nwarning: 66 "
                           "nights missed, 2026-01-02 to 2026-03-08, more than 31: "
                           "kelbor-nightly fails the night"),
              std::string::npos)
        << check();
    kt::RunResult far = wrapper(batch);
    EXPECT_EQ(far.exitCode, 1);
    EXPECT_NE(far.out.find("kelbor catch-up: failed: 66 nights missed, 2026-01-02 to "
                           "2026-03-08, more than 31 to catch up by itself; nothing was "
                           "processed. Process each day, oldest first, in this directory with "
                           "\"kelbor-nightly --day YYYYMMDD "),
              std::string::npos)
        << far.out;
    EXPECT_FALSE(kt::fileExists(batch.work().file("kelbor.log")));
    EXPECT_NE(
        kt::readWritten(batch.work().file("kelbor.prom")).find("\nkelbor_nightly_success 0\n"),
        std::string::npos);

    // Sunday the 8th has no open day records: an empty night.
    kt::writeFile(state, "last_processed_day 20260307\n");
    EXPECT_NE(check().find("last processed day: 2026-03-07 (kelbor-nightly.state)\nmissed "
                           "nights a run catches up first: 2026-03-08\n"),
              std::string::npos)
        << check();
    kt::RunResult stopped = wrapper(batch);
    EXPECT_EQ(stopped.exitCode, 1);
    std::vector<std::string> summary = lines(stopped.out);
    ASSERT_EQ(summary.size(), 2u) << stopped.out;
    EXPECT_NE(summary[0].find("accounting day 2026-03-08 (a missed night, caught up), 0 day "
                              "records"),
              std::string::npos)
        << summary[0];
    EXPECT_NE(summary[0].find("; missed night 20260308 failed: empty"), std::string::npos);
    EXPECT_EQ(summary[1].rfind("kelbor catch-up: failed: the missed night of 2026-03-08 (exit 4) "
                               "stops the catch-up; yesterday 2026-03-09 and the days between "
                               "are not processed. Retry it with \"kelbor-nightly --day 20260308 ",
                               0),
              0u)
        << summary[1];
    // In the shell of the platform: cmd's echo on Windows.
    EXPECT_NE(summary[1].find(kt::underWine()
                                  ? "mark it done with \"echo last_processed_day 20260308 "
                                    ">kelbor-nightly.state\""
                                  : "mark it done with \"echo 'last_processed_day 20260308' > "
                                    "kelbor-nightly.state\""),
              std::string::npos)
        << summary[1];
    EXPECT_EQ(batch.bookings("1001"), before1001);
    EXPECT_EQ(kt::readFile(state), "last_processed_day 20260307\n");

    // Marked done as the summary says: the next night goes on.
    kt::writeFile(state, "last_processed_day 20260308\n");
    kt::RunResult night = wrapper(batch);
    EXPECT_EQ(night.exitCode, 0) << night.out;
    EXPECT_EQ(lines(night.out).size(), 1u) << night.out;
    EXPECT_EQ(kt::readWritten(state), "last_processed_day 20260309\n");
    EXPECT_EQ(kt::readWritten(batch.work().file("kelbortgb")),
              fu::tgbLine("1001") + fu::tgbLine("1002"));
}

// A missed night that fails names the follow-ups of its own day that stand
// without their credit, not those of yesterday.
TEST(WrapperCatchUp, AFailedMissedNightNamesItsOwnFollowUpsWithoutCredit) {
    fu::Batch batch;
    batch.load(fu::twoPeopleNight());
    batch.run();
    // 1001's KF credit is lost from the day record.
    batch.load(
        "UPDATE $(SCHEMA).Qrv327Tag SET TagTgb = NULL, TagTgs = 0 WHERE TagPnr = '1001' AND "
        "TagTag = CONVERT(datetime, '20260309', 112)\n");
    batch.arm({{"ServerTime", "2026-03-12 02:30:00"}, {"FailOn", "SELECT FcdFlg FROM"}});
    kt::RunResult r = kt::runProgram(
        {kt::nightlyBinary(), "--day", "20260309", batch.work().file("kelbor.ini"), "XXX", "D"},
        batch.work().path(), {{"KELBOR", kt::startable(kt::kelborBinary(), kt::nightlyBinary())}},
        "", {"KELBOR_DBG"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("accounting day 2026-03-09 (a missed night, caught up), 2 day records"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("; without credit: 1001 2026-03-09 KF: booked, its credit is missing"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("; missed night 20260309 failed\n"), std::string::npos) << r.out;
    EXPECT_FALSE(kt::fileExists(batch.work().file("kelbor-nightly.state")));
}

}  // namespace
