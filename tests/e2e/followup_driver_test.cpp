// The run driver: the parameter file "kelbortgb", the walk over the
// accounting day's records, a failing previous-day cursor, and the console
// trace under KELBOR_DBG, a full disk, and a run killed half-way.
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/followup_e2e.h"

namespace {

using fu::booking;
using fu::day;
using fu::type;
using Bookings = std::vector<std::string>;

TEST(FollowUpDriver, ParameterLineForms) {
    const struct {
        const char* param2;
        std::string tgb;
    } cases[] = {
        {"QUORV",
         "QRV                 ,1001    ,09.03.2026\nQRV                 ,1003    ,09.03.2026\n"},
        {"XXX", "1001    ,09.03.2026\n1003    ,09.03.2026\n"},
        {"quorv", "1001    ,09.03.2026\n1003    ,09.03.2026\n"},
        {"QUORVX", "1001    ,09.03.2026\n1003    ,09.03.2026\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.param2);
        fu::Batch batch;
        // 1002 has no earlier message and gets no line.
        batch.load(fu::commonTypes() + fu::sickSinceFriday("1001") + fu::accDay("1002") +
                   fu::sickSinceFriday("1003"));
        fu::Outcome o = batch.run(c.param2);
        EXPECT_EQ(o.tgb, c.tgb);
    }
}

TEST(FollowUpDriver, DateFieldIsDayMonthYearOfTheAccountingDay) {
    const struct {
        const char* serverTime;
        const char* accDay;
        const char* prevDay;
        const char* field;
    } cases[] = {
        {"2009-09-18 01:00:00", "20090917", "20090916", "17.09.2009"},
        {"2026-01-01 00:00:00", "20251231", "20251230", "31.12.2025"},
        {"2024-03-01 23:59:59", "20240229", "20240228", "29.02.2024"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.serverTime);
        fu::Batch batch(std::map<std::string, std::string>{{"ServerTime", c.serverTime}});
        batch.load(fu::commonTypes() + day("1001", c.prevDay, "KR") +
                   booking("1001", c.prevDay, "00:00:00", 1, "KR") +
                   fu::accDay("1001", 480, c.accDay) + fu::rule("1001", {}, c.accDay));
        fu::Outcome o = batch.run();
        EXPECT_EQ(o.tgb, fu::tgbLine("1001", c.field));
    }
}

TEST(FollowUpDriver, ParameterFileIsReplacedEvenWhenNothingQualifies) {
    const struct {
        const char* name;
        std::string fixture;
    } cases[] = {
        {"no day record of the accounting day", fu::commonTypes() + day("1001", "20260306", "KR")},
        {"no earlier message", fu::commonTypes() + day("1001", "20260306") + fu::accDay("1001")},
        {"a follow-up refused", fu::commonTypes() + fu::sickSinceFriday("1001") +
                                    booking("1001", fu::kAccDay, "00:00:00", 1, "UR")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fu::Batch batch;
        batch.load(c.fixture);
        kt::writeFile(batch.work().file("kelbortgb"), "4711    ,01.01.2020\n");
        fu::Outcome o = batch.run();
        EXPECT_TRUE(o.tgbExists);
        EXPECT_EQ(o.tgb, "");
    }
}

TEST(FollowUpDriver, RunThatDoesNotConnectKeepsTheParameterFile) {
    fu::Batch batch;
    kt::writeConfig(batch.work().file("kelbor.ini"), "demo", "demo-pw", "NoSuchSource", "qrv");
    kt::writeFile(batch.work().file("kelbortgb"), kt::asWritten("4711    ,01.01.2020\n"));
    fu::Outcome o = batch.run();
    EXPECT_EQ(o.tgb, "4711    ,01.01.2020\n");
}

TEST(FollowUpDriver, PreviousDayCursorFailures) {
    const struct {
        const char* name;
        std::map<std::string, std::string> faults;
        size_t handled;  // records handled before the failure
        std::string log;
    } cases[] = {
        {"open fails",
         {{"FailOn", "DATEADD"}},
         0,
         "Fehler(Cur_open): Tagsatz(+TgbSol) lesen! RC:-1\n"
         "Fehler(Cur_Read): Tagsatz(+TgbSol) lesen! RC:-1\n"},
        {"fetch fails after the first record",
         {{"FailFetchOn", "DATEADD"}, {"FailFetchAfter", "1"}},
         1,
         "Fehler(Cur_Read): Tagsatz(+TgbSol) lesen! RC:-1\n"},
        {"fetch fails after the second record",
         {{"FailFetchOn", "DATEADD"}, {"FailFetchAfter", "2"}},
         2,
         "Fehler(Cur_Read): Tagsatz(+TgbSol) lesen! RC:-1\n"},
    };
    const std::vector<std::string> people{"1001", "1002", "1003"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fu::Batch batch;
        std::string fixture = fu::commonTypes();
        for (const auto& p : people) fixture += fu::sickSinceFriday(p);
        batch.load(fixture);
        batch.arm(c.faults);
        fu::Outcome o = batch.run();

        // The records come in the server's order: whichever were handled
        // got their follow-up and their line, in that order; the rest none.
        std::vector<std::string> handled;
        for (size_t pos = 0; pos < o.tgb.size(); pos = o.tgb.find('\n', pos) + 1) {
            handled.push_back(o.tgb.substr(pos, 4));
        }
        ASSERT_EQ(handled.size(), c.handled);
        std::string expectedLog;
        std::string expectedTgb;
        for (const auto& p : handled) {
            expectedLog += fu::generated(p, 1, "KF");
            expectedTgb += fu::tgbLine(p);
        }
        for (const auto& p : people) {
            bool done = std::find(handled.begin(), handled.end(), p) != handled.end();
            EXPECT_EQ(batch.accBookings(p), done ? Bookings{"00:00:00 1 KF"} : Bookings{}) << p;
        }
        EXPECT_EQ(o.tgb, expectedTgb);
        EXPECT_EQ(o.log, expectedLog + c.log);
    }
}

std::string dump(const std::string& tag, const std::string& von, const std::string& uhr,
                 const std::string& end, int sol, const std::string& tgb, int tgs) {
    return "\nTagPnr: 1001\nTagTag: " + tag + "\nTagVon: " + von + "\nTagUhr: " + uhr +
           "\nTagBis: " + von + "\nTagEnd: " + end + "\nTagSol: " + std::to_string(sol) +
           "\nTagTgb: " + tgb + "\nTagTgs: " + std::to_string(tgs) +
           "\nTagHtv: \nTagHvs: 0\nTagHtn: \nTagHns: 0\n\n";
}

TEST(FollowUpDriver, ConsoleTraceUnderKelborDbg) {
    // 1001 sick on Friday, and a doctor's visit running to Friday's end whose
    // follow-up AF gives way to the KF the daily rule just generated.
    fu::Batch batch;
    batch.load(fu::commonTypes() + fu::day("1001", "20260306", "KR") +
               booking("1001", "20260306", "00:00:00", 1, "KR") +
               booking("1001", "20260306", "15:00:00", 24, "AR") + fu::accDay("1001") +
               fu::rule("1001"));
    fu::Outcome o = batch.run("XXX", "X", {{"KELBOR_DBG", ""}}, {});

    const std::string accBefore = dump("20260309", "20260309", "120000", "120000", 480, "", 0);
    const std::string accAfter = dump("20260309", "20260309", "120000", "120000", 480, "KF", 480);
    const std::string last = dump("20260306", "20260306", "060000", "220000", 480, "KR", 0);
    EXPECT_EQ(o.result.out,
              "\nLesen TagSatz!\n"
              "aktueller Tagsatz!!!\n" +
                  accBefore + "\nTag mit Tagesmeldungen gefunden !\n" + last +
                  "Tag mit letzter Meldung gefungen! Pnr: 1001 Datum: 20260306!\n"
                  "\nBeginn Meldungsverarbeitung!\n"
                  "aktueller Tagsatz!!!\n" +
                  accBefore + "letzter Tagsatz!!!\n" + last +
                  "Beginn Meldung generieren!\n"
                  "Ende Meldung generieren!\n"
                  "Folgemeldung zu Mld AR einlesen!\n"
                  "Meldungsart (Satz) zu Folgemld AF lesen!\n"
                  "\nEnde Meldungsverarbeitung!\n"
                  "aktueller Tagsatz!!!\n" +
                  accAfter + "letzter Tagsatz!!!\n" + last +
                  "Parametersatz in Datei schreiben: 1001    ,09.03.2026\n!\n");
    // The log switch is off: the trace goes to the console only.
    EXPECT_EQ(kt::readWritten(batch.work().file("kelbor.log")), "");
}

TEST(FollowUpDriver, NoConsoleOutputWithoutKelborDbg) {
    fu::Batch batch;
    batch.load(fu::commonTypes() + fu::sickSinceFriday("1001"));
    fu::Outcome o = batch.run();
    EXPECT_EQ(o.result.out, "");
    EXPECT_EQ(o.log, fu::generated("1001", 1, "KF"));
}

// A library preloaded into the batch that plays a full disk for
// kelbortgb (or the file KELBOR_FULL_FILE names): KELBOR_ROOM bytes fit,
// then writes fail with ENOSPC (the one that crosses the limit writes what
// still fits); KELBOR_FAIL_CLOSE makes its close fail with EIO. Every other
// file is left alone.
const char kFullDisk[] = R"(
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int isParameterFile(int fd) {
    char link[64], path[4096], name[256];
    const char* file = getenv("KELBOR_FULL_FILE");
    snprintf(name, sizeof name, "/%s", file != NULL ? file : "kelbortgb");
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof path - 1);
    size_t len = strlen(name);
    if (n < (ssize_t)len) return 0;
    path[n] = 0;
    return strcmp(path + n - len, name) == 0;
}

static long written;

ssize_t write(int fd, const void* buf, size_t count) {
    ssize_t (*real)(int, const void*, size_t) =
        (ssize_t (*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    const char* room = getenv("KELBOR_ROOM");
    if (room == NULL || !isParameterFile(fd)) return real(fd, buf, count);
    long left = atol(room) - written;
    if (left <= 0) {
        errno = ENOSPC;
        return -1;
    }
    if ((long)count > left) count = (size_t)left;
    ssize_t n = real(fd, buf, count);
    if (n > 0) written += n;
    return n;
}

// The log is written through stdio, whose own writes cannot be interposed:
// its calls fail instead, as they do on a full disk (with no room at all).
static int streamIsFull(FILE* stream) {
    const char* room = getenv("KELBOR_ROOM");
    if (room == NULL || atol(room) > 0 || !isParameterFile(fileno(stream))) return 0;
    errno = ENOSPC;
    return 1;
}

int fputs(const char* text, FILE* stream) {
    int (*real)(const char*, FILE*) = (int (*)(const char*, FILE*))dlsym(RTLD_NEXT, "fputs");
    return streamIsFull(stream) ? EOF : real(text, stream);
}

int vfprintf(FILE* stream, const char* format, va_list ap) {
    int (*real)(FILE*, const char*, va_list) =
        (int (*)(FILE*, const char*, va_list))dlsym(RTLD_NEXT, "vfprintf");
    return streamIsFull(stream) ? -1 : real(stream, format, ap);
}

// A build with fortified calls (_FORTIFY_SOURCE) calls this instead.
int __vfprintf_chk(FILE* stream, int flag, const char* format, va_list ap) {
    int (*real)(FILE*, int, const char*, va_list) =
        (int (*)(FILE*, int, const char*, va_list))dlsym(RTLD_NEXT, "__vfprintf_chk");
    return streamIsFull(stream) ? -1 : real(stream, flag, format, ap);
}

int close(int fd) {
    int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, "close");
    int fail = getenv("KELBOR_FAIL_CLOSE") != NULL && isParameterFile(fd);
    int rc = real(fd);
    if (fail) {
        errno = EIO;
        return -1;
    }
    return rc;
}
)";

std::string threeSick() {
    return fu::commonTypes() + fu::sickSinceFriday("1001") + fu::sickSinceFriday("1002") +
           fu::sickSinceFriday("1003");
}

TEST(FollowUpDriver, FailedWriteOrCloseOfTheParameterFileIsLogged) {
    kt::TempDir build;
    kt::writeFile(build.file("full.c"), kFullDisk);
    kt::RunResult cc = kt::runProgram({"/usr/bin/cc", "-shared", "-fPIC", "-o",
                                       build.file("full.so"), build.file("full.c"), "-ldl"},
                                      build.path());
    ASSERT_EQ(cc.exitCode, 0) << cc.err;
    std::string preload = build.file("full.so");
    if (KELBOR_SANITIZED) preload = std::string(KELBOR_LIBASAN) + ":" + preload;

    const std::string all = fu::generated("1001", 1, "KF") + fu::generated("1002", 1, "KF") +
                            fu::generated("1003", 1, "KF");
    const struct {
        const char* name;
        std::map<std::string, std::string> env;
        std::string log;
        std::string tgb;
        std::string err = "";
    } cases[] = {
        // The first failure is logged, once; the file keeps whole lines.
        {"room for one line",
         {{"KELBOR_ROOM", "20"}},
         fu::generated("1001", 1, "KF") + fu::generated("1002", 1, "KF") +
             "Fehler: fwrite(kelbortgb)! RC:28\n" + fu::generated("1003", 1, "KF"),
         fu::tgbLine("1001")},
        {"room for one line and a half",
         {{"KELBOR_ROOM", "30"}},
         fu::generated("1001", 1, "KF") + fu::generated("1002", 1, "KF") +
             "Fehler: fwrite(kelbortgb)! RC:28\n" + fu::generated("1003", 1, "KF"),
         fu::tgbLine("1001")},
        {"close fails",
         {{"KELBOR_FAIL_CLOSE", "1"}},
         all + "Fehler: fclose(kelbortgb)! RC:5\n",
         fu::tgbLine("1001") + fu::tgbLine("1002") + fu::tgbLine("1003")},
        // A log that cannot be written is told once where the operator sees it.
        {"full disk under the log",
         {{"KELBOR_FULL_FILE", "kelbor.log"}, {"KELBOR_ROOM", "0"}},
         "",
         fu::tgbLine("1001") + fu::tgbLine("1002") + fu::tgbLine("1003"),
         "Fehler: fwrite(kelbor.log)! RC:28\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fu::Batch batch;
        batch.load(threeSick());
        auto env = c.env;
        env.emplace("LD_PRELOAD", preload);
        fu::Outcome o = batch.run("XXX", "D", env);
        EXPECT_EQ(o.log, c.log);
        EXPECT_EQ(o.tgb, c.tgb);
        EXPECT_EQ(o.result.err, c.err);
        // Bookings are made whatever becomes of the file.
        EXPECT_EQ(batch.accBookings("1003"), Bookings{"00:00:00 1 KF"});
    }
}

// A disk that fills up in the middle of a parameter line: the file is cut
// back to where that line began, counting the bytes the platform wrote (on
// Windows each line ends with CR LF, two bytes for the one of the text).
// The file size limit (RLIMIT_FSIZE, which Wine's processes obey too) plays
// the full disk; it falls into the second line on either platform. The log
// stays off, since the limit would hold for it as well, and on the stand-in
// route the batch itself writes the database file: only the FreeTDS routes,
// where a server of its own does, can run it.
TEST(FollowUpDriver, DiskFullInTheMiddleOfALineLeavesOnlyWholeLines) {
    if (!kt::onFreeTds()) GTEST_SKIP() << "the batch writes the database file on this route";
    fu::Batch batch;
    batch.load(threeSick());
    // The configuration file is written before the limit holds.
    kt::writeConfig(batch.work().file("kelbor.ini"), "demo", "demo-pw", batch.db().dsn(), "qrv");
    const std::size_t lineBytes = kt::asWritten(fu::tgbLine("1001")).size();
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = lineBytes + lineBytes / 2;
    signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    fu::Outcome o = batch.run("XXX", "X");
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_EQ(o.result.exitCode, 0) << o.result.err;
    EXPECT_EQ(o.tgb, fu::tgbLine("1001"));
    // The bookings are made whatever becomes of the file.
    EXPECT_EQ(batch.accBookings("1003"), Bookings{"00:00:00 1 KF"});
}

// A run killed half-way leaves a log and a parameter file that list what it
// did up to then. The stand-in's statement trace goes into a FIFO, so the
// batch stalls once the pipe is full; it is killed there.
TEST(FollowUpDriver, RunKilledHalfWayLeavesWhatItDid) {
    fu::Batch batch;
    std::string fixture = fu::commonTypes();
    const int people = 40;
    for (int p = 0; p < people; ++p) fixture += fu::sickSinceFriday(std::to_string(2000 + p));
    batch.load(fixture);
    const std::string fifo = batch.work().file("trace.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    kt::StandinDb traced(batch.db(), {{"ServerTime", fu::kServerTime}, {"Trace", fifo}});
    kt::writeConfig(batch.work().file("kelbor.ini"), "demo", "demo-pw", traced.dsn(), "qrv");
    // The shell holds the FIFO open for reading and writing, so it never
    // blocks the batch's opening and never reads an end; it reads the first
    // 100 statements, then stops reading and kills the stalled batch.
    const std::string script =
        "exec 3<>trace.fifo\n"
        "\"$0\" kelbor.ini XXX D &\n"
        "pid=$!\n"
        "timeout 60 head -n 100 <&3 >/dev/null\n"
        "sleep 1\n"
        "kill -TERM $pid\n"
        "wait $pid\n"
        "echo \"status $?\"\n";
    kt::RunResult r = kt::runProgram({"/bin/sh", "-c", script, kt::startable(kt::kelborBinary())},
                                     batch.work().path(), {}, "", {"KELBOR_DBG"});
    ASSERT_EQ(r.out, "status 143\n") << r.err;

    int booked = 0;
    for (int p = 0; p < people; ++p) {
        if (batch.accBookings(std::to_string(2000 + p)).size() == 1) ++booked;
    }
    ASSERT_GT(booked, 5);
    ASSERT_LT(booked, people);
    // Every entry and line is in the files up to the booking being made
    // when the batch stopped.
    std::string log = fu::withoutTimeStamp(kt::readWritten(batch.work().file("kelbor.log")));
    std::string tgb = kt::readWritten(batch.work().file("kelbortgb"));
    std::string expectedLog, expectedTgb;
    for (int p = 0; p < booked - 1; ++p) {
        expectedLog += fu::generated(std::to_string(2000 + p), 1, "KF");
        expectedTgb += fu::tgbLine(std::to_string(2000 + p));
    }
    EXPECT_EQ(log.substr(0, expectedLog.size()), expectedLog);
    EXPECT_LE(log.size(), expectedLog.size() + fu::generated("2099", 1, "KF").size());
    EXPECT_EQ(tgb.substr(0, expectedTgb.size()), expectedTgb);
    EXPECT_LE(tgb.size(), expectedTgb.size() + fu::tgbLine("2099").size());
}

}  // namespace
