// A small ODBC client for the stand-in's tests: one environment and
// connection per Client, statements with their diagnostic records, all
// through the driver manager as the batch, isql and pyodbc reach the driver.
#pragma once

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/support.h"

namespace st {

// A table of three rows keyed 1, 2, 3 with values 'a', 'b', 'c'.
inline constexpr const char* threeRows =
    "CREATE TABLE T (K int NOT NULL, V varchar(20) NULL, CONSTRAINT PK_T PRIMARY KEY (K))\n"
    "INSERT INTO T (K, V) VALUES (1, 'a')\n"
    "INSERT INTO T (K, V) VALUES (2, 'b')\n"
    "INSERT INTO T (K, V) VALUES (3, 'c')\n";

struct DiagRec {
    std::string state;
    int native = 0;
    std::string message;
};

// Every diagnostic record of the handle, in order.
std::vector<DiagRec> diagnostics(SQLSMALLINT type, SQLHANDLE handle);

class Client {
  public:
    explicit Client(SQLINTEGER odbcVersion = SQL_OV_ODBC3);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    SQLRETURN connect(const std::string& dsn, const std::string& user = "",
                      const std::string& password = "");
    SQLRETURN driverConnect(const std::string& connectionString, std::string* out = nullptr);
    std::vector<DiagRec> diags() const { return diagnostics(SQL_HANDLE_DBC, dbc_); }
    SQLHDBC dbc() const { return dbc_; }

  private:
    SQLHENV env_ = SQL_NULL_HENV;
    SQLHDBC dbc_ = SQL_NULL_HDBC;
    bool connected_ = false;
};

class Statement {
  public:
    explicit Statement(Client& client);
    ~Statement() { free(); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // The batch's server cursor: forward-only, non-scrollable, SQL_CONCUR_LOCK.
    void makeLockingCursor();
    SQLRETURN exec(const std::string& sql);
    SQLRETURN fetch() { return SQLFetch(h_); }
    // Column value as text via SQLGetData, "NULL" for NULL.
    std::string text(SQLUSMALLINT column);
    // Fetches to the end; every row's values as text.
    std::vector<std::vector<std::string>> rest();
    SQLLEN rowCount();
    void free();
    std::vector<DiagRec> diags() const { return diagnostics(SQL_HANDLE_STMT, h_); }
    SQLHSTMT handle() const { return h_; }

  private:
    SQLHSTMT h_ = SQL_NULL_HSTMT;
};

// A test on a fresh data source loaded with script(), connected as an
// ODBC 3 application.
class Connected : public ::testing::Test {
  protected:
    void SetUp() override {
        db.exec(script());
        ASSERT_EQ(client.connect(db.dsn()), SQL_SUCCESS);
    }
    virtual const char* script() const { return threeRows; }
    kt::StandinDb db;
    Client client;
};

// Environment additions for a child process that loads the driver
// (isql, python3): under the sanitizers it needs their runtime preloaded.
std::map<std::string, std::string> childEnv();

}  // namespace st
