// Every statement text of the batch, formatted as the batch formats it
// (schema QRV), run on the project's table definitions with small fixtures.
#include "tests/standin/engine_fixture.h"

namespace enginetest {
namespace {

using standin::Status;

const char* const kDayColumns =
    "SELECT TagPnr, CONVERT(char(8), TagTag, 112), CONVERT(char(8), TagVon, 112), CONVERT(char(8), "
    "TagUhr, 114), CONVERT(char(8), TagBis, 112), CONVERT(char(8), TagEnd, 114), TgbSol, TagTgb, "
    "TagTgs, TagHtv, TagHvs, TagHtn, TagHns FROM %s.Qrv327Tag, %s.Qrv320Tgb ";

const char* const kBookingColumns =
    "SELECT BchPnr, CONVERT(char(8), BchVon, 112), CONVERT(char(8), BchUhr, 114), BchFkt, "
    "CONVERT(char(8), BchBis, 112), CONVERT(char(8), BchVws, 114), BchFcd, BchZwt, BchAbt, BchKst, "
    "BchKtr, BchKrt, BchAzt, BchVra, BchTxt, BchSta, BchErf, BchTrm ";

class EngineBatch : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        loadSchema();
        // Day records: 1001 has a qualifying previous day (17th) and two
        // earlier days; 1002's window ends at another time; 1003's record
        // is of another day; 1004 has only a day plan row with TgbZtr 2.
        ok("INSERT INTO QRV.Qrv327Tag (TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd, TagTgb, "
           "TagTgs) VALUES "
           "('1001', '20090917', '20090917', '1900-01-01 12:00:00', '20090917', '12:00:00', 'U', "
           "5), "
           "('1001', '20090916', '20090916', '06:00:00', '20090916', '18:00:00', NULL, NULL), "
           "('1001', '20090915', '20090915', '12:00:00', '20090915', '12:00:00', NULL, NULL), "
           "('1002', '20090917', '20090917', '12:00:00', '20090917', '13:00:00', NULL, NULL), "
           "('1003', '20090916', '20090916', '12:00:00', '20090916', '12:00:00', NULL, NULL), "
           "('1004', '20090917', '20090917', '12:00:00', '20090917', '12:00:00', NULL, NULL)");
        ok("INSERT INTO QRV.Qrv320Tgb (TgbPnr, TgbDtm, TgbZtr, TgbSol) VALUES "
           "('1001', '20090917', 1, 480), ('1001', '20090916', 1, 470), "
           "('1001', '20090915', 1, 460), ('1002', '20090917', 1, 480), "
           "('1003', '20090916', 1, 480), ('1004', '20090917', 2, 480)");
        // Bookings of 1001 on the 16th: day messages 1, 2, 3 (and a 45) at
        // midnight; hourly ones inside and around the 06:00-18:00 window.
        ok("INSERT INTO QRV.Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd, BchErf) VALUES "
           "('1001', '20090916', '2009-09-16 00:00:00', 1, 'K', 'x'), "
           "('1001', '20090916', '2009-09-16 00:00:00', 2, 'U', 'x'), "
           "('1001', '20090916', '2009-09-16 00:00:00', 3, 'KF', 'x'), "
           "('1001', '20090916', '2009-09-16 00:00:00', 45, 'K', 'x'), "
           "('1001', '20090916', '2009-09-16 06:00:00', 29, 'AR', 'x'), "
           "('1001', '20090916', '2009-09-16 07:30:00', 23, 'AR', 'x'), "
           "('1001', '20090916', '2009-09-16 17:00:00', 45, 'AR', 'x'), "
           "('1001', '20090916', '2009-09-16 18:00:00', 24, 'DG', 'x'), "
           "('1001', '20090916', '2009-09-16 18:00:01', 24, 'DG', 'x'), "
           "('1002', '20090916', '2009-09-16 08:00:00', 1, 'K', 'x')");
        ok("INSERT INTO QRV.Qrv131Fcd (FcdNum, FcdTyp, FcdZwt, FcdStd, FcdSol, FcdPri, FcdGpu, "
           "FcdFcd, FcdFlg) VALUES ('K', 1, 2, 0, 1, 5, 1, 3, 'KF '), "
           "('KF', 1, 1, 480, 0, NULL, NULL, NULL, NULL)");
        ok("INSERT INTO QRV.Qrv329Ztg (ZtgPnr, ZtgVon, ZtgAzt, ZtgSta) VALUES "
           "('1001', '20090917', 'A1', 0), ('1001', '20090916', 'A1', 4)");
        ok("INSERT INTO QRV.Qrv140Azv (AzvNum, AzvGvo, AzvGbi, AzvSol, AzvSo2, AzvVhs, AzvHso, "
           "AzvHs2, AzvHtv) VALUES ('A1', '20090101', NULL, 480, 240, 1, 2, 3, 4), "
           "('A1', '20080101', '20081231', 1, 1, 1, 1, 1, 1)");
    }
};

TEST_F(EngineBatch, PreviousDayCursorSelectsYesterdaysNoonWindows) {
    const std::string sql =
        format(kDayColumns, "QRV", "QRV") +
        "WHERE TagTag = CONVERT(datetime, Convert(char(8), DATEADD(dd, -1, CURRENT_TIMESTAMP), "
        "112), 112) AND CONVERT(char(8), TagVon, 112) = CONVERT(char(8), TagBis, 112) AND "
        "CONVERT(char(8), TagUhr, 114) = CONVERT(char(8),TagEnd,114) AND "
        "CONVERT(char(8),TagUhr,114) = '12:00:00' AND TgbPnr = TagPnr AND TgbDtm = TagTag AND "
        "TgbZtr = 1";
    EXPECT_EQ(rows(sql), (Rows{{"1001    ", "20090917", "20090917", "12:00:00", "20090917",
                                "12:00:00", "480", "U  ", "5", "NULL", "NULL", "NULL", "NULL"}}));
}

TEST_F(EngineBatch, EarlierDaysCursorGoesBackFromTheGivenDay) {
    const std::string sql = format(
        (std::string(kDayColumns) +
         "WHERE TagPnr = '%s' AND TagTag < CONVERT(Datetime, '%s',112) AND TgbPnr = TagPnr AND "
         "TgbDtm = TagTag AND TgbZtr = 1 ORDER BY TagTag DESC")
            .c_str(),
        "QRV", "QRV", "1001", "20090917");
    const Rows r = rows(sql);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0][1], "20090916");
    EXPECT_EQ(r[0][3], "06:00:00");
    EXPECT_EQ(r[0][6], "470");
    EXPECT_EQ(r[1][1], "20090915");
}

TEST_F(EngineBatch, DayUpdateWritesTheSlotsOfOneRecord) {
    const char* const update =
        "UPDATE %s.QRV327Tag SET TagTgb = '%s', TagTgs = %ld, TagHtv = '%s', TagHvs = %ld, TagHtn "
        "= "
        "'%s', TagHns = %ld WHERE TagPnr = '%s' AND TagTag = CONVERT(datetime, '%s', 112)";
    standin::Result r = ok(format(update, "QRV", "KF", 480L, "", 0L, "", 0L, "1001", "20090917"));
    EXPECT_EQ(r.rowCount, 1);
    EXPECT_EQ(rows("SELECT TagTgb, TagTgs, TagHtv, TagHvs FROM QRV.Qrv327Tag WHERE TagPnr = "
                   "'1001' AND TagTag = '20090917'"),
              (Rows{{"KF ", "480", "   ", "0"}}));
    r = db->execute(format(update, "QRV", "KF", 480L, "", 0L, "", 0L, "1001", "20090918"));
    EXPECT_EQ(r.status, Status::NoData);
}

TEST_F(EngineBatch, DayMessageCursorReadsCodesOneToThree) {
    const std::string sql = format(
        (std::string(kBookingColumns) +
         "FROM %s.Qrv321Bch WHERE BchPnr = '%s' AND BchVon = CONVERT(Datetime, '%s', 112) AND "
         "(BchFkt = 1 OR BchFkt = 2 OR BchFkt = 3)")
            .c_str(),
        "QRV", "1001", "20090916");
    const Rows r = rows(sql);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0], (std::vector<std::string>{"1001    ", "20090916", "00:00:00", "1", "NULL",
                                              "NULL", "K  ", "NULL", "NULL", "NULL", "NULL", "NULL",
                                              "NULL", "NULL", "NULL", "NULL", "x", "NULL"}));
    EXPECT_EQ(r[1][3], "2");
    EXPECT_EQ(r[2][3], "3");
    EXPECT_TRUE(rows(format((std::string(kBookingColumns) +
                             "FROM %s.Qrv321Bch WHERE BchPnr = '%s' AND BchVon = "
                             "CONVERT(Datetime, '%s', 112) AND (BchFkt = 1 OR BchFkt = 2 OR "
                             "BchFkt = 3)")
                                .c_str(),
                            "QRV", "1001", "20090915"))
                    .empty());
}

TEST_F(EngineBatch, HourlyCursorReadsTheWindowLatestFirst) {
    const std::string sql = format(
        (std::string(kBookingColumns) +
         "FROM %s.Qrv321Bch, %s.Qrv327Tag WHERE TagPnr = '%s' AND TagPnr = BchPnr AND TagTag = "
         "CONVERT(Datetime, '%s', 112) AND CONVERT(char(8), BchVon, 112) + CONVERT(char(8), "
         "BchUhr, 114) >= CONVERT(char(8), TagVon, 112) + CONVERT(char(8), TagUhr, 114) AND "
         "CONVERT(char(8), BchVon, 112) + CONVERT(char(8), BchUhr, 114) <= CONVERT(char(8), "
         "TagBis, 112) + CONVERT(char(8),TagEnd,114) AND BchFkt <> 45 AND BchFkt <> 29 ORDER BY "
         "CONVERT(char(8),BchVon,112) DESC, CONVERT(char(8),BchUhr,114) DESC ")
            .c_str(),
        "QRV", "QRV", "1001", "20090916");
    const Rows r = rows(sql);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0][2], "18:00:00");
    EXPECT_EQ(r[0][3], "24");
    EXPECT_EQ(r[1][2], "07:30:00");
    EXPECT_EQ(r[1][3], "23");
}

TEST_F(EngineBatch, BookingFunctionChangeCountUpdateAndDelete) {
    const char* const count =
        "SELECT COUNT(*) FROM %s.Qrv321Bch WHERE BchPnr = '%s' AND BchVon = CONVERT(datetime, "
        "'%s', 112) AND CONVERT(char(8), BchUhr, 114) = '%s' AND BchFkt = %d";
    const char* const update =
        "UPDATE %s.QRV321Bch SET BchFkt = %d, BchDat = CURRENT_TIMESTAMP, BchErf = 'Quorvel' WHERE "
        "BchPnr = '%s' AND BchVon = CONVERT(datetime, '%s', 112) AND CONVERT(char(8), BchUhr, 114) "
        "= '%s' AND BchFkt = %ld ";
    const char* const remove =
        "DELETE FROM %s.QRV321Bch WHERE BchPnr = '%s' AND BchVon = CONVERT(Datetime, '%s', 112) "
        "AND CONVERT(char(8), BchUhr, 114) = '%s' AND BchFkt = %d";

    // A 45 already stands under the key of booking 1: the count sees it and
    // the update would collide.
    EXPECT_EQ(scalar(format(count, "QRV", "1001", "20090916", "00:00:00", 45)), "1");
    standin::Result r = db->execute(format(update, "QRV", 45, "1001", "20090916", "00:00:00", 1L));
    ASSERT_EQ(r.status, Status::Error);
    EXPECT_EQ(r.diags[0].native, 2627);
    EXPECT_EQ(r.diags[0].message,
              "Violation of PRIMARY KEY constraint 'PK_Qrv321Bch'. Cannot insert duplicate key in "
              "object 'QRV.Qrv321Bch'. The duplicate key value is (1001    , 2009-09-16 "
              "00:00:00.000, 2009-09-16 00:00:00.000, 45).");

    EXPECT_EQ(ok(format(remove, "QRV", "1001", "20090916", "00:00:00", 45)).rowCount, 1);
    EXPECT_EQ(scalar(format(count, "QRV", "1001", "20090916", "00:00:00", 45)), "0");
    r = ok(format(update, "QRV", 45, "1001", "20090916", "00:00:00", 1L));
    EXPECT_EQ(r.rowCount, 1);
    EXPECT_EQ(rows("SELECT BchDat, BchErf FROM QRV.Qrv321Bch WHERE BchPnr = '1001' AND BchFkt = "
                   "45 AND BchFcd = 'K'"),
              (Rows{{"2009-09-18 03:00:00.000", "Quorvel"}}));
    // The booking no longer carries code 1: nothing matches.
    EXPECT_EQ(db->execute(format(update, "QRV", 45, "1001", "20090916", "00:00:00", 1L)).status,
              Status::NoData);
    EXPECT_EQ(db->execute(format(remove, "QRV", "1001", "20090916", "00:00:00", 1)).status,
              Status::NoData);
}

TEST_F(EngineBatch, InsertedFollowUpBookingStandsAtMidnight) {
    const char* const insert =
        "INSERT INTO %s.Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd, BchSta, BchErf, BchDat) "
        "VALUES ('%s', CONVERT(Datetime, '%s', 112), CONVERT(Datetime, '%s', 120), %ld, '%s', 1, "
        "'Quorvel', CURRENT_TIMESTAMP)";
    const std::string sql =
        format(insert, "QRV", "1001", "20090917", "2009-09-17 00:00:00", 1L, "KF");
    EXPECT_EQ(ok(sql).rowCount, 1);
    EXPECT_EQ(rows("SELECT BchVon, BchUhr, BchFkt, BchFcd, BchSta, BchErf, BchDat, BchZwt FROM "
                   "QRV.Qrv321Bch WHERE BchPnr = '1001' AND BchVon = '20090917'"),
              (Rows{{"2009-09-17 00:00:00.000", "2009-09-17 00:00:00.000", "1", "KF ", "1",
                     "Quorvel", "2009-09-18 03:00:00.000", "NULL"}}));
    const standin::Result again = db->execute(sql);
    ASSERT_EQ(again.status, Status::Error);
    EXPECT_EQ(again.diags[0].native, 2627);
}

TEST_F(EngineBatch, DailyAndHourlyCounts) {
    const char* const daily =
        "SELECT Count(*) FROM %s.Qrv321Bch WHERE BchPnr = '%s' AND BchVon = CONVERT(Datetime, "
        "'%s', 112) AND BchFkt = 1";
    EXPECT_EQ(scalar(format(daily, "QRV", "1001", "20090916")), "1");
    EXPECT_EQ(scalar(format(daily, "QRV", "1001", "20090915")), "0");
    const char* const hourly =
        "SELECT Count(*) FROM %s.Qrv321Bch WHERE BchPnr = '%s' AND (CONVERT(char(10), BchVon, 120) "
        "+ ' ' + CONVERT(char(8), BchUhr, 114)) >= '%s' AND (CONVERT(char(10), BchVon, 120) + ' ' "
        "+ CONVERT(char(8), BchUhr, 114)) <= '%s' AND (BchFkt = 21 OR BchFkt = 22 OR BchFkt = 23 "
        "OR BchFkt = 24 OR BchFkt = 25 OR BchFkt = 29 OR BchFkt = 30 OR BchFkt = 0) ";
    // 29 at the window's start and 24 at its end count; 24 one second after
    // it and the codes 1, 2, 3 and 45 do not.
    EXPECT_EQ(scalar(format(hourly, "QRV", "1001", "2009-09-16 06:00:00", "2009-09-16 18:00:00")),
              "3");
    EXPECT_EQ(scalar(format(hourly, "QRV", "1001", "2009-09-16 12:00:00", "2009-09-17 12:00:00")),
              "2");
}

TEST_F(EngineBatch, MessageTypeAndWorkTimeRuleLookups) {
    EXPECT_EQ(scalar(format("SELECT FcdFlg FROM %s.Qrv131Fcd WHERE FcdNum = '%s'", "QRV", "K")),
              "KF ");
    EXPECT_EQ(scalar(format("SELECT FcdFlg FROM %s.Qrv131Fcd WHERE FcdNum = '%s'", "QRV", "kf")),
              "NULL");
    EXPECT_TRUE(
        rows(format("SELECT FcdFlg FROM %s.Qrv131Fcd WHERE FcdNum = '%s'", "QRV", "ZZ")).empty());
    const char* const type =
        "SELECT FcdTyp, FcdZwt, FcdStd, FcdSol, COALESCE(FcdPri, 0), COALESCE(FcdGpu, 0), "
        "COALESCE(FcdFcd, -9), FcdFlg FROM %s.Qrv131Fcd WHERE FcdNum = '%s' ";
    EXPECT_EQ(rows(format(type, "QRV", "KF")),
              (Rows{{"1", "1", "480", "0", "0", "0", "-9", "NULL"}}));
    EXPECT_EQ(rows(format(type, "QRV", "K")), (Rows{{"1", "2", "0", "1", "5", "1", "3", "KF "}}));

    const char* const rule =
        "SELECT AzvNum, CONVERT(char(8), ZtgVon, 112), AzvSol, AzvSo2, AzvVhs, AzvHso, AzvHs2, "
        "AzvHtv FROM %s.Qrv329Ztg, %s.Qrv140Azv WHERE ZtgPnr = '%s' AND ZtgVon = CONVERT(Datetime, "
        "'%s', 112) AND ZtgAzt = AzvNum AND ZtgVon >= AzvGvo AND (ZtgVon <= AzvGbi OR AzvGbi IS "
        "NULL) AND ZtgSta < 4 AND AzvSta < 4 ";
    EXPECT_EQ(rows(format(rule, "QRV", "QRV", "1001", "20090917")),
              (Rows{{"A1   ", "20090917", "480", "240", "1", "2", "3", "4"}}));
    // Status 4 on the assignment, and a day without assignment, find nothing.
    EXPECT_TRUE(rows(format(rule, "QRV", "QRV", "1001", "20090916")).empty());
    EXPECT_TRUE(rows(format(rule, "QRV", "QRV", "1001", "20090918")).empty());
}

}  // namespace
}  // namespace enginetest
