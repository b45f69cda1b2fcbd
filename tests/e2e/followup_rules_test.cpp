// The daily and the hourly rule through whole runs: which bookings of the
// last message day are carried forward, and how several follow-ups of one
// accounting day build on each other.
#include <string>
#include <vector>

#include "tests/e2e/followup_e2e.h"

namespace {

using fu::booking;
using fu::day;
using fu::type;
using Bookings = std::vector<std::string>;

// Friday 2026-03-06 as the last message day with the given bookings, the
// weekend empty, Monday open.
std::string friday(const std::string& pnr, const std::string& bookings,
                   const std::optional<std::string>& tgb = std::nullopt) {
    return day(pnr, "20260306", tgb) + bookings + day(pnr, "20260307", std::nullopt, 0) +
           day(pnr, "20260308", std::nullopt, 0) + fu::accDay(pnr) + fu::rule(pnr);
}

struct SecondFollowUpCase {
    const char* name;
    std::string second;   // the second follow-up's source type and its type
    std::string booking;  // Friday's booking of the second follow-up's source
    Bookings accDay;
    std::string slots;
    std::string log;
};

// Friday carries a KR day message (its KF is generated first) and a second
// message whose follow-up then meets the KF booking on Monday: a tie that
// FcdGpu 2 leaves undecided lets both stand and the slots accumulate, FcdGpu
// 0 keeps KF and refuses the second. The second comes from another day
// message (HK, function 2, follow-up HF into slot 3) or from the hourly rule
// (AR with function 24, follow-up AF into slot 2).
TEST(FollowUpRules, SecondFollowUpOfTheDayBuildsOnTheFirst) {
    const std::string hk = type({.num = "HK", .typ = 2, .flg = "HF"});
    const std::string ar = type({.num = "AR", .typ = 0, .flg = "AF"});
    const std::string hkBooking = booking("1001", "20260306", "00:00:00", 2, "HK");
    const std::string arBooking = booking("1001", "20260306", "15:00:00", 24, "AR");
    const std::string kf = fu::generated("1001", 1, "KF");
    const SecondFollowUpCase cases[] = {
        {"daily then daily, both generated",
         hk + type({.num = "HF", .typ = 3, .gpu = 2}),
         hkBooking,
         {"00:00:00 1 KF", "00:00:00 3 HF"},
         "KF:480 :0 HF:240",
         kf + fu::generated("1001", 3, "HF")},
        {"daily then daily, the first refuses the second",
         hk + type({.num = "HF", .typ = 3}),
         hkBooking,
         {"00:00:00 1 KF"},
         "KF:480 :0 :0",
         kf + fu::prevails("1001", "KF")},
        {"daily then hourly, both generated",
         ar + type({.num = "AF", .typ = 2, .gpu = 2}),
         arBooking,
         {"00:00:00 1 KF", "00:00:00 2 AF"},
         "KF:480 AF:240 :0",
         kf + fu::generated("1001", 2, "AF")},
        {"daily then hourly, the first refuses the second",
         ar + type({.num = "AF", .typ = 2}),
         arBooking,
         {"00:00:00 1 KF"},
         "KF:480 :0 :0",
         kf + fu::prevails("1001", "KF")},
    };
    for (const SecondFollowUpCase& c : cases) {
        SCOPED_TRACE(c.name);
        fu::Batch batch;
        batch.load(
            type({.num = "KR", .flg = "KF"}) + type({.num = "KF", .flg = "KF"}) + c.second +
            friday("1001", booking("1001", "20260306", "00:00:00", 1, "KR") + c.booking, "KR"));
        fu::Outcome o = batch.run();
        EXPECT_EQ(batch.accBookings("1001"), c.accDay);
        EXPECT_EQ(batch.slots("1001"), c.slots);
        EXPECT_EQ(o.log, c.log);
        // Whatever the second did, the day gets one line.
        EXPECT_EQ(o.tgb, fu::tgbLine("1001"));
    }
}

TEST(FollowUpRules, DayMessagesWithoutFollowUpArePassedOverSilently) {
    // Blank FcdFlg, NULL FcdFlg and a booking code that names no type.
    fu::Batch batch;
    batch.load(fu::commonTypes() +
               "INSERT INTO $(SCHEMA).Qrv131Fcd (FcdNum, FcdTyp, FcdFlg) "
               "VALUES ('BL', 1, '   ')\n" +
               friday("1001",
                      booking("1001", "20260306", "00:00:00", 1, "BL") +
                          booking("1001", "20260306", "00:00:00", 2, "UR") +
                          booking("1001", "20260306", "00:00:00", 3, "QQ"),
                      "BL"));
    fu::Outcome o = batch.run();
    EXPECT_EQ(batch.accBookings("1001"), Bookings{});
    EXPECT_EQ(o.log, "");
    EXPECT_EQ(o.tgb, "");
}

TEST(FollowUpRules, UnreadableFollowUpTypeIsLoggedAndPassedOver) {
    // KR names ZZ, which does not exist; the accounting day's GL booking
    // must not be cancelled on its behalf. The same through the hourly rule.
    fu::Batch batch;
    batch.load(type({.num = "KR", .flg = "ZZ"}) + type({.num = "GL", .pri = 30}) +
               type({.num = "AR", .typ = 0, .flg = "ZZ"}) +
               friday("1001",
                      booking("1001", "20260306", "00:00:00", 1, "KR") +
                          booking("1001", "20260306", "16:00:00", 24, "AR"),
                      "KR") +
               booking("1001", fu::kAccDay, "00:00:00", 1, "GL"));
    fu::Outcome o = batch.run();
    const std::string readFailed =
        "Fehler(Read): Meldungsart(Fcd) zur FolgeMld lesen RC:100 Pnr:1001 Fcd:ZZ\n";
    EXPECT_EQ(o.log, readFailed + readFailed);
    EXPECT_EQ(batch.accBookings("1001"), (Bookings{"00:00:00 1 GL"}));
    EXPECT_EQ(o.tgb, "");
}

struct HourlyCase {
    const char* name;
    std::string bookings;  // Friday's bookings, window 06:00 to 22:00
    Bookings accDay;
};

TEST(FollowUpRules, OnlyTheNewestHourlyBookingWithFunction23Or24IsCarried) {
    auto b = [](const char* time, int fkt, const char* fcd = "AR") {
        return booking("1001", "20260306", time, fkt, fcd);
    };
    const Bookings carried{"00:00:00 2 AF"};
    const HourlyCase cases[] = {
        {"newest 23", b("09:00:00", 21, "DG") + b("14:00:00", 23), carried},
        {"newest 24", b("09:00:00", 21, "DG") + b("14:00:00", 24), carried},
        {"newest 21 hides an older 24", b("09:00:00", 24) + b("14:00:00", 21), {}},
        {"newest 22 hides an older 23", b("09:00:00", 23) + b("14:00:00", 22), {}},
        {"newest 25", b("09:00:00", 24) + b("14:00:00", 25), {}},
        {"newest 30", b("09:00:00", 24) + b("14:00:00", 30), {}},
        {"a cancelled booking does not hide 24", b("09:00:00", 24) + b("14:00:00", 45), carried},
        {"a 29 booking does not hide 23", b("09:00:00", 23) + b("14:00:00", 29), carried},
        {"24 exactly at the window's end", b("09:00:00", 21) + b("22:00:00", 24), carried},
        {"24 after the window's end is not seen", b("09:00:00", 21) + b("22:00:01", 24), {}},
        {"24 exactly at the window's start", b("06:00:00", 24), carried},
        {"24 of a type without follow-up", b("09:00:00", 24, "DG"), {}},
    };
    for (const HourlyCase& c : cases) {
        SCOPED_TRACE(c.name);
        fu::Batch batch;
        batch.load(fu::commonTypes() + type({.num = "DG", .typ = 0, .pri = 50}) +
                   friday("1001", c.bookings));
        fu::Outcome o = batch.run();
        EXPECT_EQ(batch.accBookings("1001"), c.accDay);
        EXPECT_EQ(batch.slots("1001"), c.accDay.empty() ? ":0 :0 :0" : ":0 AF:240 :0");
        EXPECT_EQ(o.log, c.accDay.empty() ? "" : fu::generated("1001", 2, "AF"));
    }
}

}  // namespace
