// The day-record cursors and update against the stand-in.
#include <map>
#include <string>
#include <vector>

#include "db/day_records.h"
#include "tests/db/db_fixture.h"

namespace {

using dbtest::DbTest;

std::map<std::string, DayRecord> fetchAllPrevDay() {
    std::map<std::string, DayRecord> rows;
    DayRecord rec{};
    int rc;
    while ((rc = fetchPrevDayRecord(rec)) == 0) rows[rec.TagPnr.text] = rec;
    EXPECT_EQ(rc, SQL_NO_DATA);
    return rows;
}

TEST_F(DbTest, PrevDayCursorSelectsYesterdaysNoonToNoonDaysWithPlanOne) {
    db().exec(R"(
-- selected: window 12:00 to 12:00 on one date, plan row with TgbZtr 1
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('1001', '20090917', '20090917', '20090917 12:00:00', '20090917', '20090917 12:00:00', 'U', 480, 'K  ', 120, NULL, 7)
INSERT INTO $(SCHEMA).Qrv320Tgb VALUES ('1001', '20090917', 1, 450)
-- selected: NULL target time and NULL slots arrive as 0 and empty
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('1009', '20090917', '20090917', '20090917 12:00:00', '20090917', '20090917 12:00:00', NULL, NULL, NULL, NULL, NULL, NULL)
INSERT INTO $(SCHEMA).Qrv320Tgb VALUES ('1009', '20090917', 1, NULL)
-- window ends at another time
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('1002', '20090917', '20090917', '20090917 12:00:00', '20090917', '20090917 13:00:00', NULL, 0, NULL, 0, NULL, 0)
INSERT INTO $(SCHEMA).Qrv320Tgb VALUES ('1002', '20090917', 1, 480)
-- window ends on another date
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('1003', '20090917', '20090917', '20090917 12:00:00', '20090918', '20090918 12:00:00', NULL, 0, NULL, 0, NULL, 0)
INSERT INTO $(SCHEMA).Qrv320Tgb VALUES ('1003', '20090917', 1, 480)
-- plan row with TgbZtr 2 only
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('1004', '20090917', '20090917', '20090917 12:00:00', '20090917', '20090917 12:00:00', NULL, 0, NULL, 0, NULL, 0)
INSERT INTO $(SCHEMA).Qrv320Tgb VALUES ('1004', '20090917', 2, 480)
-- no plan row
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('1005', '20090917', '20090917', '20090917 12:00:00', '20090917', '20090917 12:00:00', NULL, 0, NULL, 0, NULL, 0)
-- the day before yesterday, and today
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('1006', '20090916', '20090916', '20090916 12:00:00', '20090916', '20090916 12:00:00', NULL, 0, NULL, 0, NULL, 0)
INSERT INTO $(SCHEMA).Qrv320Tgb VALUES ('1006', '20090916', 1, 480)
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('1007', '20090918', '20090918', '20090918 12:00:00', '20090918', '20090918 12:00:00', NULL, 0, NULL, 0, NULL, 0)
INSERT INTO $(SCHEMA).Qrv320Tgb VALUES ('1007', '20090918', 1, 480)
-- same instant, but not noon
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('1008', '20090917', '20090917', '20090917 11:00:00', '20090917', '20090917 11:00:00', NULL, 0, NULL, 0, NULL, 0)
INSERT INTO $(SCHEMA).Qrv320Tgb VALUES ('1008', '20090917', 1, 480)
)");
    ASSERT_EQ(openPrevDayRecordCursor(), 0);
    std::map<std::string, DayRecord> rows = fetchAllPrevDay();
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_TRUE(rows.count("1001") && rows.count("1009"));

    const DayRecord& d = rows["1001"];
    EXPECT_STREQ(d.TagTag.text, "20090917");
    EXPECT_STREQ(d.TagVon.text, "20090917");
    EXPECT_STREQ(d.TagUhr.text, "120000");
    EXPECT_STREQ(d.TagBis.text, "20090917");
    EXPECT_STREQ(d.TagEnd.text, "120000");
    EXPECT_EQ(d.TagSol, 450);
    EXPECT_STREQ(d.TagTgb.text, "U");
    EXPECT_EQ(d.TagTgs, 480);
    EXPECT_STREQ(d.TagHtv.text, "K");
    EXPECT_EQ(d.TagHvs, 120);
    EXPECT_STREQ(d.TagHtn.text, "");
    EXPECT_EQ(d.TagHns, 7);

    const DayRecord& n = rows["1009"];
    EXPECT_EQ(n.TagSol, 0);
    EXPECT_STREQ(n.TagTgb.text, "");
    EXPECT_EQ(n.TagTgs, 0);
    EXPECT_STREQ(n.TagHtv.text, "");

    EXPECT_EQ(closePrevDayRecordCursor(), 0);
}

TEST_F(DbTest, PrevDayCursorWithoutQualifyingDayEndsAtOnce) {
    ASSERT_EQ(openPrevDayRecordCursor(), 0);
    DayRecord rec{};
    rec.TagPnr.assign("keep");
    EXPECT_EQ(fetchPrevDayRecord(rec), SQL_NO_DATA);
    EXPECT_STREQ(rec.TagPnr.text, "keep");
}

TEST_F(DbTest, EarlierDaysComeLatestFirstAndStopBeforeTheDay) {
    db().exec(R"(
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('1001', '20090910', '20090909', '20090909 12:00:00', '20090910', '20090910 12:00:00', 'U', 1, NULL, 0, NULL, 0)
INSERT INTO $(SCHEMA).Qrv320Tgb VALUES ('1001', '20090910', 1, 480)
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('1001', '20090916', '20090915', '20090915 12:00:00', '20090916', '20090916 12:00:00', 'U', 3, NULL, 0, NULL, 0)
INSERT INTO $(SCHEMA).Qrv320Tgb VALUES ('1001', '20090916', 1, 480)
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('1001', '20090915', '20090914', '20090914 06:30:15', '20090915', '20090915 22:01:02', 'U', 2, NULL, 0, NULL, 0)
INSERT INTO $(SCHEMA).Qrv320Tgb VALUES ('1001', '20090915', 1, 480)
-- no plan row with TgbZtr 1
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('1001', '20090914', '20090913', '20090913 12:00:00', '20090914', '20090914 12:00:00', 'U', 0, NULL, 0, NULL, 0)
INSERT INTO $(SCHEMA).Qrv320Tgb VALUES ('1001', '20090914', 2, 480)
-- the day itself and a later one
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('1001', '20090917', '20090917', '20090917 12:00:00', '20090917', '20090917 12:00:00', 'U', 0, NULL, 0, NULL, 0)
INSERT INTO $(SCHEMA).Qrv320Tgb VALUES ('1001', '20090917', 1, 480)
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('1001', '20090918', '20090918', '20090918 12:00:00', '20090918', '20090918 12:00:00', 'U', 0, NULL, 0, NULL, 0)
INSERT INTO $(SCHEMA).Qrv320Tgb VALUES ('1001', '20090918', 1, 480)
-- another employee
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('1002', '20090915', '20090915', '20090915 12:00:00', '20090915', '20090915 12:00:00', 'U', 0, NULL, 0, NULL, 0)
INSERT INTO $(SCHEMA).Qrv320Tgb VALUES ('1002', '20090915', 1, 480)
)");
    ASSERT_EQ(openEarlierDayRecordCursor({"1001"}, {"20090917"}), 0);
    std::vector<std::string> days;
    DayRecord rec{};
    int rc;
    while ((rc = fetchEarlierDayRecord(rec)) == 0) {
        days.push_back(rec.TagTag.text);
        if (days.back() == "20090915") {
            EXPECT_STREQ(rec.TagVon.text, "20090914");
            EXPECT_STREQ(rec.TagUhr.text, "063015");
            EXPECT_STREQ(rec.TagEnd.text, "220102");
            EXPECT_EQ(rec.TagTgs, 2);
        }
    }
    EXPECT_EQ(rc, SQL_NO_DATA);
    EXPECT_EQ(days, (std::vector<std::string>{"20090916", "20090915", "20090910"}));
    EXPECT_STREQ(rec.TagTag.text, "20090910");  // untouched by the final fetch
    EXPECT_EQ(closeEarlierDayRecordCursor(), 0);
}

TEST_F(DbTest, UpdateDayRecordWritesTheSlotsOnly) {
    db().exec(R"(
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('1001', '20090917', '20090917', '20090917 12:00:00', '20090917', '20090917 12:00:00', 'U', 1, 'V', 2, 'W', 3)
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('O''1', '20090917', '20090917', '20090917 12:00:00', '20090917', '20090917 12:00:00', NULL, 0, NULL, 0, NULL, 0)
)");
    DayRecord rec{};
    rec.TagPnr.assign("1001");
    rec.TagTag.assign("20090917");
    rec.TagTgs = 480;
    rec.TagHvs = -5;
    rec.TagHns = 0;
    EXPECT_EQ(updateDayRecord(rec), 0);
    // Empty codes are written as '' (blank-padded by char(3)), not as NULL.
    EXPECT_EQ(db().query("SELECT TagTgb, TagTgs, TagHtv, TagHvs, TagHtn, TagHns, "
                         "CONVERT(char(8), TagVon, 112) FROM QRV.Qrv327Tag WHERE TagPnr = '1001'"),
              (std::vector<std::vector<std::string>>{
                  {"   ", "480", "   ", "-5", "   ", "0", "20090917"}}));

    // A personnel number with an apostrophe matches its own row.
    rec.TagPnr.assign("O'1");
    rec.TagTgb.assign("K'");
    EXPECT_EQ(updateDayRecord(rec), 0);
    EXPECT_EQ(db().scalar("SELECT TagTgb FROM QRV.Qrv327Tag WHERE TagPnr = 'O''1'"), "K' ");

    rec.TagPnr.assign("9999");
    EXPECT_EQ(updateDayRecord(rec), SQL_NO_DATA);
    rec.TagPnr.assign("1001");
    rec.TagTag.assign("20090916");
    EXPECT_EQ(updateDayRecord(rec), SQL_NO_DATA);
}

}  // namespace
