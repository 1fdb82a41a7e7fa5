#include "net/SslWrapper.h"

#include "tests/net/TlsPeers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

using namespace ornbrook;
using ornbrook::test::ClientArguments;
using ornbrook::test::OpensslPeer;
using ornbrook::test::TestCertificates;
using ornbrook::test::TlsTestServer;

namespace {

const TestCertificates& Certificates() {
    return ornbrook::test::SharedCertificates();
}

struct Fd {
    int fd = -1;
    explicit Fd(int value) : fd(value) {}
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int ConnectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = Loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void SetNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Reads through the session until the text has come; a bound keeps a lost
// reply from hanging the test.
std::string ReceiveUntil(std::int32_t session, int fd, const std::string& text) {
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (received.find(text) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd entry{fd, POLLIN, 0};
        ::poll(&entry, 1, 100);
        std::array<char, 2000> buffer{};
        for (;;) {
            const std::int32_t got = ssl_recv(session, buffer.data(), buffer.size());
            if (got < 1)
                break;
            received.append(buffer.data(), static_cast<std::size_t>(got));
        }
    }
    return received;
}

std::string ReceiveBytes(std::int32_t session, int fd, std::size_t count) {
    std::string received;
    std::array<char, 2000> buffer{};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (received.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd entry{fd, POLLIN, 0};
        ::poll(&entry, 1, 100);
        std::int32_t got = 0;
        while ((got = ssl_recv(session, buffer.data(), buffer.size())) > 0)
            received.append(buffer.data(), static_cast<std::size_t>(got));
    }
    return received;
}

std::string Text(std::int32_t (*get)(std::int32_t, char*, std::int32_t), std::int32_t session) {
    std::array<char, 1000> buffer{};
    get(session, buffer.data(), buffer.size());
    return buffer.data();
}

// Each row: the CA file the client trusts, and whether the server then counts
// as verified.
struct TrustCase {
    const char* name;
    std::string caFile;
    bool verified;
};

class SslClientTrust : public ::testing::TestWithParam<TrustCase> {};

TEST_P(SslClientTrust, HandshakesWithSServerAndReportsThePeer) {
    TlsTestServer server(Certificates());
    Fd socket(ConnectTo(server.Port()));
    ASSERT_GE(socket.fd, 0);

    const std::int32_t session = ssl_init_client(socket.fd, GetParam().caFile);
    ASSERT_NE(session, 0) << server.Peer().Output();
    EXPECT_EQ(ssl_getverify(session) == 0, GetParam().verified);
    EXPECT_NE(Text(ssl_getcipher, session).find("TLSv1."), std::string::npos);
    EXPECT_NE(Text(ssl_getsubject, session).find("CN = localhost"), std::string::npos);
    EXPECT_NE(Text(ssl_getissuer, session).find("CN = Ornbrook Test CA"), std::string::npos);

    // Nothing there yet: no waiting, on a blocking socket as on a non-blocking one.
    std::array<char, 2000> buffer{};
    EXPECT_LT(ssl_recv(session, buffer.data(), buffer.size()), 1);
    SetNonBlocking(socket.fd);
    EXPECT_LT(ssl_recv(session, buffer.data(), buffer.size()), 1);

    server.Peer().Write("from the server\n");
    EXPECT_NE(ReceiveUntil(session, socket.fd, "\n").find("from the server"), std::string::npos);
    const std::string line = "from the client\n";
    EXPECT_EQ(ssl_send(session, line.data(), static_cast<std::int32_t>(line.size())),
              static_cast<std::int32_t>(line.size()));
    EXPECT_TRUE(server.Peer().WaitForOutput("from the client"));

    EXPECT_EQ(ssl_cleanup(session), 0);
    EXPECT_EQ(ssl_cleanup(session), -1);
}

INSTANTIATE_TEST_SUITE_P(CaFiles, SslClientTrust,
                         ::testing::Values(TrustCase{"RightCa", Certificates().CaFile(), true},
                                           TrustCase{"NoCa", "", false},
                                           TrustCase{"OtherCa", Certificates().OtherCaFile(),
                                                     false}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(SslServer, AcceptsSClient) {
    Fd listener(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = Loopback(0);
    ASSERT_EQ(::bind(listener.fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener.fd, 1), 0);
    socklen_t length = sizeof address;
    ::getsockname(listener.fd, reinterpret_cast<sockaddr*>(&address), &length);

    OpensslPeer client(ClientArguments(ntohs(address.sin_port), Certificates().CaFile()));
    Fd accepted(::accept(listener.fd, nullptr, nullptr));
    ASSERT_GE(accepted.fd, 0);
    const std::int32_t session = ssl_init_server(accepted.fd, Certificates().ServerCertificate(),
                                                 Certificates().ServerKey());
    ASSERT_GT(session, 100) << client.Output();
    EXPECT_TRUE(client.WaitForOutput("Verify return code: 0 (ok)")) << client.Output();
    // The client showed no certificate.
    EXPECT_NE(ssl_getverify(session), 0);
    EXPECT_EQ(Text(ssl_getsubject, session), "");
    EXPECT_NE(Text(ssl_getcipher, session), "");

    client.Write("hello server\n");
    EXPECT_NE(ReceiveUntil(session, accepted.fd, "\n").find("hello server"), std::string::npos);
    const std::string reply = "hello client\n";
    EXPECT_EQ(ssl_send(session, reply.data(), static_cast<std::int32_t>(reply.size())),
              static_cast<std::int32_t>(reply.size()));
    EXPECT_TRUE(client.WaitForOutput("hello client"));
    EXPECT_EQ(ssl_cleanup(session), 0);
}

// Handshakes that must fail, each on one end of a socket pair whose other end
// misbehaves as the row says.
enum class Side { Client, Server };
enum class PeerDoes { CloseAtOnce, SendPlainText };
struct FailureCase {
    const char* name;
    Side side;
    PeerDoes peer;
    std::string certificate;
    std::string key;
};

class SslHandshakeFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(SslHandshakeFailure, GivesNoSession) {
    const FailureCase& row = GetParam();
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    Fd ours(pair[0]);
    Fd theirs(pair[1]);
    if (row.peer == PeerDoes::SendPlainText) {
        const std::string text = "220 plain FTP greeting, no TLS here\r\n";
        ASSERT_EQ(::write(theirs.fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        ::shutdown(theirs.fd, SHUT_WR);
    } else {
        ::close(theirs.fd);
        theirs.fd = -1;
    }
    // A peer gone before the first byte must not kill the process (SIGPIPE).
    if (row.side == Side::Client)
        EXPECT_EQ(ssl_init_client(ours.fd, Certificates().CaFile()), 0);
    else
        EXPECT_LE(ssl_init_server(ours.fd, row.certificate, row.key), 100);
}

INSTANTIATE_TEST_SUITE_P(
    Peers, SslHandshakeFailure,
    ::testing::Values(
        FailureCase{"ClientPeerCloses", Side::Client, PeerDoes::CloseAtOnce, "", ""},
        FailureCase{"ClientPeerPlainText", Side::Client, PeerDoes::SendPlainText, "", ""},
        FailureCase{"ServerPeerCloses", Side::Server, PeerDoes::CloseAtOnce,
                    Certificates().ServerCertificate(), Certificates().ServerKey()},
        FailureCase{"ServerPeerPlainText", Side::Server, PeerDoes::SendPlainText,
                    Certificates().ServerCertificate(), Certificates().ServerKey()},
        FailureCase{"ServerMissingCertificate", Side::Server, PeerDoes::SendPlainText,
                    Certificates().Dir() + "/missing.pem", Certificates().ServerKey()},
        FailureCase{"ServerForeignKey", Side::Server, PeerDoes::SendPlainText,
                    Certificates().ServerCertificate(), Certificates().ForeignKey()}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(SslHandshakeFailure, OldProtocolAndNoSocketAreRefused) {
    EXPECT_EQ(ssl_init_client(-1, ""), 0);
    // A server that speaks nothing newer than TLS 1.1.
    TlsTestServer server(Certificates(), {"-tls1_1", "-cipher", "DEFAULT@SECLEVEL=0"});
    Fd socket(ConnectTo(server.Port()));
    ASSERT_GE(socket.fd, 0);
    EXPECT_EQ(ssl_init_client(socket.fd, Certificates().CaFile()), 0);
}

// Both ends in this process: a large send on a non-blocking socket with a small
// send buffer arrives whole and in order.
TEST(SslTransfer, LargeSendOnNonBlockingSocketArrivesWhole) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    Fd clientEnd(pair[0]);
    Fd serverEnd(pair[1]);
    const int small = 4096;
    ::setsockopt(clientEnd.fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);

    std::string payload(1 << 20, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);

    std::string received;
    std::int32_t serverSession = 0;
    std::thread server([&] {
        serverSession = ssl_init_server(serverEnd.fd, Certificates().ServerCertificate(),
                                        Certificates().ServerKey());
        if (serverSession > 100)
            received = ReceiveBytes(serverSession, serverEnd.fd, payload.size());
    });
    const std::int32_t session = ssl_init_client(clientEnd.fd, "");
    ASSERT_NE(session, 0);
    EXPECT_NE(ssl_getverify(session), 0);
    SetNonBlocking(clientEnd.fd);
    EXPECT_EQ(ssl_send(session, payload.data(), static_cast<std::int32_t>(payload.size())),
              static_cast<std::int32_t>(payload.size()));
    server.join();
    ASSERT_GT(serverSession, 100);
    EXPECT_NE(serverSession, session);
    EXPECT_TRUE(received == payload);
    ssl_cleanup(serverSession);

    // The peer closed cleanly: recv reads 0 as on a plain socket.
    std::array<char, 100> buffer{};
    pollfd entry{clientEnd.fd, POLLIN, 0};
    ::poll(&entry, 1, 20000);
    EXPECT_EQ(ssl_recv(session, buffer.data(), buffer.size()), 0);
    ssl_cleanup(session);
}

TEST(SslTexts, NeverWriteBeyondTheCapacity) {
    TlsTestServer server(Certificates());
    Fd socket(ConnectTo(server.Port()));
    const std::int32_t session = ssl_init_client(socket.fd, Certificates().CaFile());
    ASSERT_NE(session, 0);
    for (auto* get : {ssl_getcipher, ssl_getsubject, ssl_getissuer}) {
        const std::string full = Text(get, session);
        ASSERT_GT(full.size(), 8u);
        for (const std::int32_t capacity : {1, 2, 8, 1000}) {
            std::array<char, 1008> buffer;
            buffer.fill('#');
            get(session, buffer.data(), capacity);
            const std::string text(buffer.data());
            EXPECT_LT(text.size(), static_cast<std::size_t>(capacity));
            EXPECT_EQ(full.substr(0, text.size()), text);
            EXPECT_EQ(text.size(), std::min<std::size_t>(full.size(), capacity - 1));
            for (std::size_t i = capacity; i < buffer.size(); ++i)
                ASSERT_EQ(buffer[i], '#') << "capacity " << capacity;
        }
        char untouched = '#';
        EXPECT_EQ(get(session, &untouched, 0), -1);
        EXPECT_EQ(untouched, '#');
        EXPECT_EQ(get(session, nullptr, 10), -1);
    }
    ssl_cleanup(session);
}

TEST(SslSessions, UnknownHandlesFailQuietly) {
    std::array<char, 10> buffer;
    buffer.fill('#');
    for (const std::int32_t handle : {0, -1, 100, 123456}) {
        EXPECT_EQ(ssl_send(handle, "x", 1), -1);
        EXPECT_EQ(ssl_recv(handle, buffer.data(), buffer.size()), -1);
        EXPECT_NE(ssl_getverify(handle), 0);
        EXPECT_EQ(ssl_getcipher(handle, buffer.data(), buffer.size()), -1);
        EXPECT_EQ(buffer[0], '\0');
        EXPECT_EQ(ssl_cleanup(handle), -1);
    }
}

} // namespace
