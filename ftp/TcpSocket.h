#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"

#include <netinet/in.h>
#include <sys/socket.h>

namespace ornbrook {

using SteadyClock = std::chrono::steady_clock;
using Deadline = SteadyClock::time_point;

// An IPv4 or IPv6 socket address.
struct SocketAddress {
    sockaddr_storage Storage{};
    socklen_t Length = 0;

    int Family() const { return Storage.ss_family; }
    std::string HostText() const;
    std::uint16_t Port() const;
    void SetPort(std::uint16_t port);
    // Same host address, ports ignored; an IPv4-mapped IPv6 address equals its IPv4 form.
    bool SameHost(const SocketAddress& other) const;
};

// How a wait ended.
enum class WaitResult { Ready, TimedOut, Stopped };

// What ends a wait besides its event: a deadline, and a stop descriptor (-1 for
// none) that becomes readable when the wait must end at once.
struct WaitLimit {
    Deadline Until = Deadline::max();
    int StopFd = -1;
};

// Milliseconds left until the deadline, for poll (0 when it has passed).
int MillisecondsUntil(Deadline deadline);

// Waits for the events on one descriptor.
WaitResult WaitFor(int fd, short events, WaitLimit limit);

// A non-blocking TCP socket that closes itself.
class TcpSocket final {
public:
    TcpSocket() = default;
    explicit TcpSocket(int fd) : fd_(fd) {}
    ~TcpSocket() { Close(); }
    TcpSocket(TcpSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    TcpSocket& operator=(TcpSocket&& other) noexcept;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // A closed socket when the connection fails or the wait ends; error is then
    // the errno value (ETIMEDOUT at the deadline, ECANCELED when stopped).
    static TcpSocket ConnectTo(const SocketAddress& address, WaitLimit limit, int& error);
    // The program's one lookup and connect, for FTP and SFTP alike: the
    // addresses of host and port (IPv4 and IPv6; one written as such needs no
    // resolver), then each in the resolver's order until one answers. The
    // lookup and each connect may take step, all of it ends by until, and at
    // once when stopFd (-1 for none) becomes readable. A lookup runs apart from
    // the caller, so a resolver that outlasts its wait is abandoned, not waited
    // for. The error says why when none answers ("unknown host",
    // "name lookup timed out", "connection refused", "no answer in 10 s",
    // "stopped").
    static Result<TcpSocket> ConnectToHost(const std::string& host, std::uint16_t port,
                                           std::chrono::milliseconds step, Deadline until,
                                           int stopFd);
    // Listens on the address (port 0 picks a free one); closed on failure.
    static TcpSocket ListenOn(const SocketAddress& address);

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    // Hands the descriptor over: the socket no longer closes it.
    int Release();
    void Close();

    TcpSocket Accept(SocketAddress& peer) const;
    SocketAddress LocalAddress() const;
    SocketAddress PeerAddress() const;

    // What ReadSome and WriteSome return besides a byte count.
    static constexpr long WouldBlock = -1;
    static constexpr long Failed = -2;
    // The peer reset the connection (ECONNRESET).
    static constexpr long Reset = -4;
    // Bytes read, 0 at the end of the stream.
    long ReadSome(char* buffer, std::size_t size) const;
    long WriteSome(const char* data, std::size_t size) const;
    bool SendAll(std::string_view data, WaitLimit limit) const;
    // Ends our direction of the stream (the peer reads its end).
    void ShutdownWrite() const;

private:
    int fd_ = -1;
};

} // namespace ornbrook
