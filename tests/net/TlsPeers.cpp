#include "tests/net/TlsPeers.h"

#include "net/SslWrapper.h"

#include <poll.h>

#include <array>
#include <chrono>
#include <stdexcept>

namespace ornbrook::test {

namespace {

constexpr std::chrono::seconds PeerWaitLimit{20};

} // namespace

const NetCertificates& SharedCertificates() {
    static const NetCertificates certificates;
    return certificates;
}

TlsPeerThread::TlsPeerThread(int port, Job job, const std::string& caFile)
    : socket_(RawSocket::ConnectTo(port)) {
    thread_ = std::thread([this, job = std::move(job), caFile] {
        Run([this, &caFile] { return ssl_init_client(socket_.Fd(), caFile); }, job);
    });
}

TlsPeerThread::TlsPeerThread(const std::string& certificate, const std::string& key, Job job)
    : listener_(RawSocket::ListenOn(1, &port_)) {
    thread_ = std::thread([this, job = std::move(job), certificate, key] {
        Run(
            [&] {
                try {
                    socket_ = listener_.AcceptOne(); // bounded by the receive time-out
                } catch (const std::runtime_error&) {
                    return 0;
                }
                const std::int32_t session = ssl_init_server(socket_.Fd(), certificate, key);
                if (session <= 100)
                    return 0;
                // The library only begins the handshake: see it through.
                for (std::int32_t step = ssl_handshake(session); step != SslHandshakeDone;
                     step = ssl_handshake(session)) {
                    pollfd entry{socket_.Fd(), POLLIN, 0};
                    if (step == SslHandshakeWantsWrite)
                        entry.events = POLLOUT;
                    if (step == SslHandshakeFailed || ::poll(&entry, 1, 20000) != 1) {
                        ssl_cleanup(session);
                        return 0;
                    }
                }
                return session;
            },
            job);
    });
}

void TlsPeerThread::Run(const std::function<std::int32_t()>& handshake, const Job& job) {
    session_ = handshake();
    if (session_ != 0)
        job(session_, socket_.Fd());
    done_ = true;
}

TlsPeerThread::~TlsPeerThread() {
    thread_.join();
    if (session_ != 0)
        ssl_cleanup(session_);
}

std::string ReceiveThrough(std::int32_t session, int socket, std::size_t count) {
    std::string received;
    std::array<char, 16384> buffer{};
    const auto deadline = std::chrono::steady_clock::now() + PeerWaitLimit;
    while (received.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::int32_t got = 0;
        while ((got = ssl_recv(session, buffer.data(), static_cast<std::int32_t>(buffer.size()))) >
               0)
            received.append(buffer.data(), static_cast<std::size_t>(got));
        if (got == 0)
            break;
        pollfd entry{socket, POLLIN, 0};
        ::poll(&entry, 1, 100);
    }
    return received;
}

} // namespace ornbrook::test
