// Logging in to the stand-in: the data source's User/Password, the
// Database file, SQLDriverConnect strings, and re-readable diagnostics.
#include <gtest/gtest.h>

#include "tests/standin/odbc_client.h"

namespace {

TEST(StandinConnect, OnlyTheConfiguredLoginIsAccepted) {
    kt::StandinDb db({{"User", "kelbor"}, {"Password", "Geheim1"}});
    struct Case {
        const char* user;
        const char* password;
        bool accepted;
    } cases[] = {
        {"kelbor", "Geheim1", true},
        {"KELBOR", "Geheim1", true},
        {"kelbor", "geheim1", false},
        {"bob", "Geheim1", false},
        {"", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.user) + "/" + c.password);
        st::Client client;
        SQLRETURN rc = client.connect(db.dsn(), c.user, c.password);
        if (c.accepted) {
            EXPECT_EQ(rc, SQL_SUCCESS);
            continue;
        }
        ASSERT_EQ(rc, SQL_ERROR);
        auto diags = client.diags();
        ASSERT_FALSE(diags.empty());
        EXPECT_EQ(diags[0].state, "28000");
        EXPECT_EQ(diags[0].native, 18456);
        EXPECT_NE(diags[0].message.find("Login failed for user '" + std::string(c.user) + "'."),
                  std::string::npos)
            << diags[0].message;
    }
}

TEST(StandinConnect, WithoutUserKeywordAnyLoginIsAccepted) {
    kt::StandinDb db;
    st::Client client;
    EXPECT_EQ(client.connect(db.dsn(), "whoever", "whatever"), SQL_SUCCESS);
}

TEST(StandinConnect, DatabaseFileIsCreatedOnFirstConnect) {
    kt::StandinDb db;
    ASSERT_FALSE(kt::fileExists(db.databaseFile()));
    st::Client client;
    ASSERT_EQ(client.connect(db.dsn()), SQL_SUCCESS);
    EXPECT_TRUE(kt::fileExists(db.databaseFile()));
}

TEST(StandinConnect, DriverConnectReadsTheDataSourceAndTheCredentials) {
    kt::StandinDb db({{"User", "kelbor"}, {"Password", "Geheim1"}});
    {
        st::Client client;
        std::string out;
        std::string in = "DSN=" + db.dsn() + ";UID=kelbor;PWD={Geheim1};";
        ASSERT_EQ(client.driverConnect(in, &out), SQL_SUCCESS) << client.diags().size();
        EXPECT_EQ(out, in);
        st::Statement stmt(client);
        EXPECT_EQ(stmt.exec("CREATE TABLE T (K int NOT NULL)"), SQL_SUCCESS);
    }
    st::Client wrong;
    ASSERT_EQ(wrong.driverConnect("DSN=" + db.dsn() + ";UID=kelbor;PWD=nope"), SQL_ERROR);
    EXPECT_EQ(wrong.diags().at(0).native, 18456);
}

TEST(StandinConnect, DataSourceWithoutDatabaseFailsClosed) {
    kt::StandinDb db;
    st::Client client;
    // No DSN: only the keywords of the string itself count, and it names no file.
    ASSERT_EQ(client.driverConnect("DRIVER=Standin;UID=x;"), SQL_ERROR);
    EXPECT_EQ(client.diags().at(0).state, "08001");
}

TEST(StandinConnect, DiagnosticsStayReadableUntilTheNextCall) {
    kt::StandinDb db({{"User", "kelbor"}, {"Password", "pw"}});
    st::Client client;
    ASSERT_EQ(client.connect(db.dsn(), "eve", "pw"), SQL_ERROR);
    auto first = client.diags();
    auto second = client.diags();
    ASSERT_EQ(first.size(), second.size());
    EXPECT_EQ(first[0].message, second[0].message);
    SQLINTEGER native = 0;
    char state[6] = {0};
    SQLSMALLINT len = 0;
    ASSERT_EQ(
        SQLGetDiagField(SQL_HANDLE_DBC, client.dbc(), 1, SQL_DIAG_NATIVE, &native, 0, nullptr),
        SQL_SUCCESS);
    EXPECT_EQ(native, 18456);
    ASSERT_EQ(SQLGetDiagField(SQL_HANDLE_DBC, client.dbc(), 1, SQL_DIAG_SQLSTATE, state,
                              sizeof state, &len),
              SQL_SUCCESS);
    EXPECT_STREQ(state, "28000");
    // The next successful call clears them.
    ASSERT_EQ(client.connect(db.dsn(), "kelbor", "pw"), SQL_SUCCESS);
    EXPECT_TRUE(client.diags().empty());
}

}  // namespace
