// The search for the last message day, seen through whole runs: which
// earlier day (if any) is carried forward onto the accounting day.
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/followup_e2e.h"

namespace {

using fu::booking;
using fu::day;
using fu::type;

struct SearchCase {
    const char* name;
    std::string history;              // earlier days and their bookings of person 1001
    std::vector<std::string> accDay;  // expected bookings of the accounting day afterwards
};

// WE: a weekend-shift marker without follow-up whose FcdFcd 24 lets the
// search pass over it once; UX: a type without follow-up (FcdFcd NULL);
// XR: another sick type with its own follow-up XF.
std::string searchTypes() {
    return fu::commonTypes() + type({.num = "WE", .fcd = 24}) + type({.num = "WX", .fcd = 24}) +
           type({.num = "UX", .fcd = 23}) + type({.num = "XR", .flg = "XF"}) + type({.num = "XF"});
}

std::string dayMessage(const std::string& date, const std::string& code) {
    return day("1001", date, code) + booking("1001", date, "00:00:00", 1, code);
}

TEST(FollowUpSearch, WhichEarlierDayIsCarriedForward) {
    const std::string empty6 = day("1001", "20260306");
    const std::string empty7 = day("1001", "20260307");
    const std::string empty8 = day("1001", "20260308");
    const std::string hourly8 =
        booking("1001", "20260308", "15:00:00", 24, "AR");  // inside 06:00 to 22:00
    const SearchCase cases[] = {
        {"no earlier day at all", "", {}},
        {"earlier days without any message", empty6 + empty7 + empty8, {}},
        {"days without messages are passed over",
         dayMessage("20260306", "KR") + empty7 + empty8,
         {"00:00:00 1 KF"}},
        {"the newest qualifying day wins over an older one",
         dayMessage("20260306", "XR") + empty7 + dayMessage("20260308", "KR"),
         {"00:00:00 1 KF"}},
        {"a day message without follow-up stops the search",
         dayMessage("20260306", "KR") + empty7 + dayMessage("20260308", "UX"),
         {}},
        {"FcdFcd 24 is passed over once",
         dayMessage("20260306", "KR") + empty7 + dayMessage("20260308", "WE"),
         {"00:00:00 1 KF"}},
        {"a second FcdFcd 24 day stops the search",
         dayMessage("20260306", "KR") + dayMessage("20260307", "WX") + dayMessage("20260308", "WE"),
         {}},
        {"after FcdFcd 24 an older day without follow-up stops it",
         dayMessage("20260306", "KR") + dayMessage("20260307", "UX") + dayMessage("20260308", "WE"),
         {}},
        {"FcdFcd 24 with hourly messages the same day is an hourly day",
         dayMessage("20260306", "KR") + empty7 + dayMessage("20260308", "WE") + hourly8,
         {"00:00:00 2 AF"}},
        {"a day with hourly messages only",
         empty6 + empty7 + day("1001", "20260308") + hourly8,
         {"00:00:00 2 AF"}},
        {"day messages count before hourly messages of the same day",
         empty6 + empty7 + dayMessage("20260308", "XR") +
             booking("1001", "20260308", "21:00:00", 21, "AR"),
         {"00:00:00 1 XF"}},
    };
    for (const SearchCase& c : cases) {
        SCOPED_TRACE(c.name);
        fu::Batch batch;
        batch.load(searchTypes() + c.history + fu::accDay("1001") + fu::rule("1001"));
        fu::Outcome o = batch.run();
        EXPECT_EQ(batch.accBookings("1001"), c.accDay);
        EXPECT_EQ(o.tgb, c.accDay.empty() ? "" : fu::tgbLine("1001"));
    }
}

// A statement of the search that fails for Friday, the newest message day,
// must not let an older absence be carried forward in its place: the search
// ends without a find, logged once, and the next person is searched as usual.
TEST(FollowUpSearch, FailedStatementNeverSkipsADay) {
    // 1001 had an accident three weeks ago (UF follows itself); 1002 was
    // sick on Friday (XR, followed by XF).
    const std::string common =
        searchTypes() + type({.num = "UF", .flg = "UF"}) + dayMessage("20260213", "UF") +
        fu::accDay("1001") + fu::rule("1001") + day("1002", "20260306", "XR") +
        booking("1002", "20260306", "00:00:00", 1, "XR") + fu::accDay("1002") + fu::rule("1002");
    const std::string sickFriday = dayMessage("20260306", "KR");
    const std::string doctorFriday =
        day("1001", "20260306") + booking("1001", "20260306", "15:00:00", 24, "AR");
    const struct {
        const char* name;
        std::string friday;
        std::map<std::string, std::string> faults;
    } cases[] = {
        {"day-message count, deadlock victim",
         sickFriday,
         {{"FailOn", "'1001' AND BchVon = CONVERT(Datetime, '20260306', 112) AND BchFkt = 1"},
          {"FailNative", "1205"}}},
        {"message-type lookup of Friday's type",
         sickFriday,
         {{"FailFetchOn", "FcdFlg FROM QRV.Qrv131Fcd WHERE FcdNum = 'KR'"}}},
        {"hourly count of Friday",
         doctorFriday,
         {{"FailOn",
           "'1001' AND (CONVERT(char(10), BchVon, 120) + ' ' + CONVERT(char(8), "
           "BchUhr, 114)) >= '2026-03-06"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fu::Batch batch;
        batch.load(common + c.friday);
        batch.arm(c.faults);
        fu::Outcome o = batch.run();
        EXPECT_EQ(batch.accBookings("1001"), std::vector<std::string>{});
        EXPECT_EQ(batch.accBookings("1002"), std::vector<std::string>{"00:00:00 1 XF"});
        EXPECT_EQ(o.log, "Fehler(Search): letzten Meldungstag lesen RC:-1 Pnr:1001 Tag:20260309\n" +
                             fu::generated("1002", 1, "XF"));
        EXPECT_EQ(o.tgb, fu::tgbLine("1002"));
    }
}

// The day found is the one printed on the console, and only the earlier
// days of the same person count.
TEST(FollowUpSearch, OtherPeoplesDaysDoNotCount) {
    fu::Batch batch;
    batch.load(fu::commonTypes() + fu::sickSinceFriday("2002") + fu::accDay("1001") +
               fu::rule("1001") + day("1001", "20260306"));
    fu::Outcome o = batch.run();
    EXPECT_EQ(batch.accBookings("1001"), std::vector<std::string>{});
    EXPECT_EQ(batch.accBookings("2002"), std::vector<std::string>{"00:00:00 1 KF"});
    EXPECT_EQ(o.tgb, fu::tgbLine("2002"));
}

}  // namespace
