#pragma once

#include <cstdint>
#include <string>

namespace ornbrook {

// A small SSL library over OpenSSL with the call contract the socket classes
// are written against: integer session handles on an already connected
// socket, a client handshake that waits for the server, a server handshake,
// sends and receives that never wait, zero-terminated texts into caller
// buffers. TLS 1.2 or newer with the system's default ciphers.

// Client handshake on a connected, blocking socket, waiting for the server up
// to 20 s. caFile names the CA certificates to verify the server against
// (empty: none; the handshake still completes and ssl_getverify reports the
// peer unverified). 0 on failure.
std::int32_t ssl_init_client(std::int32_t socket, const std::string& caFile);

// Server side on an accepted socket with a certificate and key file (PEM).
// Returns at once: the handshake is taken as far as the bytes already there
// allow, and goes on with ssl_handshake as the client's bytes arrive (or with
// ssl_recv). Session handles of the server side are above 100; callers treat
// 100 or less as failure (certificate or key unusable, or a handshake that
// has failed already).
std::int32_t ssl_init_server(std::int32_t socket, const std::string& certificateFile,
                             const std::string& keyFile);

// What ssl_handshake says: done, or go on once the socket is readable, or
// writable; or the handshake failed (the session is broken, see ssl_geterror).
inline constexpr std::int32_t SslHandshakeDone = 1;
inline constexpr std::int32_t SslHandshakeWantsRead = 2;
inline constexpr std::int32_t SslHandshakeWantsWrite = 3;
inline constexpr std::int32_t SslHandshakeFailed = -1;

// Takes a session's handshake on as far as the socket allows, without waiting.
std::int32_t ssl_handshake(std::int32_t session);

// Bytes written, without waiting for the socket (in whatever mode it is); -1
// when it takes none now, as a non-blocking send, or when the session is
// broken (ssl_geterror). After a short count or -1 the next call must begin
// with the first byte not written: part of its record may be on the wire.
std::int32_t ssl_send(std::int32_t session, const void* data, std::int32_t length);

// Bytes read; 0 when the peer ended the session (with close_notify, or by
// closing the connection); -1 when nothing is there (also on a non-blocking
// socket) or the session is broken, which ssl_geterror tells apart.
std::int32_t ssl_recv(std::int32_t session, void* buffer, std::int32_t capacity);

// Zero-terminated descriptions into buffer, never beyond capacity.
std::int32_t ssl_getcipher(std::int32_t session, char* buffer, std::int32_t capacity);
std::int32_t ssl_getsubject(std::int32_t session, char* buffer, std::int32_t capacity);
std::int32_t ssl_getissuer(std::int32_t session, char* buffer, std::int32_t capacity);

// 0 while the session is sound, so that a result below 1 only means waiting
// for the socket or the peer's end. Otherwise the session is broken for good
// (a fatal alert, a record that does not decrypt, bytes after the peer's
// close_notify, a socket error); -1 for an unknown handle.
std::int32_t ssl_geterror(std::int32_t session);

// 0 when the peer certificate verified.
std::int32_t ssl_getverify(std::int32_t session);

// Ends the session (before the socket is closed).
std::int32_t ssl_cleanup(std::int32_t session);

} // namespace ornbrook
