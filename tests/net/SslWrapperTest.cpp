#include "net/SslWrapper.h"

#include "tests/net/NetTestSupport.h"
#include "tests/net/TlsPeers.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <string>
#include <thread>

using namespace ornbrook;
using ornbrook::test::NetCertificates;
using ornbrook::test::RawSocket;
using ornbrook::test::ReceiveThrough;
using ornbrook::test::TlsPeerThread;

namespace {

const NetCertificates& Certificates() {
    return ornbrook::test::SharedCertificates();
}

void SetNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

std::string Text(std::int32_t (*get)(std::int32_t, char*, std::int32_t), std::int32_t session) {
    std::array<char, 1000> buffer{};
    get(session, buffer.data(), buffer.size());
    return buffer.data();
}

// Which CA the client trusts, the texts of the session and sending are tested
// on the socket that uses this library; here what the calls do with buffers.
TEST(SslClient, FillsTextsWithinTheCapacityAndReadsWithoutWaiting) {
    std::atomic<bool> send{false};
    TlsPeerThread server(Certificates().ServerCertificate(), Certificates().ServerKey(),
                         [&](std::int32_t session, int) {
                             while (!send)
                                 std::this_thread::yield();
                             ssl_send(session, "from the server\n", 16);
                         });
    RawSocket socket = RawSocket::ConnectTo(server.Port());
    const std::int32_t session = ssl_init_client(socket.Fd(), Certificates().CaFile());
    ASSERT_NE(session, 0);
    EXPECT_EQ(ssl_getverify(session), 0);

    for (auto* get : {ssl_getcipher, ssl_getsubject, ssl_getissuer}) {
        const std::string full = Text(get, session);
        ASSERT_GT(full.size(), 8u);
        for (const std::int32_t capacity : {1, 2, 8, 1000}) {
            std::array<char, 1008> buffer;
            buffer.fill('#');
            get(session, buffer.data(), capacity);
            const std::string text(buffer.data());
            EXPECT_EQ(text, full.substr(0, std::min<std::size_t>(full.size(), capacity - 1)));
            for (std::size_t i = capacity; i < buffer.size(); ++i)
                ASSERT_EQ(buffer[i], '#') << "capacity " << capacity;
        }
        char untouched = '#';
        EXPECT_EQ(get(session, &untouched, 0), -1);
        EXPECT_EQ(untouched, '#');
        EXPECT_EQ(get(session, nullptr, 10), -1);
    }

    // Nothing there yet: no waiting, on a blocking socket as on a non-blocking one.
    std::array<char, 2000> buffer{};
    EXPECT_LT(ssl_recv(session, buffer.data(), buffer.size()), 1);
    SetNonBlocking(socket.Fd());
    EXPECT_LT(ssl_recv(session, buffer.data(), buffer.size()), 1);

    send = true;
    EXPECT_EQ(ReceiveThrough(session, socket.Fd(), 16), "from the server\n");
    EXPECT_EQ(ssl_cleanup(session), 0);
    EXPECT_EQ(ssl_cleanup(session), -1);
}

// Handshakes that must fail, each on one end of a socket pair whose other end
// misbehaves as the row says. A peer gone before the first byte must not kill
// the process (SIGPIPE).
TEST(SslHandshakeFailure, GivesNoSession) {
    enum class Side { Client, Server };
    enum class PeerDoes { CloseAtOnce, SendPlainText };
    const auto& c = Certificates();
    const struct {
        const char* name;
        Side side;
        PeerDoes peer;
        std::string certificate;
        std::string key;
    } rows[] = {
        {"client, peer closes", Side::Client, PeerDoes::CloseAtOnce, "", ""},
        {"client, plain text", Side::Client, PeerDoes::SendPlainText, "", ""},
        {"server, peer closes", Side::Server, PeerDoes::CloseAtOnce, c.ServerCertificate(),
         c.ServerKey()},
        {"server, plain text", Side::Server, PeerDoes::SendPlainText, c.ServerCertificate(),
         c.ServerKey()},
        {"missing certificate", Side::Server, PeerDoes::SendPlainText, "/nonexistent/missing.pem",
         c.ServerKey()},
        {"foreign key", Side::Server, PeerDoes::SendPlainText, c.ServerCertificate(),
         c.ForeignKey()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        int pair[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        RawSocket ours(pair[0]);
        RawSocket theirs(pair[1]);
        if (row.peer == PeerDoes::SendPlainText) {
            theirs.SendAll("220 plain FTP greeting, no TLS here\r\n");
            ::shutdown(theirs.Fd(), SHUT_WR);
        } else {
            theirs.Close();
        }
        if (row.side == Side::Client)
            EXPECT_EQ(ssl_init_client(ours.Fd(), c.CaFile()), 0);
        else
            EXPECT_LE(ssl_init_server(ours.Fd(), row.certificate, row.key), 100);
    }
    EXPECT_EQ(ssl_init_client(-1, ""), 0);
}

// Both ends in this process. A send takes what a small send buffer takes now,
// without waiting; the caller waits for room and goes on from the first byte
// not written, here each time from a copy elsewhere in memory. Everything
// arrives whole and in order.
TEST(SslTransfer, SendsNeverWaitAndGoOnFromTheFirstByteNotWritten) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    RawSocket clientEnd(pair[0]);
    RawSocket serverEnd(pair[1]);
    const int small = 4096;
    ::setsockopt(clientEnd.Fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);

    std::string payload(1 << 20, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);

    std::string received;
    std::int32_t serverSession = 0;
    std::thread server([&] {
        serverSession = ssl_init_server(serverEnd.Fd(), Certificates().ServerCertificate(),
                                        Certificates().ServerKey());
        if (serverSession > 100)
            received = ReceiveThrough(serverSession, serverEnd.Fd(), payload.size());
    });
    const std::int32_t session = ssl_init_client(clientEnd.Fd(), "");
    ASSERT_NE(session, 0);
    EXPECT_NE(ssl_getverify(session), 0); // no CA file: done, but unverified
    std::size_t sent = 0;
    int waits = 0;
    while (sent < payload.size()) {
        const std::string rest = payload.substr(sent);
        const std::int32_t n =
            ssl_send(session, rest.data(), static_cast<std::int32_t>(rest.size()));
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        ASSERT_EQ(n, -1);
        ASSERT_EQ(ssl_geterror(session), 0);
        ++waits;
        pollfd writable{clientEnd.Fd(), POLLOUT, 0};
        ASSERT_EQ(::poll(&writable, 1, 20000), 1);
    }
    EXPECT_GT(waits, 0);
    server.join();
    ASSERT_GT(serverSession, 100);
    EXPECT_NE(serverSession, session);
    EXPECT_TRUE(received == payload);
    // The client showed no certificate.
    EXPECT_NE(ssl_getverify(serverSession), 0);
    EXPECT_EQ(Text(ssl_getsubject, serverSession), "");
    ssl_cleanup(serverSession);

    // The peer closed cleanly: recv reads 0 as on a plain socket.
    std::array<char, 100> buffer{};
    pollfd entry{clientEnd.Fd(), POLLIN, 0};
    ::poll(&entry, 1, 20000);
    EXPECT_EQ(ssl_recv(session, buffer.data(), buffer.size()), 0);
    ssl_cleanup(session);
}

TEST(SslSessions, UnknownHandlesFailQuietly) {
    std::array<char, 10> buffer;
    buffer.fill('#');
    for (const std::int32_t handle : {0, -1, 100, 123456}) {
        EXPECT_EQ(ssl_send(handle, "x", 1), -1);
        EXPECT_EQ(ssl_recv(handle, buffer.data(), buffer.size()), -1);
        EXPECT_NE(ssl_getverify(handle), 0);
        EXPECT_NE(ssl_geterror(handle), 0);
        EXPECT_EQ(ssl_getcipher(handle, buffer.data(), buffer.size()), -1);
        EXPECT_EQ(buffer[0], '\0');
        EXPECT_EQ(ssl_cleanup(handle), -1);
    }
}

} // namespace
