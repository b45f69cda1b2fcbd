// SQL Server behaviours the batch relies on, seen through the driver manager
// as an ODBC 3 application sees them: datetime literals and CONVERT styles,
// the server clock, char padding and the case-insensitive collation, string
// concatenation, the server's errors with their natives and SQLSTATEs,
// SQL_NO_DATA and primary-key order.
#include <gtest/gtest.h>

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

}  // namespace
