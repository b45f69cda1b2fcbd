// The booking cursors, and the cursor pattern's states and failures,
// against the stand-in.
#include <cstring>
#include <string>
#include <vector>

#include "db/booking_writes.h"
#include "db/bookings.h"
#include "db/day_records.h"
#include "tests/db/db_fixture.h"

namespace {

using dbtest::booking;
using dbtest::DbTest;

// "hhmmss/fkt" of each row until the fetch stops; the stop code goes to rc.
template <typename Fetch>
std::vector<std::string> fetchKeys(Fetch fetch, int& rc) {
    std::vector<std::string> keys;
    BookingRecord rec{};
    while ((rc = fetch(rec)) == 0)
        keys.push_back(std::string(rec.BchUhr.text) + "/" + std::to_string(rec.BchFkt));
    return keys;
}

TEST_F(DbTest, DayMessageCursorsDeliverCodesOneToThreeOfThePersonsDay) {
    db().exec(R"(
INSERT INTO $(SCHEMA).Qrv321Bch VALUES ('1001 ', '20090917', '20090917 07:30:00', 1, '20090918', '20090918 16:45:30', 'K', 5, 'Abt 1', 'Kostenstelle', 'Ktr', 'Krt', 'Azt', 'Vra', 9, 2, 'someone', 'T1', NULL)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 08:00:00', 2)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 09:00:00', 3)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 10:00:00', 45)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 11:00:00', 23)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 12:00:00', 0)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090916', '20090916 07:30:00', 1)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1002', '20090917', '20090917 07:30:00', 1)
)");
    ASSERT_EQ(openPrevDayMsgCursor({"1001"}, {"20090917"}), 0);
    BookingRecord rec{};
    rec.BchErf.assign("mine");
    rec.BchTrm.assign("mine too");
    ASSERT_EQ(fetchPrevDayMsgCursor(rec), 0);
    EXPECT_STREQ(rec.BchPnr.text, "1001");  // stored blank-padded, delivered trimmed
    EXPECT_STREQ(rec.BchVon.text, "20090917");
    EXPECT_STREQ(rec.BchUhr.text, "073000");
    EXPECT_EQ(rec.BchFkt, 1);
    EXPECT_STREQ(rec.BchBis.text, "20090918");
    EXPECT_STREQ(rec.BchVws.text, "164530");
    EXPECT_STREQ(rec.BchFcd.text, "K");
    EXPECT_EQ(rec.BchZwt, 5);
    EXPECT_STREQ(rec.BchAbt.text, "Abt 1");
    EXPECT_STREQ(rec.BchKst.text, "Kostenstelle");
    EXPECT_STREQ(rec.BchKtr.text, "Ktr");
    EXPECT_STREQ(rec.BchKrt.text, "Krt");
    EXPECT_STREQ(rec.BchAzt.text, "Azt");
    EXPECT_STREQ(rec.BchVra.text, "Vra");
    EXPECT_EQ(rec.BchTxt, 9);
    EXPECT_EQ(rec.BchSta, 2);
    EXPECT_STREQ(rec.BchErf.text, "mine");
    EXPECT_STREQ(rec.BchTrm.text, "mine too");

    // The NULL columns of the next row arrive as empty texts and 0.
    ASSERT_EQ(fetchPrevDayMsgCursor(rec), 0);
    EXPECT_STREQ(rec.BchUhr.text, "080000");
    EXPECT_EQ(rec.BchFkt, 2);
    EXPECT_STREQ(rec.BchBis.text, "");
    EXPECT_STREQ(rec.BchVws.text, "");
    EXPECT_STREQ(rec.BchFcd.text, "");
    EXPECT_EQ(rec.BchZwt, 0);
    EXPECT_STREQ(rec.BchKst.text, "");
    EXPECT_EQ(rec.BchSta, 0);

    int rc = 0;
    EXPECT_EQ(fetchKeys(fetchPrevDayMsgCursor, rc), (std::vector<std::string>{"090000/3"}));
    EXPECT_EQ(rc, SQL_NO_DATA);
    EXPECT_EQ(closePrevDayMsgCursor(), 0);

    // Cursor 2 runs the same statement on its own handle.
    ASSERT_EQ(openAccDayMsgCursor({"1001"}, {"20090917"}), 0);
    EXPECT_EQ(fetchKeys(fetchAccDayMsgCursor, rc),
              (std::vector<std::string>{"073000/1", "080000/2", "090000/3"}));
    EXPECT_EQ(rc, SQL_NO_DATA);
}

TEST_F(DbTest, DayMessageCursorWithoutBookingsLeavesRecord) {
    ASSERT_EQ(openAccDayMsgCursor({"1001"}, {"20090917"}), 0);
    BookingRecord rec = booking("keep", "20000101", "010101", 77);
    EXPECT_EQ(fetchAccDayMsgCursor(rec), SQL_NO_DATA);
    EXPECT_STREQ(rec.BchPnr.text, "keep");
    EXPECT_EQ(rec.BchFkt, 77);
    EXPECT_EQ(closeAccDayMsgCursor(), 0);
}

TEST_F(DbTest, HourlyCursorReadsTheDaysWindowNewestFirst) {
    db().exec(R"(
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('1001', '20090917', '20090916', '20090916 12:00:00', '20090917', '20090917 12:00:00', NULL, 0, NULL, 0, NULL, 0)
-- on both ends: included
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090916', '20090916 12:00:00', 23)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 12:00:00', 24)
-- inside, any code but 45 and 29
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090916', '20090916 18:00:00', 1)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 06:00:00', 21)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 07:00:00', 45)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 08:00:00', 29)
-- one second outside either end
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090916', '20090916 11:59:59', 23)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 12:00:01', 23)
-- another employee inside the window
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1002', '20090917', '20090917 09:00:00', 23)
)");
    ASSERT_EQ(openHourlyMsgCursor({"1001"}, {"20090917"}), 0);
    int rc = 0;
    EXPECT_EQ(fetchKeys(fetchHourlyMsgCursor, rc),
              (std::vector<std::string>{"120000/24", "060000/21", "180000/1", "120000/23"}));
    EXPECT_EQ(rc, SQL_NO_DATA);
    EXPECT_EQ(closeHourlyMsgCursor(), 0);

    // Another day of the same person has no day record: nothing.
    ASSERT_EQ(openHourlyMsgCursor({"1001"}, {"20090916"}), 0);
    BookingRecord rec{};
    EXPECT_EQ(fetchHourlyMsgCursor(rec), SQL_NO_DATA);
}

TEST_F(DbTest, CursorOnClosedOrExhaustedHandle) {
    BookingRecord rec = booking("keep", "20000101", "010101", 77);
    EXPECT_EQ(fetchPrevDayMsgCursor(rec), -1);
    EXPECT_EQ(fetchHourlyMsgCursor(rec), -1);
    DayRecord day{};
    day.TagPnr.assign("keep");
    EXPECT_EQ(fetchEarlierDayRecord(day), -1);
    EXPECT_STREQ(rec.BchPnr.text, "keep");
    EXPECT_STREQ(day.TagPnr.text, "keep");
    EXPECT_EQ(closePrevDayMsgCursor(), 0);
    EXPECT_EQ(closeEarlierDayRecordCursor(), 0);

    db().exec(
        "INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', "
        "'20090917', '20090917 07:30:00', 1)");
    ASSERT_EQ(openPrevDayMsgCursor({"1001"}, {"20090917"}), 0);
    ASSERT_EQ(fetchPrevDayMsgCursor(rec), 0);
    BookingRecord last = rec;
    EXPECT_EQ(fetchPrevDayMsgCursor(rec), SQL_NO_DATA);
    EXPECT_EQ(fetchPrevDayMsgCursor(rec), SQL_NO_DATA);  // still open after the end
    EXPECT_EQ(0, std::memcmp(&rec, &last, sizeof rec));
    EXPECT_EQ(closePrevDayMsgCursor(), 0);
    EXPECT_EQ(fetchPrevDayMsgCursor(rec), -1);
    EXPECT_EQ(closePrevDayMsgCursor(), 0);
}

TEST_F(DbTest, FailedOpenFillsDiagnosticsAndLeavesCursorClosed) {
    injectFault({{"FailOn", "FROM QRV.Qrv321Bch WHERE"}, {"FailNative", "50123"}});
    diagRecord.NativeError = 0;
    EXPECT_EQ(openAccDayMsgCursor({"1001"}, {"20090917"}), -1);
    EXPECT_EQ(diagRecord.NativeError, 50123);
    EXPECT_EQ(std::strlen(diagRecord.SqlState.text), 5u);
    EXPECT_STRNE(diagRecord.Message.text, "");
    BookingRecord rec = booking("keep", "20000101", "010101", 77);
    EXPECT_EQ(fetchAccDayMsgCursor(rec), -1);
    EXPECT_STREQ(rec.BchPnr.text, "keep");
    EXPECT_EQ(closeAccDayMsgCursor(), 0);

    // The hourly cursor's statement does not contain the fault's text.
    EXPECT_EQ(openHourlyMsgCursor({"1001"}, {"20090917"}), 0);
}

TEST_F(DbTest, FailedFetchFillsDiagnosticsAndClosesTheCursor) {
    injectFault({{"FailFetchOn", "Qrv321Bch"}, {"FailFetchAfter", "1"}}, R"(
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 07:30:00', 1)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 08:30:00', 2)
)");
    ASSERT_EQ(openPrevDayMsgCursor({"1001"}, {"20090917"}), 0);
    BookingRecord rec{};
    ASSERT_EQ(fetchPrevDayMsgCursor(rec), 0);
    EXPECT_STREQ(rec.BchUhr.text, "073000");
    diagRecord.SqlState.clear();
    EXPECT_EQ(fetchPrevDayMsgCursor(rec), -1);
    EXPECT_STREQ(rec.BchUhr.text, "073000");
    EXPECT_EQ(std::strlen(diagRecord.SqlState.text), 5u);
    EXPECT_EQ(fetchPrevDayMsgCursor(rec), -1);  // closed by the failure
    EXPECT_EQ(closePrevDayMsgCursor(), 0);
}

TEST_F(DbTest, OverLongTextArrivesCutAndCountsAsSuccess) {
    db().exec(R"(
DROP TABLE $(SCHEMA).Qrv321Bch
CREATE TABLE $(SCHEMA).Qrv321Bch (BchPnr varchar(20) NOT NULL, BchVon datetime NOT NULL, BchUhr datetime NOT NULL, BchFkt int NOT NULL, BchBis datetime NULL, BchVws datetime NULL, BchFcd varchar(20) NULL, BchZwt int NULL, BchAbt varchar(40) NULL, BchKst varchar(40) NULL, BchKtr char(6) NULL, BchKrt char(4) NULL, BchAzt char(5) NULL, BchVra char(13) NULL, BchTxt int NULL, BchSta int NULL, BchErf varchar(80) NULL, BchTrm varchar(300) NULL, BchDat datetime NULL)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd, BchKst, BchErf, BchTrm) VALUES ('1001', '20090917', '20090917 07:30:00', 1, 'ABCDE', '0123456789012345678901234567890123456789', 'EEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEE', 'T')
)");
    ASSERT_EQ(openPrevDayMsgCursor({"1001"}, {"20090917"}), 0);
    BookingRecord rec{};
    ASSERT_EQ(fetchPrevDayMsgCursor(rec), 0);
    EXPECT_STREQ(rec.BchFcd.text, "ABC");
    EXPECT_STREQ(rec.BchKst.text, "012345678901234567890123456789");
    EXPECT_STREQ(rec.BchErf.text, "");
}

TEST_F(DbTest, NestedCursorsKeepTheirRowsWhileOthersRunAndWrite) {
    db().exec(R"(
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('1001', '20090917', '20090917', '20090917 12:00:00', '20090917', '20090917 12:00:00', NULL, 0, NULL, 0, NULL, 0)
INSERT INTO $(SCHEMA).Qrv320Tgb VALUES ('1001', '20090917', 1, 480)
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('1002', '20090917', '20090917', '20090917 12:00:00', '20090917', '20090917 12:00:00', NULL, 0, NULL, 0, NULL, 0)
INSERT INTO $(SCHEMA).Qrv320Tgb VALUES ('1002', '20090917', 1, 480)
INSERT INTO $(SCHEMA).Qrv327Tag VALUES ('1001', '20090916', '20090915', '20090915 12:00:00', '20090916', '20090916 12:00:00', NULL, 0, NULL, 0, NULL, 0)
INSERT INTO $(SCHEMA).Qrv320Tgb VALUES ('1001', '20090916', 1, 480)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES ('1001', '20090916', '20090916 07:00:00', 1, 'U')
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES ('1001', '20090916', '20090916 08:00:00', 2, 'K')
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES ('1001', '20090917', '20090917 09:00:00', 1, 'X')
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES ('1001', '20090917', '20090917 10:00:00', 3, 'Y')
)");
    ASSERT_EQ(openPrevDayRecordCursor(), 0);
    DayRecord day{};
    ASSERT_EQ(fetchPrevDayRecord(day), 0);
    ASSERT_STREQ(day.TagPnr.text, "1001");

    ASSERT_EQ(openEarlierDayRecordCursor({"1001"}, {"20090917"}), 0);
    DayRecord earlier{};
    ASSERT_EQ(fetchEarlierDayRecord(earlier), 0);
    std::int32_t count = -1;
    ASSERT_EQ(countDailyMessageBookings(earlier, count), 0);
    EXPECT_EQ(count, 1);

    ASSERT_EQ(openPrevDayMsgCursor({"1001"}, earlier.TagTag), 0);
    BookingRecord outer{};
    ASSERT_EQ(fetchPrevDayMsgCursor(outer), 0);
    EXPECT_STREQ(outer.BchFcd.text, "U");

    // Cursor 2 over the accounting day, with a cancellation and an insert
    // while both cursors are open.
    ASSERT_EQ(openAccDayMsgCursor({"1001"}, {"20090917"}), 0);
    BookingRecord inner{};
    ASSERT_EQ(fetchAccDayMsgCursor(inner), 0);
    EXPECT_STREQ(inner.BchFcd.text, "X");
    EXPECT_EQ(updateBookingFunction(inner, kFktCancelled), 0);
    BookingRecord generated = booking("1001", "20090917", "000000", 2, "K");
    EXPECT_EQ(insertBooking(generated), 0);
    ASSERT_EQ(fetchAccDayMsgCursor(inner), 0);
    EXPECT_STREQ(inner.BchFcd.text, "Y");
    EXPECT_EQ(fetchAccDayMsgCursor(inner), SQL_NO_DATA);
    EXPECT_EQ(closeAccDayMsgCursor(), 0);
    EXPECT_EQ(updateDayRecord(day), 0);

    ASSERT_EQ(fetchPrevDayMsgCursor(outer), 0);
    EXPECT_STREQ(outer.BchFcd.text, "K");
    EXPECT_EQ(fetchPrevDayMsgCursor(outer), SQL_NO_DATA);
    EXPECT_EQ(closePrevDayMsgCursor(), 0);
    EXPECT_EQ(fetchEarlierDayRecord(earlier), SQL_NO_DATA);
    EXPECT_EQ(closeEarlierDayRecordCursor(), 0);

    ASSERT_EQ(fetchPrevDayRecord(day), 0);
    EXPECT_STREQ(day.TagPnr.text, "1002");
    EXPECT_EQ(fetchPrevDayRecord(day), SQL_NO_DATA);

    EXPECT_EQ(db().query("SELECT CONVERT(char(8), BchUhr, 114), BchFkt FROM QRV.Qrv321Bch "
                         "WHERE BchVon = '20090917' ORDER BY BchUhr"),
              (std::vector<std::vector<std::string>>{
                  {"00:00:00", "2"}, {"09:00:00", "45"}, {"10:00:00", "3"}}));
}

}  // namespace
