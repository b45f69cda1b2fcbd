// SQL Server behaviours the batch relies on, seen through the driver manager
// as an ODBC 3 application sees them: datetime literals and CONVERT styles,
// the server clock, char padding and the case-insensitive collation, string
// concatenation, the server's errors with their natives and SQLSTATEs,
// SQL_NO_DATA and primary-key order.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "tests/standin/odbc_client.h"

namespace {

const char* const fixture =
    "CREATE SCHEMA QRV\n"
    "CREATE TABLE QRV.Tag (TagPnr char(8) NOT NULL, TagTag datetime NOT NULL, TagTxt varchar(10) "
    "NULL, TagNum int NULL, CONSTRAINT PK_Tag PRIMARY KEY CLUSTERED (TagPnr, TagTag))\n"
    "CREATE UNIQUE NONCLUSTERED INDEX IX_Tag_Txt ON QRV.Tag (TagTxt)\n"
    "INSERT INTO QRV.Tag (TagPnr, TagTag, TagTxt, TagNum) VALUES ('1002', '20090917', 'kf', 1)\n"
    "INSERT INTO QRV.Tag (TagPnr, TagTag, TagTxt, TagNum) VALUES ('1001', '2009-09-17 08:30:00', "
    "'ab', 2)\n"
    "INSERT INTO QRV.Tag (TagPnr, TagTag, TagTxt, TagNum) VALUES ('1001', '20090916 07:00:00', "
    "NULL, 3)\n";

// Rows as "a|b" joined by ";", NULL as "NULL".
std::string joined(const std::vector<std::vector<std::string>>& rows) {
    std::string out;
    for (const auto& row : rows) {
        if (!out.empty()) out += ";";
        for (std::size_t i = 0; i < row.size(); ++i) out += (i ? "|" : "") + row[i];
    }
    return out;
}

class StandinSql : public ::testing::Test {
  protected:
    void SetUp() override {
        db.exec(fixture);
        ASSERT_EQ(client.connect(db.dsn()), SQL_SUCCESS);
    }
    std::string rows(const std::string& sql) {
        st::Statement stmt(client);
        SQLRETURN rc = stmt.exec(sql);
        if (rc != SQL_SUCCESS) {
            auto d = stmt.diags();
            return "rc " + std::to_string(rc) + (d.empty() ? "" : " " + d[0].message);
        }
        return joined(stmt.rest());
    }
    kt::StandinDb db{std::map<std::string, std::string>{{"ServerTime", "2009-09-18 03:00:00"}}};
    st::Client client;
};

TEST_F(StandinSql, QueriesGiveSqlServerValues) {
    struct Case {
        const char* sql;
        const char* rows;
    } cases[] = {
        // Literal forms convert; comparison is chronological whatever the form.
        {"SELECT TagNum FROM QRV.Tag WHERE TagTag > '2009-09-16 23:59:59' ORDER BY TagTag", "1;2"},
        {"SELECT TagNum FROM QRV.Tag WHERE TagTag = '2009-09-17'", "1"},
        {"SELECT TagNum FROM QRV.Tag WHERE TagTag < '20090917 08:30:00.003' AND TagTag >= "
         "'20090917 08:30:00' ",
         "2"},
        // CONVERT styles 112, 114, 120; char(n) pads and cuts.
        {"SELECT CONVERT(char(8), TagTag, 112), CONVERT(char(8), TagTag, 114), CONVERT(char(10), "
         "TagTag, 120), CONVERT(char(19), TagTag, 120) FROM QRV.Tag WHERE TagNum = 2",
         "20090917|08:30:00|2009-09-17|2009-09-17 08:30:00"},
        {"SELECT CONVERT(char(10), TagTag, 112), CONVERT(char(4), TagTag, 112) FROM QRV.Tag WHERE "
         "TagNum = 1",
         "20090917  |2009"},
        {"SELECT CONVERT(char(19), CONVERT(datetime, '20090917', 112), 120), CONVERT(char(19), "
         "CONVERT(datetime, '2009-09-17 10:11:12', 120), 120)",
         "2009-09-17 00:00:00|2009-09-17 10:11:12"},
        // The server's clock, and whole days back from it.
        {"SELECT CONVERT(char(19), GETDATE(), 120), CONVERT(char(19), CURRENT_TIMESTAMP, 120)",
         "2009-09-18 03:00:00|2009-09-18 03:00:00"},
        {"SELECT CONVERT(char(8), DATEADD(dd, -1, GETDATE()), 112), CONVERT(char(8), DATEADD(day, "
         "-18, CURRENT_TIMESTAMP), 112)",
         "20090917|20090831"},
        // char(n) delivered padded; = ignores trailing blanks and case.
        {"SELECT TagPnr, TagTxt FROM QRV.Tag WHERE TagPnr = '1002' AND TagTxt = 'KF'",
         "1002    |kf"},
        {"SELECT COUNT(*) FROM QRV.Tag WHERE TagPnr = '1001  '", "2"},
        // + concatenates (padding included), NULL + text is NULL, numbers add.
        {"SELECT TagPnr + '-' + TagTxt, TagTxt + TagPnr, TagNum + 1 FROM QRV.Tag WHERE TagNum = 2",
         "1001    -ab|ab1001    |3"},
        {"SELECT TagTxt + 'x', COALESCE(TagTxt, 'leer') FROM QRV.Tag WHERE TagNum = 3",
         "NULL|leer"},
        // Without ORDER BY rows come in primary-key order, not insertion order.
        {"SELECT TagPnr, TagNum FROM QRV.Tag", "1001    |3;1001    |2;1002    |1"},
        {"SELECT TOP 1 TagNum FROM QRV.Tag ORDER BY TagNum DESC", "3"},
    };
    for (const Case& c : cases) EXPECT_EQ(rows(c.sql), c.rows) << c.sql;
}

TEST_F(StandinSql, ErrorsCarryTheServersNativeAndState) {
    struct Case {
        const char* sql;
        int native;
        const char* state;
        const char* message;  // expected part of the first record's text
        bool terminated;      // a second record 3621 follows
    } cases[] = {
        {"INSERT INTO QRV.Tag (TagPnr, TagTag) VALUES ('1003', 'gestern')", 241, "22007",
         "Conversion failed when converting date and/or time from character string.", false},
        {"INSERT INTO QRV.Tag (TagPnr, TagTag) VALUES ('123456789', '20090101')", 8152, "22001",
         "String or binary data would be truncated.", true},
        {"UPDATE QRV.Tag SET TagTxt = '12345678901' WHERE TagNum = 1", 8152, "22001",
         "would be truncated", true},
        {"INSERT INTO QRV.Tag (TagPnr, TagTag) VALUES (NULL, '20090101')", 515, "23000",
         "Cannot insert the value NULL into column 'TagPnr'", true},
        {"INSERT INTO QRV.Tag (TagPnr, TagTag) VALUES ('1002', '2009-09-17')", 2627, "23000",
         "Violation of PRIMARY KEY constraint 'PK_Tag'. Cannot insert duplicate key in object "
         "'QRV.Tag'.",
         true},
        {"INSERT INTO QRV.Tag (TagPnr, TagTag, TagTxt) VALUES ('1003', '20090101', 'KF')", 2601,
         "23000", "with unique index 'IX_Tag_Txt'", true},
        {"SELECT * FROM QRV.Nope", 208, "42S02", "Invalid object name 'QRV.Nope'.", false},
        {"SELECT Nope FROM QRV.Tag", 207, "42S22", "Invalid column name 'Nope'.", false},
        {"SELECT TagNum FROM QRV.Tag WHERE TagNum == 1", 102, "42000", "Incorrect syntax near '='.",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        st::Statement stmt(client);
        ASSERT_EQ(stmt.exec(c.sql), SQL_ERROR);
        auto diags = stmt.diags();
        ASSERT_FALSE(diags.empty());
        EXPECT_EQ(diags[0].native, c.native);
        EXPECT_EQ(diags[0].state, c.state);
        EXPECT_NE(diags[0].message.find(c.message), std::string::npos) << diags[0].message;
        EXPECT_EQ(diags[0].message.rfind("[Standin][SQL Server]", 0), 0u) << diags[0].message;
        if (c.terminated) {
            ASSERT_EQ(diags.size(), 2u);
            EXPECT_EQ(diags[1].native, 3621);
            EXPECT_EQ(diags[1].state, "01000");
        }
    }
    // Nothing of the failed statements was written.
    EXPECT_EQ(rows("SELECT COUNT(*) FROM QRV.Tag"), "3");
    EXPECT_EQ(rows("SELECT TagTxt FROM QRV.Tag WHERE TagNum = 1"), "kf");
}

TEST_F(StandinSql, SearchedChangeOfNoRowIsNoDataWithCountZero) {
    for (const char* sql : {"UPDATE QRV.Tag SET TagNum = 9 WHERE TagPnr = '9999'",
                            "DELETE FROM QRV.Tag WHERE TagTag < '19991231'"}) {
        st::Statement stmt(client);
        EXPECT_EQ(stmt.exec(sql), SQL_NO_DATA) << sql;
        EXPECT_EQ(stmt.rowCount(), 0) << sql;
    }
    st::Statement stmt(client);
    EXPECT_EQ(stmt.exec("DELETE FROM QRV.Tag WHERE TagPnr = '1001'"), SQL_SUCCESS);
    EXPECT_EQ(stmt.rowCount(), 2);
}

// What a statement gives, as one line: its rows ("a|b;c|d"), "n=<row count>"
// for a change, "nodata" for a change of no row, or "E<native>/<state>" with
// "+<native>" for a second record and the first record's text.
std::string outcome(st::Client& client, const std::string& sql) {
    st::Statement stmt(client);
    const SQLRETURN rc = stmt.exec(sql);
    if (rc == SQL_NO_DATA) return "nodata";
    if (rc == SQL_ERROR) {
        const auto d = stmt.diags();
        if (d.empty()) return "E?";
        std::string out = "E" + std::to_string(d[0].native) + "/" + d[0].state;
        if (d.size() > 1) out += "+" + std::to_string(d[1].native);
        return out + " " + d[0].message;
    }
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt.handle(), &columns);
    if (columns > 0) return joined(stmt.rest());
    return "n=" + std::to_string(stmt.rowCount());
}

// One session of statements, each with what it must give; later steps see
// what earlier ones wrote. "ok" accepts any success; an error expectation is
// its code followed by a part of its text.
TEST_F(StandinSql, SessionBehavesLikeTheServer) {
    std::string thousand = "INSERT INTO QRV.T (K, D, N) VALUES ";
    for (int i = 0; i < 1000; ++i) {
        char row[64];
        std::snprintf(row, sizeof row, "%s('%07d', '2009%04d', %d)", i ? ", " : "", i, 101 + i % 28,
                      i);
        thousand += row;
    }
    const std::pair<std::string, std::string> steps[] = {
        {"CREATE TABLE QRV.T (K char(8) NOT NULL, D datetime NULL, V varchar(5) NULL, N int NULL, "
         "S smallint NULL DEFAULT 7, CONSTRAINT PK_T PRIMARY KEY CLUSTERED (K))",
         "ok"},
        // 1: datetime literals convert on insert, update and comparison.
        {"INSERT INTO QRV.T (K, D) VALUES ('a', '20090917'), ('b', '2009-09-16 23:59:59.997'), "
         "('c', '20090917 12:00:00'), ('d', '2009-09-17 07:05:09')",
         "n=4"},
        {"SELECT D FROM QRV.T WHERE K = 'a'", "2009-09-17 00:00:00.000"},
        {"SELECT K FROM QRV.T ORDER BY D", "b       ;a       ;d       ;c       "},
        {"SELECT K FROM QRV.T WHERE '20090917 07:05:09' < D", "c       "},
        {"UPDATE QRV.T SET D = '20091231 23:00' WHERE K = 'b'", "n=1"},
        {"SELECT D FROM QRV.T WHERE K = 'b'", "2009-12-31 23:00:00.000"},
        {"INSERT INTO QRV.T (K, D) VALUES ('e', '2009-13-01')", "E242/22008"},
        {"SELECT K FROM QRV.T WHERE D = 'morgen'", "E241/22007"},
        {"UPDATE QRV.T SET D = 'x' WHERE K = 'a'", "E241/22007"},
        {"SELECT CONVERT(datetime, 'x', 112)", "E241/22007"},
        {"DELETE FROM QRV.T", "n=4"},
        // 2, 3: CONVERT pads char and not varchar, cuts both; days move whole.
        {"INSERT INTO QRV.T (K, D) VALUES ('a', '2009-09-07 07:05:09.123')", "n=1"},
        {"SELECT CONVERT(char(12), D, 112), CONVERT(varchar(12), D, 112), CONVERT(varchar(4), D, "
         "112), CONVERT(char(8), D, 114), CAST('12' AS int) + 1 FROM QRV.T",
         "20090907    |20090907|2009|07:05:09|13"},
        {"SELECT DATEADD(day, 14, '20090920'), DATEADD(d, -1, '2009-03-01 10:00'), "
         "CONVERT(datetime, Convert(char(8), DATEADD(dd, -1, CURRENT_TIMESTAMP), 112), 112)",
         "2009-10-04 00:00:00.000|2009-02-28 10:00:00.000|2009-09-17 00:00:00.000"},
        {"DELETE QRV.T", "n=1"},
        // 4: varchar keeps its blanks; the collation sorts and keys alike.
        {"INSERT INTO QRV.T (K, V) VALUES ('1001', 'ab '), ('kf', 'x'), ('KG', 'y')", "n=3"},
        {"SELECT V FROM QRV.T WHERE K = '1001'", "ab "},
        {"SELECT COUNT(*) FROM QRV.T WHERE 'a ' = 'A' AND V = 'AB'", "1"},
        {"SELECT K FROM QRV.T ORDER BY K DESC", "KG      ;kf      ;1001    "},
        {"SELECT COUNT(*) FROM QRV.T WHERE CONVERT(char(4), K) + 'x' = 'KG  X'", "1"},
        {"INSERT INTO QRV.T (K) VALUES ('KF  ')",
         "E2627/23000+3621 Violation of PRIMARY KEY constraint 'PK_T'. Cannot insert duplicate "
         "key in object 'QRV.T'. The duplicate key value is (KF      )."},
        {"DELETE FROM QRV.T", "n=3"},
        // 5: + on texts and numbers, and the server's arithmetic errors.
        {"SELECT N'it''s' + '' + 'x' -- comment", "it'sx"},
        {"SELECT 'x' + NULL, 1 + 2 * 3, 1 + '2', -7 / 2, 7 % 3", "NULL|7|3|-3|1"},
        {"INSERT INTO QRV.T (K, V, N) VALUES ('a', 'x1', 5), ('b', NULL, NULL)", "n=2"},
        {"SELECT V + '-', N + 1, N + '10', -N FROM QRV.T", "x1-|6|15|-5;NULL|NULL|NULL|NULL"},
        {"SELECT N + V FROM QRV.T",
         "E245/22018 Conversion failed when converting the varchar value 'x1' to data type int."},
        {"SELECT 1 + 'zwei'", "E245/22018"},
        // A NULL folded from constants stays NULL through further arithmetic.
        {"SELECT 4 + 4 * NULL, -(2 * NULL), 1 - NULL * 3", "NULL|NULL|NULL"},
        // Nesting within the server's limits works; beyond them it is refused.
        {"SELECT " + std::string(50, '(') + "1" + std::string(50, ')'), "1"},
        {"SELECT " + std::string(200, '(') + "1" + std::string(200, ')'), "E191/42000"},
        {"SELECT N / 0 FROM QRV.T", "E8134/22012"},
        {"SELECT 4444444444 * 44444444444444444", "E8115/22003"},
        {"DELETE FROM QRV.T", "n=2"},
        // 6: a statement that fails writes none of its rows.
        {"INSERT INTO QRV.T (K) VALUES ('12345678'), ('123456789')", "E8152/22001+3621"},
        {"SELECT COUNT(*) FROM QRV.T", "0"},
        {"INSERT INTO QRV.T (K, V) VALUES ('12345678   ', 'abcde  ')", "n=1"},
        {"UPDATE QRV.T SET V = V + 'x'", "E8152/22001"},
        {"SELECT V FROM QRV.T", "abcde"},
        {"INSERT INTO QRV.T (V) VALUES ('a')",
         "E515/23000+3621 QRV.T'; column does not allow nulls. INSERT fails."},
        {"UPDATE QRV.T SET K = NULL", "E515/23000"},
        {"DELETE FROM QRV.T", "n=1"},
        // 7: duplicate keys by insert and update, on the key and a unique index.
        {"INSERT INTO QRV.T (K, N) VALUES ('a', 1), ('b', 2)", "n=2"},
        {"INSERT INTO QRV.T (K, N) VALUES ('c', 3), ('A', 4)", "E2627/23000+3621 (A       )."},
        {"SELECT COUNT(*) FROM QRV.T", "2"},
        {"UPDATE QRV.T SET K = 'b' WHERE N = 1", "E2627/23000+3621 (b       )."},
        {"CREATE UNIQUE NONCLUSTERED INDEX IX_T_N ON QRV.T (N)", "ok"},
        {"INSERT INTO QRV.T (K, N) VALUES ('z', 2)",
         "E2601/23000+3621 Cannot insert duplicate key row in object 'QRV.T' with unique index "
         "'IX_T_N'. The duplicate key value is (2)."},
        {"UPDATE QRV.T SET N = 1 WHERE K = 'b'", "E2601/23000"},
        {"DELETE QRV.T", "n=2"},
        // 8: unknown names, and what is not T-SQL here is a syntax error.
        {"SELECT * FROM T", "E208/42S02 Invalid object name 'T'."},
        {"UPDATE QRV.T SET Nix = 1", "E207/42S22"},
        {"INSERT INTO QRV.T (K, Nix) VALUES ('a', 1)", "E207/42S22"},
        {"SELEKT K FROM QRV.T", "E102/42000"},
        {"SELECT 1.5", "E102/42000"},
        {"SELECT K FROM QRV.T WHERE K LIKE 'a%'", "E156/42000"},
        {"SELECT K FROM QRV.T WHERE N IN (1, 2)", "E156/42000"},
        {"SELECT K FROM QRV.T GROUP BY K", "E156/42000"},
        {"SELECT K FROM QRV.T WHERE K = 'a' AND", "E156/42000"},
        {"INSERT INTO QRV.T (K) VALUES ('a'); DELETE FROM QRV.T", "E156/42000"},
        {"SELECT UPPER(K) FROM QRV.T", "E195/42000"},
        {"SELECT COUNT(*), K FROM QRV.T", "E8120/42000"},
        {"select [K], n from [QRV].[t] where k = 'x';", ""},
        // 12: without ORDER BY rows follow the key; a join its first table's.
        {"CREATE TABLE QRV.U (A int NOT NULL, B char(2) NOT NULL, PRIMARY KEY (A, B))", "ok"},
        {"INSERT INTO QRV.T (K, N) VALUES ('c', 1), ('a', 2), ('B', 3)", "n=3"},
        {"INSERT INTO QRV.U VALUES (3, 'b'), (1, 'z'), (3, 'A'), (2, 'x')", "n=4"},
        {"SELECT K FROM QRV.T", "a       ;B       ;c       "},
        {"SELECT A, B FROM QRV.U", "1|z ;2|x ;3|A ;3|b "},
        {"SELECT TOP 2 A FROM QRV.U WHERE A > 1", "2;3"},
        {"SELECT K, A FROM QRV.T, QRV.U WHERE N = A",
         "a       |2;B       |3;B       |3;c       |1"},
        {"SELECT A, K FROM QRV.U, QRV.T WHERE N = A",
         "1|c       ;2|a       ;3|B       ;3|B       "},
        // Schemas are namespaces; dbo is the default one.
        {"CREATE SCHEMA qrv",
         "E2714/42S01 There is already an object named 'qrv' in the database."},
        {"CREATE TABLE QRV.t (X int)", "E2714/42S01 There is already an object named 't'"},
        {"CREATE TABLE NOPE.T (X int)", "E2760/42000"},
        {"CREATE SCHEMA B", "ok"},
        {"CREATE TABLE B.T (X int)", "ok"},
        {"CREATE TABLE T (Y int)", "ok"},
        {"INSERT INTO B.T VALUES (1)", "n=1"},
        {"INSERT INTO dbo.T VALUES (2)", "n=1"},
        {"SELECT X FROM B.T", "1"},
        {"SELECT Y FROM T", "2"},
        {"DROP TABLE B.T", "ok"},
        {"SELECT X FROM B.T", "E208/42S02"},
        {"DROP TABLE B.T", "E3701/42S02"},
        // Transactions by statement text.
        {"BEGIN TRAN", "ok"},
        {"DELETE FROM QRV.T", "n=3"},
        {"CREATE TABLE QRV.X (I int)", "ok"},
        {"ROLLBACK TRANSACTION", "ok"},
        {"SELECT COUNT(*) FROM QRV.T", "3"},
        {"SELECT * FROM QRV.X", "E208/42S02"},
        {"BEGIN TRANSACTION", "ok"},
        {"INSERT INTO QRV.T (K) VALUES ('d')", "n=1"},
        {"COMMIT", "ok"},
        {"COMMIT TRAN", "E3902/25000"},
        {"ROLLBACK", "E3903/25000"},
        // Defaults, keys and widths come back with a new connection.
        {"CREATE TABLE QRV.W (I int NOT NULL PRIMARY KEY, At datetime NULL DEFAULT "
         "CURRENT_TIMESTAMP, Flag char(3) NOT NULL DEFAULT 'x')",
         "ok"},
        {"reconnect", "ok"},
        {"INSERT INTO QRV.W (I) VALUES (1)", "n=1"},
        {"SELECT At, Flag, S FROM QRV.W, QRV.T WHERE K = 'd'", "2009-09-18 03:00:00.000|x  |7"},
        {"INSERT INTO QRV.W (I) VALUES (1)", "E2627/23000"},
        {"INSERT INTO QRV.T (K) VALUES ('A')", "E2627/23000"},
        {"INSERT INTO QRV.T (K) VALUES ('123456789')", "E8152/22001"},
        // Many rows in one statement, past SQLite's compound-select limit.
        {"DELETE QRV.T", "n=4"},
        {thousand, "n=1000"},
        {"SELECT MAX(N), MIN(D) FROM QRV.T", "999|2009-01-01 00:00:00.000"},
    };
    std::unique_ptr<st::Client> fresh;
    st::Client* on = &client;
    for (const auto& [sql, want] : steps) {
        if (sql == "reconnect") {
            fresh = std::make_unique<st::Client>();
            ASSERT_EQ(fresh->connect(db.dsn()), SQL_SUCCESS);
            on = fresh.get();
            continue;
        }
        const std::string got = outcome(*on, sql);
        if (want == "ok") {
            EXPECT_NE(got[0], 'E') << sql << "\n" << got;
        } else if (want[0] == 'E') {
            const std::size_t blank = want.find(' ');
            EXPECT_EQ(got.rfind(want.substr(0, blank), 0), 0u) << sql << "\n" << got;
            if (blank != std::string::npos) {
                EXPECT_NE(got.find(want.substr(blank + 1)), std::string::npos) << sql << "\n"
                                                                               << got;
            }
        } else {
            EXPECT_EQ(got, want) << sql.substr(0, 200);
        }
    }
}

}  // namespace
