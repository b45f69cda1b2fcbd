// Cancellation, delete, insert and the two counts against the stand-in.
#include <string>
#include <vector>

#include "db/booking_writes.h"
#include "tests/db/db_fixture.h"

namespace {

using dbtest::booking;
using dbtest::dayWindow;
using dbtest::DbTest;
using Rows = std::vector<std::vector<std::string>>;

TEST_F(DbTest, InsertBookingStoresAGeneratedBooking) {
    BookingRecord rec = booking("1001", "20090917", "000000", 1, "K");
    EXPECT_EQ(insertBooking(rec), 0);
    EXPECT_EQ(db().query("SELECT BchPnr, CONVERT(char(8), BchVon, 114), CONVERT(char(19), BchVon, "
                         "120), CONVERT(char(19), BchUhr, 120), BchFkt, BchFcd, BchSta, BchErf, "
                         "CONVERT(char(19), BchDat, 120), BchBis FROM QRV.Qrv321Bch"),
              (Rows{{"1001    ", "00:00:00", "2009-09-17 00:00:00", "2009-09-17 00:00:00", "1",
                     "K  ", "1", "Quorvel", "2009-09-18 08:00:00", "NULL"}}));

    // The time goes with the date into BchUhr.
    rec = booking("O'B", "20090917", "073005", 3, "K'");
    EXPECT_EQ(insertBooking(rec), 0);
    EXPECT_EQ(db().scalar("SELECT CONVERT(char(19), BchUhr, 120) + BchFcd FROM QRV.Qrv321Bch "
                          "WHERE BchPnr = 'O''B'"),
              "2009-09-17 07:30:05K' ");

    // The same key again: the database's native error comes back.
    diagRecord.NativeError = 0;
    EXPECT_EQ(insertBooking(rec), kDuplicateKey);
    EXPECT_EQ(diagRecord.NativeError, kDuplicateKey);
    EXPECT_STREQ(diagRecord.SqlState.text, "23000");
}

TEST_F(DbTest, UpdateBookingFunctionYieldsToAnExistingCancellation) {
    db().exec(R"(
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd, BchErf, BchDat) VALUES ('1001', '20090917', '20090917 07:30:00', 1, 'GL', 'user', '20090901')
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd, BchErf, BchDat) VALUES ('1001', '20090917', '20090917 07:30:00', 45, 'UR', 'user', '20090901')
)");
    const char* const kRows =
        "SELECT BchFkt, BchErf, CONVERT(char(19), BchDat, 120) FROM QRV.Qrv321Bch ORDER BY BchFkt";
    BookingRecord rec = booking("1001", "20090917", "073000", 1, "GL");
    EXPECT_EQ(updateBookingFunction(rec, kFktCancelled), kDuplicateKey);
    EXPECT_EQ(db().query(kRows),
              (Rows{{"1", "user", "2009-09-01 00:00:00"}, {"45", "user", "2009-09-01 00:00:00"}}));

    EXPECT_EQ(deleteBooking(rec, kFktCancelled), 0);
    EXPECT_EQ(updateBookingFunction(rec, kFktCancelled), 0);
    EXPECT_EQ(db().query(kRows), (Rows{{"45", "Quorvel", "2009-09-18 08:00:00"}}));

    // Nothing left to match: the driver's SQL_NO_DATA comes back.
    EXPECT_EQ(deleteBooking(rec, 2), SQL_NO_DATA);
    BookingRecord other = booking("1001", "20090917", "080000", 2, "GL");
    EXPECT_EQ(updateBookingFunction(other, kFktCancelled), SQL_NO_DATA);
}

TEST_F(DbTest, UpdateBookingFunctionMatchesPersonDateTimePresentFunctionAndCode) {
    db().exec(R"(
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES ('O''B', '20090917', '20090917 07:30:00', 2, 'K''')
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES ('O''B', '20090917', '20090917 07:30:01', 2, 'K''')
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES ('O''B', '20090918', '20090918 07:30:00', 2, 'K''')
-- the same second, another code: a booking of its own
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES ('O''B', '20090917', '20090917 07:30:00.500', 2, 'UR')
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES ('1002', '20090917', '20090917 07:30:00', 2, 'K''')
-- a cancellation of another person at the same date and time does not count
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt, BchFcd) VALUES ('1002', '20090917', '20090917 07:30:00', 45, 'K''')
)");
    BookingRecord rec = booking("O'B", "20090917", "073000", 2, "K'");
    EXPECT_EQ(updateBookingFunction(rec, kFktCancelled), 0);
    EXPECT_EQ(db().query("SELECT BchPnr, CONVERT(char(8), BchUhr, 112) + ' ' + CONVERT(char(12), "
                         "BchUhr, 114), BchFkt, BchFcd FROM QRV.Qrv321Bch ORDER BY BchPnr, BchUhr, "
                         "BchFkt"),
              (Rows{{"1002    ", "20090917 07:30:00:000", "2", "K' "},
                    {"1002    ", "20090917 07:30:00:000", "45", "K' "},
                    {"O'B     ", "20090917 07:30:00:000", "45", "K' "},
                    {"O'B     ", "20090917 07:30:00:500", "2", "UR "},
                    {"O'B     ", "20090917 07:30:01:000", "2", "K' "},
                    {"O'B     ", "20090918 07:30:00:000", "2", "K' "}}));
}

TEST_F(DbTest, FailingBookingStatementsReportTheirCodes) {
    BookingRecord rec = booking("1001", "20090917", "073000", 1);
    std::int32_t count = 77;
    DayRecord day = dayWindow("1001", "20090917", "20090916", "120000", "20090917", "120000");

    injectFault({{"FailOn", "SELECT COUNT(*)"}, {"FailNative", "1205"}});
    EXPECT_EQ(updateBookingFunction(rec, kFktCancelled), -1);
    EXPECT_EQ(diagRecord.NativeError, 1205);
    EXPECT_EQ(countDailyMessageBookings(day, count), -1);
    EXPECT_EQ(countHourlyMessageBookings(day, count), -1);
    EXPECT_EQ(count, 77);

    injectFault({{"FailOn", "DELETE"}, {"FailNative", "547"}});
    diagRecord.NativeError = 0;
    EXPECT_EQ(deleteBooking(rec, kFktCancelled), -1);
    EXPECT_EQ(diagRecord.NativeError, 547);

    injectFault({{"FailOn", "UPDATE"}, {"FailNative", "547"}});
    diagRecord.NativeError = 0;
    EXPECT_EQ(updateBookingFunction(rec, kFktCancelled), -1);
    EXPECT_EQ(diagRecord.NativeError, 547);

    injectFault({{"FailOn", "INSERT"}, {"FailNative", "8152"}});
    EXPECT_EQ(insertBooking(rec), 8152);
}

TEST_F(DbTest, FailingCountFetchesReportTheirCodes) {
    BookingRecord rec = booking("1001", "20090917", "073000", 1);
    std::int32_t count = 77;
    DayRecord day = dayWindow("1001", "20090917", "20090916", "120000", "20090917", "120000");

    // A failing fetch of the cancellation's count passes the native error
    // on; a failing fetch of a count passes the fetch's code on. FreeTDS
    // reads a plain result up to its first row at execution, so there an
    // error in place of the first row fails the execution: -1, the native
    // error in the diagnostics (docs/routes.md).
    injectFault({{"FailFetchOn", "COUNT(*)"}, {"FailFetchAfter", "0"}});
    diagRecord.NativeError = 12345;
    int rc = updateBookingFunction(rec, kFktCancelled);
    EXPECT_EQ(diagRecord.NativeError, 50000);
    EXPECT_EQ(rc, kt::onFreeTds() ? -1 : 50000);
    EXPECT_EQ(countDailyMessageBookings(day, count), SQL_ERROR);
    EXPECT_EQ(count, 77);
}

TEST_F(DbTest, CountDailyMessageBookingsCountsCodeOneOfTheDay) {
    db().exec(R"(
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 07:00:00', 1)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 08:00:00', 1)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 08:00:00', 2)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 08:00:00', 3)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 08:00:00', 45)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 09:00:00', 23)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090916', '20090916 08:00:00', 1)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1002', '20090917', '20090917 08:00:00', 1)
)");
    std::int32_t count = 77;
    EXPECT_EQ(countDailyMessageBookings(dayWindow("1001", "20090917", "", "", "", ""), count), 0);
    EXPECT_EQ(count, 2);
    count = 77;
    EXPECT_EQ(countDailyMessageBookings(dayWindow("1001", "20090915", "", "", "", ""), count), 0);
    EXPECT_EQ(count, 0);
}

TEST_F(DbTest, CountHourlyMessageBookingsCountsHourlyCodesInsideTheWindow) {
    db().exec(R"(
-- counted: every hourly code, 29 and 30 exactly on the window's ends
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090916', '20090916 12:00:00', 29)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 12:00:00', 30)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090916', '20090916 13:00:00', 0)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090916', '20090916 14:00:00', 21)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090916', '20090916 15:00:00', 22)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 01:00:00', 23)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 02:00:00', 24)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 03:00:00', 25)
-- not counted: day-message and cancelled codes, outside the window, another person
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 04:00:00', 1)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 04:00:00', 2)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 04:00:00', 3)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 04:00:00', 45)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090916', '20090916 11:59:59', 23)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1001', '20090917', '20090917 12:00:01', 23)
INSERT INTO $(SCHEMA).Qrv321Bch (BchPnr, BchVon, BchUhr, BchFkt) VALUES ('1002', '20090917', '20090917 05:00:00', 23)
)");
    std::int32_t count = 77;
    DayRecord day = dayWindow("1001", "20090917", "20090916", "120000", "20090917", "120000");
    EXPECT_EQ(countHourlyMessageBookings(day, count), 0);
    EXPECT_EQ(count, 8);

    // The window comes from the record, not from the day table.
    day = dayWindow("1001", "20090917", "20090917", "020000", "20090917", "030000");
    EXPECT_EQ(countHourlyMessageBookings(day, count), 0);
    EXPECT_EQ(count, 2);
}

}  // namespace
