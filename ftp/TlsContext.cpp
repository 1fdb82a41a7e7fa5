#include "ftp/TlsContext.h"

#include <cerrno>
#include <cstdint>

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

namespace ornbrook {

namespace {

// OpenSSL's own socket BIO writes with write(2), and a peer that has gone would
// kill the process with SIGPIPE; this one sends with MSG_NOSIGNAL.
struct SocketState {
    int Fd = -1;
    bool Ended = false;
};

SocketState* StateOf(BIO* bio) {
    return static_cast<SocketState*>(BIO_get_data(bio));
}

int SocketWrite(BIO* bio, const char* data, int size) {
    BIO_clear_retry_flags(bio);
    for (;;) {
        const ssize_t n =
            ::send(StateOf(bio)->Fd, data, static_cast<std::size_t>(size), MSG_NOSIGNAL);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            BIO_set_retry_write(bio);
        return -1;
    }
}

int SocketRead(BIO* bio, char* buffer, int size) {
    BIO_clear_retry_flags(bio);
    for (;;) {
        const ssize_t n = ::recv(StateOf(bio)->Fd, buffer, static_cast<std::size_t>(size), 0);
        if (n > 0)
            return static_cast<int>(n);
        if (n == 0) {
            // Lets OpenSSL tell an end without close_notify from a clean one.
            StateOf(bio)->Ended = true;
            return 0;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            BIO_set_retry_read(bio);
        return -1;
    }
}

long SocketControl(BIO* bio, int command, long, void*) {
    switch (command) {
    case BIO_CTRL_FLUSH:
        return 1;
    case BIO_CTRL_EOF:
        return StateOf(bio)->Ended ? 1 : 0;
    default:
        return 0;
    }
}

int SocketDestroy(BIO* bio) {
    delete StateOf(bio);
    BIO_set_data(bio, nullptr);
    return 1;
}

const BIO_METHOD* SocketMethod() {
    static const BIO_METHOD* method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "ftp socket");
        if (made) {
            BIO_meth_set_write(made, SocketWrite);
            BIO_meth_set_read(made, SocketRead);
            BIO_meth_set_ctrl(made, SocketControl);
            BIO_meth_set_destroy(made, SocketDestroy);
        }
        return made;
    }();
    return method;
}

bool IsAddress(const std::string& host) {
    unsigned char bytes[16];
    return ::inet_pton(AF_INET, host.c_str(), bytes) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), bytes) == 1;
}

} // namespace

TlsContext::TlsContext() {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx || !SocketMethod())
        return;
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // The system's hashed certificate directory, read a certificate at a time as
    // a chain needs it. The bundle file of the same certificates costs tens of
    // milliseconds to parse; it is consulted only when the directory does not
    // complete a chain (FtpStream::SystemDoubts).
    SSL_CTX_set_default_verify_dir(ctx);
    // Writes resume with the rest of a buffer, wherever it has moved to.
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    ctx_ = ctx;
}

TlsContext::~TlsContext() {
    SSL_CTX_free(ctx_);
}

SSL* TlsContext::NewConnection(int fd, const std::string& host) const {
    if (!ctx_)
        return nullptr;
    SSL* ssl = SSL_new(ctx_);
    BIO* bio = ssl ? BIO_new(SocketMethod()) : nullptr;
    if (!bio) {
        SSL_free(ssl);
        return nullptr;
    }
    BIO_set_data(bio, new SocketState{fd, false});
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl, bio, bio);
    SSL_set_verify(ssl, SSL_VERIFY_NONE, nullptr);
    bool named = false;
    if (IsAddress(host)) {
        named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1;
    } else {
        // Names are taken from subjectAltName only, as CAs have issued them for years.
        SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS |
                                   X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
        named = SSL_set_tlsext_host_name(ssl, host.c_str()) == 1 &&
                SSL_set1_host(ssl, host.c_str()) == 1;
    }
    if (!named) {
        SSL_free(ssl);
        return nullptr;
    }
    SSL_set_connect_state(ssl);
    return ssl;
}

std::string TakeTlsError() {
    const unsigned long error = ERR_peek_last_error();
    ERR_clear_error();
    if (error == 0)
        return "TLS failed";
    const char* reason = ERR_reason_error_string(error);
    return reason ? reason : "TLS failed";
}

} // namespace ornbrook
