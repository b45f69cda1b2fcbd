// Probes of SQL Server behaviour the batch depends on, each run on both
// fronts: through the stand-in's own driver, and through FreeTDS's driver
// against standin-tds on the same database file. Both must give what the
// server gives; where the two client libraries differ (SQLSTATE mapping),
// the expectation says so.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/standin/odbc_client.h"

namespace {

struct Front {
    const char* name;
    bool tds;
};
const Front kFronts[] = {{"driver", false}, {"freetds", true}};

// A FreeTDS connection string to the standin-tds on port.
std::string tdsConnection(int port) {
    std::string cs;
    for (const auto& [key, value] : kt::freeTdsDataSource(port)) cs += key + "=" + value + ";";
    return cs + "UID=u;PWD=p;";
}

// A stand-in database with a server on it, and one session per front.
class Fidelity : public ::testing::Test {
  protected:
    void load(const std::string& script) {
        db.exec(script);
        server = std::make_unique<kt::TdsServer>(db.databaseFile(),
                                                 std::map<std::string, std::string>{});
        ASSERT_EQ(viaDriver.connect(db.dsn()), SQL_SUCCESS);
        ASSERT_EQ(viaTds.driverConnect(tdsConnection(server->port())), SQL_SUCCESS);
    }
    st::Client& client(const Front& f) { return f.tds ? viaTds : viaDriver; }
    // The SQLSTATE a front's client library reports for the server's
    // 22003: FreeTDS's ODBC 3 mapping turns it into HY019.
    static std::string overflowState(const Front& f) { return f.tds ? "HY019" : "22003"; }

    kt::StandinDb db;
    std::unique_ptr<kt::TdsServer> server;
    st::Client viaDriver;
    st::Client viaTds;
};

// What a statement gives, as one line: its rows ("a|b;c|d"), "n=<count>"
// for a write, "nodata", or "E<native>/<state>[+<native>] <text>" for a
// failure. A statement is bounded in time (seconds, 0 for no bound): a server
// that never answers fails the probe instead of hanging the test.
std::string outcome(st::Client& client, const std::string& sql, SQLULEN timeout = 10) {
    st::Statement s(client);
    SQLSetStmtAttr(s.handle(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(timeout), 0);
    const SQLRETURN rc = s.exec(sql);
    if (rc == SQL_NO_DATA) return "nodata";
    if (rc == SQL_ERROR) {
        const auto d = s.diags();
        if (d.empty()) return "E?";
        std::string out = "E" + std::to_string(d[0].native) + "/" + d[0].state;
        if (d.size() > 1) out += "+" + std::to_string(d[1].native);
        const std::string text = d[0].message;
        return out + " " + text.substr(text.rfind(']') + 1);
    }
    SQLSMALLINT columns = 0;
    SQLNumResultCols(s.handle(), &columns);
    if (columns == 0) return "n=" + std::to_string(s.rowCount());
    std::string out;
    for (SQLRETURN f = s.fetch(); f != SQL_NO_DATA; f = s.fetch()) {
        if (!SQL_SUCCEEDED(f)) {
            const auto d = s.diags();
            return out + "!fetch E" + (d.empty() ? "?" : std::to_string(d[0].native));
        }
        if (!out.empty()) out += ";";
        for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c)
            out += (c > 1 ? "|" : "") + s.text(c);
    }
    return out;
}

const char* const kNumbers =
    "CREATE TABLE N (K int NOT NULL, I int NULL, S smallint NULL, CONSTRAINT PK_N PRIMARY KEY "
    "(K))\n"
    "INSERT INTO N (K, I, S) VALUES (1, 2147483647, 32767)\n"
    "INSERT INTO N (K, I, S) VALUES (2, 1, 1)\n";

// int and smallint are range-checked where a value is computed, converted
// or stored, with the server's numbers; nothing out of range is written.
TEST_F(Fidelity, IntegersStayInTheirRangeWithTheServersErrors) {
    load(kNumbers);
    for (const Front& f : kFronts) {
        SCOPED_TRACE(f.name);
        st::Client& c = client(f);
        const std::string state = overflowState(f);
        const std::string intOverflow =
            "E8115/" + state + " Arithmetic overflow error converting expression to data type int.";
        const std::string smallOverflow = "E8115/" + state +
                                          " Arithmetic overflow error converting expression to "
                                          "data type smallint.";
        // Stored: a literal beyond int is a numeric that does not fit.
        EXPECT_EQ(outcome(c, "INSERT INTO N (K, I) VALUES (3, 3000000000)"),
                  "E8115/" + state +
                      "+3621 Arithmetic overflow error converting expression to data type int.");
        EXPECT_EQ(outcome(c, "INSERT INTO N (K, S) VALUES (3, 40000)"),
                  "E220/" + state +
                      "+3621 Arithmetic overflow error for data type smallint, value = 40000.");
        EXPECT_EQ(outcome(c, "UPDATE N SET S = I WHERE K = 1"),
                  "E220/" + state +
                      "+3621 Arithmetic overflow error for data type smallint, value = "
                      "2147483647.");
        // Computed: int arithmetic stays int, smallint with smallint stays smallint.
        EXPECT_EQ(outcome(c, "UPDATE N SET I = I + 1 WHERE K = 1"),
                  "E8115/" + state +
                      "+3621 Arithmetic overflow error converting expression to data type int.");
        EXPECT_EQ(outcome(c, "SELECT I * 2 FROM N WHERE K = 1"), intOverflow);
        EXPECT_EQ(outcome(c, "SELECT S + S FROM N WHERE K = 1"), smallOverflow);
        EXPECT_EQ(outcome(c, "SELECT 2147483647 + 1"), intOverflow);
        EXPECT_EQ(outcome(c, "SELECT S + 1 FROM N WHERE K = 1"), "32768");
        // An aggregate's overflow reaches the client when the statement runs.
        EXPECT_EQ(outcome(c, "SELECT SUM(I) FROM N"), intOverflow);
        EXPECT_EQ(outcome(c, "SELECT SUM(S) FROM N"), "32768");
        // Literals beyond int are numbers all the same; in range they fit.
        EXPECT_EQ(outcome(c, "SELECT 3000000000, -2147483648 - 1"), "3000000000|-2147483649");
        EXPECT_EQ(outcome(c, "SELECT K FROM N WHERE I < 3000000000 ORDER BY K"), "1;2");
        EXPECT_EQ(outcome(c, "INSERT INTO N (K, I, S) VALUES (-2147483648, -2147483648, -32768)"),
                  "n=1");
        EXPECT_EQ(outcome(c, "DELETE FROM N WHERE K < 0"), "n=1");
        EXPECT_EQ(outcome(c, "SELECT K, I, S FROM N ORDER BY K"), "1|2147483647|32767;2|1|1");
    }
}

// A value already in the file that its column's type cannot carry (written
// there by other means): the TDS front fails that statement with an ERROR
// token instead of half a row, and the session goes on.
TEST_F(Fidelity, AValueTheWireCannotCarryFailsOnlyItsStatement) {
    load(kNumbers);
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(db.databaseFile().c_str(), &raw), SQLITE_OK);
    const std::string update = "UPDATE \"dbo.N\" SET I = 3000000000 WHERE K = 2";
    char* error = nullptr;
    const int rc = sqlite3_exec(raw, update.c_str(), nullptr, nullptr, &error);
    const std::string why = error != nullptr ? error : "";
    sqlite3_free(error);
    sqlite3_close(raw);
    ASSERT_EQ(rc, SQLITE_OK) << why;

    EXPECT_EQ(outcome(viaTds, "SELECT K, I FROM N ORDER BY K"),
              "E8115/HY019 Arithmetic overflow error converting expression to data type int.");
    st::Statement cursor(viaTds);
    cursor.makeLockingCursor();
    EXPECT_EQ(cursor.exec("SELECT I FROM N WHERE K = 2"), SQL_ERROR);
    EXPECT_EQ(outcome(viaTds, "SELECT K FROM N ORDER BY K"), "1;2");
    EXPECT_EQ(outcome(viaTds, "SELECT I FROM N WHERE K = 1"), "2147483647");
}

}  // namespace

// The default collation on both fronts: every Windows-1252 letter equals
// its other case, no accented letter equals another, and accented letters
// sort beside their base letter; for comparison, ORDER BY and keys alike.
TEST_F(Fidelity, TextsCompareCaseInsensitivelyAndAccentSensitively) {
    load(
        "CREATE TABLE M (Code varchar(4) NOT NULL, Txt varchar(10) NULL, CONSTRAINT PK_M PRIMARY "
        "KEY (Code))\n"
        "INSERT INTO M (Code, Txt) VALUES ('\xDCS', 'umlaut')\n"
        "INSERT INTO M (Code, Txt) VALUES ('US', 'plain')\n"
        "INSERT INTO M (Code, Txt) VALUES ('\xC9t', 'acute')\n");
    for (const Front& f : kFronts) {
        SCOPED_TRACE(f.name);
        st::Client& c = client(f);
        EXPECT_EQ(outcome(c, "SELECT Txt FROM M WHERE Code = '\xFCs'"), "umlaut");
        EXPECT_EQ(outcome(c, "SELECT Txt FROM M WHERE Code = 'us'"), "plain");
        EXPECT_EQ(outcome(c, "SELECT Txt FROM M WHERE Code = '\xE9T'"), "acute");
        EXPECT_EQ(outcome(c, "SELECT Txt FROM M WHERE Code = 'Et'"), "");
        EXPECT_EQ(outcome(c, "SELECT COUNT(*) FROM M WHERE Code > 'U' AND Code < 'V'"), "2");
        const std::string duplicate = outcome(c, "INSERT INTO M (Code) VALUES ('\xFCs')");
        EXPECT_EQ(duplicate.substr(0, 16), "E2627/23000+3621") << duplicate;
        EXPECT_EQ(outcome(c, "UPDATE M SET Txt = 'acute' WHERE Code = '\xE9t'"), "n=1");
    }
    db.exec(
        "INSERT INTO M (Code) VALUES ('z')\n"
        "INSERT INTO M (Code) VALUES ('\xC4"
        "a')\n"
        "INSERT INTO M (Code) VALUES ('Ab')\n"
        "INSERT INTO M (Code) VALUES ('b')\n"
        "INSERT INTO M (Code) VALUES ('\xF6z')\n"
        "INSERT INTO M (Code) VALUES ('P')\n");
    for (const Front& f : kFronts) {
        SCOPED_TRACE(f.name);
        EXPECT_EQ(outcome(client(f), "SELECT Code FROM M ORDER BY Code"),
                  "\xC4"
                  "a;Ab;b;\xC9t;\xF6z;P;US;\xDCS;z");
    }
}

// Without ORDER BY the rows come in the clustered key's order, also where
// a secondary index would serve the condition: the batch's day-message
// lookup takes the first booking that decides from this order.
TEST_F(Fidelity, RowsWithoutOrderByComeInTheClusteredKeysOrder) {
    load(
        "CREATE TABLE B (P char(4) NOT NULL, D int NOT NULL, U int NOT NULL, F int NOT NULL, "
        "CONSTRAINT PK_B PRIMARY KEY CLUSTERED (P, D, U, F))\n"
        "CREATE INDEX IX_B_F_P ON B (F, P)\n"
        "INSERT INTO B (P, D, U, F) VALUES ('1', 9, 30, 1)\n"
        "INSERT INTO B (P, D, U, F) VALUES ('1', 9, 10, 3)\n"
        "INSERT INTO B (P, D, U, F) VALUES ('1', 9, 20, 2)\n"
        "INSERT INTO B (P, D, U, F) VALUES ('1', 9, 10, 1)\n"
        "INSERT INTO B (P, D, U, F) VALUES ('2', 9, 5, 1)\n"
        "INSERT INTO B (P, D, U, F) VALUES ('1', 8, 1, 1)\n");
    for (const Front& f : kFronts) {
        SCOPED_TRACE(f.name);
        EXPECT_EQ(
            outcome(client(f),
                    "SELECT U, F FROM B WHERE P = '1' AND D = 9 AND (F = 1 OR F = 2 OR F = 3)"),
            "10|1;10|3;20|2;30|1");
    }
}

// An exception other than the engine's error type, thrown while a statement
// runs (ThrowOn injects one where the front calls the engine), fails that
// statement alone: SQL_ERROR with HY000 from the driver, an ERROR token from
// standin-tds; the connection and the session thread go on.
TEST(FidelityFaults, AnInternalExceptionFailsOnlyItsStatement) {
    kt::StandinDb db(std::map<std::string, std::string>{{"ThrowOn", "K = 2"}});
    db.exec(kNumbers);
    kt::TdsServer server(db.databaseFile(), {{"ThrowOn", "K = 2"}});
    st::Client viaDriver;
    ASSERT_EQ(viaDriver.connect(db.dsn()), SQL_SUCCESS);
    st::Client viaTds;
    ASSERT_EQ(viaTds.driverConnect(tdsConnection(server.port())), SQL_SUCCESS);

    const std::string failed = outcome(viaDriver, "SELECT I FROM N WHERE K = 2");
    EXPECT_EQ(failed.substr(0, 8), "E0/HY000") << failed;
    EXPECT_NE(failed.find("injected internal fault"), std::string::npos) << failed;
    const std::string failedTds = outcome(viaTds, "SELECT I FROM N WHERE K = 2");
    EXPECT_EQ(failedTds.substr(0, 7), "E50000/") << failedTds;
    EXPECT_NE(failedTds.find("injected internal fault"), std::string::npos) << failedTds;
    st::Statement cursor(viaTds);
    cursor.makeLockingCursor();
    EXPECT_EQ(cursor.exec("SELECT I FROM N WHERE K = 2"), SQL_ERROR);

    for (st::Client* c : {&viaDriver, &viaTds}) {
        EXPECT_EQ(outcome(*c, "SELECT I FROM N WHERE K = 1"), "2147483647");
        EXPECT_EQ(outcome(*c, "UPDATE N SET S = 5 WHERE K = 1"), "n=1");
    }
    EXPECT_EQ(server.stop(), 0);
}

// Locks. A session meeting another session's open write waits for it, as
// the server waits without a lock time-out, and then goes on: here longer
// than the 10 s after which the stand-in used to fail the write with
// "database is locked". The holder is a session of standin-tds; one waiter
// comes through the driver, one through FreeTDS.
TEST_F(Fidelity, AWriteWaitsForAnotherSessionsOpenWriteWithoutATimeOut) {
    load(kNumbers);
    st::Client holder, waiter;
    ASSERT_EQ(holder.driverConnect(tdsConnection(server->port())), SQL_SUCCESS);
    ASSERT_EQ(waiter.driverConnect(tdsConnection(server->port())), SQL_SUCCESS);
    ASSERT_EQ(outcome(holder, "BEGIN TRAN"), "nodata");
    ASSERT_EQ(outcome(holder, "UPDATE N SET I = 7 WHERE K = 1"), "n=1");

    std::string viaDriverGot, viaTdsGot;
    std::atomic<int> finished{0};
    std::thread a([&] {
        viaDriverGot = outcome(viaDriver, "UPDATE N SET S = 8 WHERE K = 2", 0);
        ++finished;
    });
    std::thread b([&] {
        viaTdsGot = outcome(waiter, "UPDATE N SET S = 9 WHERE K = 2", 0);
        ++finished;
    });
    std::this_thread::sleep_for(std::chrono::seconds(11));
    EXPECT_EQ(finished, 0) << "a write finished while the other write was still open";
    EXPECT_EQ(outcome(holder, "COMMIT"), "nodata");
    a.join();
    b.join();
    EXPECT_EQ(viaDriverGot, "n=1");
    EXPECT_EQ(viaTdsGot, "n=1");
    EXPECT_EQ(outcome(viaDriver, "SELECT I FROM N WHERE K = 1"), "7");
}

// A wait that can never end is a deadlock: the waiting session's statement
// fails with 1205 and its transaction is rolled back, and the session can
// run it again; "database is locked" never reaches a client. Two
// connections of one process through the driver share its one call lock,
// so the holder cannot commit while the other waits. Through standin-tds a
// transaction that has read, then meets a write that commits, cannot write
// on the data it read.
TEST_F(Fidelity, ADeadlockEndsOneSessionWith1205AndItCanRerun) {
    load(kNumbers);
    st::Client other;
    ASSERT_EQ(other.connect(db.dsn()), SQL_SUCCESS);
    ASSERT_EQ(outcome(other, "BEGIN TRAN"), "n=0");
    ASSERT_EQ(outcome(other, "UPDATE N SET I = 7 WHERE K = 1"), "n=1");
    const std::string victim = outcome(viaDriver, "UPDATE N SET S = 8 WHERE K = 2");
    EXPECT_EQ(victim.substr(0, 11), "E1205/40001") << victim;
    EXPECT_NE(victim.find("deadlock victim"), std::string::npos) << victim;
    EXPECT_EQ(outcome(other, "COMMIT"), "n=0");
    EXPECT_EQ(outcome(viaDriver, "UPDATE N SET S = 8 WHERE K = 2"), "n=1");

    st::Client writer;
    ASSERT_EQ(writer.driverConnect(tdsConnection(server->port())), SQL_SUCCESS);
    ASSERT_EQ(outcome(viaTds, "BEGIN TRAN"), "nodata");
    ASSERT_EQ(outcome(viaTds, "SELECT S FROM N WHERE K = 2"), "8");
    ASSERT_EQ(outcome(writer, "BEGIN TRAN"), "nodata");
    ASSERT_EQ(outcome(writer, "UPDATE N SET I = 5 WHERE K = 1"), "n=1");
    std::string got;
    std::atomic<bool> finished{false};
    std::thread t([&] {
        got = outcome(viaTds, "UPDATE N SET S = 9 WHERE K = 2");
        finished = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(finished) << "did not wait for the open write";
    EXPECT_EQ(outcome(writer, "COMMIT"), "nodata");
    t.join();
    EXPECT_EQ(got.substr(0, 5), "E1205") << got;
    EXPECT_EQ(got.find("database is locked"), std::string::npos) << got;
    // Rolled back: the session is out of its transaction and runs again.
    EXPECT_EQ(outcome(viaTds, "COMMIT").substr(0, 5), "E3902");
    EXPECT_EQ(outcome(viaTds, "UPDATE N SET S = 9 WHERE K = 2"), "n=1");
    EXPECT_EQ(outcome(viaDriver, "SELECT I, S FROM N WHERE K < 3 ORDER BY K"), "5|32767;1|9");
}
