// SQL Server behaviours the stand-in engine reproduces, run through the
// engine's C++ interface on a fresh database.
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

TEST_F(EngineSemantics, DateTimeLiteralsConvertOnInsertUpdateAndComparison) {
    ok("INSERT INTO QRV.T (K, D) VALUES ('a', '20090917'), ('b', '2009-09-16 23:59:59.997'), "
       "('c', '20090917 12:00:00'), ('d', '2009-09-17 07:05:09')");
    EXPECT_EQ(scalar("SELECT D FROM QRV.T WHERE K = 'a'"), "2009-09-17 00:00:00.000");
    EXPECT_EQ(rows("SELECT K FROM QRV.T ORDER BY D"),
              (Rows{{"b       "}, {"a       "}, {"d       "}, {"c       "}}));
    EXPECT_EQ(rows("SELECT K FROM QRV.T WHERE D = '2009-09-17'"), Rows{{"a       "}});
    EXPECT_EQ(rows("SELECT K FROM QRV.T WHERE '20090917 07:05:09' < D"), Rows{{"c       "}});
    EXPECT_EQ(ok("UPDATE QRV.T SET D = '20091231 23:00' WHERE K = 'b'").rowCount, 1);
    EXPECT_EQ(scalar("SELECT D FROM QRV.T WHERE K = 'b'"), "2009-12-31 23:00:00.000");

    const standin::Diag bad =
        fails("INSERT INTO QRV.T (K, D) VALUES ('e', '17.09.09x')", 241, "22007");
    EXPECT_EQ(bad.message,
              "Conversion failed when converting date and/or time from character string.");
    fails("INSERT INTO QRV.T (K, D) VALUES ('e', '2009-13-01')", 242, "22008");
    fails("SELECT K FROM QRV.T WHERE D = 'morgen'", 241, "22007");
    fails("UPDATE QRV.T SET D = 'x' WHERE K = 'a'", 241, "22007");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM QRV.T"), "4");
}

TEST_F(EngineSemantics, ConvertStylesCutAndPad) {
    ok("INSERT INTO QRV.T (K, D) VALUES ('a', '2009-09-07 07:05:09.123')");
    const standin::Result r =
        ok("SELECT CONVERT(char(8), D, 112), CONVERT(char(8), D, 114), CONVERT(char(10), D, 120), "
           "CONVERT(char(19), D, 120), CONVERT(char(12), D, 112), CONVERT(varchar(12), D, 112), "
           "CONVERT(varchar(4), D, 112), CONVERT(datetime, '20090917', 112), "
           "CONVERT(Datetime, '2009-09-17 07:05:09', 120), CAST('12' AS int) + 1 FROM QRV.T");
    ASSERT_EQ(r.rows.size(), 1u);
    const std::vector<std::string> expected = {"20090907",
                                               "07:05:09",
                                               "2009-09-07",
                                               "2009-09-07 07:05:09",
                                               "20090907    ",
                                               "20090907",
                                               "2009",
                                               "2009-09-17 00:00:00.000",
                                               "2009-09-17 07:05:09.000",
                                               "13"};
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(r.rows[0][i], expected[i]) << i;
    EXPECT_EQ(r.columns[0].type, ColType::Char);
    EXPECT_EQ(r.columns[0].size, 8);
    EXPECT_EQ(r.columns[0].name, "");
    EXPECT_EQ(r.columns[5].type, ColType::VarChar);
    EXPECT_EQ(r.columns[7].type, ColType::DateTime);
    EXPECT_EQ(r.columns[9].type, ColType::Int);
    fails("SELECT CONVERT(datetime, 'x', 112)", 241, "22007");
}

TEST_F(EngineSemantics, ServerClockAndDateAdd) {
    EXPECT_EQ(scalar("SELECT CURRENT_TIMESTAMP"), "2009-09-18 03:00:00.000");
    EXPECT_EQ(scalar("SELECT GETDATE()"), "2009-09-18 03:00:00.000");
    EXPECT_EQ(scalar("SELECT DATEADD(dd, -1, CURRENT_TIMESTAMP)"), "2009-09-17 03:00:00.000");
    EXPECT_EQ(scalar("SELECT DATEADD(day, 14, '20090920')"), "2009-10-04 00:00:00.000");
    EXPECT_EQ(scalar("SELECT CONVERT(datetime, Convert(char(8), DATEADD(dd, -1, "
                     "CURRENT_TIMESTAMP), 112), 112)"),
              "2009-09-17 00:00:00.000");
    ok("INSERT INTO QRV.T (K, D) VALUES ('a', '2009-03-01 10:00')");
    EXPECT_EQ(scalar("SELECT DATEADD(d, -1, D) FROM QRV.T"), "2009-02-28 10:00:00.000");

    // Without a configured clock the machine's local time counts.
    open("");
    const std::string now = scalar("SELECT GETDATE()");
    std::tm parsed{};
    ASSERT_NE(strptime(now.c_str(), "%Y-%m-%d %H:%M:%S", &parsed), nullptr) << now;
    parsed.tm_isdst = -1;
    EXPECT_LT(std::abs(std::difftime(std::mktime(&parsed), std::time(nullptr))), 5.0) << now;
}

TEST_F(EngineSemantics, CharPaddingAndCaseBlankInsensitiveComparison) {
    ok("INSERT INTO QRV.T (K, V) VALUES ('1001', 'ab '), ('kf', 'x'), ('KG', 'y')");
    EXPECT_EQ(scalar("SELECT K FROM QRV.T WHERE K = '1001'"), "1001    ");
    EXPECT_EQ(scalar("SELECT V FROM QRV.T WHERE K = '1001'"), "ab ");
    EXPECT_EQ(scalar("SELECT K FROM QRV.T WHERE K = 'KF'"), "kf      ");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM QRV.T WHERE 'kf' = 'KF' AND 'a ' = 'A'"), "3");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM QRV.T WHERE V = 'AB'"), "1");
    EXPECT_EQ(rows("SELECT K FROM QRV.T ORDER BY K DESC"),
              (Rows{{"KG      "}, {"kf      "}, {"1001    "}}));
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM QRV.T WHERE CONVERT(char(4), K) + 'x' = 'KG  X'"), "1");
    const standin::Diag dup = fails("INSERT INTO QRV.T (K) VALUES ('KF  ')", 2627, "23000");
    EXPECT_NE(dup.message.find("(KF      )"), std::string::npos) << dup.message;
}

TEST_F(EngineSemantics, PlusConcatenatesAddsAndPropagatesNull) {
    EXPECT_EQ(scalar("SELECT 'ab' + 'cd'"), "abcd");
    EXPECT_EQ(scalar("SELECT N'it''s' + '' + 'x' -- comment"), "it'sx");
    EXPECT_EQ(scalar("SELECT NULL + 'x'"), "NULL");
    EXPECT_EQ(scalar("SELECT 'x' + NULL"), "NULL");
    EXPECT_EQ(scalar("SELECT 1 + 2 * 3"), "7");
    EXPECT_EQ(scalar("SELECT 1 + '2'"), "3");
    EXPECT_EQ(scalar("SELECT -7 / 2"), "-3");
    EXPECT_EQ(scalar("SELECT 7 % 3"), "1");
    ok("INSERT INTO QRV.T (K, V, N) VALUES ('a', 'x1', 5), ('b', NULL, NULL)");
    EXPECT_EQ(rows("SELECT V + '-', N + 1, N + '10', -N FROM QRV.T"),
              (Rows{{"x1-", "6", "15", "-5"}, {"NULL", "NULL", "NULL", "NULL"}}));
    const standin::Diag d = fails("SELECT N + V FROM QRV.T", 245, "22018");
    EXPECT_EQ(d.message,
              "Conversion failed when converting the varchar value 'x1' to data type int.");
    fails("SELECT 1 + 'zwei'", 245, "22018");
    fails("SELECT N / 0 FROM QRV.T", 8134, "22012");
    fails("SELECT 4444444444 * 44444444444444444", 8115, "22003");
}

TEST_F(EngineSemantics, OverlongTextAndNullViolationsWriteNothing) {
    standin::Result r = db->execute("INSERT INTO QRV.T (K) VALUES ('12345678'), ('123456789')");
    ASSERT_EQ(r.status, Status::Error);
    EXPECT_EQ(r.diags[0].native, 8152);
    EXPECT_EQ(r.diags[0].sqlState, "22001");
    EXPECT_EQ(r.diags[0].message, "String or binary data would be truncated.");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM QRV.T"), "0");
    ok("INSERT INTO QRV.T (K, V) VALUES ('12345678   ', 'abcde  ')");
    EXPECT_EQ(scalar("SELECT V FROM QRV.T"), "abcde");
    fails("UPDATE QRV.T SET V = V + 'x'", 8152, "22001");
    fails("UPDATE QRV.T SET V = 'abcdef' WHERE K = '12345678'", 8152, "22001");
    EXPECT_EQ(scalar("SELECT V FROM QRV.T"), "abcde");

    const standin::Diag n = fails("INSERT INTO QRV.T (V) VALUES ('a')", 515, "23000");
    EXPECT_NE(n.message.find("Cannot insert the value NULL into column 'K', table '"),
              std::string::npos)
        << n.message;
    EXPECT_NE(n.message.find("QRV.T'; column does not allow nulls. INSERT fails."),
              std::string::npos)
        << n.message;
    fails("UPDATE QRV.T SET K = NULL", 515, "23000");
}

TEST_F(EngineSemantics, DuplicateKeysGiveTheConstraintAndTerminationRecords) {
    ok("INSERT INTO QRV.T (K, N) VALUES ('a', 1), ('b', 2)");
    standin::Result r = db->execute("INSERT INTO QRV.T (K, N) VALUES ('c', 3), ('A', 4)");
    ASSERT_EQ(r.status, Status::Error);
    ASSERT_EQ(r.diags.size(), 2u);
    EXPECT_EQ(r.diags[0].native, 2627);
    EXPECT_EQ(r.diags[0].sqlState, "23000");
    EXPECT_EQ(r.diags[0].message,
              "Violation of PRIMARY KEY constraint 'PK_T'. Cannot insert duplicate key in object "
              "'QRV.T'. The duplicate key value is (A       ).");
    EXPECT_EQ(r.diags[1].native, 3621);
    EXPECT_EQ(r.diags[1].sqlState, "01000");
    EXPECT_EQ(r.diags[1].message, "The statement has been terminated.");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM QRV.T"), "2");

    r = db->execute("UPDATE QRV.T SET K = 'b' WHERE N = 1");
    ASSERT_EQ(r.status, Status::Error);
    EXPECT_EQ(r.diags[0].native, 2627);
    EXPECT_NE(r.diags[0].message.find("(b       )"), std::string::npos) << r.diags[0].message;
    EXPECT_EQ(r.diags.at(1).native, 3621);

    ok("CREATE UNIQUE NONCLUSTERED INDEX IX_T_N ON QRV.T (N)");
    r = db->execute("INSERT INTO QRV.T (K, N) VALUES ('z', 2)");
    ASSERT_EQ(r.status, Status::Error);
    EXPECT_EQ(r.diags[0].native, 2601);
    EXPECT_EQ(r.diags[0].message,
              "Cannot insert duplicate key row in object 'QRV.T' with unique index 'IX_T_N'. The "
              "duplicate key value is (2).");
    EXPECT_EQ(r.diags.at(1).native, 3621);
    fails("UPDATE QRV.T SET N = 1 WHERE K = 'b'", 2601, "23000");
}

TEST_F(EngineSemantics, UnknownNamesAndSyntaxErrors) {
    EXPECT_EQ(fails("SELECT * FROM QRV.Nope", 208, "42S02").message,
              "Invalid object name 'QRV.Nope'.");
    EXPECT_EQ(fails("SELECT * FROM T", 208, "42S02").message, "Invalid object name 'T'.");
    EXPECT_EQ(fails("SELECT Nix FROM QRV.T", 207, "42S22").message, "Invalid column name 'Nix'.");
    fails("UPDATE QRV.T SET Nix = 1", 207, "42S22");
    fails("INSERT INTO QRV.T (K, Nix) VALUES ('a', 1)", 207, "42S22");
    EXPECT_EQ(fails("SELECT K FROM QRV.T WHERE K == 'a'", 102, "42000").message,
              "Incorrect syntax near '='.");
    fails("SELEKT K FROM QRV.T", 102, "42000");
    fails("SELECT K FROM QRV.T WHERE K LIKE 'a%'", 156, "42000");
    fails("SELECT K FROM QRV.T WHERE N IN (1, 2)", 156, "42000");
    fails("SELECT K FROM QRV.T GROUP BY K", 156, "42000");
    fails("SELECT K FROM QRV.T WHERE K = 'a' AND", 156, "42000");
    fails("SELECT UPPER(K) FROM QRV.T", 195, "42000");
    fails("SELECT 1.5", 102, "42000");
    fails("INSERT INTO QRV.T (K) VALUES ('a'); DELETE FROM QRV.T", 156, "42000");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM QRV.T"), "0");
    ok("select [K], n from [QRV].[t] where k = 'x';");
}

TEST_F(EngineSemantics, UpdateAndDeleteThatMatchNothingGiveNoData) {
    ok("INSERT INTO QRV.T (K, N) VALUES ('a', 1)");
    standin::Result r = db->execute("UPDATE QRV.T SET N = 2 WHERE K = 'b'");
    EXPECT_EQ(r.status, Status::NoData);
    EXPECT_EQ(r.rowCount, 0);
    r = db->execute("DELETE FROM QRV.T WHERE N = 5");
    EXPECT_EQ(r.status, Status::NoData);
    EXPECT_EQ(r.rowCount, 0);
    r = db->execute("UPDATE QRV.T SET N = 2 WHERE K = 'a'");
    EXPECT_EQ(r.status, Status::Success);
    EXPECT_EQ(r.rowCount, 1);
    r = db->execute("DELETE QRV.T");
    EXPECT_EQ(r.status, Status::Success);
    EXPECT_EQ(r.rowCount, 1);
    EXPECT_EQ(db->execute("INSERT INTO QRV.T (K) VALUES ('a'), ('b')").rowCount, 2);
}

TEST_F(EngineSemantics, RowsWithoutOrderByComeInKeyOrder) {
    ok("CREATE TABLE QRV.U (A int NOT NULL, B char(2) NOT NULL, PRIMARY KEY (A, B))");
    ok("INSERT INTO QRV.T (K, N) VALUES ('c', 1), ('a', 2), ('B', 3)");
    ok("INSERT INTO QRV.U VALUES (3, 'b'), (1, 'z'), (3, 'A'), (2, 'x')");
    EXPECT_EQ(rows("SELECT K FROM QRV.T"), (Rows{{"a       "}, {"B       "}, {"c       "}}));
    EXPECT_EQ(rows("SELECT A, B FROM QRV.U"),
              (Rows{{"1", "z "}, {"2", "x "}, {"3", "A "}, {"3", "b "}}));
    EXPECT_EQ(rows("SELECT TOP 2 A FROM QRV.U WHERE A > 1"), (Rows{{"2"}, {"3"}}));
    // A join follows its first table's key.
    EXPECT_EQ(rows("SELECT K, A FROM QRV.T, QRV.U WHERE N = A"),
              (Rows{{"a       ", "2"}, {"B       ", "3"}, {"B       ", "3"}, {"c       ", "1"}}));
    EXPECT_EQ(rows("SELECT A, K FROM QRV.U, QRV.T WHERE N = A"),
              (Rows{{"1", "c       "}, {"2", "a       "}, {"3", "B       "}, {"3", "B       "}}));
}

TEST_F(EngineSemantics, SchemasAreNamespaces) {
    EXPECT_EQ(fails("CREATE SCHEMA qrv", 2714, "42S01").message,
              "There is already an object named 'qrv' in the database.");
    EXPECT_EQ(fails("CREATE TABLE QRV.t (X int)", 2714, "42S01").message,
              "There is already an object named 't' in the database.");
    fails("CREATE TABLE NOPE.T (X int)", 2760, "42000");
    ok("CREATE SCHEMA B");
    ok("CREATE TABLE B.T (X int)");
    ok("CREATE TABLE T (Y int)");
    ok("INSERT INTO B.T VALUES (1)");
    ok("INSERT INTO dbo.T VALUES (2)");
    EXPECT_EQ(scalar("SELECT X FROM B.T"), "1");
    EXPECT_EQ(scalar("SELECT Y FROM T"), "2");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM QRV.T"), "0");
    ok("DROP TABLE B.T");
    fails("SELECT X FROM B.T", 208, "42S02");
    fails("DROP TABLE B.T", 3701, "42S02");
    ok("CREATE TABLE B.T (Z int)");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM B.T"), "0");
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

TEST_F(EngineSemantics, DefaultsAndDefinitionsSurviveReopening) {
    ok("CREATE TABLE QRV.W (I int NOT NULL PRIMARY KEY, At datetime NULL DEFAULT "
       "CURRENT_TIMESTAMP, "
       "Flag char(3) NOT NULL DEFAULT 'x')");
    open("2010-01-02 03:04:05");
    ok("INSERT INTO QRV.W (I) VALUES (1)");
    ok("INSERT INTO QRV.T (K) VALUES ('a')");
    EXPECT_EQ(rows("SELECT At, Flag FROM QRV.W"), (Rows{{"2010-01-02 03:04:05.000", "x  "}}));
    EXPECT_EQ(scalar("SELECT S FROM QRV.T"), "7");
    fails("INSERT INTO QRV.W (I) VALUES (1)", 2627, "23000");
    fails("INSERT INTO QRV.T (K) VALUES ('A')", 2627, "23000");
    fails("INSERT INTO QRV.T (K) VALUES ('123456789')", 8152, "22001");
}

TEST_F(EngineSemantics, TransactionsAndStatementAtomicity) {
    db->setAutocommit(false);
    ok("INSERT INTO QRV.T (K) VALUES ('a')");
    fails("INSERT INTO QRV.T (K) VALUES ('b'), ('a')", 2627, "23000");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM QRV.T"), "1");
    EXPECT_EQ(db->endTransaction(false).status, Status::Success);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM QRV.T"), "0");
    ok("INSERT INTO QRV.T (K) VALUES ('c')");
    db->endTransaction(true);
    db->setAutocommit(true);
    ok("BEGIN TRAN");
    ok("DELETE FROM QRV.T");
    ok("CREATE TABLE QRV.X (I int)");
    ok("ROLLBACK TRANSACTION");
    EXPECT_EQ(scalar("SELECT K FROM QRV.T"), "c       ");
    fails("SELECT * FROM QRV.X", 208, "42S02");
    ok("BEGIN TRANSACTION");
    ok("INSERT INTO QRV.T (K) VALUES ('d')");
    ok("COMMIT");
    fails("COMMIT TRAN", 3902, "25000");
    fails("ROLLBACK", 3903, "25000");
    open("2009-09-18 03:00:00");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM QRV.T"), "2");
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

TEST_F(EngineSemantics, ManyRowsLoadInOneStatement) {
    std::string insert = "INSERT INTO QRV.T (K, D, N) VALUES ";
    for (int i = 0; i < 1000; ++i) {
        insert += format("%s('%07d', '2009%04d', %d)", i == 0 ? "" : ", ", i, 101 + i % 28, i);
    }
    EXPECT_EQ(ok(insert).rowCount, 1000);
    EXPECT_EQ(scalar("SELECT MAX(N) FROM QRV.T"), "999");
    EXPECT_EQ(scalar("SELECT MIN(D) FROM QRV.T"), "2009-01-01 00:00:00.000");
}

}  // namespace
}  // namespace enginetest
