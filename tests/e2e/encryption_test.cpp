// An encrypted login, end to end: the batch runs through FreeTDS with
// encryption required against standin-tds with a certificate made for the
// test, and a relay on loopback captures every byte between them. Neither
// the password nor its LOGIN7 scrambling may appear there, nor any statement
// text. The same run without encryption is the control: there the capture
// shows the scrambled password, so the check would have found it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "tests/e2e/followup_e2e.h"

namespace {

constexpr const char* kLogin = "nightly";
constexpr const char* kPassword = "Nacht-Geheim-7431";

// Forwards every connection made to its port to the server's, keeping a
// copy of the bytes of both directions. Serves one connection at a time
// until destroyed.
class CaptureRelay {
  public:
    explicit CaptureRelay(int serverPort) : serverPort_(serverPort) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = loopback(0);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 4);
        socklen_t length = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~CaptureRelay() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }
    CaptureRelay(const CaptureRelay&) = delete;
    CaptureRelay& operator=(const CaptureRelay&) = delete;
    int port() const { return port_; }
    std::string captured() {
        std::lock_guard<std::mutex> lock(mutex_);
        return captured_;
    }

  private:
    static sockaddr_in loopback(int port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return a;
    }
    void serve() {
        while (!stop_) {
            pollfd p = {listener_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            const int client = ::accept(listener_, nullptr, nullptr);
            if (client < 0) continue;
            const int server = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a = loopback(serverPort_);
            if (::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
                relay(client, server);
            ::close(server);
            ::close(client);
        }
    }
    void relay(int client, int server) {
        char buffer[16384];
        while (!stop_) {
            pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(p, 2, 100) <= 0) continue;
            for (int i = 0; i < 2; ++i) {
                if (p[i].revents == 0) continue;
                const ssize_t n = ::recv(p[i].fd, buffer, sizeof buffer, 0);
                if (n <= 0) return;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    captured_.append(buffer, static_cast<std::size_t>(n));
                }
                if (::send(p[1 - i].fd, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n)
                    return;
            }
        }
    }

    int serverPort_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::string captured_;
    std::thread thread_;
};

std::string ucs2(const std::string& text) {
    std::string out;
    for (char c : text) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

// LOGIN7's reversible scrambling: nibbles swapped, then XOR 0xA5.
std::string scrambled(const std::string& text) {
    std::string out = ucs2(text);
    for (char& c : out) {
        const auto b = static_cast<unsigned char>(c);
        c = static_cast<char>((((b << 4) | (b >> 4)) & 0xFF) ^ 0xA5);
    }
    return out;
}

struct Capture {
    std::string bytes;
    std::string tgb;
    std::string log;
    std::string console;  // the batch's standard output and error
    std::string check;    // what kelbor-config check printed, when asked for
};

struct RunOptions {
    // The configuration's first entry answering LOGIN is the password's,
    // numbered 0, as a hand-edited file may have it.
    bool passwordAsLogin = false;
    // Also run kelbor-config check with the same data source, before the
    // batch.
    bool check = false;
};

enum class Link {
    Plain,     // no certificate, no encryption asked for
    Required,  // Encryption=require in the data source
    Checked,   // freetds.conf: encryption required, the server's certificate as CA file
    Impostor,  // the same with another certificate as CA file: the server is not trusted
};

// A self-signed certificate for 127.0.0.1 and its key, as dir/name.pem and dir/name.key.
void makeCertificate(const kt::TempDir& dir, const std::string& name) {
    kt::RunResult made =
        kt::runProgram({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                        "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-days",
                        "1", "-keyout", dir.file(name + ".key"), "-out", dir.file(name + ".pem")},
                       dir.path());
    EXPECT_EQ(made.exitCode, 0) << made.err;
}

std::string hexOf(const std::string& text) {
    kt::RunResult r = kt::runProgram({kt::configBinary(), "encipher"}, "", {}, text + "\n");
    return r.out.substr(0, r.out.find('\n'));
}

// One run of the batch through the relay.
Capture captureRun(Link link, const RunOptions& options = {}) {
    fu::Batch batch;
    batch.load(fu::commonTypes() + fu::sickSinceFriday("1001"));
    const kt::TempDir dir;
    std::map<std::string, std::string> keys = {
        {"ServerTime", fu::kServerTime}, {"User", kLogin}, {"Password", kPassword}};
    if (link != Link::Plain) {
        makeCertificate(dir, "server");
        keys["TlsCert"] = dir.file("server.pem");
        keys["TlsKey"] = dir.file("server.key");
    }
    kt::TdsServer server(batch.db().databaseFile(), keys);
    CaptureRelay relay(server.port());

    // A data source of its own, pointing at the relay, for the batch alone.
    kt::writeFile(dir.file("odbcinst.ini"), "[FreeTDS]\nDriver=" + kt::freeTdsDriver() + "\n");
    std::map<std::string, std::string> env = {{"ODBCSYSINI", dir.path()},
                                              {"ODBCINI", dir.file("odbc.ini")}};
    std::string section = "[KelborRelay]\n";
    if (link == Link::Checked || link == Link::Impostor) {
        // Only freetds.conf can name a CA file; the data source names its section.
        if (link == Link::Impostor) makeCertificate(dir, "other");
        kt::writeFile(dir.file("freetds.conf"),
                      "[relay]\nhost = 127.0.0.1\nport = " + std::to_string(relay.port()) +
                          "\ntds version = 7.4\nencryption = require\nca file = " +
                          dir.file(link == Link::Checked ? "server.pem" : "other.pem") + "\n");
        env["FREETDSCONF"] = dir.file("freetds.conf");
        section += "Driver=FreeTDS\nServername=relay\nClientCharset=CP1252\n";
    } else {
        for (const auto& [key, value] : kt::freeTdsDataSource(relay.port()))
            section += key + "=" + value + "\n";
        if (link == Link::Required) section += "Encryption=require\n";
    }
    kt::writeFile(dir.file("odbc.ini"), section);
    const std::string ini = batch.work().file("kelbor.ini");
    kt::writeConfig(ini, kLogin, kPassword, "KelborRelay", "qrv");
    if (options.passwordAsLogin) {
        kt::writeFile(ini, "h;s;x\n3;DATABASE;" + hexOf("KelborRelay") + "\nh;s;x\n0;PASS;" +
                               hexOf(kPassword) + "\nh;s;x\n1;LOGIN;" + hexOf(kLogin) +
                               "\nh;s;x\n4;SCHEMA;" + hexOf("qrv.") + "\n");
    }
    Capture capture;
    if (options.check) {
        capture.check = kt::runProgram({kt::configBinary(), "check", ini}, "", env).out;
    }
    env["KELBOR_DBG"] = "1";
    fu::Outcome o = batch.run("XXX", "D", env);
    EXPECT_EQ(server.stop(), 0);
    capture.bytes = relay.captured();
    capture.tgb = o.tgb;
    capture.log = o.log;
    capture.console = o.result.out + o.result.err;
    return capture;
}

TEST(EncryptedLogin, ThePasswordNeverCrossesTheLinkReadably) {
    if (!kt::onFreeTds()) GTEST_SKIP() << "the in-process driver has no link";
    const std::string statement = ucs2("Qrv327Tag");
    const std::string hidden = scrambled(kPassword);

    Capture plain = captureRun(Link::Plain);
    ASSERT_EQ(plain.tgb, fu::tgbLine("1001"));
    EXPECT_NE(plain.bytes.find(hidden), std::string::npos) << "the control found no password";
    EXPECT_NE(plain.bytes.find(statement), std::string::npos);

    for (Link link : {Link::Required, Link::Checked}) {
        SCOPED_TRACE(link == Link::Required ? "Encryption=require" : "with a CA file");
        Capture secret = captureRun(link);
        ASSERT_EQ(secret.tgb, fu::tgbLine("1001"));  // the night was done, encrypted
        EXPECT_GT(secret.bytes.size(), 1000u);
        EXPECT_EQ(secret.bytes.find(hidden), std::string::npos);
        EXPECT_EQ(secret.bytes.find(kPassword), std::string::npos);
        EXPECT_EQ(secret.bytes.find(ucs2(kPassword)), std::string::npos);
        EXPECT_EQ(secret.bytes.find(statement), std::string::npos);
    }

    // A server whose certificate the CA file does not vouch for never sees
    // the login: the batch stops at the connection, and the preflight names
    // the certificate as the likely cause, not the server's address.
    Capture refused = captureRun(Link::Impostor, {.check = true});
    EXPECT_EQ(refused.tgb, "");
    EXPECT_NE(refused.log.find("Fehler(DB-Connect)"), std::string::npos) << refused.log;
    EXPECT_EQ(refused.bytes.find(hidden), std::string::npos);
    EXPECT_NE(refused.check.find("connection: failed\n"), std::string::npos) << refused.check;
    EXPECT_NE(refused.check.find("likely cause: TLS or certificate failure: "), std::string::npos)
        << refused.check;
}

// The password as the login name would cross an unencrypted link in clear
// UCS-2 (LOGIN7 scrambles only the password field) and be named in the
// server's refusal. The batch does not connect with it at all; a normal
// login's name does cross, so the capture would have seen it.
TEST(EncryptedLogin, ThePasswordIsNeverSentAsTheLoginName) {
    if (!kt::onFreeTds()) GTEST_SKIP() << "the in-process driver has no link";
    Capture control = captureRun(Link::Plain);
    ASSERT_EQ(control.tgb, fu::tgbLine("1001"));
    EXPECT_NE(control.bytes.find(ucs2(kLogin)), std::string::npos) << "the control saw no name";

    Capture c = captureRun(Link::Plain, {.passwordAsLogin = true, .check = true});
    EXPECT_EQ(c.tgb, "");
    EXPECT_EQ(c.bytes.find(ucs2(kPassword)), std::string::npos);
    EXPECT_EQ(c.bytes.find(scrambled(kPassword)), std::string::npos);
    EXPECT_EQ(c.bytes.find(kPassword), std::string::npos);
    EXPECT_EQ(c.console.find(kPassword), std::string::npos) << c.console;
    EXPECT_EQ(c.check.find(kPassword), std::string::npos) << c.check;
    EXPECT_NE(c.check.find("connection: not tried\n"), std::string::npos) << c.check;
    EXPECT_EQ(c.log.rfind("Fehler(DB-Connect)! RC:-1 Name:*** Pwd:*** Net:KelborRelay\n"
                          "Info: DB-Connect nicht versucht! ",
                          0),
              0u)
        << c.log;
}

}  // namespace
