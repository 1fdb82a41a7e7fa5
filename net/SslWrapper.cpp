#include "net/SslWrapper.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace ornbrook {

namespace {

// A handshake that waits longer than this for the peer gives up: it runs on
// the caller's (user-interface) thread.
constexpr std::chrono::milliseconds WaitLimit{20000};

// Handles start above 100 for both sides: the server side's callers treat 100
// or less as failure, and one numbering keeps client and server apart.
constexpr std::int32_t FirstHandle = 101;

struct CtxFree {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};

struct Session {
    std::unique_ptr<SSL_CTX, CtxFree> ctx;
    std::unique_ptr<SSL, SslFree> ssl;
    int socket = -1;
    // The OpenSSL error class that broke the session; 0 while it is sound.
    int failure = 0;
};

// The session table. Calls on one session come from one thread; the lock only
// guards the table itself.
std::mutex tableLock;
std::map<std::int32_t, std::shared_ptr<Session>> sessions;
std::int32_t nextHandle = FirstHandle;

std::int32_t AddSession(std::shared_ptr<Session> session) {
    std::lock_guard<std::mutex> guard(tableLock);
    while (sessions.count(nextHandle) != 0)
        nextHandle = nextHandle == INT32_MAX ? FirstHandle : nextHandle + 1;
    const std::int32_t handle = nextHandle;
    nextHandle = nextHandle == INT32_MAX ? FirstHandle : nextHandle + 1;
    sessions.emplace(handle, std::move(session));
    return handle;
}

std::shared_ptr<Session> FindSession(std::int32_t handle) {
    std::lock_guard<std::mutex> guard(tableLock);
    const auto found = sessions.find(handle);
    return found == sessions.end() ? nullptr : found->second;
}

std::shared_ptr<Session> TakeSession(std::int32_t handle) {
    std::lock_guard<std::mutex> guard(tableLock);
    const auto found = sessions.find(handle);
    if (found == sessions.end())
        return nullptr;
    auto session = std::move(found->second);
    sessions.erase(found);
    return session;
}

// The socket's own blocking mode stays the caller's business: every transfer
// goes through this BIO without waiting, and the wrapper waits with poll where
// the contract asks it to. MSG_NOSIGNAL keeps a peer that went away from
// killing the process with SIGPIPE.
int SocketBioWrite(BIO* bio, const char* data, int length) {
    BIO_clear_retry_flags(bio);
    const ssize_t sent = ::send(BIO_get_fd(bio, nullptr), data, static_cast<std::size_t>(length),
                                MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        BIO_set_retry_write(bio);
    return static_cast<int>(sent);
}

int SocketBioRead(BIO* bio, char* buffer, int capacity) {
    BIO_clear_retry_flags(bio);
    const ssize_t received =
        ::recv(BIO_get_fd(bio, nullptr), buffer, static_cast<std::size_t>(capacity), MSG_DONTWAIT);
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        BIO_set_retry_read(bio);
    return static_cast<int>(received);
}

int SocketBioPuts(BIO* bio, const char* text) {
    return SocketBioWrite(bio, text, static_cast<int>(std::strlen(text)));
}

long SocketBioCtrl(BIO* bio, int command, long number, void* pointer) {
    switch (command) {
    case BIO_C_SET_FD:
        // The BIO keeps its descriptor where OpenSSL gives it room: its data pointer.
        // NOLINTNEXTLINE(performance-no-int-to-ptr)
        BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(number)));
        BIO_set_init(bio, 1);
        return 1;
    case BIO_C_GET_FD: {
        const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
        if (pointer != nullptr)
            *static_cast<int*>(pointer) = fd;
        return fd;
    }
    case BIO_CTRL_FLUSH:
        return 1;
    default:
        return 0;
    }
}

const BIO_METHOD* SocketBioMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* made = BIO_meth_new(
            BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "ornbrook socket");
        BIO_meth_set_write(made, SocketBioWrite);
        BIO_meth_set_read(made, SocketBioRead);
        BIO_meth_set_puts(made, SocketBioPuts);
        BIO_meth_set_ctrl(made, SocketBioCtrl);
        return made;
    }();
    return method;
}

// Takes the handshake on as far as the socket allows, without waiting.
std::int32_t StepHandshake(Session& session) {
    if (session.failure != 0)
        return SslHandshakeFailed;
    if (SSL_is_init_finished(session.ssl.get()))
        return SslHandshakeDone;
    ERR_clear_error();
    const int result = SSL_do_handshake(session.ssl.get());
    const int error = result == 1 ? SSL_ERROR_NONE : SSL_get_error(session.ssl.get(), result);
    ERR_clear_error();
    switch (error) {
    case SSL_ERROR_NONE:
        return SslHandshakeDone;
    case SSL_ERROR_WANT_READ:
        return SslHandshakeWantsRead;
    case SSL_ERROR_WANT_WRITE:
        return SslHandshakeWantsWrite;
    default:
        session.failure = error;
        return SslHandshakeFailed;
    }
}

// Waits until the socket is ready for what the handshake asked for, or the
// deadline passes. False on time-out or a poll failure.
bool WaitForSocket(int socket, std::int32_t step, std::chrono::steady_clock::time_point deadline) {
    pollfd entry{};
    entry.fd = socket;
    entry.events = step == SslHandshakeWantsWrite ? POLLOUT : POLLIN;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

// Runs the handshake to its end, waiting for the peer up to WaitLimit.
bool Handshake(Session& session) {
    const auto deadline = std::chrono::steady_clock::now() + WaitLimit;
    for (;;) {
        const std::int32_t step = StepHandshake(session);
        if (step == SslHandshakeDone)
            return true;
        if (step == SslHandshakeFailed || !WaitForSocket(session.socket, step, deadline))
            return false;
    }
}

std::shared_ptr<Session> NewSession(const SSL_METHOD* method) {
    auto session = std::make_shared<Session>();
    session->ctx.reset(SSL_CTX_new(method));
    if (!session->ctx)
        return nullptr;
    // TLS 1.2 or newer; the cipher lists stay the system's defaults.
    if (SSL_CTX_set_min_proto_version(session->ctx.get(), TLS1_2_VERSION) != 1)
        return nullptr;
    // ssl_send counts whole records as written, so the caller keeps only the
    // bytes after them; it may keep them elsewhere in memory for the retry.
    SSL_CTX_set_mode(session->ctx.get(),
                     SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // A peer that closes the connection without close_notify ends the session
    // as a plain peer's close does, not with an error. Without renegotiation
    // a write waits only for room on the socket, never for the peer's bytes.
    SSL_CTX_set_options(session->ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    return session;
}

bool AttachSocket(Session& session, std::int32_t socket) {
    session.ssl.reset(SSL_new(session.ctx.get()));
    if (!session.ssl)
        return false;
    BIO* bio = BIO_new(SocketBioMethod());
    if (bio == nullptr)
        return false;
    BIO_ctrl(bio, BIO_C_SET_FD, socket, nullptr);
    SSL_set_bio(session.ssl.get(), bio, bio);
    session.socket = socket;
    return true;
}

// Copies text into the caller's buffer, cut to fit, always zero-terminated.
std::int32_t CopyText(const std::string& text, char* buffer, std::int32_t capacity) {
    if (buffer == nullptr || capacity < 1)
        return -1;
    const std::size_t length = std::min(text.size(), static_cast<std::size_t>(capacity) - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return static_cast<std::int32_t>(length);
}

std::string NameText(const X509_NAME* name) {
    if (name == nullptr)
        return {};
    BIO* memory = BIO_new(BIO_s_mem());
    if (memory == nullptr)
        return {};
    // "C = DE, O = ..., CN = ..."; bytes above 127 pass through unescaped.
    X509_NAME_print_ex(memory, name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long length = BIO_get_mem_data(memory, &data);
    std::string text(data, static_cast<std::size_t>(std::max(length, 0L)));
    BIO_free(memory);
    return text;
}

enum class NamePart { Subject, Issuer };

std::int32_t PeerName(std::int32_t handle, char* buffer, std::int32_t capacity, NamePart part) {
    const auto session = FindSession(handle);
    if (!session) {
        CopyText({}, buffer, capacity);
        return -1;
    }
    const X509* peer = SSL_get0_peer_certificate(session->ssl.get());
    std::string text;
    if (peer != nullptr)
        text = NameText(part == NamePart::Subject ? X509_get_subject_name(peer)
                                                  : X509_get_issuer_name(peer));
    return CopyText(text, buffer, capacity);
}

} // namespace

std::int32_t ssl_init_client(std::int32_t socket, const std::string& caFile) {
    ERR_clear_error();
    auto session = NewSession(TLS_client_method());
    bool ready = session != nullptr;
    if (ready && !caFile.empty())
        ready = SSL_CTX_load_verify_locations(session->ctx.get(), caFile.c_str(), nullptr) == 1;
    // The handshake completes whatever the certificate; ssl_getverify tells.
    if (ready) {
        SSL_CTX_set_verify(session->ctx.get(), SSL_VERIFY_NONE, nullptr);
        ready = AttachSocket(*session, socket);
    }
    if (ready) {
        SSL_set_connect_state(session->ssl.get());
        ready = Handshake(*session);
    }
    ERR_clear_error();
    return ready ? AddSession(std::move(session)) : 0;
}

std::int32_t ssl_init_server(std::int32_t socket, const std::string& certificateFile,
                             const std::string& keyFile) {
    ERR_clear_error();
    auto session = NewSession(TLS_server_method());
    bool ready =
        session != nullptr &&
        SSL_CTX_use_certificate_chain_file(session->ctx.get(), certificateFile.c_str()) == 1 &&
        SSL_CTX_use_PrivateKey_file(session->ctx.get(), keyFile.c_str(), SSL_FILETYPE_PEM) == 1 &&
        SSL_CTX_check_private_key(session->ctx.get()) == 1;
    if (ready) {
        // Sessions are never resumed, so tickets would only be noise on the wire.
        SSL_CTX_set_num_tickets(session->ctx.get(), 0);
        ready = AttachSocket(*session, socket);
    }
    if (ready) {
        SSL_set_accept_state(session->ssl.get());
        ready = StepHandshake(*session) != SslHandshakeFailed;
    }
    ERR_clear_error();
    return ready ? AddSession(std::move(session)) : 0;
}

std::int32_t ssl_handshake(std::int32_t session) {
    const auto found = FindSession(session);
    return found ? StepHandshake(*found) : SslHandshakeFailed;
}

std::int32_t ssl_send(std::int32_t session, const void* data, std::int32_t length) {
    const auto found = FindSession(session);
    if (!found || data == nullptr || length < 0 || found->failure != 0)
        return -1;
    if (length == 0)
        return 0;
    // Whole records go out as long as the socket takes them. A record that it
    // takes only in part stays with the session and is finished by the next
    // call, which is why that call must begin with the same bytes.
    ERR_clear_error();
    const char* bytes = static_cast<const char*>(data);
    std::int32_t written = 0;
    while (written < length) {
        const int result = SSL_write(found->ssl.get(), bytes + written, length - written);
        if (result > 0) {
            written += result;
            continue;
        }
        const int error = SSL_get_error(found->ssl.get(), result);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
            found->failure = error;
        break;
    }
    ERR_clear_error();
    return written > 0 ? written : -1;
}

std::int32_t ssl_recv(std::int32_t session, void* buffer, std::int32_t capacity) {
    const auto found = FindSession(session);
    if (!found || buffer == nullptr || capacity < 1 || found->failure != 0)
        return -1;
    ERR_clear_error();
    const int result = SSL_read(found->ssl.get(), buffer, capacity);
    if (result > 0)
        return result;
    // As recv: 0 when the peer closed, -1 when nothing is there or it failed.
    int error = SSL_get_error(found->ssl.get(), result);
    ERR_clear_error();
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
        return -1;
    if (error == SSL_ERROR_ZERO_RETURN) {
        // Nothing may follow the peer's close_notify (RFC 8446, 6.1); bytes that
        // do would stay unread on the socket for good.
        char probe = 0;
        if (::recv(found->socket, &probe, 1, MSG_PEEK | MSG_DONTWAIT) < 1)
            return 0;
        error = SSL_ERROR_SSL;
    }
    found->failure = error;
    return -1;
}

std::int32_t ssl_getcipher(std::int32_t session, char* buffer, std::int32_t capacity) {
    const auto found = FindSession(session);
    if (!found) {
        CopyText({}, buffer, capacity);
        return -1;
    }
    std::string text;
    if (const SSL_CIPHER* cipher = SSL_get_current_cipher(found->ssl.get())) {
        // "TLS_AES_256_GCM_SHA384 (TLSv1.3, 256 bits)"
        text = std::string(SSL_CIPHER_get_name(cipher)) + " (" + SSL_get_version(found->ssl.get()) +
               ", " + std::to_string(SSL_CIPHER_get_bits(cipher, nullptr)) + " bits)";
    }
    return CopyText(text, buffer, capacity);
}

std::int32_t ssl_getsubject(std::int32_t session, char* buffer, std::int32_t capacity) {
    return PeerName(session, buffer, capacity, NamePart::Subject);
}

std::int32_t ssl_getissuer(std::int32_t session, char* buffer, std::int32_t capacity) {
    return PeerName(session, buffer, capacity, NamePart::Issuer);
}

std::int32_t ssl_geterror(std::int32_t session) {
    const auto found = FindSession(session);
    return found ? found->failure : -1;
}

std::int32_t ssl_getverify(std::int32_t session) {
    const auto found = FindSession(session);
    if (!found)
        return -1;
    // Without a certificate there is nothing verified, whatever the result says.
    if (SSL_get0_peer_certificate(found->ssl.get()) == nullptr)
        return X509_V_ERR_UNSPECIFIED;
    return static_cast<std::int32_t>(SSL_get_verify_result(found->ssl.get()));
}

std::int32_t ssl_cleanup(std::int32_t session) {
    const auto found = TakeSession(session);
    if (!found)
        return -1;
    // One close_notify, without waiting for the peer's answer.
    ERR_clear_error();
    SSL_shutdown(found->ssl.get());
    ERR_clear_error();
    return 0;
}

} // namespace ornbrook
