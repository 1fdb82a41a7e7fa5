#pragma once

#include "ftp/CertificateFacts.h"
#include "ftp/TcpSocket.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct ssl_st;
struct ssl_session_st;

namespace ornbrook {

class TlsContext;

struct TlsSessionFree {
    void operator()(ssl_session_st* session) const;
};
// A TLS session that another connection of the same context may resume.
using TlsSession = std::unique_ptr<ssl_session_st, TlsSessionFree>;

// One connection of an FTP session, the control connection or a data
// connection: a non-blocking TCP socket, plain or inside TLS. Nothing here
// waits except SendAll and WaitReadable. After WouldBlock, PollEvents says what
// to wait for (TLS may have to write to read on, or the reverse), and bytes
// that TLS has already decrypted (Buffered) are read before anything is waited for.
class FtpStream final {
public:
    FtpStream() = default;
    explicit FtpStream(TcpSocket socket);
    ~FtpStream();
    FtpStream(FtpStream&& other) noexcept;
    FtpStream& operator=(FtpStream&& other) noexcept;
    FtpStream(const FtpStream&) = delete;
    FtpStream& operator=(const FtpStream&) = delete;

    bool IsOpen() const { return socket_.IsOpen(); }
    int Fd() const { return socket_.Fd(); }
    const TcpSocket& Socket() const { return socket_; }
    bool IsSecure() const { return ssl_ != nullptr; }

    // Starts a TLS client handshake to host; resume (may be empty) is a session
    // of the same context to resume. False when TLS cannot be set up.
    bool BeginTls(const TlsContext& context, const std::string& host, const TlsSession& resume);
    bool Handshaking() const { return handshaking_; }
    enum class Step { Done, WouldBlock, Failed };
    // Takes the handshake as far as the socket allows; after Failed, Problem says why.
    Step Handshake();
    const std::string& Problem() const { return problem_; }

    // What ReadSome and WriteSome return besides a byte count.
    static constexpr long WouldBlock = TcpSocket::WouldBlock;
    static constexpr long Failed = TcpSocket::Failed;
    // The peer ended TLS without close_notify: what came may have been cut short.
    static constexpr long Cut = -3;
    static constexpr long Reset = TcpSocket::Reset;
    // Bytes read; 0 at an orderly end (TCP's end, or TLS close_notify).
    long ReadSome(char* buffer, std::size_t size);
    long WriteSome(const char* data, std::size_t size);
    bool SendAll(std::string_view data, WaitLimit limit);
    // The poll events to wait for before retrying an operation that wants `wanted`.
    short PollEvents(short wanted) const;
    bool Buffered() const;
    WaitResult WaitReadable(WaitLimit limit);

    // After the handshake: the facts of the peer's certificate (Untrusted left
    // empty); none when the peer showed none.
    std::optional<CertificateFacts> PeerCertificate(const std::string& server) const;
    // Why the system's trusted certificates and the host name do not vouch for
    // the peer's certificate; empty when they do.
    std::string SystemDoubts() const;
    std::string PeerFingerprint() const;
    // The handshake resumed an earlier session.
    bool Resumed() const;
    TlsSession Session() const;

    // Closes; TLS first says close_notify, without waiting for the answer.
    void Close();

private:
    long Trouble(int rc);
    long VerifyWithWholeStore(long previous) const;

    TcpSocket socket_;
    ssl_st* ssl_ = nullptr;
    // What the last operation that could not go on waits for.
    short want_ = 0;
    bool handshaking_ = false;
    // After a fatal TLS error OpenSSL must not be asked to shut down cleanly.
    bool broken_ = false;
    std::string problem_;
};

} // namespace ornbrook
