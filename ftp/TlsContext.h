#pragma once

#include <string>

struct ssl_ctx_st;
struct ssl_st;

namespace ornbrook {

// The client side of TLS for one FTP session (RFC 4217): TLS 1.2 or newer and
// the system's trusted certificates (SSL_CERT_DIR and SSL_CERT_FILE where set).
// The control connection and every data connection of a session come from one
// context, so that data connections can resume the control connection's TLS
// session, which servers such as vsftpd demand.
class TlsContext final {
public:
    TlsContext();
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // False when OpenSSL could not be set up.
    bool IsValid() const { return ctx_ != nullptr; }
    // A client connection over the non-blocking socket fd to host: a host name
    // goes out by SNI and the certificate is checked against it; an address is
    // checked against the certificate's IP entries. The certificate's verdict is
    // only recorded, never acted on by OpenSSL: the session judges it, with the
    // user's own trust, before it sends anything. Null on failure.
    ssl_st* NewConnection(int fd, const std::string& host) const;

private:
    ssl_ctx_st* ctx_ = nullptr;
};

// This thread's last OpenSSL error as a short text; the error queue is cleared.
std::string TakeTlsError();

} // namespace ornbrook
