// Other clients through the driver manager: unixODBC's isql in batch mode
// (ODBC 2 with SQLPrepare/SQLExecute, ODBC 3 with SQLExecDirect, and
// SQLDriverConnect) and python3-pyodbc.
#include <gtest/gtest.h>

#include "tests/standin/odbc_client.h"

namespace {

const char* const isqlProgram = "/usr/bin/isql";
const char* const python = "/usr/bin/python3";

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

kt::RunResult isql(const std::vector<std::string>& args, const std::string& input) {
    std::vector<std::string> argv{isqlProgram};
    argv.insert(argv.end(), args.begin(), args.end());
    return kt::runProgram(argv, "", st::childEnv(), input);
}

const char* const session =
    "CREATE TABLE T (K int NOT NULL, V varchar(20) NULL, CONSTRAINT PK_T PRIMARY KEY (K))\n"
    "INSERT INTO T (K, V) VALUES (1, 'eins')\n"
    "INSERT INTO T (K, V) VALUES (2, NULL)\n"
    "SELECT K, V FROM T ORDER BY K\n"
    "UPDATE T SET V = 'x' WHERE K = 99\n"
    "SELECT K FROM Missing\n";

TEST(StandinClients, IsqlBatchSessionAsOdbc2Application) {
    if (!kt::fileExists(isqlProgram)) GTEST_SKIP() << "isql is not installed";
    kt::StandinDb db;
    kt::RunResult r = isql({"-b", "-v", db.dsn()}, std::string(session) + "\n");
    // isql exits 0 even after failed statements: the output tells.
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "| 1")) << r.out;
    EXPECT_TRUE(contains(r.out, "eins")) << r.out;
    EXPECT_TRUE(contains(r.out, "2 rows fetched")) << r.out;
    EXPECT_TRUE(contains(r.out, "SQLRowCount returns 1")) << r.out;
    // ODBC 2: the zero-row UPDATE is a plain success with count 0.
    EXPECT_TRUE(contains(r.out, "SQLRowCount returns 0")) << r.out;
    EXPECT_FALSE(contains(r.err, "SQL_NO_DATA")) << r.err;
    EXPECT_TRUE(contains(r.out, "Invalid object name 'Missing'.")) << r.out;
    EXPECT_TRUE(contains(r.err, "[ISQL]ERROR: Could not SQLExecute")) << r.err;
}

TEST(StandinClients, IsqlOdbc3ExecDirectReportsNoData) {
    if (!kt::fileExists(isqlProgram)) GTEST_SKIP() << "isql is not installed";
    kt::StandinDb db;
    kt::RunResult r = isql({"-b", "-3", "-e", "-v", db.dsn()}, std::string(session) + "\n");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "eins")) << r.out;
    EXPECT_TRUE(contains(r.err, "SQL_NO_DATA")) << r.err;
    EXPECT_TRUE(contains(r.out, "[42S02]")) << r.out;
}

TEST(StandinClients, IsqlDriverConnectChecksTheLogin) {
    if (!kt::fileExists(isqlProgram)) GTEST_SKIP() << "isql is not installed";
    kt::StandinDb db({{"User", "kelbor"}, {"Password", "pw"}});
    kt::RunResult ok = isql({"-b", "-k", "DSN=" + db.dsn() + ";UID=kelbor;PWD=pw"},
                            "CREATE TABLE T (K int NOT NULL)\nSELECT COUNT(*) FROM T\n\n");
    EXPECT_EQ(ok.exitCode, 0) << ok.out << ok.err;
    EXPECT_TRUE(contains(ok.out, "| 0")) << ok.out;
    kt::RunResult refused = isql({"-b", "-v", "-k", "DSN=" + db.dsn() + ";UID=eve;PWD=pw"}, "\n");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(contains(refused.out + refused.err, "Login failed for user 'eve'."))
        << refused.out << refused.err;
}

TEST(StandinClients, IsqlLoadsTheSchemaScript) {
    if (!kt::fileExists(isqlProgram)) GTEST_SKIP() << "isql is not installed";
    kt::StandinDb db;
    std::string script = kt::readFile(kt::sourceDir() + "/sql/schema.sql");
    for (std::size_t pos; (pos = script.find("$(SCHEMA)")) != std::string::npos;)
        script.replace(pos, 9, "QRV");
    kt::RunResult r = isql({"-b", "-v", db.dsn()}, script + "\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_FALSE(contains(r.err, "ERROR")) << r.out << r.err;
    for (const char* table :
         {"Qrv327Tag", "Qrv320Tgb", "Qrv321Bch", "Qrv131Fcd", "Qrv329Ztg", "Qrv140Azv"})
        EXPECT_EQ(db.scalar(std::string("SELECT COUNT(*) FROM QRV.") + table), "0") << table;
}

TEST(StandinClients, PyodbcRunsQueriesAndSeesServerErrors) {
    if (!kt::fileExists(python) ||
        kt::runProgram({python, "-c", "import pyodbc"}, "", {}).exitCode != 0)
        GTEST_SKIP() << "python3-pyodbc is not installed";
    kt::StandinDb db;
    db.exec(
        "CREATE TABLE T (K int NOT NULL, V varchar(20) NULL, CONSTRAINT PK_T PRIMARY KEY (K))\n"
        "INSERT INTO T (K, V) VALUES (1, 'eins')\n"
        "INSERT INTO T (K, V) VALUES (2, NULL)\n");
    std::string script =
        "import pyodbc\n"
        "c = pyodbc.connect('DSN=" +
        db.dsn() +
        "')\n"
        "cur = c.cursor()\n"
        "print(cur.execute('SELECT K, V FROM T ORDER BY K').fetchall())\n"
        "cur.execute(\"UPDATE T SET V = 'zwei' WHERE K = 2\")\n"
        "print('updated', cur.rowcount)\n"
        "c.commit()\n"
        "try:\n"
        "    cur.execute('SELECT K FROM Missing')\n"
        "except pyodbc.Error as e:\n"
        "    print('error', e.args[0])\n"
        "c.close()\n";
    kt::RunResult r = kt::runProgram({python, "-c", script}, "", st::childEnv());
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "[(1, 'eins'), (2, None)]")) << r.out;
    EXPECT_TRUE(contains(r.out, "updated 1")) << r.out;
    EXPECT_TRUE(contains(r.out, "error 42S02")) << r.out;
    EXPECT_EQ(db.scalar("SELECT V FROM T WHERE K = 2"), "zwei");
}

}  // namespace
