// Fault injection and the statement trace, switched on by data source
// keywords so the batch's error paths can be run against the stand-in.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/standin/odbc_client.h"

namespace {

const char* const fixture = st::threeRows;

// The driver manager caches data source keywords for a while, so each test
// names its faults when the data source is created and keeps its fixture
// clear of them.
TEST(StandinFaults, FailOnLetsFailAfterStatementsPassThenFails) {
    kt::StandinDb db({{"FailOn", "insert into log"}, {"FailAfter", "2"}, {"FailNative", "1205"}});
    db.exec(fixture);
    db.exec("CREATE TABLE Log (K int NOT NULL, CONSTRAINT PK_Log PRIMARY KEY (K))");
    st::Client client;
    ASSERT_EQ(client.connect(db.dsn()), SQL_SUCCESS);
    std::vector<SQLRETURN> results;
    for (int k = 10; k < 14; ++k) {
        st::Statement stmt(client);
        SQLRETURN rc = stmt.exec("INSERT INTO Log (K) VALUES (" + std::to_string(k) + ")");
        results.push_back(rc);
        if (rc == SQL_ERROR) {
            EXPECT_EQ(stmt.diags().at(0).native, 1205);
            EXPECT_EQ(stmt.diags().at(0).state, "40001");
        }
        // Statements that do not match keep working.
        st::Statement other(client);
        EXPECT_EQ(other.exec("UPDATE T SET V = 'y' WHERE K = 1"), SQL_SUCCESS);
    }
    EXPECT_EQ(results, (std::vector<SQLRETURN>{SQL_SUCCESS, SQL_SUCCESS, SQL_ERROR, SQL_ERROR}));
    EXPECT_EQ(db.scalar("SELECT COUNT(*) FROM Log"), "2");
}

TEST(StandinFaults, FailNativeDefaultsToUserError) {
    kt::StandinDb db(std::map<std::string, std::string>{{"FailOn", "DELETE"}});
    db.exec(fixture);
    st::Client client;
    ASSERT_EQ(client.connect(db.dsn()), SQL_SUCCESS);
    st::Statement stmt(client);
    ASSERT_EQ(stmt.exec("delete from T where K = 1"), SQL_ERROR);
    EXPECT_EQ(stmt.diags().at(0).native, 50000);
    EXPECT_EQ(stmt.diags().at(0).state, "42000");
    EXPECT_EQ(db.scalar("SELECT COUNT(*) FROM T"), "3");
}

TEST(StandinFaults, FailFetchOnBreaksOffAfterFailFetchAfterRows) {
    kt::StandinDb db({{"FailFetchOn", "ORDER BY K"}, {"FailFetchAfter", "2"}});
    db.exec(fixture);
    st::Client client;
    ASSERT_EQ(client.connect(db.dsn()), SQL_SUCCESS);
    st::Statement stmt(client);
    ASSERT_EQ(stmt.exec("SELECT K FROM T ORDER BY K"), SQL_SUCCESS);
    EXPECT_EQ(stmt.fetch(), SQL_SUCCESS);
    EXPECT_EQ(stmt.fetch(), SQL_SUCCESS);
    EXPECT_EQ(stmt.fetch(), SQL_ERROR);
    EXPECT_EQ(stmt.diags().at(0).native, 50000);
    // The broken-off result no longer holds the connection; others fetch fine.
    st::Statement other(client);
    ASSERT_EQ(other.exec("SELECT K FROM T"), SQL_SUCCESS);
    EXPECT_EQ(other.rest().size(), 3u);
}

TEST(StandinFaults, InfoOnSucceedsWithOneInformationalRecord) {
    kt::StandinDb db(std::map<std::string, std::string>{{"InfoOn", "set v"}});
    db.exec(fixture);
    st::Client client;
    ASSERT_EQ(client.connect(db.dsn()), SQL_SUCCESS);
    st::Statement update(client);
    ASSERT_EQ(update.exec("UPDATE T SET V = 'i' WHERE K = 2"), SQL_SUCCESS_WITH_INFO);
    ASSERT_EQ(update.diags().size(), 1u);
    EXPECT_EQ(update.diags()[0].state, "01000");
    EXPECT_EQ(update.diags()[0].native, 0);
    EXPECT_EQ(db.scalar("SELECT V FROM T WHERE K = 2"), "i");
    // A statement that matches nothing keeps its SQL_NO_DATA; one that
    // fails stays an error; others are untouched.
    st::Statement none(client);
    EXPECT_EQ(none.exec("UPDATE T SET V = 'i' WHERE K = 99"), SQL_NO_DATA);
    st::Statement failing(client);
    EXPECT_EQ(failing.exec("UPDATE T SET V = 'abcdefghijklmnopqrstuvwxyz' WHERE K = 1"), SQL_ERROR);
    st::Statement other(client);
    EXPECT_EQ(other.exec("SELECT K FROM T"), SQL_SUCCESS);
}

TEST(StandinFaults, TraceGetsOneLinePerStatementWithResultAndTime) {
    kt::TempDir dir;
    std::string trace = dir.file("trace.log");
    kt::StandinDb db(std::map<std::string, std::string>{{"Trace", trace}});
    db.exec(fixture);
    std::size_t fixtureLines = 4;
    st::Client client;
    ASSERT_EQ(client.connect(db.dsn()), SQL_SUCCESS);
    const char* statements[] = {"SELECT K FROM T WHERE K = 1", "UPDATE T SET V = 'q' WHERE K = 99",
                                "SELECT Nope FROM Missing"};
    for (const char* sql : statements) {
        st::Statement stmt(client);
        stmt.exec(sql);
    }
    std::istringstream lines(kt::readFile(trace));
    std::string line;
    std::vector<std::string> rcs, texts;
    for (std::size_t i = 0; i < fixtureLines; ++i) std::getline(lines, line);
    while (std::getline(lines, line)) {
        std::size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
        ASSERT_NE(tab2, std::string::npos) << line;
        rcs.push_back(line.substr(0, tab1));
        std::string micros = line.substr(tab1 + 1, tab2 - tab1 - 1);
        EXPECT_EQ(micros.find_first_not_of("0123456789"), std::string::npos) << line;
        texts.push_back(line.substr(tab2 + 1));
    }
    EXPECT_EQ(rcs, (std::vector<std::string>{"0", "100", "-1"}));
    EXPECT_EQ(texts, (std::vector<std::string>(std::begin(statements), std::end(statements))));
}

}  // namespace
