#include "net/CSocket.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace ornbrook;

namespace {

constexpr std::size_t Total = 10 * 1024 * 1024;
constexpr std::size_t Piece = 64 * 1024;

// Milliseconds for 10 MB from one CSocket to another, both on this event loop.
double AsyncSockets() {
    auto server = CSocket::Create();
    std::shared_ptr<CSocket> peer;
    std::size_t received = 0;
    Subscriptions subs;
    subs += server->Events.ConnectionRequest.Connect([&] {
        peer = CSocket::Create();
        subs += peer->Events.DataArrival.Connect(
            [&](const SocketBytes& bytes, const std::string&) { received += bytes.size(); });
        peer->Accept(*server);
    });
    server->Listen();
    auto client = CSocket::Create();
    bool connected = false;
    subs += client->Events.Connect.Connect([&] { connected = true; });
    client->Connect("127.0.0.1", server->LocalPort);
    while (!connected || !peer)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

    const SocketBytes piece(Piece, 0x5A);
    QElapsedTimer timer;
    timer.start();
    for (std::size_t sent = 0; sent < Total; sent += Piece)
        client->SendData(piece);
    while (received < Total)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    client->Cancel();
    peer->Cancel();
    server->Cancel();
    return ms;
}

// Milliseconds for 10 MB over a plain blocking loopback pair, sender on a thread.
double BlockingPair() {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener, 1) != 0)
        return 0;
    socklen_t length = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length);
    const int sender = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(sender, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return 0;
    const int receiver = ::accept(listener, nullptr, nullptr);

    QElapsedTimer timer;
    timer.start();
    std::thread thread([sender] {
        const std::vector<char> piece(Piece, 0x5A);
        for (std::size_t sent = 0; sent < Total;) {
            const ssize_t n = ::send(sender, piece.data(), piece.size(), 0);
            if (n <= 0)
                break;
            sent += static_cast<std::size_t>(n);
        }
    });
    std::vector<char> buffer(Piece);
    std::size_t received = 0;
    while (received < Total) {
        const ssize_t n = ::recv(receiver, buffer.data(), buffer.size(), 0);
        if (n <= 0)
            break;
        received += static_cast<std::size_t>(n);
    }
    thread.join();
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    ::close(sender);
    ::close(receiver);
    ::close(listener);
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    AsyncSockets(); // warm up
    BlockingPair();
    double async = 0;
    double blocking = 0;
    constexpr int Rounds = 5;
    for (int i = 0; i < Rounds; ++i) {
        async += AsyncSockets();
        blocking += BlockingPair();
    }
    async /= Rounds;
    blocking /= Rounds;
    std::printf("bench_net_throughput: 10 MB on loopback\n");
    std::printf("  CSocket pair (event loop, 2000-byte reads): %8.1f ms  %7.1f MB/s\n", async,
                10.0 / (async / 1000.0));
    std::printf("  plain blocking socket pair:                 %8.1f ms  %7.1f MB/s\n", blocking,
                10.0 / (blocking / 1000.0));
    std::printf("  ratio CSocket / blocking time: %.2f\n", async / blocking);
    return 0;
}
