// What the engine's contract pins beyond what a client sees through the
// driver manager (the SQL behaviours themselves are StandinSql's): result
// column descriptions, the driver's transaction calls, the machine clock as
// default, and the query plans of the batch's key lookups.
#include <sqlite3.h>

#include <ctime>

#include "standin/engine/catalog.h"
#include "standin/engine/functions.h"
#include "standin/engine/translate.h"
#include "tests/standin/engine_fixture.h"

namespace enginetest {
namespace {

using standin::ColType;
using standin::Status;

class EngineSemantics : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        ok("CREATE SCHEMA QRV");
        ok("CREATE TABLE QRV.T (K char(8) NOT NULL, D datetime NULL, V varchar(5) NULL, "
           "N int NULL, S smallint NULL DEFAULT 7, CONSTRAINT PK_T PRIMARY KEY CLUSTERED (K))");
    }
};

TEST_F(EngineSemantics, WithoutAConfiguredClockTheMachinesLocalTimeCounts) {
    open("");
    const std::string now = scalar("SELECT GETDATE()");
    std::tm parsed{};
    ASSERT_NE(strptime(now.c_str(), "%Y-%m-%d %H:%M:%S", &parsed), nullptr) << now;
    parsed.tm_isdst = -1;
    EXPECT_LT(std::abs(std::difftime(std::mktime(&parsed), std::time(nullptr))), 5.0) << now;
}

TEST_F(EngineSemantics, ColumnMetadata) {
    const standin::Result count = ok("SELECT COUNT(*) FROM QRV.T");
    EXPECT_EQ(count.rows, (std::vector<standin::Row>{{"0"}}));
    ASSERT_EQ(count.columns.size(), 1u);
    EXPECT_EQ(count.columns[0].name, "");
    EXPECT_EQ(count.columns[0].type, ColType::Int);
    EXPECT_FALSE(count.columns[0].nullable);
    const standin::Result r = ok("SELECT N, K, D, V, N, S, COALESCE(N, 0), K + V FROM QRV.T");
    ASSERT_EQ(r.columns.size(), 8u);
    EXPECT_EQ(r.columns[0].name, "N");
    EXPECT_TRUE(r.columns[0].nullable);
    EXPECT_EQ(r.columns[1].name, "K");
    EXPECT_EQ(r.columns[1].type, ColType::Char);
    EXPECT_EQ(r.columns[1].size, 8);
    EXPECT_FALSE(r.columns[1].nullable);
    EXPECT_EQ(r.columns[2].type, ColType::DateTime);
    EXPECT_EQ(r.columns[3].type, ColType::VarChar);
    EXPECT_EQ(r.columns[3].size, 5);
    EXPECT_EQ(r.columns[5].type, ColType::SmallInt);
    EXPECT_EQ(r.columns[6].type, ColType::Int);
    EXPECT_EQ(r.columns[7].type, ColType::VarChar);
    EXPECT_EQ(r.columns[7].size, 13);
    fails("SELECT COUNT(*), K FROM QRV.T", 8120, "42000");
    const standin::Result star = ok("SELECT * FROM QRV.T");
    ASSERT_EQ(star.columns.size(), 5u);
    EXPECT_EQ(star.columns[4].name, "S");
    EXPECT_EQ(ok("SELECT N AS Nummer FROM QRV.T").columns[0].name, "Nummer");
}

TEST_F(EngineSemantics, EndingATransactionKeepsOrUndoesItsStatements) {
    db->setAutocommit(false);
    ok("INSERT INTO QRV.T (K) VALUES ('a')");
    fails("INSERT INTO QRV.T (K) VALUES ('b'), ('a')", 2627, "23000");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM QRV.T"), "1");
    EXPECT_EQ(db->endTransaction(false).status, Status::Success);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM QRV.T"), "0");
    ok("INSERT INTO QRV.T (K) VALUES ('c')");
    EXPECT_EQ(db->endTransaction(true).status, Status::Success);
    open("2009-09-18 03:00:00");
    EXPECT_EQ(scalar("SELECT K FROM QRV.T"), "c       ");
}

// The primary key must serve the batch's lookups by key prefix, so that
// they seek instead of scanning a table of a year's bookings.
class EnginePlans : public EngineTest {};

TEST_F(EnginePlans, KeyPredicatesUseThePrimaryKeyIndex) {
    loadSchema();
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(dir.file("test.db").c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(standin::registerFunctions(raw), SQLITE_OK);
    standin::Catalog catalog;
    ASSERT_EQ(catalog.load(raw), SQLITE_OK);
    auto plan = [&](const std::string& sql) {
        const standin::Plan p = standin::translate(sql, catalog, "2009-09-18 03:00:00.000");
        sqlite3_stmt* st = nullptr;
        EXPECT_EQ(
            sqlite3_prepare_v2(raw, ("EXPLAIN QUERY PLAN " + p.sql[0]).c_str(), -1, &st, nullptr),
            SQLITE_OK)
            << sqlite3_errmsg(raw);
        std::string out;
        while (sqlite3_step(st) == SQLITE_ROW) {
            out += reinterpret_cast<const char*>(sqlite3_column_text(st, 3));
            out += "\n";
        }
        sqlite3_finalize(st);
        return out;
    };
    const std::string count = plan(
        "SELECT Count(*) FROM QRV.Qrv321Bch WHERE BchPnr = '1001' AND BchVon = "
        "CONVERT(Datetime, '20090917', 112) AND BchFkt = 1");
    EXPECT_NE(count.find("SEARCH"), std::string::npos) << count;
    EXPECT_NE(count.find("BchPnr=? AND BchVon=?"), std::string::npos) << count;
    const std::string update = plan(
        "UPDATE QRV.QRV327Tag SET TagTgb = 'U', TagTgs = 1 WHERE TagPnr = '1001' AND TagTag = "
        "CONVERT(datetime, '20090917', 112)");
    EXPECT_NE(update.find("TagPnr=? AND TagTag=?"), std::string::npos) << update;
    const std::string join = plan(
        "SELECT TagPnr FROM QRV.Qrv327Tag, QRV.Qrv320Tgb WHERE TagPnr = '1001' AND TgbPnr = "
        "TagPnr AND TgbDtm = TagTag AND TgbZtr = 1 ORDER BY TagTag DESC");
    EXPECT_EQ(join.find("SCAN"), std::string::npos) << join;
    sqlite3_close(raw);
}

}  // namespace
}  // namespace enginetest
