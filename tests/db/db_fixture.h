// Shared fixture of the statement tests: a fresh stand-in database with the
// schema loaded, the product's one connection opened on it, schema "QRV".
//
// The product keeps its connection and cursor handles at module level, and
// every test of this program runs in one process: TearDown closes every
// cursor so the next test starts from closed cursors on a new connection.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "db/bookings.h"
#include "db/connection.h"
#include "db/day_records.h"
#include "frame/run_context.h"
#include "tests/support/support.h"

namespace dbtest {

// The server clock of every test database: "yesterday" is 2009-09-17.
inline const char* const kServerTime = "2009-09-18 08:00:00";

class DbTest : public ::testing::Test {
  protected:
    void SetUp() override { openDatabase({}, ""); }

    void TearDown() override {
        closePrevDayRecordCursor();
        closeEarlierDayRecordCursor();
        closePrevDayMsgCursor();
        closeAccDayMsgCursor();
        closeHourlyMsgCursor();
    }

    // Replaces the database by a fresh one whose data source carries the
    // fault keys, loads schema and fixture, and connects the product to it.
    // A new data source each time: the driver manager caches what it read
    // of a data source, so keys changed after a connect would go unseen.
    // The fault texts must not match the schema's or the fixture's lines.
    void openDatabase(std::map<std::string, std::string> faultKeys, const std::string& fixture) {
        TearDown();
        faultKeys["ServerTime"] = kServerTime;
        db_ = std::make_unique<kt::StandinDb>(faultKeys);
        db_->loadSchema();
        if (!fixture.empty()) db_->exec(fixture);
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_EQ(connectDatabase(kt::kTestLogin, kt::kTestPassword, db_->dsn().c_str()), 0)
            << diagRecord.Message.text;
        runContext.schemaName.assign("QRV");
    }

    void injectFault(const std::map<std::string, std::string>& keys,
                     const std::string& fixture = "") {
        openDatabase(keys, fixture);
    }

    kt::StandinDb& db() { return *db_; }

  private:
    std::unique_ptr<kt::StandinDb> db_;
};

// A booking record carrying only what the writes read.
inline BookingRecord booking(const char* pnr, const char* von, const char* uhr, int fkt,
                             const char* fcd = "") {
    BookingRecord rec{};
    rec.BchPnr.assign(pnr);
    rec.BchVon.assign(von);
    rec.BchUhr.assign(uhr);
    rec.BchFkt = fkt;
    rec.BchFcd.assign(fcd);
    return rec;
}

// A day record carrying only what the counts read.
inline DayRecord dayWindow(const char* pnr, const char* tag, const char* von, const char* uhr,
                           const char* bis, const char* end) {
    DayRecord rec{};
    rec.TagPnr.assign(pnr);
    rec.TagTag.assign(tag);
    rec.TagVon.assign(von);
    rec.TagUhr.assign(uhr);
    rec.TagBis.assign(bis);
    rec.TagEnd.assign(end);
    return rec;
}

}  // namespace dbtest
