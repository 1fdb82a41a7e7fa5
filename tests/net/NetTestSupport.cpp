#include "tests/net/NetTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <cctype>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace ornbrook::test {

bool WaitFor(const std::function<bool()>& condition, int boundMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > boundMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void RunEvents(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

std::uint32_t Address(const char* dotted) {
    return ::inet_addr(dotted);
}

FakeNames::FakeNames() {
    winsock::SetNameLookupForTesting(winsock::NameLookup{
        [this](const std::string& name) -> std::optional<std::vector<std::uint32_t>> {
            ++lookups;
            std::string lower = name; // resolvers ignore the case of names
            for (char& c : lower)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            const auto it = hosts.find(lower);
            if (it == hosts.end())
                return std::nullopt;
            return it->second;
        },
        [this](std::uint32_t address) -> std::optional<std::string> {
            for (const auto& [name, addresses] : hosts) {
                for (const auto a : addresses) {
                    if (a == address)
                        return name;
                }
            }
            return std::nullopt;
        }});
}

FakeNames::~FakeNames() {
    winsock::SetNameLookupForTesting({});
}

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

namespace {

int NewSocket() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket");
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    return fd;
}

} // namespace

RawSocket::~RawSocket() {
    Close();
}

void RawSocket::Close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

RawSocket RawSocket::ConnectTo(int port) {
    RawSocket s(NewSocket());
    const sockaddr_in a = Loopback(port);
    if (::connect(s.fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
        throw std::runtime_error("connect");
    return s;
}

RawSocket RawSocket::ListenOn(int backlog, int* port) {
    RawSocket s(NewSocket());
    sockaddr_in a = Loopback(0);
    if (::bind(s.fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(s.fd_, backlog) != 0)
        throw std::runtime_error("listen");
    socklen_t length = sizeof a;
    ::getsockname(s.fd_, reinterpret_cast<sockaddr*>(&a), &length);
    *port = ntohs(a.sin_port);
    return s;
}

RawSocket RawSocket::AcceptOne() const {
    const int fd = ::accept(fd_, nullptr, nullptr);
    if (fd < 0)
        throw std::runtime_error("accept");
    return RawSocket(fd);
}

void RawSocket::SendAll(const std::string& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            throw std::runtime_error("send");
        done += static_cast<std::size_t>(n);
    }
}

std::string RawSocket::Read(std::size_t count) const {
    // Keeps the event loop running: the sockets under test send from it.
    std::string result;
    std::vector<char> buffer(65536);
    QElapsedTimer timer;
    timer.start();
    while (result.size() < count && timer.elapsed() < 10000) {
        const ssize_t n = ::recv(fd_, buffer.data(), std::min(buffer.size(), count - result.size()),
                                 MSG_DONTWAIT);
        if (n == 0)
            break;
        if (n > 0)
            result.append(buffer.data(), static_cast<std::size_t>(n));
        else
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return result;
}

int FreePort() {
    int port = 0;
    RawSocket::ListenOn(1, &port); // closed again at once
    return port;
}

} // namespace ornbrook::test
