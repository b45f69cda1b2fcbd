// The reconciliation of a follow-up with the accounting day's own day
// messages: who prevails, what is cancelled, and the duplicate-key path of
// the cancellation.
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/followup_e2e.h"

namespace {

using fu::booking;
using fu::type;
using Bookings = std::vector<std::string>;

struct PriorityCase {
    const char* name;
    int bookingPri;  // FcdPri of the accounting day's EX booking
    int bookingFkt;
    int followUpPri;  // FcdPri and FcdGpu of the follow-up type KF
    int followUpGpu;
    Bookings accDay;  // afterwards
    std::string log;
};

TEST(FollowUpReconcile, PriorityDecidesBetweenBookingAndFollowUp) {
    const std::string generated = fu::generated("1001", 1, "KF");
    const PriorityCase cases[] = {
        {"lower priority gives way", 20, 1, 10, 0, {"00:00:00 1 KF", "00:00:00 45 EX"}, generated},
        {"higher priority prevails", 5, 1, 10, 1, {"00:00:00 1 EX"}, fu::prevails("1001", "EX")},
        {"equal priority, FcdGpu 0 keeps the booking",
         10,
         1,
         10,
         0,
         {"00:00:00 1 EX"},
         fu::prevails("1001", "EX")},
        {"equal priority, FcdGpu 1 replaces it",
         10,
         1,
         10,
         1,
         {"00:00:00 1 KF", "00:00:00 45 EX"},
         generated},
        // The follow-up's own insert then meets the EX booking's key.
        {"equal priority, FcdGpu 2 leaves it out",
         10,
         1,
         10,
         2,
         {"00:00:00 1 EX"},
         fu::inserted("1001", 1, "KF", 2627) + fu::updated("1001")},
        {"equal priority, FcdGpu -1 leaves it out",
         10,
         3,
         10,
         -1,
         {"00:00:00 1 KF", "00:00:00 3 EX"},
         generated},
        {"only priorities count: function 3 gives way",
         20,
         3,
         10,
         0,
         {"00:00:00 1 KF", "00:00:00 45 EX"},
         generated},
        {"only priorities count: function 2 prevails",
         5,
         2,
         10,
         0,
         {"00:00:00 2 EX"},
         fu::prevails("1001", "EX")},
        {"negative priorities compare as numbers",
         -3,
         1,
         -2,
         0,
         {"00:00:00 1 EX"},
         fu::prevails("1001", "EX")},
    };
    for (const PriorityCase& c : cases) {
        SCOPED_TRACE(c.name);
        fu::Batch batch;
        batch.load(type({.num = "KR", .flg = "KF"}) +
                   type({.num = "KF", .pri = c.followUpPri, .gpu = c.followUpGpu}) +
                   type({.num = "EX", .pri = c.bookingPri}) + fu::sickSinceFriday("1001") +
                   booking("1001", fu::kAccDay, "00:00:00", c.bookingFkt, "EX"));
        fu::Outcome o = batch.run();
        EXPECT_EQ(batch.accBookings("1001"), c.accDay);
        EXPECT_EQ(o.log, c.log);
    }
}

TEST(FollowUpReconcile, BookingsThatTakeNoPartInTheDecision) {
    // Empty code, a code naming no type, an equal-priority booking left out
    // by FcdGpu 2: the walk goes on to the GL booking, which gives way.
    fu::Batch batch;
    batch.load(type({.num = "KR", .flg = "KX"}) + type({.num = "KX", .gpu = 2}) +
               type({.num = "EQ"}) + type({.num = "GL", .pri = 30}) + fu::sickSinceFriday("1001") +
               booking("1001", fu::kAccDay, "07:00:00", 1, std::nullopt) +
               booking("1001", fu::kAccDay, "08:00:00", 1, "QQ") +
               booking("1001", fu::kAccDay, "09:00:00", 1, "EQ") +
               booking("1001", fu::kAccDay, "10:00:00", 1, "GL"));
    fu::Outcome o = batch.run();
    EXPECT_EQ(batch.accBookings("1001"), (Bookings{"00:00:00 1 KX", "07:00:00 1 ", "08:00:00 1 QQ",
                                                   "09:00:00 1 EQ", "10:00:00 45 GL"}));
    EXPECT_EQ(o.log,
              "Fehler(Read): Meldungsartsatz(Fcd) zur BchMld lesen RC:100 Pnr:1001 Fcd:QQ\n" +
                  fu::generated("1001", 1, "KX"));
}

TEST(FollowUpReconcile, CancellationAndInsertMarkTheirBookings) {
    fu::Batch batch;
    batch.load(fu::commonTypes() + fu::sickSinceFriday("1001") +
               "INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd, BchSta, "
               "BchErf, BchDat) VALUES ('1001', '20260309', '20260309 07:00:00', 1, 'GL', 0, "
               "'Terminal', '20260301 08:00:00')\n");
    batch.run();
    auto rows = batch.db().query(
        "SELECT CONVERT(char(8), BchUhr, 114), BchFkt, BchSta, BchErf, "
        "CONVERT(char(19), BchDat, 120) FROM QRV.Qrv321Bch WHERE BchPnr = '1001' AND BchVon = "
        "CONVERT(datetime, '20260309', 112) ORDER BY BchUhr");
    using Row = std::vector<std::string>;
    EXPECT_EQ(rows, (std::vector<Row>{{"00:00:00", "1", "1", "Quorvel", "2026-03-10 02:30:00"},
                                      {"07:00:00", "45", "0", "Quorvel", "2026-03-10 02:30:00"}}));
}

TEST(FollowUpReconcile, CancellationSparesAnotherCodeInTheSameSecond) {
    // GL gives way; UR half a second later would have prevailed and is not
    // the booking being cancelled, although times compare to the second.
    fu::Batch batch;
    batch.load(fu::commonTypes() + fu::sickSinceFriday("1001") +
               booking("1001", fu::kAccDay, "08:00:00.000", 1, "GL") +
               booking("1001", fu::kAccDay, "08:00:00.500", 1, "UR"));
    fu::Outcome o = batch.run();
    EXPECT_EQ(batch.accBookings("1001"),
              (Bookings{"00:00:00 1 KF", "08:00:00 45 GL", "08:00:00 1 UR"}));
    EXPECT_EQ(o.log, fu::generated("1001", 1, "KF"));
}

TEST(FollowUpReconcile, GivingWayWithoutTargetTimeCancelsNothing) {
    // KF demands a target time and Monday has none: the GL booking would give
    // way, but the generation refuses, so GL keeps its function.
    fu::Batch batch;
    batch.load(type({.num = "KR", .flg = "KF"}) + type({.num = "KF", .sol = 1}) +
               type({.num = "GL", .pri = 30}) + fu::day("1001", "20260306", "KR") +
               booking("1001", "20260306", "00:00:00", 1, "KR") + fu::accDay("1001", 0) +
               fu::rule("1001") + booking("1001", fu::kAccDay, "00:00:00", 1, "GL"));
    fu::Outcome o = batch.run();
    EXPECT_EQ(batch.accBookings("1001"), (Bookings{"00:00:00 1 GL"}));
    EXPECT_EQ(o.log, fu::targetTimeRefused("1001", "KF"));
    EXPECT_EQ(o.tgb, "");
}

// A cancelled booking (45) already stands at the same person, date and time.
std::string withOldCancellation() {
    return fu::commonTypes() + fu::sickSinceFriday("1001") +
           booking("1001", fu::kAccDay, "00:00:00", 45, "UR") +
           booking("1001", fu::kAccDay, "00:00:00", 1, "GL");
}

TEST(FollowUpReconcile, OldCancellationIsDeletedToMakeRoom) {
    fu::Batch batch;
    batch.load(withOldCancellation());
    fu::Outcome o = batch.run();
    EXPECT_EQ(batch.accBookings("1001"), (Bookings{"00:00:00 1 KF", "00:00:00 45 GL"}));
    EXPECT_EQ(o.log,
              "Info: BchSatz(Storno) gel\xF6"
              "scht RC:0 Pnr:1001 Tag:20260309 Fcd:GL Fkt:45 \n" +
                  fu::generated("1001", 1, "KF"));
    EXPECT_EQ(o.tgb, fu::tgbLine("1001"));
}

TEST(FollowUpReconcile, FailingDeleteLeavesTheBookingAndIsLogged) {
    // The delete fails, so the second change meets the old cancellation
    // again; the follow-up is still generated, and its insert then collides
    // with the GL booking that kept its function.
    fu::Batch batch;
    batch.load(withOldCancellation());
    batch.arm({{"FailOn", "DELETE FROM"}});
    fu::Outcome o = batch.run();
    EXPECT_EQ(batch.accBookings("1001"), (Bookings{"00:00:00 1 GL", "00:00:00 45 UR"}));
    EXPECT_EQ(o.log,
              "Fehler(Del): Bchsatz(Storno) loeschen RC:-1 Pnr:1001 Tag:20260309 Fcd:GL Fkt:45 \n"
              "Fehler(Upd2): Akt. BchSatz(Storno) updaten RC:2627 Pnr:1001 Tag:20260309 Fcd:GL "
              "Fkt:1\n" +
                  fu::inserted("1001", 1, "KF", 2627) + fu::updated("1001"));
    EXPECT_EQ(batch.slots("1001"), "KF:480 :0 :0");
    EXPECT_EQ(o.tgb, fu::tgbLine("1001"));
}

TEST(FollowUpReconcile, FailingCancellationIsLoggedWithAttemptOne) {
    fu::Batch batch;
    batch.load(fu::commonTypes() + fu::sickSinceFriday("1001") +
               booking("1001", fu::kAccDay, "08:00:00", 1, "GL"));
    batch.arm({{"FailOn", "SET BchFkt"}});
    fu::Outcome o = batch.run();
    EXPECT_EQ(batch.accBookings("1001"), (Bookings{"00:00:00 1 KF", "08:00:00 1 GL"}));
    EXPECT_EQ(o.log,
              "Fehler(Upd1): Akt. BchSatz(Storno) updaten RC:-1 Pnr:1001 Tag:20260309 Fcd:GL "
              "Fkt:1\n" +
                  fu::generated("1001", 1, "KF"));
}

TEST(FollowUpReconcile, AccountingDayCursorFailuresStillGenerate) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> keys;
        std::string log;
    } cases[] = {
        // The daily rule's cursor runs the same statement, so the fault
        // waits for the first statement of the accounting day.
        {"open fails",
         {{"FailOn", "BchVon = CONVERT(Datetime, '20260309'"}},
         "Fehler(Cur_open): Buchungen(TagesMld AbrTag) lesen! RC:-1 Pnr:1001 Tag:20260309\n"
         "Fehler(Cur_Read): Buchungen(TagesMld AbrTag) lesen RC:-1 Pnr:1001 Tag:20260309\n"},
        {"fetch fails",
         {{"FailFetchOn", "BchVon = CONVERT(Datetime, '20260309'"}, {"FailFetchAfter", "0"}},
         "Fehler(Cur_Read): Buchungen(TagesMld AbrTag) lesen RC:-1 Pnr:1001 Tag:20260309\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fu::Batch batch;
        batch.load(fu::commonTypes() + fu::sickSinceFriday("1001") +
                   booking("1001", fu::kAccDay, "08:00:00", 1, "UR"));
        batch.arm(c.keys);
        fu::Outcome o = batch.run();
        EXPECT_EQ(batch.accBookings("1001"), (Bookings{"00:00:00 1 KF", "08:00:00 1 UR"}));
        EXPECT_EQ(o.log, c.log + fu::generated("1001", 1, "KF"));
    }
}

// A second (and third) run on the same night meets the follow-ups of the
// first like any other booking of the day: the follow-up type's FcdGpu
// decides. 0 keeps the first one, 1 cancels and replaces it (the third run
// meets the second's cancellation and deletes it), 2 leaves it out of the
// decision, so the new insert meets its key; the day is listed again.
TEST(FollowUpReconcile, RerunsOfTheSameNight) {
    fu::Batch batch;
    batch.load(
        type({.num = "KR", .flg = "KF"}) + type({.num = "KF"}) + type({.num = "XR", .flg = "XF"}) +
        type({.num = "XF", .gpu = 1}) + type({.num = "YR", .flg = "YF"}) +
        type({.num = "YF", .gpu = 2}) + fu::sickSinceFriday("1001") +
        fu::day("1002", "20260306", "XR") + booking("1002", "20260306", "00:00:00", 1, "XR") +
        fu::accDay("1002") + fu::rule("1002") + fu::day("1003", "20260306", "YR") +
        booking("1003", "20260306", "00:00:00", 1, "YR") + fu::accDay("1003") + fu::rule("1003"));
    fu::Outcome first = batch.run();
    EXPECT_EQ(first.tgb, fu::tgbLine("1001") + fu::tgbLine("1002") + fu::tgbLine("1003"));

    std::filesystem::remove(batch.work().file("kelbor.log"));
    fu::Outcome second = batch.run();
    EXPECT_EQ(second.log, fu::prevails("1001", "KF") + fu::generated("1002", 1, "XF") +
                              fu::inserted("1003", 1, "YF", 2627) + fu::updated("1003"));
    EXPECT_EQ(second.tgb, fu::tgbLine("1002") + fu::tgbLine("1003"));

    std::filesystem::remove(batch.work().file("kelbor.log"));
    fu::Outcome third = batch.run();
    EXPECT_EQ(third.log, fu::prevails("1001", "KF") +
                             "Info: BchSatz(Storno) gel\xF6"
                             "scht RC:0 Pnr:1002 Tag:20260309 Fcd:XF Fkt:45 \n" +
                             fu::generated("1002", 1, "XF") + fu::inserted("1003", 1, "YF", 2627) +
                             fu::updated("1003"));
    EXPECT_EQ(batch.accBookings("1001"), (Bookings{"00:00:00 1 KF"}));
    EXPECT_EQ(batch.accBookings("1002"), (Bookings{"00:00:00 1 XF", "00:00:00 45 XF"}));
    EXPECT_EQ(batch.accBookings("1003"), (Bookings{"00:00:00 1 YF"}));
}

}  // namespace
