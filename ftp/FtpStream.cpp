#include "ftp/FtpStream.h"

#include "base/Text_Code.h"
#include "ftp/TlsContext.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>

namespace ornbrook {

namespace {

std::string NameText(const X509_NAME* name) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (!bio)
        return {};
    // RFC 2253 order, most specific first, UTF-8 left as it is.
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<std::size_t>(std::max(size, 0L)));
    BIO_free(bio);
    return text;
}

std::string TimeText(const ASN1_TIME* time) {
    std::tm tm{};
    if (!time || ASN1_TIME_to_tm(time, &tm) != 1)
        return "?";
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

std::string Fingerprint(const X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1)
        return {};
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        if (i > 0)
            text += ':';
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

// The verdict of the system's trusted certificates in the user's words.
std::string UntrustedReason(long result) {
    switch (result) {
    case X509_V_OK:
        return {};
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return "self-signed";
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        return "unknown issuer";
    case X509_V_ERR_HOSTNAME_MISMATCH:
        return "issued for another host name";
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "issued for another address";
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "not yet valid";
    default:
        return X509_verify_cert_error_string(result);
    }
}

} // namespace

void TlsSessionFree::operator()(ssl_session_st* session) const {
    SSL_SESSION_free(session);
}

FtpStream::FtpStream(TcpSocket socket) : socket_(std::move(socket)) {}

FtpStream::~FtpStream() {
    Close();
}

FtpStream::FtpStream(FtpStream&& other) noexcept
    : socket_(std::move(other.socket_)), ssl_(std::exchange(other.ssl_, nullptr)),
      want_(other.want_), handshaking_(other.handshaking_), broken_(other.broken_),
      problem_(std::move(other.problem_)) {}

FtpStream& FtpStream::operator=(FtpStream&& other) noexcept {
    if (this != &other) {
        Close();
        socket_ = std::move(other.socket_);
        ssl_ = std::exchange(other.ssl_, nullptr);
        want_ = other.want_;
        handshaking_ = other.handshaking_;
        broken_ = other.broken_;
        problem_ = std::move(other.problem_);
    }
    return *this;
}

void FtpStream::Close() {
    if (ssl_) {
        ERR_clear_error();
        if (!handshaking_ && !broken_)
            SSL_shutdown(ssl_);
        SSL_free(ssl_);
        ssl_ = nullptr;
        ERR_clear_error();
    }
    socket_.Close();
    want_ = 0;
    handshaking_ = broken_ = false;
}

bool FtpStream::BeginTls(const TlsContext& context, const std::string& host,
                         const TlsSession& resume) {
    if (!socket_.IsOpen() || ssl_)
        return false;
    ssl_ = context.NewConnection(socket_.Fd(), host);
    if (!ssl_) {
        problem_ = TakeTlsError();
        return false;
    }
    if (resume)
        SSL_set_session(ssl_, resume.get());
    handshaking_ = true;
    // The first step writes the ClientHello.
    want_ = POLLOUT;
    return true;
}

FtpStream::Step FtpStream::Handshake() {
    if (!ssl_ || !handshaking_)
        return ssl_ ? Step::Done : Step::Failed;
    ERR_clear_error();
    const int rc = SSL_do_handshake(ssl_);
    if (rc == 1) {
        handshaking_ = false;
        want_ = 0;
        return Step::Done;
    }
    const int error = SSL_get_error(ssl_, rc);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        want_ = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
        return Step::WouldBlock;
    }
    broken_ = true;
    if (error == SSL_ERROR_SSL)
        problem_ = TakeTlsError();
    else if (error == SSL_ERROR_SYSCALL && errno != 0)
        problem_ = LowerCase(std::strerror(errno));
    else
        problem_ = "connection closed";
    ERR_clear_error();
    return Step::Failed;
}

long FtpStream::Trouble(int rc) {
    const int error = SSL_get_error(ssl_, rc);
    const int savedErrno = errno;
    const unsigned long queued = ERR_peek_error();
    ERR_clear_error();
    switch (error) {
    case SSL_ERROR_WANT_READ:
        want_ = POLLIN;
        return WouldBlock;
    case SSL_ERROR_WANT_WRITE:
        want_ = POLLOUT;
        return WouldBlock;
    case SSL_ERROR_ZERO_RETURN:
        // close_notify: the peer said it is done.
        return 0;
    case SSL_ERROR_SSL:
        broken_ = true;
        return ERR_GET_REASON(queued) == SSL_R_UNEXPECTED_EOF_WHILE_READING ? Cut : Failed;
    case SSL_ERROR_SYSCALL:
        broken_ = true;
        if (savedErrno == ECONNRESET)
            return Reset;
        return queued == 0 && savedErrno == 0 ? Cut : Failed;
    default:
        broken_ = true;
        return Failed;
    }
}

long FtpStream::ReadSome(char* buffer, std::size_t size) {
    if (!ssl_)
        return socket_.ReadSome(buffer, size);
    if (handshaking_ || broken_)
        return Failed;
    ERR_clear_error();
    const int n = SSL_read(ssl_, buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
    if (n > 0) {
        want_ = 0;
        return n;
    }
    return Trouble(n);
}

long FtpStream::WriteSome(const char* data, std::size_t size) {
    if (!ssl_)
        return socket_.WriteSome(data, size);
    if (handshaking_ || broken_)
        return Failed;
    if (size == 0)
        return 0;
    ERR_clear_error();
    const int n = SSL_write(ssl_, data, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
    if (n > 0) {
        want_ = 0;
        return n;
    }
    const long trouble = Trouble(n);
    // A peer that has closed cannot take more.
    return trouble == WouldBlock ? WouldBlock : Failed;
}

bool FtpStream::SendAll(std::string_view data, WaitLimit limit) {
    while (!data.empty()) {
        const long n = WriteSome(data.data(), data.size());
        if (n == Failed)
            return false;
        if (n == WouldBlock) {
            if (WaitFor(Fd(), PollEvents(POLLOUT), limit) != WaitResult::Ready)
                return false;
            continue;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

short FtpStream::PollEvents(short wanted) const {
    return ssl_ && want_ != 0 ? want_ : wanted;
}

bool FtpStream::Buffered() const {
    return ssl_ && !handshaking_ && SSL_pending(ssl_) > 0;
}

WaitResult FtpStream::WaitReadable(WaitLimit limit) {
    if (Buffered())
        return WaitResult::Ready;
    return WaitFor(Fd(), PollEvents(POLLIN), limit);
}

std::optional<CertificateFacts> FtpStream::PeerCertificate(const std::string& server) const {
    const X509* certificate = ssl_ ? SSL_get0_peer_certificate(ssl_) : nullptr;
    if (!certificate)
        return std::nullopt;
    CertificateFacts facts;
    facts.Server = server;
    facts.Subject = NameText(X509_get_subject_name(certificate));
    facts.Issuer = NameText(X509_get_issuer_name(certificate));
    facts.ValidFrom = TimeText(X509_get0_notBefore(certificate));
    facts.ValidUntil = TimeText(X509_get0_notAfter(certificate));
    facts.Fingerprint = Fingerprint(certificate);
    return facts;
}

std::string FtpStream::SystemDoubts() const {
    if (!ssl_)
        return "no TLS";
    long result = SSL_get_verify_result(ssl_);
    switch (result) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        // The handshake looked in the certificate directory only: the bundle
        // file may know the issuer.
        result = VerifyWithWholeStore(result);
        break;
    default:
        break;
    }
    return UntrustedReason(result);
}

// The peer's chain verified again as in the handshake (server purpose, the
// host name or address), against the directory and the bundle file.
long FtpStream::VerifyWithWholeStore(long previous) const {
    X509_STORE* store = X509_STORE_new();
    X509_STORE_CTX* context = X509_STORE_CTX_new();
    X509* leaf = SSL_get1_peer_certificate(ssl_);
    long result = previous;
    if (store && context && leaf && X509_STORE_set_default_paths(store) == 1 &&
        X509_STORE_CTX_init(context, store, leaf, SSL_get_peer_cert_chain(ssl_)) == 1 &&
        X509_STORE_CTX_set_default(context, "ssl_server") == 1 &&
        X509_VERIFY_PARAM_set1(X509_STORE_CTX_get0_param(context), SSL_get0_param(ssl_)) == 1) {
        X509_verify_cert(context);
        result = X509_STORE_CTX_get_error(context);
    }
    X509_free(leaf);
    X509_STORE_CTX_free(context);
    X509_STORE_free(store);
    ERR_clear_error();
    return result;
}

std::string FtpStream::PeerFingerprint() const {
    const X509* certificate = ssl_ ? SSL_get0_peer_certificate(ssl_) : nullptr;
    return certificate ? Fingerprint(certificate) : std::string();
}

bool FtpStream::Resumed() const {
    return ssl_ && SSL_session_reused(ssl_) == 1;
}

TlsSession FtpStream::Session() const {
    return TlsSession(ssl_ ? SSL_get1_session(ssl_) : nullptr);
}

} // namespace ornbrook
