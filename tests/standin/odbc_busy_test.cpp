// Several statements on one connection: a locking cursor keeps delivering
// while other statements run, and a default result set with unread rows
// keeps the connection busy, as on SQL Server without MARS.
#include <gtest/gtest.h>

#include "tests/standin/odbc_client.h"

namespace {

using StandinBusy = st::Connected;

bool isBusyError(const std::vector<st::DiagRec>& diags) {
    return !diags.empty() && diags[0].state == "HY000" && diags[0].native == 0 &&
           diags[0].message.find("Connection is busy with results for another command") !=
               std::string::npos;
}

TEST_F(StandinBusy, LockingCursorStaysReadableWhileOthersRun) {
    st::Statement cursor(client);
    cursor.makeLockingCursor();
    ASSERT_EQ(cursor.exec("SELECT K, V FROM T ORDER BY K"), SQL_SUCCESS);
    ASSERT_EQ(cursor.fetch(), SQL_SUCCESS);
    EXPECT_EQ(cursor.text(1), "1");

    // Between fetches: a one-row lookup (freed after its row), then changes.
    {
        st::Statement lookup(client);
        ASSERT_EQ(lookup.exec("SELECT V FROM T WHERE K = 2"), SQL_SUCCESS);
        ASSERT_EQ(lookup.fetch(), SQL_SUCCESS);
        EXPECT_EQ(lookup.text(1), "b");
    }
    for (const char* sql : {"INSERT INTO T (K, V) VALUES (4, 'd')",
                            "UPDATE T SET V = 'B' WHERE K = 2", "DELETE FROM T WHERE K = 3"}) {
        st::Statement change(client);
        EXPECT_EQ(change.exec(sql), SQL_SUCCESS) << sql;
    }
    {
        st::Statement count(client);
        ASSERT_EQ(count.exec("SELECT COUNT(*) FROM T"), SQL_SUCCESS);
        EXPECT_EQ(count.rest(), (std::vector<std::vector<std::string>>{{"3"}}));
    }
    // The cursor delivers the rows as they were when it was opened.
    EXPECT_EQ(cursor.rest(), (std::vector<std::vector<std::string>>{{"2", "b"}, {"3", "c"}}));
}

TEST_F(StandinBusy, DefaultResultSetWithUnreadRowsBlocksTheConnection) {
    st::Statement open(client);
    ASSERT_EQ(open.exec("SELECT K FROM T ORDER BY K"), SQL_SUCCESS);
    ASSERT_EQ(open.fetch(), SQL_SUCCESS);

    st::Statement other(client);
    EXPECT_EQ(other.exec("INSERT INTO T (K, V) VALUES (9, 'z')"), SQL_ERROR);
    EXPECT_TRUE(isBusyError(other.diags()));
    EXPECT_EQ(other.exec("SELECT V FROM T WHERE K = 1"), SQL_ERROR);
    EXPECT_TRUE(isBusyError(other.diags()));
    // A server cursor needs the connection for every fetch, too.
    st::Statement locking(client);
    locking.makeLockingCursor();
    EXPECT_EQ(locking.exec("SELECT K FROM T"), SQL_ERROR);
    EXPECT_TRUE(isBusyError(locking.diags()));
    // Another connection is not affected.
    st::Client second;
    ASSERT_EQ(second.connect(db.dsn()), SQL_SUCCESS);
    st::Statement elsewhere(second);
    EXPECT_EQ(elsewhere.exec("SELECT K FROM T"), SQL_SUCCESS);

    // Reading to the end releases the connection.
    EXPECT_EQ(open.rest().size(), 2u);
    EXPECT_EQ(other.exec("INSERT INTO T (K, V) VALUES (9, 'z')"), SQL_SUCCESS);
}

TEST_F(StandinBusy, ClosingOrFreeingThePendingStatementReleasesTheConnection) {
    st::Statement other(client);
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE(way);
        st::Statement pending(client);
        ASSERT_EQ(pending.exec("SELECT K FROM T"), SQL_SUCCESS);
        ASSERT_EQ(other.exec("SELECT K FROM T"), SQL_ERROR);
        if (way == 0) SQLFreeStmt(pending.handle(), SQL_CLOSE);
        if (way == 1) SQLCloseCursor(pending.handle());
        if (way == 2) pending.free();
        ASSERT_EQ(other.exec("SELECT K FROM T"), SQL_SUCCESS);
        SQLFreeStmt(other.handle(), SQL_CLOSE);
    }
}

TEST_F(StandinBusy, PendingRowsBlockTransactionEnd) {
    SQLSetConnectAttr(client.dbc(), SQL_ATTR_AUTOCOMMIT,
                      reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), SQL_IS_UINTEGER);
    st::Statement pending(client);
    ASSERT_EQ(pending.exec("SELECT K FROM T"), SQL_SUCCESS);
    EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, client.dbc(), SQL_COMMIT), SQL_ERROR);
    EXPECT_TRUE(isBusyError(client.diags()));
    pending.free();
    EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, client.dbc(), SQL_COMMIT), SQL_SUCCESS);
}

}  // namespace
