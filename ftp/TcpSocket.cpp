#include "ftp/TcpSocket.h"

#include "ftp/FtpReplies.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <thread>

namespace ornbrook {

namespace {

// The 4 or 16 address bytes, IPv4-mapped IPv6 addresses as IPv4.
std::string HostBytes(const SocketAddress& a) {
    if (a.Family() == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&a.Storage);
        return {reinterpret_cast<const char*>(&in->sin_addr), 4};
    }
    if (a.Family() == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&a.Storage);
        if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr))
            return {reinterpret_cast<const char*>(&in6->sin6_addr) + 12, 4};
        return {reinterpret_cast<const char*>(&in6->sin6_addr), 16};
    }
    return {};
}

SocketAddress AddressOf(int fd, bool peer) {
    SocketAddress a;
    a.Length = sizeof(a.Storage);
    auto* sa = reinterpret_cast<sockaddr*>(&a.Storage);
    const int rc = peer ? ::getpeername(fd, sa, &a.Length) : ::getsockname(fd, sa, &a.Length);
    if (rc != 0)
        a = SocketAddress{};
    return a;
}

} // namespace

std::string SocketAddress::HostText() const {
    char text[INET6_ADDRSTRLEN] = {};
    if (Family() == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&Storage)->sin_addr, text,
                    sizeof(text));
    else if (Family() == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&Storage)->sin6_addr, text,
                    sizeof(text));
    return text;
}

std::uint16_t SocketAddress::Port() const {
    if (Family() == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in*>(&Storage)->sin_port);
    if (Family() == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&Storage)->sin6_port);
    return 0;
}

void SocketAddress::SetPort(std::uint16_t port) {
    if (Family() == AF_INET)
        reinterpret_cast<sockaddr_in*>(&Storage)->sin_port = htons(port);
    else if (Family() == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&Storage)->sin6_port = htons(port);
}

bool SocketAddress::SameHost(const SocketAddress& other) const {
    const std::string mine = HostBytes(*this);
    return !mine.empty() && mine == HostBytes(other);
}

namespace {

std::vector<SocketAddress> AddressesOf(const addrinfo* list) {
    std::vector<SocketAddress> result;
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        SocketAddress a;
        std::memcpy(&a.Storage, ai->ai_addr, ai->ai_addrlen);
        a.Length = ai->ai_addrlen;
        result.push_back(a);
    }
    return result;
}

int Lookup(const std::string& host, const std::string& service, int flags,
           std::vector<SocketAddress>& result) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (rc == 0) {
        result = AddressesOf(list);
        ::freeaddrinfo(list);
    }
    return rc;
}

// A lookup on its own thread, shared with it so that the thread may outlive an
// abandoned wait; the eventfd tells the waiter that the answer is there.
struct PendingLookup {
    std::mutex mutex;
    int rc = EAI_AGAIN;
    std::vector<SocketAddress> addresses;
    int doneFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ~PendingLookup() {
        if (doneFd >= 0)
            ::close(doneFd);
    }
};

Result<std::vector<SocketAddress>> ResolveHost(const std::string& host, std::uint16_t port,
                                               WaitLimit limit) {
    std::vector<SocketAddress> result;
    const std::string service = std::to_string(port);
    // An address written as such needs no resolver and no thread.
    if (Lookup(host, service, AI_NUMERICHOST, result) == 0 && !result.empty())
        return result;
    auto pending = std::make_shared<PendingLookup>();
    if (pending->doneFd < 0)
        return Error{ErrorKind::Connection, "unknown host"};
    std::thread([pending, host, service] {
        std::vector<SocketAddress> found;
        const int rc = Lookup(host, service, 0, found);
        const std::lock_guard lock(pending->mutex);
        pending->rc = rc;
        pending->addresses = std::move(found);
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(pending->doneFd, &one, sizeof one);
    }).detach();
    switch (WaitFor(pending->doneFd, POLLIN, limit)) {
    case WaitResult::TimedOut:
        return Error{ErrorKind::TimedOut, "name lookup timed out"};
    case WaitResult::Stopped:
        return Error{ErrorKind::Stopped, "stopped"};
    case WaitResult::Ready:
        break;
    }
    const std::lock_guard lock(pending->mutex);
    if (pending->rc != 0 || pending->addresses.empty())
        return Error{ErrorKind::Connection,
                     pending->rc == EAI_AGAIN ? "name lookup failed, try later" : "unknown host"};
    return std::move(pending->addresses);
}

} // namespace

int MillisecondsUntil(Deadline deadline) {
    if (deadline == Deadline::max())
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, INT_MAX));
}

WaitResult WaitFor(int fd, short events, WaitLimit limit) {
    for (;;) {
        pollfd p[2] = {{fd, events, 0}, {limit.StopFd, POLLIN, 0}};
        const nfds_t count = limit.StopFd >= 0 ? 2 : 1;
        const int rc = ::poll(p, count, MillisecondsUntil(limit.Until));
        if (rc > 0)
            return count == 2 && p[1].revents != 0 ? WaitResult::Stopped : WaitResult::Ready;
        if (rc == 0)
            return WaitResult::TimedOut;
        if (errno != EINTR)
            return WaitResult::TimedOut;
    }
}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

int TcpSocket::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

Result<TcpSocket> TcpSocket::ConnectToHost(const std::string& host, std::uint16_t port,
                                           std::chrono::milliseconds step, Deadline until,
                                           int stopFd) {
    const auto stepLimit = [&] {
        return WaitLimit{std::min(SteadyClock::now() + step, until), stopFd};
    };
    auto addresses = ResolveHost(host, port, stepLimit());
    if (!addresses)
        return std::move(addresses).error();
    int error = 0;
    for (const SocketAddress& address : *addresses) {
        TcpSocket socket = ConnectTo(address, stepLimit(), error);
        if (socket.IsOpen())
            return socket;
        if (error == ECANCELED || SteadyClock::now() >= until)
            break;
    }
    if (error == ECANCELED)
        return Error{ErrorKind::Stopped, "stopped"};
    return Error{error == ETIMEDOUT ? ErrorKind::TimedOut : ErrorKind::Connection,
                 ConnectProblem(error, step)};
}

void TcpSocket::Close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

TcpSocket TcpSocket::ConnectTo(const SocketAddress& address, WaitLimit limit, int& error) {
    TcpSocket s(::socket(address.Family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    error = errno;
    if (!s.IsOpen())
        return {};
    const int one = 1;
    ::setsockopt(s.fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    if (::connect(s.fd_, reinterpret_cast<const sockaddr*>(&address.Storage), address.Length) == 0)
        return s;
    error = errno;
    if (error != EINPROGRESS)
        return {};
    switch (WaitFor(s.fd_, POLLOUT, limit)) {
    case WaitResult::TimedOut:
        error = ETIMEDOUT;
        return {};
    case WaitResult::Stopped:
        error = ECANCELED;
        return {};
    case WaitResult::Ready:
        break;
    }
    socklen_t length = sizeof(error);
    if (::getsockopt(s.fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
        return {};
    return s;
}

TcpSocket TcpSocket::ListenOn(const SocketAddress& address) {
    TcpSocket s(::socket(address.Family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!s.IsOpen())
        return {};
    if (::bind(s.fd_, reinterpret_cast<const sockaddr*>(&address.Storage), address.Length) != 0 ||
        ::listen(s.fd_, 8) != 0)
        return {};
    return s;
}

TcpSocket TcpSocket::Accept(SocketAddress& peer) const {
    peer = SocketAddress{};
    peer.Length = sizeof(peer.Storage);
    const int fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer.Storage), &peer.Length,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    return TcpSocket(fd);
}

SocketAddress TcpSocket::LocalAddress() const {
    return AddressOf(fd_, false);
}

SocketAddress TcpSocket::PeerAddress() const {
    return AddressOf(fd_, true);
}

long TcpSocket::ReadSome(char* buffer, std::size_t size) const {
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, size, 0);
        if (n >= 0)
            return static_cast<long>(n);
        if (errno == EINTR)
            continue;
        if (errno == ECONNRESET)
            return Reset;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? WouldBlock : Failed;
    }
}

long TcpSocket::WriteSome(const char* data, std::size_t size) const {
    for (;;) {
        const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
        if (n >= 0)
            return static_cast<long>(n);
        if (errno == EINTR)
            continue;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? WouldBlock : Failed;
    }
}

bool TcpSocket::SendAll(std::string_view data, WaitLimit limit) const {
    while (!data.empty()) {
        const long n = WriteSome(data.data(), data.size());
        if (n == Failed)
            return false;
        if (n == WouldBlock) {
            if (WaitFor(fd_, POLLOUT, limit) != WaitResult::Ready)
                return false;
            continue;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void TcpSocket::ShutdownWrite() const {
    ::shutdown(fd_, SHUT_WR);
}

} // namespace ornbrook
