// The generation of a follow-up booking: the target-time check, the
// booking's function, the slot and the time value credited from the
// working-time rule, and failing statements.
#include <climits>
#include <string>
#include <vector>

#include "tests/e2e/followup_e2e.h"

namespace {

using fu::booking;
using fu::type;
using Bookings = std::vector<std::string>;

// Person 1001 sick on Friday (KR), follow-up type KF as given, Monday open
// with the given target time, and the rule r (none when noRule).
struct Setup {
    fu::Type followUp;
    int tagSol = 480;
    fu::Rule rule{};
    bool noRule = false;
};

std::string fixture(const Setup& s) {
    fu::Type kf = s.followUp;
    kf.num = "KF";
    return type({.num = "KR", .flg = "KF"}) + type(kf) + fu::day("1001", "20260306", "KR") +
           booking("1001", "20260306", "00:00:00", 1, "KR") + fu::accDay("1001", s.tagSol) +
           (s.noRule ? std::string() : fu::rule("1001", s.rule));
}

struct ValueCase {
    int zwt, typ;
    std::string slots;  // the accounting day's slots afterwards
};

TEST(FollowUpGenerate, SlotAndValueFollowFcdTypAndFcdZwt) {
    // Rule: AzvSol 465, AzvSo2 300, AzvVhs 20, AzvHso 230, AzvHs2 150, AzvHtv 7.
    const ValueCase cases[] = {
        {1, 1, "KF:465 :0 :0"},  {1, 2, ":0 KF:232 :0"},  {1, 3, ":0 :0 KF:232"},
        {2, 1, "KF:300 :0 :0"},  {2, 3, ":0 :0 KF:300"},  {3, 2, ":0 KF:230 :0"},
        {4, 1, "KF:150 :0 :0"},  {14, 2, ":0 KF:42 :0"},  {15, 1, "KF:485 :0 :0"},
        {16, 3, ":0 :0 KF:237"}, {17, 2, ":0 KF:320 :0"}, {18, 1, "KF:157 :0 :0"},
        {0, 1, "KF:0 :0 :0"},    {5, 2, ":0 KF:0 :0"},    {19, 3, ":0 :0 KF:0"},
        {-1, 1, "KF:0 :0 :0"},   {1, 0, ":0 :0 :0"},      {1, 4, ":0 :0 :0"},
    };
    for (const ValueCase& c : cases) {
        SCOPED_TRACE("FcdZwt " + std::to_string(c.zwt) + " FcdTyp " + std::to_string(c.typ));
        fu::Batch batch;
        batch.load(fixture(
            {.followUp = {.typ = c.typ, .zwt = c.zwt, .stdv = 42},
             .rule = {.sol = 465, .so2 = 300, .vhs = 20, .hso = 230, .hs2 = 150, .htv = 7}}));
        fu::Outcome o = batch.run();
        EXPECT_EQ(batch.slots("1001"), c.slots);
        // Any FcdTyp becomes the booking's function, also one without a slot.
        EXPECT_EQ(batch.accBookings("1001"), Bookings{"00:00:00 " + std::to_string(c.typ) + " KF"});
        EXPECT_EQ(o.log, fu::generated("1001", c.typ, "KF"));
        EXPECT_EQ(o.tgb, fu::tgbLine("1001"));
    }
}

TEST(FollowUpGenerate, HalvingTruncatesTowardZero) {
    const struct {
        int sol, typ;
        std::string slots;
    } cases[] = {
        {-5, 3, ":0 :0 KF:-2"},
        {-5, 1, "KF:-5 :0 :0"},
        {1, 2, ":0 KF:0 :0"},
        {-1, 2, ":0 KF:0 :0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("AzvSol " + std::to_string(c.sol) + " FcdTyp " + std::to_string(c.typ));
        fu::Batch batch;
        batch.load(fixture({.followUp = {.typ = c.typ, .zwt = 1}, .rule = {.sol = c.sol}}));
        batch.run();
        EXPECT_EQ(batch.slots("1001"), c.slots);
    }
}

TEST(FollowUpGenerate, WithoutWorkingTimeRuleTheValueIsZeroUnlessFixed) {
    const struct {
        int zwt;
        std::string slots;
    } cases[] = {{1, "KF:0 :0 :0"}, {4, "KF:0 :0 :0"}, {15, "KF:0 :0 :0"}, {14, "KF:42 :0 :0"}};
    for (const auto& c : cases) {
        SCOPED_TRACE("FcdZwt " + std::to_string(c.zwt));
        fu::Batch batch;
        batch.load(fixture({.followUp = {.zwt = c.zwt, .stdv = 42}, .noRule = true}));
        fu::Outcome o = batch.run();
        EXPECT_EQ(batch.slots("1001"), c.slots);
        EXPECT_EQ(o.log, fu::inserted("1001", 1, "KF") + fu::noRule("1001") + fu::updated("1001"));
    }
}

TEST(FollowUpGenerate, RuleAssignedOnAnotherDayIsNotUsed) {
    fu::Batch batch;
    batch.load(type({.num = "KR", .flg = "KF"}) + type({.num = "KF"}) +
               fu::day("1001", "20260306", "KR") +
               booking("1001", "20260306", "00:00:00", 1, "KR") + fu::accDay("1001") +
               fu::rule("1001", {}, "20260302"));
    fu::Outcome o = batch.run();
    EXPECT_EQ(batch.slots("1001"), "KF:0 :0 :0");
    EXPECT_EQ(o.log, fu::inserted("1001", 1, "KF") + fu::noRule("1001") + fu::updated("1001"));
}

TEST(FollowUpGenerate, TargetTimeCheck) {
    const struct {
        const char* name;
        int fcdSol, tagSol;
        bool generated;
    } cases[] = {
        {"needs a target time, day has none", 1, 0, false},
        {"needs a target time, day's is negative", 1, -5, false},
        {"needs a target time, day has one", 1, 1, true},
        {"needs none", 0, 0, true},
        {"FcdSol 2 is not 1", 2, -5, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fu::Batch batch;
        batch.load(fixture({.followUp = {.sol = c.fcdSol}, .tagSol = c.tagSol}));
        fu::Outcome o = batch.run();
        EXPECT_EQ(batch.accBookings("1001"), c.generated ? Bookings{"00:00:00 1 KF"} : Bookings{});
        EXPECT_EQ(batch.slots("1001"), c.generated ? "KF:480 :0 :0" : ":0 :0 :0");
        EXPECT_EQ(o.log, c.generated ? fu::generated("1001", 1, "KF")
                                     : fu::targetTimeRefused("1001", "KF"));
        EXPECT_EQ(o.tgb, c.generated ? fu::tgbLine("1001") : "");
    }
}

TEST(FollowUpGenerate, TargetTimeRefusalIsLoggedEvenWithTheLogOff) {
    const struct {
        const char* param3;
        int tagSol;
        std::string log;
    } cases[] = {
        {"X", 0, fu::targetTimeRefused("1001", "KF")},
        {"d", 0, fu::targetTimeRefused("1001", "KF")},
        {"X", 480, ""},  // a generation logs nothing else without the log switch
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.param3) + " TagSol " + std::to_string(c.tagSol));
        fu::Batch batch;
        batch.load(fixture({.followUp = {.sol = 1}, .tagSol = c.tagSol}));
        fu::Outcome o = batch.run("XXX", c.param3);
        // Without the switch not even the time stamp is written.
        EXPECT_EQ(kt::readWritten(batch.work().file("kelbor.log")), c.log);
    }
}

TEST(FollowUpGenerate, RejectedInsertStillUpdatesTheDay) {
    // FailNative makes the stand-in answer the insert like a trigger's
    // refusal; the native number is what the log shows.
    fu::Batch batch;
    batch.load(fixture({.followUp = {.typ = 2}}));
    batch.arm({{"FailOn", "INSERT INTO QRV.Qrv321Bch"}, {"FailNative", "547"}});
    fu::Outcome o = batch.run();
    EXPECT_EQ(batch.accBookings("1001"), Bookings{});
    EXPECT_EQ(batch.slots("1001"), ":0 KF:240 :0");
    EXPECT_EQ(o.log, fu::inserted("1001", 2, "KF", 547) + fu::updated("1001"));
    EXPECT_EQ(o.tgb, fu::tgbLine("1001"));
}

TEST(FollowUpGenerate, FailedDayUpdateIsLoggedAndStillCounts) {
    fu::Batch batch;
    batch.load(fixture({.followUp = {}}));
    batch.arm({{"FailOn", "UPDATE QRV.QRV327Tag"}});
    fu::Outcome o = batch.run();
    EXPECT_EQ(batch.accBookings("1001"), Bookings{"00:00:00 1 KF"});
    EXPECT_EQ(batch.slots("1001"), ":0 :0 :0");
    EXPECT_EQ(o.log, fu::inserted("1001", 1, "KF") + fu::updated("1001", -1));
    EXPECT_EQ(o.tgb, fu::tgbLine("1001"));
}

}  // namespace
