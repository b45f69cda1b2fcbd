// standin-tds: the stand-in's engine behind a TDS listener on 127.0.0.1, so
// that a real TDS client library drives the same engine the in-process
// driver does.
//
// The main thread parses the options, listens, and accepts; every
// connection gets a thread and a session of its own. SIGTERM and SIGINT wake
// the main thread through a pipe: it stops accepting, shuts the open
// connections down, waits for their threads, writes the requests it answered
// (by kind) as one line to stderr and exits with 0.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <string>
#include <thread>

#include "standin/tds/channel.h"
#include "standin/tds/session.h"

namespace {

int wakePipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 0;
    [[maybe_unused]] ssize_t n = ::write(wakePipe[1], &c, 1);
}

const char kUsage[] =
    "usage: standin-tds --database FILE [--port N] [--server-time 'yyyy-mm-dd hh:mm:ss']\n"
    "       [--user U --password P] [--fail-on TEXT] [--fail-after N] [--fail-native N]\n"
    "       [--fail-fetch-on TEXT] [--fail-fetch-after N] [--info-on TEXT] [--throw-on TEXT]\n"
    "       [--trace FILE]"
    "       [--drop-after N] [--latency-us N] [--request-log FILE]\n"
    "       [--tls-cert FILE --tls-key FILE] [--nocount]\n";

bool wholeNumber(const char* text, long long low, long long high, long long* out) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || v < low || v > high) return false;
    *out = v;
    return true;
}

// Fills settings and port from argv. Returns false (after saying why on
// stderr) for an unknown option, a missing value or a bad number.
bool parseOptions(int argc, char** argv, standin::tds::ServerSettings* settings, int* port,
                  std::string* certFile, std::string* keyFile) {
    auto& faults = settings->faults;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--nocount") {
            // Sessions start with SET NOCOUNT ON, as under a server whose
            // "user options" say so.
            settings->engine.noCount = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "standin-tds: %s needs a value\n", option.c_str());
            return false;
        }
        const char* value = argv[++i];
        long long n = 0;
        auto number = [&](long long low, long long high) {
            if (wholeNumber(value, low, high, &n)) return true;
            std::fprintf(stderr, "standin-tds: %s needs a whole number from %lld to %lld\n",
                         option.c_str(), low, high);
            return false;
        };
        if (option == "--database") {
            settings->engine.databasePath = value;
        } else if (option == "--port") {
            if (!number(0, 65535)) return false;
            *port = static_cast<int>(n);
        } else if (option == "--server-time") {
            settings->engine.serverTime = value;
        } else if (option == "--user") {
            settings->user = value;
        } else if (option == "--password") {
            settings->password = value;
        } else if (option == "--fail-on") {
            faults.failOn = value;
        } else if (option == "--fail-after") {
            if (!number(0, INT64_MAX)) return false;
            faults.failAfter = n;
        } else if (option == "--fail-native") {
            if (!number(0, INT32_MAX)) return false;
            faults.failNative = static_cast<std::int32_t>(n);
        } else if (option == "--fail-fetch-on") {
            faults.failFetchOn = value;
        } else if (option == "--fail-fetch-after") {
            if (!number(0, INT64_MAX)) return false;
            faults.failFetchAfter = n;
        } else if (option == "--info-on") {
            faults.infoOn = value;
        } else if (option == "--throw-on") {
            faults.throwOn = value;
        } else if (option == "--drop-after") {
            if (!number(0, INT64_MAX)) return false;
            settings->dropAfter = n;
        } else if (option == "--latency-us") {
            if (!number(0, 10'000'000)) return false;
            settings->latencyMicros = n;
        } else if (option == "--tls-cert") {
            *certFile = value;
        } else if (option == "--tls-key") {
            *keyFile = value;
        } else if (option == "--request-log") {
            settings->requestLogPath = value;
        } else if (option == "--trace") {
            faults.tracePath = value;
        } else {
            std::fprintf(stderr, "standin-tds: unknown option %s\n%s", option.c_str(), kUsage);
            return false;
        }
    }
    if (settings->engine.databasePath.empty()) {
        std::fprintf(stderr, "standin-tds: --database is required\n%s", kUsage);
        return false;
    }
    if (certFile->empty() != keyFile->empty()) {
        std::fprintf(stderr, "standin-tds: --tls-cert and --tls-key go together\n");
        return false;
    }
    if (settings->user.empty() && !settings->password.empty()) {
        std::fprintf(stderr, "standin-tds: --password needs --user\n");
        return false;
    }
    return true;
}

// The connections being served; the main thread shuts them down at the end.
struct Connection {
    int fd = -1;
    std::thread thread;
    std::atomic<bool> finished{false};
};

}  // namespace

int main(int argc, char** argv) {
    standin::tds::ServerSettings settings;
    standin::tds::RequestCounts counts;
    settings.counts = &counts;
    int port = 0;
    std::string certFile, keyFile;
    if (!parseOptions(argc, argv, &settings, &port, &certFile, &keyFile)) return 2;
    if (!certFile.empty()) {
        std::string error;
        settings.tls = standin::tds::makeTlsContext(certFile, keyFile, &error);
        if (settings.tls == nullptr) {
            std::fprintf(stderr, "standin-tds: %s\n", error.c_str());
            return 1;
        }
    }

    // Open the database once, so a bad file or clock fails at start, not at
    // the first login.
    {
        standin::Diag error;
        if (!standin::Engine::open(settings.engine, &error)) {
            std::fprintf(stderr, "standin-tds: %s\n", error.message.c_str());
            return 1;
        }
    }

    if (::pipe(wakePipe) != 0) return 1;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 16) != 0) {
        std::fprintf(stderr, "standin-tds: cannot listen on 127.0.0.1:%d: %s\n", port,
                     std::strerror(errno));
        return 1;
    }
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::printf("listening on 127.0.0.1:%d\n", ntohs(address.sin_port));
    std::fflush(stdout);

    std::list<Connection> connections;
    std::mutex mutex;  // guards the fds of connections against the threads closing them
    for (;;) {
        pollfd fds[2] = {{listener, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
        if (::poll(fds, 2, 1000) < 0 && errno != EINTR) break;
        if (fds[1].revents != 0) break;
        // Reap the threads of connections that have ended.
        for (auto it = connections.begin(); it != connections.end();) {
            if (it->finished) {
                it->thread.join();
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
        if ((fds[0].revents & POLLIN) == 0) continue;
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        const int noDelay = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        Connection& c = connections.emplace_back();
        c.fd = fd;
        c.thread = std::thread([&c, &settings, &mutex] {
            // The session turns a failed request into an error reply; what
            // still escapes (a session that cannot even start) ends only
            // this connection, never the server.
            try {
                standin::tds::serveConnection(c.fd, settings);
            } catch (...) {
            }
            std::lock_guard<std::mutex> lock(mutex);
            ::close(c.fd);
            c.fd = -1;
            c.finished = true;
        });
    }

    ::close(listener);
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (Connection& c : connections) {
            if (c.fd >= 0) ::shutdown(c.fd, SHUT_RDWR);
        }
    }
    for (Connection& c : connections) c.thread.join();
    if (settings.tls != nullptr) SSL_CTX_free(settings.tls);
    const standin::tds::RequestCounts& n = counts;
    std::fprintf(
        stderr,
        "standin-tds: answered %lld logins, %lld batches, %lld sp_cursoropen, "
        "%lld sp_cursorfetch (%lld rows), %lld sp_cursoroption, %lld sp_cursorclose, %lld other "
        "RPCs, %lld attentions, %lld transaction requests\n",
        static_cast<long long>(n.logins), static_cast<long long>(n.batches),
        static_cast<long long>(n.cursorOpens), static_cast<long long>(n.cursorFetches),
        static_cast<long long>(n.cursorRows), static_cast<long long>(n.cursorOptions),
        static_cast<long long>(n.cursorCloses), static_cast<long long>(n.otherRpcs),
        static_cast<long long>(n.attentions), static_cast<long long>(n.transactions));
    return 0;
}
