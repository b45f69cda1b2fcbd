// The pure decisions of the follow-up processing: priority comparison, the
// target-time check, the slot value and slot choice, the search's verdict on
// a day with day messages, and the parameter line.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "followup/generate_followup.h"
#include "followup/last_message_day.h"
#include "followup/reconcile.h"
#include "followup/run_driver.h"

namespace {

using PO = PriorityOutcome;

TEST(FollowUpDecisions, PriorityComparison) {
    struct Case {
        int bookingPri, followUpPri, gpu;
        PO expected;
    } cases[] = {
        {5, 10, 0, PO::kBookingPrevails},  {5, 10, 1, PO::kBookingPrevails},
        {5, 10, 7, PO::kBookingPrevails},  {20, 10, 0, PO::kBookingGivesWay},
        {20, 10, 1, PO::kBookingGivesWay}, {20, 10, -1, PO::kBookingGivesWay},
        {10, 10, 0, PO::kBookingPrevails}, {10, 10, 1, PO::kBookingGivesWay},
        {10, 10, 2, PO::kUndecided},       {10, 10, -1, PO::kUndecided},
        {0, 0, 0, PO::kBookingPrevails},   {-3, -2, 1, PO::kBookingPrevails},
        {-1, -2, 0, PO::kBookingGivesWay},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(comparePriority(c.bookingPri, c.followUpPri, c.gpu), c.expected)
            << "booking " << c.bookingPri << " follow-up " << c.followUpPri << " gpu " << c.gpu;
    }
}

TEST(FollowUpDecisions, TargetTimeCheckRefusesOnlySolOneWithoutTarget) {
    struct Case {
        int fcdSol, tagSol;
        bool refused;
    } cases[] = {
        {1, 0, true},  {1, -5, true},  {1, 1, false},  {1, 480, false},
        {0, 0, false}, {2, -5, false}, {-1, 0, false},
    };
    for (const Case& c : cases) {
        MessageType type{};
        type.FcdSol = c.fcdSol;
        DayRecord day{};
        day.TagSol = c.tagSol;
        EXPECT_EQ(targetTimeRefuses(type, day), c.refused)
            << "FcdSol " << c.fcdSol << " TagSol " << c.tagSol;
    }
}

TEST(FollowUpDecisions, SlotValueFollowsFcdZwt) {
    WorkTimeRule rule{};
    rule.AzvSol = 465;
    rule.AzvSo2 = 300;
    rule.AzvVhs = 20;
    rule.AzvHso = 230;
    rule.AzvHs2 = 150;
    rule.AzvHtv = 7;
    struct Case {
        int zwt, typ;
        std::int32_t expected;
    } cases[] = {
        {1, 1, 465},  {1, 2, 232},  {1, 3, 232},  {1, 0, 465},  {1, 4, 465},
        {2, 2, 300},  {3, 3, 230},  {4, 2, 150},  {14, 1, 99},  {14, 3, 99},
        {15, 2, 485}, {16, 1, 237}, {17, 3, 320}, {18, 1, 157}, {0, 1, 0},
        {5, 1, 0},    {13, 2, 0},   {19, 1, 0},   {-1, 1, 0},   {INT_MAX, 1, 0},
    };
    for (const Case& c : cases) {
        MessageType type{};
        type.FcdZwt = c.zwt;
        type.FcdTyp = c.typ;
        type.FcdStd = 99;
        EXPECT_EQ(followUpSlotValue(type, rule), c.expected)
            << "FcdZwt " << c.zwt << " FcdTyp " << c.typ;
    }
}

TEST(FollowUpDecisions, SlotValueEdges) {
    MessageType type{};
    WorkTimeRule rule{};

    // Halving truncates toward zero for negative targets.
    type.FcdZwt = 1;
    type.FcdTyp = 3;
    rule.AzvSol = -5;
    EXPECT_EQ(followUpSlotValue(type, rule), -2);
    rule.AzvSol = 1;
    EXPECT_EQ(followUpSlotValue(type, rule), 0);

    // FcdStd needs no rule at all.
    WorkTimeRule none{};
    type.FcdZwt = 14;
    type.FcdStd = -30;
    EXPECT_EQ(followUpSlotValue(type, none), -30);
    type.FcdZwt = 15;
    EXPECT_EQ(followUpSlotValue(type, none), 0);

    // Sums are 32-bit and wrap rather than trap.
    rule.AzvSol = INT_MAX;
    rule.AzvVhs = 1;
    EXPECT_EQ(followUpSlotValue(type, rule), INT_MIN);
}

TEST(FollowUpDecisions, SlotChoiceFollowsFcdTyp) {
    auto prefilled = [] {
        DayRecord d{};
        d.TagTgb.assign("OLD");
        d.TagTgs = 1;
        d.TagHtv.assign("OL2");
        d.TagHvs = 2;
        d.TagHtn.assign("OL3");
        d.TagHns = 3;
        return d;
    };
    struct Case {
        int typ;
        int written;
        const char *tgb, *htv, *htn;
        int tgs, hvs, hns;
    } cases[] = {
        {1, 1, "KF", "OL2", "OL3", 77, 2, 3}, {2, 1, "OLD", "KF", "OL3", 1, 77, 3},
        {3, 1, "OLD", "OL2", "KF", 1, 2, 77}, {0, 0, "OLD", "OL2", "OL3", 1, 2, 3},
        {4, 0, "OLD", "OL2", "OL3", 1, 2, 3}, {-1, 0, "OLD", "OL2", "OL3", 1, 2, 3},
    };
    for (const Case& c : cases) {
        DayRecord d = prefilled();
        EXPECT_EQ(enterFollowUpSlot(d, c.typ, "KF", 77), c.written) << "FcdTyp " << c.typ;
        EXPECT_STREQ(d.TagTgb.c_str(), c.tgb) << "FcdTyp " << c.typ;
        EXPECT_STREQ(d.TagHtv.c_str(), c.htv) << "FcdTyp " << c.typ;
        EXPECT_STREQ(d.TagHtn.c_str(), c.htn) << "FcdTyp " << c.typ;
        EXPECT_EQ(d.TagTgs, c.tgs);
        EXPECT_EQ(d.TagHvs, c.hvs);
        EXPECT_EQ(d.TagHns, c.hns);
    }

    // Successive follow-ups of one day accumulate in their slots.
    DayRecord d{};
    enterFollowUpSlot(d, 2, "KF", 232);
    enterFollowUpSlot(d, 3, "AF", 100);
    EXPECT_STREQ(d.TagHtv.c_str(), "KF");
    EXPECT_EQ(d.TagHvs, 232);
    EXPECT_STREQ(d.TagHtn.c_str(), "AF");
    EXPECT_EQ(d.TagHns, 100);
    EXPECT_STREQ(d.TagTgb.c_str(), "");
}

TEST(FollowUpDecisions, DayMessageVerdict) {
    using V = DayMessageVerdict;
    struct Case {
        bool hasFollowUp, passedOver;
        int fcdFcd;
        V expected;
    } cases[] = {
        {true, false, 0, V::kFound},  {true, true, 0, V::kFound},
        {true, false, 24, V::kFound}, {false, false, 24, V::kTryHourlyOnce},
        {false, true, 24, V::kStop},  {false, false, 0, V::kStop},
        {false, false, -9, V::kStop}, {false, false, 23, V::kStop},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(judgeDayMessages(c.hasFollowUp, c.passedOver, c.fcdFcd), c.expected)
            << c.hasFollowUp << c.passedOver << " FcdFcd " << c.fcdFcd;
    }
}

TEST(FollowUpDecisions, ParameterLineForms) {
    DayRecord day{};
    day.TagPnr.assign("4711");
    day.TagTag.assign("20090917");
    ParameterLine line{};

    EXPECT_EQ(buildParameterLine(line, 0, "QRV", day), 0);
    EXPECT_EQ(std::string(line.c_str()), "4711    ,17.09.2009\n");

    EXPECT_EQ(buildParameterLine(line, 1, "QRV", day), 0);
    EXPECT_EQ(std::string(line.c_str()), "QRV                 ,4711    ,17.09.2009\n");
    // 20 + 8 + 10 characters, two commas and the line feed.
    EXPECT_EQ(std::strlen(line.c_str()), 41u);

    // Full-width fields fill the line exactly; nothing is cut.
    day.TagPnr.assign("12345678");
    EXPECT_EQ(buildParameterLine(line, 1, "ABCDEFGHIJKLMNOPQRST", day), 0);
    EXPECT_EQ(std::string(line.c_str()), "ABCDEFGHIJKLMNOPQRST,12345678,17.09.2009\n");
}

}  // namespace
