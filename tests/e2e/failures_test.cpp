// The fault-injection matrix: every statement the batch sends fails once,
// and every cursor breaks off in the middle, in runs of the real binary on
// the stand-in. Each run must exit 0, leave exactly the log entries its
// failure handling prescribes, and change the database only as far as the
// run goes on after the failure.
//
// Two people reach every statement. 1001 was sick on Friday: the daily rule
// carries KR forward as KF; on the accounting day a booking without code is
// passed over, GL gives way and its cancellation meets an older cancelled
// booking at the same time (count 2627, delete, second update). 1002 went to
// the doctor on Friday afternoon (AR, function 24): the search finds the
// hourly day and the hourly rule carries AF forward.
//
// The batch runs on a second data source with the fault keys, on the same
// database file; the test loads and checks through the first, clean one.
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/followup_e2e.h"

namespace {

using Bookings = std::vector<std::string>;

// The log entries, as the batch words them.
std::string detail(const std::string& pnr, const std::string& day) {
    return "RC:-1 Pnr:" + pnr + " Tag:" + day + "\n";
}
std::string prevDayOpen() {
    return "Fehler(Cur_open): Tagsatz(+TgbSol) lesen! RC:-1\n";
}
std::string prevDayRead() {
    return "Fehler(Cur_Read): Tagsatz(+TgbSol) lesen! RC:-1\n";
}
std::string lastDayOpen(const std::string& pnr) {
    return "Fehler(Cur_open): Buchungen(TagesMld Vortag) lesen! " + detail(pnr, "20260306");
}
std::string lastDayRead(const std::string& pnr) {
    return "Fehler(Cur_Read): Buchungen(TagesMld Vortag) lesen " + detail(pnr, "20260306");
}
std::string accDayOpen(const std::string& pnr) {
    return "Fehler(Cur_open): Buchungen(TagesMld AbrTag) lesen! " + detail(pnr, fu::kAccDay);
}
std::string accDayRead(const std::string& pnr) {
    return "Fehler(Cur_Read): Buchungen(TagesMld AbrTag) lesen " + detail(pnr, fu::kAccDay);
}
std::string hourlyOpen(const std::string& pnr) {
    return "Fehler(Cur_open): Buchungen(StdMld) lesen! " + detail(pnr, "20260306");
}
std::string hourlyRead(const std::string& pnr) {
    return "Fehler(Cur_Read): Buchungen(StdMld) lesen " + detail(pnr, "20260306");
}
std::string searchFailed(const std::string& pnr) {
    return "Fehler(Search): letzten Meldungstag lesen " + detail(pnr, fu::kAccDay);
}
std::string cancelFailed(int attempt, int rc) {
    return "Fehler(Upd" + std::to_string(attempt) +
           "): Akt. BchSatz(Storno) updaten RC:" + std::to_string(rc) +
           " Pnr:1001 Tag:20260309 Fcd:GL Fkt:1\n";
}
std::string oldCancellationDeleted() {
    return "Info: BchSatz(Storno) gel\xF6"
           "scht RC:0 Pnr:1001 Tag:20260309 Fcd:GL Fkt:45 \n";
}
std::string deleteFailed() {
    return "Fehler(Del): Bchsatz(Storno) loeschen RC:-1 Pnr:1001 Tag:20260309 Fcd:GL Fkt:45 \n";
}
std::string ruleFailed(const std::string& pnr) {
    return "Fehler(Azv_Read): Arbeitszeitvorgaben lesen " + detail(pnr, fu::kAccDay);
}
std::string followUpTypeFailed(const std::string& pnr, const std::string& fcd) {
    return "Fehler(Read): Meldungsart(Fcd) zur FolgeMld lesen RC:-1 Pnr:" + pnr + " Fcd:" + fcd +
           "\n";
}
std::string followUpCodeFailed(const std::string& pnr, const std::string& fcd) {
    return "Fehler(Read): Folgemeldungsart lesen RC:-1 Pnr:" + pnr + " Fcd:" + fcd + "\n";
}
std::string bookingTypeFailed() {
    return "Fehler(Read): Meldungsartsatz(Fcd) zur BchMld lesen RC:-1 Pnr:1001 Fcd:GL\n";
}

// What 1001's and 1002's accounting day hold afterwards.
struct Person {
    Bookings bookings;
    std::string slots;
};
const Person k1001Untouched{{"07:00:00 1 ", "08:00:00 1 GL", "08:00:00 45 UR"}, ":0 :0 :0"};
const Person k1001Done{{"00:00:00 1 KF", "07:00:00 1 ", "08:00:00 45 GL"}, "KF:480 :0 :0"};
// The follow-up generated beside GL, which kept its function.
const Person k1001BesideGl{{"00:00:00 1 KF", "07:00:00 1 ", "08:00:00 1 GL", "08:00:00 45 UR"},
                           "KF:480 :0 :0"};
const Person k1002Untouched{{}, ":0 :0 :0"};
const Person k1002Done{{"00:00:00 2 AF"}, ":0 AF:240 :0"};

const std::string kDone1001 = oldCancellationDeleted() + fu::generated("1001", 1, "KF");
const std::string kDone1002 = fu::generated("1002", 2, "AF");

struct Case {
    const char* statement;
    const char* failure;
    std::map<std::string, std::string> faults;
    std::string log;
    std::string tgb;
    Person p1001;
    Person p1002;
};

// The fragments pick one statement each (FailOn and FailFetchOn match
// without regard to case). Cursors 1 and 2 run the same text and differ in
// the day; the two counts of the cancellation and the search differ after
// the date.
const std::string kLastDayMsgs = "'20260306', 112) AND (BchFkt = 1";
const std::string kAccDayMsgs = "'20260309', 112) AND (BchFkt = 1";
const std::string kCancelCount =
    "COUNT(*) FROM QRV.Qrv321Bch WHERE BchPnr = '1001' AND BchVon = CONVERT(datetime, "
    "'20260309', 112) AND CONVERT";
const std::string kDailyCount = "112) AND BchFkt = 1";
const std::string kHourlyCount = "BchFkt = 0)";
const std::string kFollowUpCode = "SELECT FcdFlg FROM";
const std::string kMessageType = "COALESCE(FcdFcd, -9)";
const std::string kOneMessageType = "-9), FcdFlg FROM QRV.Qrv131Fcd WHERE FcdNum = ";

std::vector<Case> matrix() {
    const std::string both = fu::tgbLine("1001") + fu::tgbLine("1002");
    const std::string only1001 = fu::tgbLine("1001");
    const std::string only1002 = fu::tgbLine("1002");
    return {
        {"none", "", {}, kDone1001 + kDone1002, both, k1001Done, k1002Done},
        // An informational message (a trigger's PRINT) with every statement,
        // the writes included: they did their work, and the run is as clean.
        {"every statement",
         "succeeds with an informational message",
         {{"InfoOn", "QRV"}},
         kDone1001 + kDone1002,
         both,
         k1001Done,
         k1002Done},
        // The run asks for row counts right after connecting; when the
        // server refuses, the run goes on as on a server that counts.
        {"row-count request",
         "execution",
         {{"FailOn", "SET NOCOUNT OFF"}},
         "Fehler(DB-Set): NOCOUNT OFF setzen! RC:-1\n" + kDone1001 + kDone1002,
         both,
         k1001Done,
         k1002Done},
        {"previous-day cursor",
         "execution",
         {{"FailOn", "DATEADD(dd, -1"}},
         prevDayOpen() + prevDayRead(),
         "",
         k1001Untouched,
         k1002Untouched},
        {"previous-day cursor",
         "fetch after the first record",
         {{"FailFetchOn", "DATEADD(dd, -1"}, {"FailFetchAfter", "1"}},
         kDone1001 + prevDayRead(),
         only1001,
         k1001Done,
         k1002Untouched},
        // A failed statement of the search ends it without a find: it is
        // never taken for a day without messages.
        {"earlier-days cursor",
         "execution",
         {{"FailOn", "ORDER BY TagTag DESC"}},
         searchFailed("1001") + searchFailed("1002"),
         "",
         k1001Untouched,
         k1002Untouched},
        // 1001's newest earlier day is Sunday without messages; 1002's is
        // Friday, found with the first row.
        {"earlier-days cursor",
         "fetch after the first day",
         {{"FailFetchOn", "ORDER BY TagTag DESC"}, {"FailFetchAfter", "1"}},
         searchFailed("1001") + kDone1002,
         only1002,
         k1001Untouched,
         k1002Done},
        {"day-message count",
         "execution",
         {{"FailOn", kDailyCount}},
         searchFailed("1001") + searchFailed("1002"),
         "",
         k1001Untouched,
         k1002Untouched},
        {"day-message count",
         "fetch",
         {{"FailFetchOn", kDailyCount}},
         searchFailed("1001") + searchFailed("1002"),
         "",
         k1001Untouched,
         k1002Untouched},
        // Both searches count hourly messages on a day without day
        // messages first: 1001's Sunday, 1002's Friday.
        {"hourly-message count",
         "execution",
         {{"FailOn", kHourlyCount}},
         searchFailed("1001") + searchFailed("1002"),
         "",
         k1001Untouched,
         k1002Untouched},
        {"hourly-message count",
         "fetch",
         {{"FailFetchOn", kHourlyCount}},
         searchFailed("1001") + searchFailed("1002"),
         "",
         k1001Untouched,
         k1002Untouched},
        {"message-type lookup",
         "execution, every type",
         {{"FailOn", kMessageType}},
         searchFailed("1001") + followUpTypeFailed("1002", "AF"),
         "",
         k1001Untouched,
         k1002Untouched},
        {"message-type lookup",
         "fetch, every type",
         {{"FailFetchOn", kMessageType}},
         searchFailed("1001") + followUpTypeFailed("1002", "AF"),
         "",
         k1001Untouched,
         k1002Untouched},
        {"message-type lookup",
         "execution, the follow-up type KF",
         {{"FailOn", kOneMessageType + "'KF'"}},
         followUpTypeFailed("1001", "KF") + kDone1002,
         only1002,
         k1001Untouched,
         k1002Done},
        {"message-type lookup",
         "execution, the accounting day's booking GL",
         {{"FailOn", kOneMessageType + "'GL'"}},
         bookingTypeFailed() + fu::generated("1001", 1, "KF") + kDone1002,
         both,
         k1001BesideGl,
         k1002Done},
        // 1001's KR goes through the daily rule, 1002's AR through the
        // hourly one: each failed lookup is logged once, the booking passed over.
        {"follow-up code lookup",
         "execution",
         {{"FailOn", kFollowUpCode}},
         followUpCodeFailed("1001", "KR") + followUpCodeFailed("1002", "AR"),
         "",
         k1001Untouched,
         k1002Untouched},
        {"follow-up code lookup",
         "fetch",
         {{"FailFetchOn", kFollowUpCode}},
         followUpCodeFailed("1001", "KR") + followUpCodeFailed("1002", "AR"),
         "",
         k1001Untouched,
         k1002Untouched},
        {"booking cursor 1 (day messages of the last message day)",
         "execution",
         {{"FailOn", kLastDayMsgs}},
         lastDayOpen("1001") + lastDayRead("1001") + lastDayOpen("1002") + lastDayRead("1002") +
             kDone1002,
         only1002,
         k1001Untouched,
         k1002Done},
        {"booking cursor 1 (day messages of the last message day)",
         "fetch after the first booking",
         {{"FailFetchOn", kLastDayMsgs}, {"FailFetchAfter", "1"}},
         kDone1001 + lastDayRead("1001") + kDone1002,
         both,
         k1001Done,
         k1002Done},
        {"booking cursor 2 (day messages of the accounting day)",
         "execution",
         {{"FailOn", kAccDayMsgs}},
         accDayOpen("1001") + accDayRead("1001") + fu::generated("1001", 1, "KF") +
             accDayOpen("1002") + accDayRead("1002") + kDone1002,
         both,
         k1001BesideGl,
         k1002Done},
        // The booking without code is passed over; the next fetch breaks off
        // before GL is seen.
        {"booking cursor 2 (day messages of the accounting day)",
         "fetch after the first booking",
         {{"FailFetchOn", kAccDayMsgs}, {"FailFetchAfter", "1"}},
         accDayRead("1001") + fu::generated("1001", 1, "KF") + kDone1002,
         both,
         k1001BesideGl,
         k1002Done},
        {"booking cursor 3 (hourly messages)",
         "execution",
         {{"FailOn", "BchFkt <> 45"}},
         kDone1001 + hourlyOpen("1001") + hourlyRead("1001") + hourlyOpen("1002") +
             hourlyRead("1002"),
         only1001,
         k1001Done,
         k1002Untouched},
        // Only the newest booking is ever fetched: the first fetch is the
        // middle of this cursor.
        {"booking cursor 3 (hourly messages)",
         "first fetch",
         {{"FailFetchOn", "BchFkt <> 45"}},
         kDone1001 + hourlyRead("1001") + hourlyRead("1002"),
         only1001,
         k1001Done,
         k1002Untouched},
        {"cancellation's count",
         "execution",
         {{"FailOn", kCancelCount}},
         cancelFailed(1, -1) + fu::generated("1001", 1, "KF") + kDone1002,
         both,
         k1001BesideGl,
         k1002Done},
        // FreeTDS reads a plain result up to its first row when it executes
        // the statement, so an error in place of the count's row fails the
        // execution there: RC:-1 (docs/routes.md).
        {"cancellation's count",
         "fetch (native 50000)",
         {{"FailFetchOn", kCancelCount}},
         cancelFailed(1, kt::onFreeTds() ? -1 : 50000) + fu::generated("1001", 1, "KF") + kDone1002,
         both,
         k1001BesideGl,
         k1002Done},
        // A driver-made error carries native 0: still a failure, never success.
        {"cancellation's count",
         "fetch (native 0)",
         {{"FailFetchOn", kCancelCount}, {"FailNative", "0"}},
         cancelFailed(1, -1) + fu::generated("1001", 1, "KF") + kDone1002,
         both,
         k1001BesideGl,
         k1002Done},
        {"cancellation's update",
         "execution",
         {{"FailOn", "QRV321Bch SET"}},
         oldCancellationDeleted() + cancelFailed(2, -1) + fu::generated("1001", 1, "KF") +
             kDone1002,
         both,
         {{"00:00:00 1 KF", "07:00:00 1 ", "08:00:00 1 GL"}, "KF:480 :0 :0"},
         k1002Done},
        {"delete of the old cancellation",
         "execution",
         {{"FailOn", "DELETE FROM"}},
         deleteFailed() + cancelFailed(2, 2627) + fu::generated("1001", 1, "KF") + kDone1002,
         both,
         k1001BesideGl,
         k1002Done},
        {"insert",
         "execution (native 50000)",
         {{"FailOn", "INSERT INTO"}},
         oldCancellationDeleted() + fu::inserted("1001", 1, "KF", 50000) + fu::updated("1001") +
             fu::inserted("1002", 2, "AF", 50000) + fu::updated("1002"),
         both,
         {{"07:00:00 1 ", "08:00:00 45 GL"}, "KF:480 :0 :0"},
         {{}, ":0 AF:240 :0"}},
        {"insert",
         "execution (native 0)",
         {{"FailOn", "INSERT INTO"}, {"FailNative", "0"}},
         oldCancellationDeleted() + fu::inserted("1001", 1, "KF", -1) + fu::updated("1001") +
             fu::inserted("1002", 2, "AF", -1) + fu::updated("1002"),
         both,
         {{"07:00:00 1 ", "08:00:00 45 GL"}, "KF:480 :0 :0"},
         {{}, ":0 AF:240 :0"}},
        {"working-time rule lookup",
         "execution",
         {{"FailOn", "FROM QRV.Qrv329Ztg"}},
         oldCancellationDeleted() + fu::inserted("1001", 1, "KF") + ruleFailed("1001") +
             fu::updated("1001") + fu::inserted("1002", 2, "AF") + ruleFailed("1002") +
             fu::updated("1002"),
         both,
         {k1001Done.bookings, "KF:0 :0 :0"},
         {k1002Done.bookings, ":0 AF:0 :0"}},
        {"working-time rule lookup",
         "fetch",
         {{"FailFetchOn", "FROM QRV.Qrv329Ztg"}},
         oldCancellationDeleted() + fu::inserted("1001", 1, "KF") + ruleFailed("1001") +
             fu::updated("1001") + fu::inserted("1002", 2, "AF") + ruleFailed("1002") +
             fu::updated("1002"),
         both,
         {k1001Done.bookings, "KF:0 :0 :0"},
         {k1002Done.bookings, ":0 AF:0 :0"}},
        {"day update",
         "execution",
         {{"FailOn", "QRV327Tag SET"}},
         oldCancellationDeleted() + fu::inserted("1001", 1, "KF") + fu::updated("1001", -1) +
             fu::inserted("1002", 2, "AF") + fu::updated("1002", -1),
         both,
         {k1001Done.bookings, ":0 :0 :0"},
         {k1002Done.bookings, ":0 :0 :0"}},
    };
}

// Every day record but the accounting day's, which no run may change.
std::vector<std::vector<std::string>> otherDays(kt::StandinDb& db) {
    return db.query(
        "SELECT TagPnr, CONVERT(char(8), TagTag, 112), COALESCE(TagTgb, ''), TagTgs, "
        "COALESCE(TagHtv, ''), TagHvs, COALESCE(TagHtn, ''), TagHns FROM QRV.Qrv327Tag WHERE "
        "TagTag <> CONVERT(datetime, '20260309', 112) ORDER BY TagPnr, TagTag");
}

TEST(FailureMatrix, EveryStatementFailsOnceAndTheRunGoesOnAsPrescribed) {
    for (const Case& c : matrix()) {
        SCOPED_TRACE(std::string(c.statement) + ": " + c.failure);
        fu::Batch batch;
        batch.load(fu::twoPeopleNight());
        auto faults = c.faults;
        faults.emplace("ServerTime", fu::kServerTime);
        kt::StandinDb faulty(batch.db(), faults);
        kt::writeConfig(batch.work().file("kelbor.ini"), "demo", "demo", faulty.dsn(), "qrv");
        auto before = otherDays(batch.db());

        fu::Outcome o = batch.run();
        EXPECT_EQ(o.result.exitCode, 0);
        EXPECT_EQ(o.result.out, "");
        EXPECT_EQ(o.result.err, "");
        EXPECT_EQ(o.log, c.log);
        EXPECT_TRUE(o.tgbExists);
        EXPECT_EQ(o.tgb, c.tgb);
        EXPECT_EQ(batch.accBookings("1001"), c.p1001.bookings);
        EXPECT_EQ(batch.slots("1001"), c.p1001.slots);
        EXPECT_EQ(batch.accBookings("1002"), c.p1002.bookings);
        EXPECT_EQ(batch.slots("1002"), c.p1002.slots);
        EXPECT_EQ(otherDays(batch.db()), before);
        // Earlier days' bookings are never touched.
        EXPECT_EQ(batch.bookings("1001").size(), c.p1001.bookings.size() + 1);
        EXPECT_EQ(batch.bookings("1002").size(), c.p1002.bookings.size() + 1);
    }
}

// A deadlock on the follow-up code lookup, in the daily rule (1001's KR)
// and in the hourly rule (1002's AR): logged, nothing carried; the re-run
// the log calls for carries both. A type that does not exist (100) stays
// silent, as a code without follow-up does.
TEST(FollowUpCodeLookup, FailureIsLoggedInBothRulesAndARerunCarriesTheBooking) {
    fu::Batch batch;
    batch.load(fu::twoPeopleNight());
    kt::StandinDb deadlocked(
        batch.db(),
        {{"ServerTime", fu::kServerTime}, {"FailOn", kFollowUpCode}, {"FailNative", "1205"}});
    kt::writeConfig(batch.work().file("kelbor.ini"), "demo", "demo", deadlocked.dsn(), "qrv");
    fu::Outcome failed = batch.run();
    EXPECT_EQ(failed.log, followUpCodeFailed("1001", "KR") + followUpCodeFailed("1002", "AR"));
    EXPECT_EQ(failed.tgb, "");
    EXPECT_EQ(batch.accBookings("1001"), k1001Untouched.bookings);
    EXPECT_EQ(batch.accBookings("1002"), k1002Untouched.bookings);

    kt::writeConfig(batch.work().file("kelbor.ini"), "demo", "demo", batch.db().dsn(), "qrv");
    fu::Outcome rerun = batch.run();
    EXPECT_EQ(rerun.log, failed.log + kDone1001 + kDone1002);
    EXPECT_EQ(rerun.tgb, fu::tgbLine("1001") + fu::tgbLine("1002"));
    EXPECT_EQ(batch.accBookings("1001"), k1001Done.bookings);
    EXPECT_EQ(batch.slots("1002"), k1002Done.slots);

    // Friday is a message day by its slot (KR), but the booking's own type
    // XX does not exist.
    fu::Batch unknown;
    unknown.load(fu::commonTypes() + fu::day("1003", "20260306", "KR") +
                 fu::booking("1003", "20260306", "00:00:00", 1, "XX") + fu::accDay("1003") +
                 fu::rule("1003"));
    fu::Outcome silent = unknown.run();
    EXPECT_EQ(silent.log, "");
    EXPECT_EQ(silent.tgb, "");
}

// A server whose sessions send no row counts unless asked (SET NOCOUNT ON
// as the server-wide default, a DBA's choice): every write would answer
// like one that matched no row. The batch asks for the counts itself, so
// the night logs and does exactly what it does on a server that counts.
TEST(RowCounts, ANightUnderTheServerWideNoCountIsANormalNight) {
    fu::Batch normal;
    normal.load(fu::twoPeopleNight());
    fu::Outcome expected = normal.run();
    ASSERT_EQ(expected.log, kDone1001 + kDone1002);

    fu::Batch batch(std::map<std::string, std::string>{{"NoCount", "1"}});
    batch.load(fu::twoPeopleNight());
    fu::Outcome o = batch.run();
    EXPECT_EQ(o.result.err, "");
    EXPECT_EQ(o.log, expected.log);
    EXPECT_EQ(o.tgb, expected.tgb);
    EXPECT_EQ(batch.accBookings("1001"), k1001Done.bookings);
    EXPECT_EQ(batch.slots("1001"), k1001Done.slots);
    EXPECT_EQ(batch.accBookings("1002"), k1002Done.bookings);
    EXPECT_EQ(batch.slots("1002"), k1002Done.slots);
}

}  // namespace
