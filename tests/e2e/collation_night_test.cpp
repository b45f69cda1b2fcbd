// A whole night under the server's default collation, which ignores case
// for every letter of the code page but not accents: a booking coded in the
// other case of an umlaut message type is carried as the server carries it,
// and a code that differs only by its accent is not that type.
#include <string>
#include <vector>

#include "tests/e2e/followup_e2e.h"

namespace {

using fu::booking;
using fu::day;
using fu::type;

// \xDC is U with diaeresis, \xFC its lower case.
const std::string kType =
    "\xDC"
    "S";
const std::string kFollowUp =
    "\xDC"
    "F";

std::string friday(const std::string& pnr, const std::string& code) {
    return day(pnr, "20260306", code) + booking(pnr, "20260306", "00:00:00", 1, code) +
           day(pnr, "20260307", std::nullopt, 0) + day(pnr, "20260308", std::nullopt, 0) +
           fu::accDay(pnr) + fu::rule(pnr);
}

TEST(CollationNight, UmlautCodeInTheOtherCaseIsCarriedAndAnotherAccentIsNot) {
    fu::Batch batch;
    batch.load(type({.num = kType, .flg = kFollowUp}) + type({.num = kFollowUp, .flg = kFollowUp}) +
               friday("1001",
                      "\xFC"
                      "s") +           // the type's code in lower case
               friday("1002", "US"));  // no such type: U is not U with diaeresis
    fu::Outcome o = batch.run();
    EXPECT_EQ(batch.accBookings("1001"), std::vector<std::string>{"00:00:00 1 " + kFollowUp});
    EXPECT_EQ(batch.slots("1001"), kFollowUp + ":480 :0 :0");
    EXPECT_EQ(batch.accBookings("1002"), std::vector<std::string>{});
    EXPECT_EQ(batch.slots("1002"), ":0 :0 :0");
    EXPECT_EQ(o.log, fu::generated("1001", 1, kFollowUp));
    EXPECT_EQ(o.tgb, fu::tgbLine("1001"));
}

}  // namespace
