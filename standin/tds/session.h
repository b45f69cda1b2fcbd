// One client connection of the TDS front: the pre-login and login exchange,
// then requests (SQL batches, the cursor and execution RPCs, transaction
// requests, attention) answered one by one from the session's own engine.
//
// A session owns its socket's conversation, its engine and its cursors; it
// shares nothing with other sessions but the read-only server settings.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include <openssl/ssl.h>

#include "standin/engine.h"
#include "standin/odbc/faults.h"

namespace standin::tds {

// The requests the server answered, by kind, over all sessions: each one
// is a round trip of the client's.
struct RequestCounts {
    std::atomic<std::int64_t> logins{0};  // pre-login and login: two round trips each
    std::atomic<std::int64_t> batches{0};
    std::atomic<std::int64_t> cursorOpens{0};
    std::atomic<std::int64_t> cursorFetches{0};
    std::atomic<std::int64_t> cursorRows{0};  // rows the fetches delivered
    std::atomic<std::int64_t> cursorOptions{0};
    std::atomic<std::int64_t> cursorCloses{0};
    std::atomic<std::int64_t> otherRpcs{0};  // prepare, execute, sp_executesql, unknown
    std::atomic<std::int64_t> attentions{0};
    std::atomic<std::int64_t> transactions{0};  // begin, commit, rollback requests
};

// What the command line configured; every session starts from a copy.
struct ServerSettings {
    Options engine;
    std::string user;  // empty: any login is accepted
    std::string password;
    odbc::Faults faults;
    // The connection is closed without a reply when it sends its batch or
    // RPC number dropAfter + 1, as a broken link would end it; -1: never.
    std::int64_t dropAfter = -1;
    std::int64_t latencyMicros = 0;   // waited before every reply, as a network round trip
    RequestCounts* counts = nullptr;  // counted into when set
    // A file to which every request is appended as one line (see logRequest).
    std::string requestLogPath;
    // Set: every session must be encrypted with this context's certificate.
    SSL_CTX* tls = nullptr;
};

// "<n>\t<kind>\t<detail>": n numbers the connection's batches and RPCs as
// --drop-after counts them ("-" for attentions and transaction requests);
// kind is "batch", the procedure's name, "attention" or "transaction"; detail
// the statement text (line breaks and tabs as blanks) or the cursor handle.
// Lines of concurrent sessions are appended whole, one at a time.
void logRequest(const std::string& path, const std::string& number, std::string_view kind,
                std::string_view detail);

// Serves the connection on fd until the client leaves, the stream is
// malformed or the socket is shut down. Does not close fd.
void serveConnection(int fd, const ServerSettings& settings);

}  // namespace standin::tds
