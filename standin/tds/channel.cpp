// Plain and TLS byte streams over a connection's socket. TLS runs on two
// memory buffers, so this module alone decides what reaches the socket and
// in which framing.
#include "standin/tds/channel.h"

#include <openssl/err.h>
#include <sys/socket.h>

#include <cerrno>

namespace standin::tds {

namespace {

constexpr std::uint8_t kPreloginPacket = 18;
constexpr std::size_t kPacketLimit = 32767;
constexpr std::size_t kHandshakeLimit = 256 * 1024;  // a handshake is a few KiB

long rawReceive(int fd, std::uint8_t* p, std::size_t n) {
    for (;;) {
        const ssize_t got = ::recv(fd, p, n, 0);
        if (got < 0 && errno == EINTR) continue;
        return got;
    }
}

bool rawReceiveFull(int fd, std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        const long got = rawReceive(fd, p, n);
        if (got <= 0) return false;
        p += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

bool rawSend(int fd, const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        const ssize_t sent = ::send(fd, p, n, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        p += sent;
        n -= static_cast<std::size_t>(sent);
    }
    return true;
}

}  // namespace

Channel::~Channel() {
    if (ssl_ != nullptr) SSL_free(ssl_);  // frees both memory buffers
}

long Channel::receive(std::uint8_t* p, std::size_t n) {
    if (ssl_ == nullptr) return rawReceive(fd_, p, n);
    for (;;) {
        const int got = SSL_read(ssl_, p, static_cast<int>(std::min<std::size_t>(n, 1 << 20)));
        if (got > 0) return got;
        const int error = SSL_get_error(ssl_, got);
        if (error == SSL_ERROR_ZERO_RETURN) return 0;
        if (error != SSL_ERROR_WANT_READ) return -1;
        if (!flushTls() || !readRaw(false)) return 0;
    }
}

bool Channel::send(const std::uint8_t* p, std::size_t n) {
    if (ssl_ == nullptr) return rawSend(fd_, p, n);
    while (n > 0) {
        const int chunk = static_cast<int>(std::min<std::size_t>(n, 16384));
        if (SSL_write(ssl_, p, chunk) != chunk) return false;
        p += chunk;
        n -= static_cast<std::size_t>(chunk);
    }
    return flushTls();
}

bool Channel::flushTls() {
    char* data = nullptr;
    const long pending = BIO_get_mem_data(out_, &data);
    if (pending <= 0) return true;
    const bool ok = rawSend(fd_, reinterpret_cast<const std::uint8_t*>(data),
                            static_cast<std::size_t>(pending));
    (void)BIO_reset(out_);
    return ok;
}

bool Channel::sendWrapped() {
    char* data = nullptr;
    const long pending = BIO_get_mem_data(out_, &data);
    if (pending <= 0) return true;
    const auto* p = reinterpret_cast<const std::uint8_t*>(data);
    std::size_t left = static_cast<std::size_t>(pending);
    std::uint8_t packetId = 1;
    bool ok = true;
    while (ok && left > 0) {
        const std::size_t n = std::min<std::size_t>(left, 4096 - 8);
        const std::size_t length = n + 8;
        const std::uint8_t header[8] = {kPreloginPacket,
                                        static_cast<std::uint8_t>(n == left ? 1 : 0),
                                        static_cast<std::uint8_t>(length >> 8),
                                        static_cast<std::uint8_t>(length),
                                        0,
                                        0,
                                        packetId++,
                                        0};
        ok = rawSend(fd_, header, sizeof header) && rawSend(fd_, p, n);
        p += n;
        left -= n;
    }
    (void)BIO_reset(out_);
    return ok;
}

bool Channel::readRaw(bool wrapped) {
    std::uint8_t buffer[16384];
    if (!wrapped) {
        const long got = rawReceive(fd_, buffer, sizeof buffer);
        return got > 0 && BIO_write(in_, buffer, static_cast<int>(got)) == got;
    }
    // One pre-login message: its packets' bodies, headers dropped.
    std::size_t total = 0;
    for (;;) {
        std::uint8_t header[8];
        if (!rawReceiveFull(fd_, header, sizeof header)) return false;
        const std::size_t length = (std::size_t{header[2]} << 8) | header[3];
        if (header[0] != kPreloginPacket || length < 8 || length > kPacketLimit) return false;
        total += length - 8;
        if (total > kHandshakeLimit) return false;
        std::size_t body = length - 8;
        while (body > 0) {
            const std::size_t n = std::min(body, sizeof buffer);
            if (!rawReceiveFull(fd_, buffer, n)) return false;
            if (BIO_write(in_, buffer, static_cast<int>(n)) != static_cast<int>(n)) return false;
            body -= n;
        }
        if (header[1] & 0x01) return true;
    }
}

bool Channel::startTls(SSL_CTX* context) {
    SSL* ssl = SSL_new(context);
    if (ssl == nullptr) return false;
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    if (in_ == nullptr || out_ == nullptr) {
        BIO_free(in_);
        BIO_free(out_);
        SSL_free(ssl);
        return false;
    }
    SSL_set_bio(ssl, in_, out_);
    SSL_set_accept_state(ssl);
    for (;;) {
        const int rc = SSL_do_handshake(ssl);
        if (!sendWrapped()) break;
        if (rc == 1) {
            ssl_ = ssl;
            return true;
        }
        if (SSL_get_error(ssl, rc) != SSL_ERROR_WANT_READ || !readRaw(true)) break;
    }
    SSL_free(ssl);
    in_ = out_ = nullptr;
    ERR_clear_error();
    return false;
}

SSL_CTX* makeTlsContext(const std::string& certFile, const std::string& keyFile,
                        std::string* error) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr) {
        *error = "cannot create a TLS context";
        return nullptr;
    }
    // TLS 1.2 is what TDS 7 clients negotiate inside pre-login; no session
    // tickets, whose post-handshake records the wrapped handshake cannot carry.
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_options(context, SSL_OP_NO_TICKET);
    if (SSL_CTX_use_certificate_chain_file(context, certFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context) != 1) {
        char reason[256];
        ERR_error_string_n(ERR_get_error(), reason, sizeof reason);
        *error = "cannot use the certificate " + certFile + " and key " + keyFile + ": " + reason;
        SSL_CTX_free(context);
        return nullptr;
    }
    return context;
}

}  // namespace standin::tds
