// The TDS front (standin-tds) itself: the process's contract with scripts,
// the framing and login a TDS client depends on, concurrent sessions, and
// how values, counts and errors cross the wire as FreeTDS's ODBC driver
// reads them. What the batch does through FreeTDS is tested by the database
// suites on the FreeTDS route, not here.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/standin/odbc_client.h"

namespace {

std::string connectionString(int port, const std::string& user = "nightly",
                             const std::string& password = "geheim") {
    std::string s;
    for (const auto& [key, value] : kt::freeTdsDataSource(port)) s += key + "=" + value + ";";
    return s + "UID=" + user + ";PWD=" + password + ";";
}

// A raw TCP connection to the server, for what no client library would send.
class RawSocket {
  public:
    explicit RawSocket(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~RawSocket() { ::close(fd_); }
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;
    bool connected() const { return connected_; }

    // Sends as much of bytes as the peer takes; false once it refuses.
    bool send(const std::vector<std::uint8_t>& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // True when the server closes the connection within five seconds
    // (whatever it sent first is read and dropped).
    bool closedByServer() {
        for (int i = 0; i < 50; ++i) {
            pollfd p = {fd_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char buf[4096];
            ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) return true;
            received_.append(buf, static_cast<std::size_t>(n));
        }
        return false;
    }

    const std::string& received() const { return received_; }

  private:
    int fd_ = -1;
    bool connected_ = false;
    std::string received_;
};

std::vector<std::uint8_t> packet(std::uint8_t type, std::uint8_t status, std::size_t length,
                                 std::size_t body) {
    std::vector<std::uint8_t> p = {type,
                                   status,
                                   static_cast<std::uint8_t>(length >> 8),
                                   static_cast<std::uint8_t>(length),
                                   0,
                                   0,
                                   1,
                                   0};
    p.resize(8 + body, 0x41);
    return p;
}

// A database with table T (three rows) and a server on it that requires
// the login nightly/geheim.
class TdsFront : public ::testing::Test {
  protected:
    void SetUp() override { db.exec(st::threeRows); }
    std::unique_ptr<kt::TdsServer> start(std::map<std::string, std::string> keys = {}) {
        keys.emplace("User", "nightly");
        keys.emplace("Password", "geheim");
        return std::make_unique<kt::TdsServer>(db.databaseFile(), keys);
    }
    // True when a FreeTDS session on port still runs a query.
    bool serves(int port) {
        st::Client c;
        if (!SQL_SUCCEEDED(c.driverConnect(connectionString(port)))) return false;
        st::Statement s(c);
        return s.exec("SELECT COUNT(*) FROM T") == SQL_SUCCESS && s.rest().size() == 1;
    }
    kt::StandinDb db;
};

// The server's listening sockets as /proc/net/tcp shows them: address:port in hex.
std::vector<std::string> listeningOnPort(int port) {
    std::ifstream in("/proc/net/tcp");
    std::string line;
    std::vector<std::string> out;
    char hexPort[8];
    std::snprintf(hexPort, sizeof hexPort, "%04X", port);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (state == "0A" && local.size() > 5 && local.substr(local.size() - 4) == hexPort)
            out.push_back(local);
    }
    return out;
}

TEST_F(TdsFront, ProcessListensOnLoopbackOnlyAndEndsCleanlyWithSessionsOpen) {
    auto server = start();  // fails the test unless stdout is exactly the one line
    EXPECT_EQ(listeningOnPort(server->port()), std::vector<std::string>{"0100007F:" + [&] {
                  char h[8];
                  std::snprintf(h, sizeof h, "%04X", server->port());
                  return std::string(h);
              }()});

    // A logged-in session and a half-open raw connection do not keep it alive.
    st::Client idle;
    ASSERT_EQ(idle.driverConnect(connectionString(server->port())), SQL_SUCCESS);
    RawSocket raw(server->port());
    ASSERT_TRUE(raw.connected());
    EXPECT_EQ(server->stop(), 0);
}

TEST_F(TdsFront, BadCommandLinesFailBeforeListening) {
    const std::string file = db.databaseFile();
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--port", "99999", "--database", file},
             {"--fail-after", "two", "--database", file},
             {"--port", "0"},
             {"--database", file, "--no-such-option", "x"},
             {"--database", file, "--password", "geheim"},
             {"--database", file, "--server-time", "2026-13-01 00:00:00"},
         }) {
        std::vector<std::string> argv = {kt::standinTdsServer()};
        argv.insert(argv.end(), args.begin(), args.end());
        kt::RunResult r = kt::runProgram(argv, db.dir());
        EXPECT_NE(r.exitCode, 0) << args[0] << " " << args[1];
        EXPECT_EQ(r.out, "") << args[0];
        EXPECT_NE(r.err, "") << args[0];
    }
}

TEST_F(TdsFront, MalformedOrOversizedRequestsCloseOnlyTheirConnection) {
    auto server = start();
    const int port = server->port();
    {
        RawSocket s(port);  // a length shorter than the header itself
        ASSERT_TRUE(s.send(packet(18, 1, 4, 0)));
        EXPECT_TRUE(s.closedByServer());
    }
    {
        RawSocket s(port);  // a length over the largest packet TDS allows
        ASSERT_TRUE(s.send(packet(18, 1, 0xFFFF, 0)));
        EXPECT_TRUE(s.closedByServer());
    }
    {
        // A message that never ends: full packets without end-of-message.
        RawSocket s(port);
        const auto p = packet(18, 0, 32767, 32767 - 8);
        int sent = 0;
        while (sent < 400 && s.send(p)) ++sent;
        EXPECT_LT(sent, 400);  // cut off after the 4 MiB a request may have
        EXPECT_TRUE(s.closedByServer());
    }
    {
        // A pre-login, then a login whose offset table points past its end.
        RawSocket s(port);
        ASSERT_TRUE(s.send(packet(18, 1, 8 + 6, 6)));
        auto login = packet(16, 1, 8 + 94, 94);
        for (std::size_t i = 8 + 36; i + 3 < login.size(); i += 4) {
            login[i] = 0xF0;  // offset 0x7FF0, length 0x7F7F characters
            login[i + 1] = 0x7F;
            login[i + 2] = 0x7F;
            login[i + 3] = 0x7F;
        }
        login[8 + 4] = 0x04;  // TDS 7.4
        login[8 + 7] = 0x74;
        ASSERT_TRUE(s.send(login));
        EXPECT_TRUE(s.closedByServer());
    }
    EXPECT_TRUE(serves(port));
    EXPECT_EQ(server->stop(), 0);
}

TEST_F(TdsFront, WithACertificateNoLoginIsReadInTheClear) {
    kt::RunResult made =
        kt::runProgram({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                        "-subj", "/CN=127.0.0.1", "-days", "1", "-keyout", db.dir() + "/key.pem",
                        "-out", db.dir() + "/cert.pem"},
                       db.dir());
    ASSERT_EQ(made.exitCode, 0) << made.err;
    auto server = start({{"TlsCert", db.dir() + "/cert.pem"}, {"TlsKey", db.dir() + "/key.pem"}});
    // A pre-login without encryption, then a login in the clear.
    RawSocket s(server->port());
    ASSERT_TRUE(s.send(packet(18, 1, 8 + 6, 6)));
    auto login = packet(16, 1, 8 + 94, 94);
    login[8 + 4] = 0x04;
    login[8 + 7] = 0x74;
    s.send(login);
    EXPECT_TRUE(s.closedByServer());
    // Cut off without an answer to the login: no refusal was even read.
    EXPECT_EQ(s.received().find(std::string("L\0o\0g\0i\0n", 9)), std::string::npos);
    EXPECT_EQ(s.received().size(), 8u + 26u + 9u);  // the pre-login reply alone
    // FreeTDS asked to encrypt gets its session.
    st::Client c;
    ASSERT_EQ(c.driverConnect(connectionString(server->port()) + "Encryption=require;"),
              SQL_SUCCESS);
    st::Statement q(c);
    EXPECT_EQ(q.exec("SELECT COUNT(*) FROM T"), SQL_SUCCESS);
    EXPECT_EQ(q.rest(), (std::vector<std::vector<std::string>>{{"3"}}));
}

TEST_F(TdsFront, LoginIsCheckedAndARefusalCarriesTheServersMessage) {
    auto server = start();
    const int port = server->port();
    for (const auto& [user, password] : std::vector<std::pair<std::string, std::string>>{
             {"nightly", "GEHEIM"}, {"other", "geheim"}}) {
        st::Client c;
        EXPECT_EQ(c.driverConnect(connectionString(port, user, password)), SQL_ERROR);
        bool found = false;
        for (const st::DiagRec& d : c.diags()) {
            if (d.native == 18456) {
                found = true;
                EXPECT_NE(d.message.find("Login failed for user '" + user + "'."),
                          std::string::npos)
                    << d.message;
                // FreeTDS maps server messages to SQLSTATEs only after a login.
                EXPECT_EQ(d.state, "42000");
            }
        }
        EXPECT_TRUE(found) << user;
    }
    // The user name is not case-sensitive, the password is.
    st::Client c;
    EXPECT_EQ(c.driverConnect(connectionString(port, "NIGHTLY", "geheim")), SQL_SUCCESS);
}

TEST_F(TdsFront, SessionsRunConcurrentlyOnTheOneFile) {
    auto server = start();
    const int port = server->port();
    st::Client reader;
    ASSERT_EQ(reader.driverConnect(connectionString(port)), SQL_SUCCESS);
    st::Statement cursor(reader);
    cursor.makeLockingCursor();
    ASSERT_EQ(cursor.exec("SELECT K, V FROM T ORDER BY K"), SQL_SUCCESS);
    ASSERT_EQ(cursor.fetch(), SQL_SUCCESS);
    EXPECT_EQ(cursor.text(1), "1");

    // Four writers at once, each its own session, while the cursor is open.
    std::vector<std::thread> writers;
    std::vector<int> failures(4, 0);
    for (int w = 0; w < 4; ++w) {
        writers.emplace_back([&, w] {
            st::Client c;
            if (!SQL_SUCCEEDED(c.driverConnect(connectionString(port)))) {
                failures[w] = -1;
                return;
            }
            for (int i = 0; i < 25; ++i) {
                st::Statement s(c);
                const int key = 100 + w * 100 + i;
                if (s.exec("INSERT INTO T (K, V) VALUES (" + std::to_string(key) + ", 'w')") !=
                    SQL_SUCCESS)
                    ++failures[w];
            }
        });
    }
    for (std::thread& t : writers) t.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));

    // The cursor goes on with the rows it was opened on.
    std::vector<std::vector<std::string>> rest = cursor.rest();
    EXPECT_EQ(rest, (std::vector<std::vector<std::string>>{{"2", "b"}, {"3", "c"}}));
    st::Statement count(reader);
    ASSERT_EQ(count.exec("SELECT COUNT(*) FROM T"), SQL_SUCCESS);
    EXPECT_EQ(count.rest(), (std::vector<std::vector<std::string>>{{"103"}}));
    EXPECT_EQ(server->stop(), 0);
}

class TdsWire : public TdsFront {
  protected:
    void SetUp() override {
        TdsFront::SetUp();
        db.exec(
            "CREATE TABLE W (K int NOT NULL, S smallint NULL, C char(6) NULL, V varchar(30) NULL, "
            "D datetime NULL, CONSTRAINT PK_W PRIMARY KEY (K))\n"
            "INSERT INTO W (K, S, C, V, D) VALUES (1, -7, 'ab', 'M\xFCller \x80 \x9F', "
            "'20260309 23:59:59.997')\n"
            "INSERT INTO W (K, S, C, V, D) VALUES (2, NULL, NULL, NULL, NULL)\n");
        server = start();
        ASSERT_EQ(client.driverConnect(connectionString(server->port())), SQL_SUCCESS);
    }
    std::unique_ptr<kt::TdsServer> server;
    st::Client client;
};

TEST_F(TdsWire, ValuesArriveAsTheyAreStored) {
    st::Statement s(client);
    ASSERT_EQ(s.exec("SELECT K, S, C, V, D, CONVERT(char(8), D, 112) FROM W ORDER BY K"),
              SQL_SUCCESS);
    EXPECT_EQ(
        s.rest(),
        (std::vector<std::vector<std::string>>{
            {"1", "-7", "ab    ", "M\xFCller \x80 \x9F", "2026-03-09 23:59:59.997", "20260309"},
            {"2", "NULL", "NULL", "NULL", "NULL", "NULL"}}));

    // Texts travel as UCS-2: a Windows-1252 literal comes back byte for byte.
    st::Statement insert(client);
    ASSERT_EQ(insert.exec("INSERT INTO W (K, V) VALUES (3, '\xE4\xF6\xFC\xDF \x80\x8A')"),
              SQL_SUCCESS);
    EXPECT_EQ(db.scalar("SELECT V FROM W WHERE K = 3"), "\xE4\xF6\xFC\xDF \x80\x8A");

    // The whole day: the last tick before midnight and the first day of datetime.
    st::Statement edges(client);
    ASSERT_EQ(edges.exec("SELECT CONVERT(datetime, '17530101'), CONVERT(datetime, "
                         "'99991231 23:59:59.997'), CONVERT(datetime, '19000101 00:00:00.003')"),
              SQL_SUCCESS);
    EXPECT_EQ(edges.rest(), (std::vector<std::vector<std::string>>{{"1753-01-01 00:00:00.000",
                                                                    "9999-12-31 23:59:59.997",
                                                                    "1900-01-01 00:00:00.003"}}));
}

TEST_F(TdsWire, EveryWriteReportsItsRealCountAndErrorsTheirNumbers) {
    struct Case {
        const char* sql;
        SQLRETURN rc;
        SQLLEN count;
    };
    // FreeTDS reads a DONE carrying the count 0 as success with row count 0.
    for (const Case& c : {Case{"UPDATE W SET V = 'x'", SQL_SUCCESS, 2},
                          Case{"UPDATE W SET V = 'y' WHERE K = 99", SQL_SUCCESS, 0},
                          Case{"DELETE FROM W WHERE K = 99", SQL_SUCCESS, 0},
                          Case{"INSERT INTO W (K) VALUES (5)", SQL_SUCCESS, 1},
                          Case{"DELETE FROM W WHERE K >= 2", SQL_SUCCESS, 2}}) {
        st::Statement s(client);
        EXPECT_EQ(s.exec(c.sql), c.rc) << c.sql;
        EXPECT_EQ(s.rowCount(), c.count) << c.sql;
    }

    struct Failure {
        const char* sql;
        std::vector<std::pair<std::string, int>> records;  // SQLSTATE, native
    };
    for (const Failure& f : std::vector<Failure>{
             {"INSERT INTO W (K) VALUES (1)", {{"23000", 2627}, {"01000", 3621}}},
             {"INSERT INTO W (K, C) VALUES (9, 'seven77')", {{"22001", 8152}, {"01000", 3621}}},
             {"SELECT * FROM Nowhere", {{"42S02", 208}}},
             {"SELECT Nothing FROM W", {{"42S22", 207}}},
             {"SELECT CONVERT(int, 'abc')", {{"22018", 245}}},
             {"SELEKT 1", {{"42000", 102}}},
         }) {
        st::Statement s(client);
        EXPECT_EQ(s.exec(f.sql), SQL_ERROR) << f.sql;
        std::vector<std::pair<std::string, int>> got;
        for (const st::DiagRec& d : s.diags()) got.emplace_back(d.state, d.native);
        EXPECT_EQ(got, f.records) << f.sql;
    }
    EXPECT_EQ(db.scalar("SELECT COUNT(*) FROM W"), "1");
}

// Under --nocount every DONE goes without its count, a SELECT's included:
// FreeTDS then answers each write with SQL_NO_DATA and row count -1, and
// SET NOCOUNT OFF (itself without a count) brings the counts back.
TEST_F(TdsFront, NoCountServerSendsNoCountsUntilTheSessionSaysOff) {
    auto server = start({{"NoCount", "1"}});
    st::Client client;
    ASSERT_EQ(client.driverConnect(connectionString(server->port())), SQL_SUCCESS);
    st::Statement s(client);
    for (const char* sql : {"UPDATE T SET V = 'n' WHERE K = 3", "UPDATE T SET V = V WHERE K = 99",
                            "INSERT INTO T (K) VALUES (7)", "DELETE FROM T WHERE K = 7"}) {
        EXPECT_EQ(s.exec(sql), SQL_NO_DATA) << sql;
        EXPECT_EQ(s.rowCount(), -1) << sql;
    }
    ASSERT_EQ(s.exec("SELECT V FROM T WHERE K = 3"), SQL_SUCCESS);
    EXPECT_EQ(s.rest(), (std::vector<std::vector<std::string>>{{"n"}}));
    EXPECT_EQ(s.rowCount(), -1);

    EXPECT_EQ(s.exec("SET NOCOUNT OFF"), SQL_NO_DATA);
    EXPECT_EQ(s.exec("UPDATE T SET V = 'o' WHERE K = 3"), SQL_SUCCESS);
    EXPECT_EQ(s.rowCount(), 1);
    ASSERT_EQ(s.exec("SELECT V FROM T WHERE K > 1 ORDER BY K"), SQL_SUCCESS);
    EXPECT_EQ(s.rest().size(), 2u);
    EXPECT_EQ(s.rowCount(), 2);

    // A session on a counting server may switch them off itself.
    auto counting = start();
    st::Client other;
    ASSERT_EQ(other.driverConnect(connectionString(counting->port())), SQL_SUCCESS);
    st::Statement t(other);
    EXPECT_EQ(t.exec("UPDATE T SET V = 'p' WHERE K = 3"), SQL_SUCCESS);
    EXPECT_EQ(t.rowCount(), 1);
    EXPECT_EQ(t.exec("SET NOCOUNT ON"), SQL_NO_DATA);
    EXPECT_EQ(t.exec("UPDATE T SET V = 'q' WHERE K = 3"), SQL_NO_DATA);
    EXPECT_EQ(t.rowCount(), -1);
    EXPECT_EQ(db.scalar("SELECT V FROM T WHERE K = 3"), "q");
}

TEST_F(TdsWire, CancelledAndCursorResultsLeaveTheSessionUsable) {
    // A default result set closed with rows unread: FreeTDS cancels it.
    st::Statement pending(client);
    ASSERT_EQ(pending.exec("SELECT K FROM T ORDER BY K"), SQL_SUCCESS);
    ASSERT_EQ(pending.fetch(), SQL_SUCCESS);
    ASSERT_EQ(SQLCloseCursor(pending.handle()), SQL_SUCCESS);
    ASSERT_EQ(pending.exec("SELECT V FROM T WHERE K = 3"), SQL_SUCCESS);
    EXPECT_EQ(pending.rest(), (std::vector<std::vector<std::string>>{{"c"}}));

    // Server cursors: one fetch per row, closed on free, several at once.
    st::Statement a(client), b(client);
    a.makeLockingCursor();
    b.makeLockingCursor();
    ASSERT_EQ(a.exec("SELECT K FROM T ORDER BY K"), SQL_SUCCESS);
    ASSERT_EQ(b.exec("SELECT V FROM T WHERE K > 1 ORDER BY K"), SQL_SUCCESS);
    ASSERT_EQ(a.fetch(), SQL_SUCCESS);
    EXPECT_EQ(b.rest(), (std::vector<std::vector<std::string>>{{"b"}, {"c"}}));
    EXPECT_EQ(a.rest(), (std::vector<std::vector<std::string>>{{"2"}, {"3"}}));
    st::Statement empty(client);
    empty.makeLockingCursor();
    ASSERT_EQ(empty.exec("SELECT K FROM T WHERE K > 3"), SQL_SUCCESS);
    EXPECT_EQ(empty.fetch(), SQL_NO_DATA);
    st::Statement failed(client);
    failed.makeLockingCursor();
    EXPECT_EQ(failed.exec("SELECT K FROM Nowhere"), SQL_ERROR);
    ASSERT_FALSE(failed.diags().empty());
    EXPECT_EQ(failed.diags()[0].native, 208);
}

TEST_F(TdsFront, InjectedFaultsAndTheTraceMatchTheDriversKeywords) {
    const std::string trace = db.dir() + "/trace";
    auto server = start({{"InfoOn", "k = 2"},
                         {"Trace", trace},
                         {"FailFetchOn", "ORDER BY K"},
                         {"FailFetchAfter", "3"}});
    st::Client c;
    ASSERT_EQ(c.driverConnect(connectionString(server->port())), SQL_SUCCESS);
    // A server cursor fails the fetch after the rows the fault lets through,
    // also when that fetch would have found the end.
    {
        st::Statement cursor(c);
        cursor.makeLockingCursor();
        ASSERT_EQ(cursor.exec("SELECT K FROM T ORDER BY K"), SQL_SUCCESS);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(cursor.fetch(), SQL_SUCCESS);
        EXPECT_EQ(cursor.fetch(), SQL_ERROR);
        ASSERT_FALSE(cursor.diags().empty());
        EXPECT_EQ(cursor.diags()[0].native, 50000);
    }
    st::Statement s(c);
    ASSERT_EQ(s.exec("SELECT V FROM T WHERE K = 2"), SQL_SUCCESS_WITH_INFO);
    ASSERT_EQ(s.diags().size(), 1u);
    EXPECT_EQ(s.diags()[0].state, "01000");
    EXPECT_EQ(s.diags()[0].native, 0);
    EXPECT_EQ(s.rest(), (std::vector<std::vector<std::string>>{{"b"}}));
    st::Statement u(c);
    ASSERT_EQ(u.exec("UPDATE T SET V = V WHERE K = 9"), SQL_SUCCESS);
    st::Statement e(c);
    ASSERT_EQ(e.exec("SELECT 1 FROM Nowhere"), SQL_ERROR);
    EXPECT_EQ(server->stop(), 0);

    // One line per statement: return code, microseconds, text.
    std::istringstream lines(kt::readFile(trace));
    std::vector<std::pair<std::string, std::string>> got;
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t a = line.find('\t'), b = line.find('\t', a + 1);
        ASSERT_NE(b, std::string::npos) << line;
        EXPECT_GT(b, a + 1) << line;
        got.emplace_back(line.substr(0, a), line.substr(b + 1));
    }
    EXPECT_EQ(got, (std::vector<std::pair<std::string, std::string>>{
                       {"0", "SELECT K FROM T ORDER BY K"},
                       {"1", "SELECT V FROM T WHERE K = 2"},
                       {"100", "UPDATE T SET V = V WHERE K = 9"},
                       {"-1", "SELECT 1 FROM Nowhere"}}));
}

}  // namespace
