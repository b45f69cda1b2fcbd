// The byte stream of one connection: plain TCP, or TLS over it once the
// session has run the handshake. TDS 7 carries the handshake's records
// inside pre-login packets; after it, TLS records travel on the socket
// directly and every TDS packet is inside them.
//
// A Channel belongs to one session. The TLS context it is given is shared
// by all sessions and only read.
#pragma once

#include <openssl/ssl.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace standin::tds {

class Channel {
  public:
    explicit Channel(int fd) : fd_(fd) {}
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // Reads up to n bytes: the count, 0 when the peer closed, -1 on an error
    // (of the socket or of TLS).
    long receive(std::uint8_t* p, std::size_t n);
    // Sends all n bytes; false when the socket or TLS fails.
    bool send(const std::uint8_t* p, std::size_t n);

    // Runs the server side of the TLS handshake, its records wrapped in
    // pre-login packets both ways. False when the client goes away or the
    // handshake fails; the channel then stays plain.
    bool startTls(SSL_CTX* context);
    bool encrypted() const { return ssl_ != nullptr; }

  private:
    bool flushTls();             // sends what TLS has written to the socket
    bool sendWrapped();          // the same, inside one pre-login message
    bool readRaw(bool wrapped);  // feeds TLS the next bytes from the socket

    int fd_;
    SSL* ssl_ = nullptr;
    BIO* in_ = nullptr;   // bytes from the socket, for TLS to read (owned by ssl_)
    BIO* out_ = nullptr;  // bytes TLS wrote, for the socket (owned by ssl_)
};

// A context for the server side with the certificate chain and key of the
// two PEM files, or null (with the reason in *error).
SSL_CTX* makeTlsContext(const std::string& certFile, const std::string& keyFile,
                        std::string* error);

}  // namespace standin::tds
