// One client connection of the TDS front: the pre-login and login exchange,
// then requests (SQL batches, the cursor and execution RPCs, transaction
// requests, attention) answered one by one from the session's own engine.
//
// A session owns its socket's conversation, its engine and its cursors; it
// shares nothing with other sessions but the read-only server settings.
#pragma once

#include <cstdint>
#include <string>

#include "standin/engine.h"
#include "standin/odbc/faults.h"

namespace standin::tds {

// What the command line configured; every session starts from a copy.
struct ServerSettings {
    Options engine;
    std::string user;  // empty: any login is accepted
    std::string password;
    odbc::Faults faults;
};

// Serves the connection on fd until the client leaves, the stream is
// malformed or the socket is shut down. Does not close fd.
void serveConnection(int fd, const ServerSettings& settings);

}  // namespace standin::tds
