// What applications get back: SQL_NO_DATA by ODBC version, SQL_C_CHAR
// truncation and NULL indicators, SQL_C_LONG, bindings renewed on an open
// cursor, SQLGetData in pieces and as UTF-16 for Unicode clients.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/standin/odbc_client.h"

namespace {

const char* const fixture =
    "CREATE TABLE T (K int NOT NULL, V varchar(20) NULL, CONSTRAINT PK_T PRIMARY KEY (K))\n"
    "INSERT INTO T (K, V) VALUES (1, 'abcdefghij')\n"
    "INSERT INTO T (K, V) VALUES (2, NULL)\n"
    "INSERT INTO T (K, V) VALUES (3, '42')\n";

class StandinFetch : public st::Connected {
    const char* script() const override { return fixture; }
};

TEST_F(StandinFetch, ZeroRowUpdateIsNoDataOnlyForOdbc3Applications) {
    for (SQLINTEGER version : {SQL_OV_ODBC3, SQL_OV_ODBC2}) {
        SCOPED_TRACE(version);
        SQLRETURN none = version == SQL_OV_ODBC3 ? SQL_NO_DATA : SQL_SUCCESS;
        st::Client app(version);
        ASSERT_EQ(app.connect(db.dsn()), SQL_SUCCESS);
        st::Statement stmt(app);
        EXPECT_EQ(stmt.exec("UPDATE T SET V = 'x' WHERE K = 99"), none);
        EXPECT_EQ(stmt.rowCount(), 0);
        EXPECT_EQ(stmt.exec("DELETE FROM T WHERE K = 99"), none);
        EXPECT_EQ(stmt.rowCount(), 0);
        // Through SQLPrepare/SQLExecute as isql runs statements.
        ASSERT_EQ(SQLPrepare(stmt.handle(), (SQLCHAR*)"DELETE FROM T WHERE K = 98", SQL_NTS),
                  SQL_SUCCESS);
        EXPECT_EQ(SQLExecute(stmt.handle()), none);
        EXPECT_EQ(stmt.exec("UPDATE T SET V = V WHERE K = 3"), SQL_SUCCESS);
        EXPECT_EQ(stmt.rowCount(), 1);
    }
}

// A server whose sessions start with SET NOCOUNT ON sends no count at all:
// like Microsoft's driver, the driver answers every write with SQL_NO_DATA
// (SQL_SUCCESS to an ODBC 2 application) and SQLRowCount -1, whatever the
// write changed, until the session says SET NOCOUNT OFF.
TEST(StandinNoCount, NoCountHidesEveryCountUntilTheSessionAsksForThem) {
    kt::StandinDb db(std::map<std::string, std::string>{{"NoCount", "1"}});
    db.exec(fixture);
    for (SQLINTEGER version : {SQL_OV_ODBC3, SQL_OV_ODBC2}) {
        SCOPED_TRACE(version);
        const SQLRETURN none = version == SQL_OV_ODBC3 ? SQL_NO_DATA : SQL_SUCCESS;
        st::Client app(version);
        ASSERT_EQ(app.connect(db.dsn()), SQL_SUCCESS);
        st::Statement s(app);
        for (const char* sql :
             {"UPDATE T SET V = 'n' WHERE K = 3", "UPDATE T SET V = V WHERE K = 99",
              "INSERT INTO T (K) VALUES (7)", "DELETE FROM T WHERE K = 7"}) {
            EXPECT_EQ(s.exec(sql), none) << sql;
            EXPECT_EQ(s.rowCount(), -1) << sql;
        }
        ASSERT_EQ(s.exec("SELECT V FROM T WHERE K = 3"), SQL_SUCCESS);
        EXPECT_EQ(s.rest(), (std::vector<std::vector<std::string>>{{"n"}}));
        EXPECT_EQ(s.rowCount(), -1);
        ASSERT_EQ(SQLCloseCursor(s.handle()), SQL_SUCCESS);

        // SET NOCOUNT OFF is itself a statement without rows or count.
        ASSERT_EQ(s.exec("SET NOCOUNT OFF"), SQL_SUCCESS);
        SQLSMALLINT columns = -1;
        SQLNumResultCols(s.handle(), &columns);
        EXPECT_EQ(columns, 0);
        EXPECT_EQ(s.exec("UPDATE T SET V = 'o' WHERE K = 3"), SQL_SUCCESS);
        EXPECT_EQ(s.rowCount(), 1);
        EXPECT_EQ(s.exec("UPDATE T SET V = V WHERE K = 99"), none);
        EXPECT_EQ(s.rowCount(), 0);
        ASSERT_EQ(s.exec("SET NOCOUNT ON;"), SQL_SUCCESS);
        EXPECT_EQ(s.exec("UPDATE T SET V = 'p' WHERE K = 3"), none);
        EXPECT_EQ(s.rowCount(), -1);
    }
    // The setting belongs to the session: a normal data source counts, and
    // SET NOCOUNT ON there holds for that connection only.
    kt::StandinDb plain;
    plain.exec(fixture);
    st::Client first, second;
    ASSERT_EQ(first.connect(plain.dsn()), SQL_SUCCESS);
    ASSERT_EQ(second.connect(plain.dsn()), SQL_SUCCESS);
    st::Statement a(first), b(second);
    ASSERT_EQ(a.exec("set   nocount   on"), SQL_SUCCESS);
    EXPECT_EQ(a.exec("UPDATE T SET V = 'q' WHERE K = 1"), SQL_NO_DATA);
    EXPECT_EQ(b.exec("UPDATE T SET V = 'r' WHERE K = 1"), SQL_SUCCESS);
    EXPECT_EQ(b.rowCount(), 1);
    EXPECT_EQ(a.exec("SET NOCOUNT"), SQL_ERROR);
    EXPECT_EQ(a.exec("SET ROWCOUNT 5"), SQL_ERROR);
}

TEST_F(StandinFetch, ShortCharBufferIsCutTerminatedAndWarned) {
    struct Case {
        SQLLEN bufferLength;
        SQLRETURN rc;
        const char* text;
    } cases[] = {{5, SQL_SUCCESS_WITH_INFO, "abcd"},
                 {10, SQL_SUCCESS_WITH_INFO, "abcdefghi"},
                 {11, SQL_SUCCESS, "abcdefghij"},
                 {1, SQL_SUCCESS_WITH_INFO, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bufferLength);
        st::Statement stmt(client);
        char buf[32];
        std::memset(buf, '#', sizeof buf);
        SQLLEN ind = 0;
        SQLBindCol(stmt.handle(), 1, SQL_C_CHAR, buf, c.bufferLength, &ind);
        ASSERT_EQ(stmt.exec("SELECT V FROM T WHERE K = 1"), SQL_SUCCESS);
        ASSERT_EQ(stmt.fetch(), c.rc);
        EXPECT_STREQ(buf, c.text);
        EXPECT_EQ(buf[c.bufferLength], '#') << "wrote past the buffer";
        EXPECT_EQ(ind, 10);
        auto diags = stmt.diags();
        if (c.rc == SQL_SUCCESS) {
            EXPECT_TRUE(diags.empty());
            continue;
        }
        ASSERT_EQ(diags.size(), 1u);
        EXPECT_EQ(diags[0].state, "01004");
        EXPECT_EQ(diags[0].native, 0);
        EXPECT_NE(diags[0].message.find("String data, right truncated"), std::string::npos);
    }
}

TEST_F(StandinFetch, NullSetsIndicatorAndLeavesBufferUntouched) {
    st::Statement stmt(client);
    char text[8] = "XXXXXXX";
    SQLINTEGER number = 77;
    SQLLEN textInd = 0, numberInd = 0;
    SQLBindCol(stmt.handle(), 1, SQL_C_CHAR, text, sizeof text, &textInd);
    SQLBindCol(stmt.handle(), 2, SQL_C_LONG, &number, sizeof number, &numberInd);
    ASSERT_EQ(stmt.exec("SELECT V, V FROM T WHERE K = 2"), SQL_SUCCESS);
    ASSERT_EQ(stmt.fetch(), SQL_SUCCESS);
    EXPECT_EQ(textInd, SQL_NULL_DATA);
    EXPECT_EQ(numberInd, SQL_NULL_DATA);
    EXPECT_STREQ(text, "XXXXXXX");
    EXPECT_EQ(number, 77);
    stmt.free();
    // Without an indicator a NULL cannot be reported.
    st::Statement bare(client);
    SQLBindCol(bare.handle(), 1, SQL_C_CHAR, text, sizeof text, nullptr);
    ASSERT_EQ(bare.exec("SELECT V FROM T WHERE K = 2"), SQL_SUCCESS);
    EXPECT_EQ(bare.fetch(), SQL_ERROR);
    EXPECT_EQ(bare.diags().at(0).state, "22002");
}

TEST_F(StandinFetch, LongFromIntegerColumnsAndNumericText) {
    st::Statement stmt(client);
    SQLINTEGER k = 0, v = 0;
    SQLLEN kInd = 0, vInd = 0;
    SQLBindCol(stmt.handle(), 1, SQL_C_LONG, &k, 0, &kInd);
    SQLBindCol(stmt.handle(), 2, SQL_C_SLONG, &v, 0, &vInd);
    ASSERT_EQ(stmt.exec("SELECT K, V FROM T WHERE K = 3"), SQL_SUCCESS);
    ASSERT_EQ(stmt.fetch(), SQL_SUCCESS);
    EXPECT_EQ(k, 3);
    EXPECT_EQ(v, 42);
    EXPECT_EQ(kInd, static_cast<SQLLEN>(sizeof(SQLINTEGER)));
    stmt.free();
    st::Statement bad(client);
    SQLBindCol(bad.handle(), 1, SQL_C_LONG, &v, 0, &vInd);
    ASSERT_EQ(bad.exec("SELECT V FROM T WHERE K = 1"), SQL_SUCCESS);
    EXPECT_EQ(bad.fetch(), SQL_ERROR);
    EXPECT_EQ(bad.diags().at(0).state, "22018");
}

TEST_F(StandinFetch, ColumnsBoundAfreshBeforeEveryFetch) {
    st::Statement stmt(client);
    ASSERT_EQ(stmt.exec("SELECT K, V FROM T ORDER BY K"), SQL_SUCCESS);
    std::vector<SQLINTEGER> keys;
    for (;;) {
        // A fresh record per row, bound on the open cursor, as the batch does.
        SQLINTEGER key = -1;
        char value[21] = {0};
        SQLLEN ind[2] = {0, 0};
        SQLBindCol(stmt.handle(), 1, SQL_C_LONG, &key, 0, &ind[0]);
        SQLBindCol(stmt.handle(), 2, SQL_C_CHAR, value, sizeof value, &ind[1]);
        SQLRETURN rc = stmt.fetch();
        if (rc == SQL_NO_DATA) break;
        ASSERT_EQ(rc, SQL_SUCCESS);
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<SQLINTEGER>{1, 2, 3}));
}

TEST_F(StandinFetch, GetDataGivesLongTextInPiecesThenNoData) {
    st::Statement stmt(client);
    ASSERT_EQ(stmt.exec("SELECT V FROM T WHERE K = 1"), SQL_SUCCESS);
    ASSERT_EQ(stmt.fetch(), SQL_SUCCESS);
    std::string pieces;
    std::vector<SQLLEN> remaining;
    for (;;) {
        char buf[4];
        SQLLEN ind = 0;
        SQLRETURN rc = SQLGetData(stmt.handle(), 1, SQL_C_CHAR, buf, sizeof buf, &ind);
        if (rc == SQL_NO_DATA) break;
        ASSERT_TRUE(SQL_SUCCEEDED(rc));
        pieces += buf;
        remaining.push_back(ind);
        ASSERT_LT(remaining.size(), 10u);
    }
    EXPECT_EQ(pieces, "abcdefghij");
    EXPECT_EQ(remaining, (std::vector<SQLLEN>{10, 7, 4, 1}));
}

TEST_F(StandinFetch, WideCharIsUtf16LittleEndian) {
    db.exec("INSERT INTO T (K, V) VALUES (4, 'M\xC3\xBCller')");
    st::Statement stmt(client);
    ASSERT_EQ(stmt.exec("SELECT V FROM T WHERE K = 4"), SQL_SUCCESS);
    ASSERT_EQ(stmt.fetch(), SQL_SUCCESS);
    char16_t buf[16] = {0};
    SQLLEN ind = 0;
    ASSERT_EQ(SQLGetData(stmt.handle(), 1, SQL_C_WCHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_EQ(ind, 12);
    EXPECT_EQ(std::u16string(buf), u"M\u00fcller");
}

TEST_F(StandinFetch, UnsupportedAttributesFailClosed) {
    st::Statement stmt(client);
    EXPECT_EQ(SQLSetStmtAttr(stmt.handle(), SQL_ATTR_CURSOR_SCROLLABLE,
                             reinterpret_cast<SQLPOINTER>(SQL_SCROLLABLE), SQL_IS_INTEGER),
              SQL_ERROR);
    EXPECT_EQ(stmt.diags().at(0).state, "HYC00");
    EXPECT_EQ(SQLSetStmtAttr(stmt.handle(), SQL_ATTR_ROW_ARRAY_SIZE,
                             reinterpret_cast<SQLPOINTER>(10), SQL_IS_INTEGER),
              SQL_ERROR);
    EXPECT_EQ(SQLSetStmtAttr(stmt.handle(), SQL_ATTR_CURSOR_SCROLLABLE,
                             reinterpret_cast<SQLPOINTER>(SQL_NONSCROLLABLE), SQL_IS_INTEGER),
              SQL_SUCCESS);
    EXPECT_EQ(SQLSetStmtAttr(stmt.handle(), SQL_ATTR_CONCURRENCY,
                             reinterpret_cast<SQLPOINTER>(SQL_CONCUR_LOCK), SQL_IS_INTEGER),
              SQL_SUCCESS);
    SQLULEN concurrency = 0;
    SQLGetStmtAttr(stmt.handle(), SQL_ATTR_CONCURRENCY, &concurrency, 0, nullptr);
    EXPECT_EQ(concurrency, static_cast<SQLULEN>(SQL_CONCUR_LOCK));
}

}  // namespace
