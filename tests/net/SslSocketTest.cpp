#include "net/CSocket.h"
#include "net/CSocketSecure.h"

#include "tests/net/NetTestSupport.h"
#include "tests/net/SecureTestSupport.h"
#include "tests/net/TlsPeers.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace ornbrook;
using ornbrook::test::ClientArguments;
using ornbrook::test::OpensslPeer;
using ornbrook::test::RawSocket;
using ornbrook::test::SocketFixture;
using ornbrook::test::TestCertificates;
using ornbrook::test::TlsTestServer;

namespace {

const TestCertificates& Certificates() {
    return ornbrook::test::SharedCertificates();
}

// The handshakes of the openssl tool take their time on a busy machine.
bool WaitUntil(const std::function<bool()>& done) {
    return ornbrook::test::WaitFor(done, 20000);
}

void Pump() {
    QCoreApplication::processEvents();
}

// What a CSocket told its owner.
struct SocketLog {
    explicit SocketLog(CSocket& socket) {
        socket.Events.Connect.Connect([this, &socket] {
            ++connects;
            trustedAtConnect = socket.SSLTrusted;
        });
        socket.Events.Closed.Connect([this] { ++closes; });
        socket.Events.DataArrival.Connect([this](const SocketBytes& bytes, const std::string&) {
            data.append(bytes.begin(), bytes.end());
        });
        socket.Events.Error.Connect([this](std::int32_t number, const std::string& text) {
            errors.push_back(std::to_string(number) + " " + text);
        });
    }
    int connects = 0;
    int closes = 0;
    bool trustedAtConnect = false;
    std::string data;
    std::vector<std::string> errors;
};

class SslSocketTest : public SocketFixture {
protected:
    // An SSL listener whose ConnectionRequest accepts into a new socket.
    std::shared_ptr<CSocket> StartListener(const std::string& key) {
        auto listener = NewSocket();
        listener->SSLEnable = true;
        listener->SSLServerCertificate = Certificates().ServerCertificate();
        listener->SSLServerKey = key;
        listener->Listen();
        CSocket* server = listener.get();
        listener->Events.ConnectionRequest.Connect([this, server] {
            accepted = NewSocket();
            acceptedLog = std::make_unique<SocketLog>(*accepted);
            accepted->Accept(*server);
        });
        return listener;
    }

    std::shared_ptr<CSocket> accepted;
    std::unique_ptr<SocketLog> acceptedLog;
};

struct TrustCase {
    const char* name;
    std::string caFile;
    bool trusted;
};

class SslSocketTrust : public SslSocketTest, public ::testing::WithParamInterface<TrustCase> {};

TEST_P(SslSocketTrust, ClientConnectsToSServer) {
    TlsTestServer server(Certificates());
    auto client = NewSocket();
    SocketLog log(*client);
    client->SSLEnable = true;
    client->SSLCAFile = GetParam().caFile;
    client->Connect("127.0.0.1", server.Port());

    // Connected, and told so, before Connect returned; trust is known after.
    ASSERT_EQ(log.connects, 1) << server.Peer().Output();
    EXPECT_FALSE(log.trustedAtConnect);
    EXPECT_EQ(client->SSLTrusted, GetParam().trusted);
    EXPECT_EQ(client->State, CSocket::StateConnected);
    EXPECT_EQ(client->RemotePort, server.Port());
    EXPECT_NE(client->SSLCipher.find("TLSv1."), std::string::npos) << client->SSLCipher;
    EXPECT_NE(client->SSLSubject.find("CN = localhost"), std::string::npos) << client->SSLSubject;
    EXPECT_NE(client->SSLIssuer.find("CN = Ornbrook Test CA"), std::string::npos)
        << client->SSLIssuer;

    server.Peer().Write("from the server\n");
    EXPECT_TRUE(WaitUntil([&] { return log.data.find('\n') != std::string::npos; }));
    EXPECT_EQ(log.data, "from the server\n");
    client->SendData(SocketData("from the client\n"));
    EXPECT_TRUE(server.Peer().WaitForOutput("from the client", Pump));
    EXPECT_TRUE(log.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(CaFiles, SslSocketTrust,
                         ::testing::Values(TrustCase{"RightCa", Certificates().CaFile(), true},
                                           TrustCase{"NoCa", "", false}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(SslSocketTest, SecureSocketDeliversConnectAfterConnectReturnedAndTrustIsKnown) {
    TlsTestServer server(Certificates());
    auto secure = CSocketSecure::Create();
    int connects = 0;
    bool trustedAtConnect = false;
    secure->Events.Connect.Connect([&] {
        ++connects;
        trustedAtConnect = secure->mySocket->SSLTrusted;
    });
    secure->mySocket->SSLEnable = true;
    secure->mySocket->SSLCAFile = Certificates().CaFile();
    secure->Connect("127.0.0.1", server.Port());
    EXPECT_EQ(connects, 0);
    EXPECT_EQ(secure->State(), CSocket::StateConnected);
    ASSERT_TRUE(WaitUntil([&] { return connects == 1; }));
    EXPECT_TRUE(trustedAtConnect);
    secure->Cancel();
}

TEST_F(SslSocketTest, ServerAcceptsSClient) {
    const auto listener = StartListener(Certificates().ServerKey());
    ASSERT_EQ(listener->State, CSocket::StateListening);
    OpensslPeer client(ClientArguments(listener->LocalPort, Certificates().CaFile()));
    ASSERT_TRUE(WaitUntil([&] { return accepted && accepted->State == CSocket::StateConnected; }))
        << client.Output();
    EXPECT_GT(accepted->SSLHandle, 100);
    EXPECT_EQ(accepted->RemoteHost, "127.0.0.1");
    EXPECT_TRUE(client.WaitForOutput("Verify return code: 0 (ok)", Pump)) << client.Output();

    client.Write("hello server\n");
    EXPECT_TRUE(WaitUntil([&] { return acceptedLog->data.find('\n') != std::string::npos; }));
    EXPECT_EQ(acceptedLog->data, "hello server\n");
    accepted->SendData(SocketData("hello client\n"));
    EXPECT_TRUE(client.WaitForOutput("hello client", Pump));

    // The client leaves: the accepted side hears it and closes.
    client.CloseInput();
    EXPECT_TRUE(WaitUntil([&] { return acceptedLog->closes == 1; })) << client.Output();
    EXPECT_EQ(accepted->State, CSocket::StateClosed);
    EXPECT_EQ(accepted->SSLHandle, 0);
    EXPECT_EQ(acceptedLog->connects, 0);
}

TEST_F(SslSocketTest, ServerHandshakeFailureClosesWithoutAnEvent) {
    const auto listener = StartListener(Certificates().ForeignKey());
    OpensslPeer client(ClientArguments(listener->LocalPort, Certificates().CaFile()));
    ASSERT_TRUE(WaitUntil([&] { return accepted != nullptr; }));
    EXPECT_EQ(accepted->State, CSocket::StateClosed);
    EXPECT_EQ(accepted->SocketHandle, 0);
    EXPECT_EQ(accepted->RemotePort, 0);
    EXPECT_TRUE(acceptedLog->errors.empty());
}

// A peer that answers a TLS client in plain text and hangs up.
class PlainTextPeer {
public:
    PlainTextPeer() : listener_(RawSocket::ListenOn(1, &port_)) {
        thread_ = std::thread([this] {
            try {
                RawSocket connection = listener_.AcceptOne();
                connection.SendAll("220 plain FTP here\r\n");
            } catch (const std::exception&) {
                // no client came, or it left: the test says what it missed
            }
        });
    }
    ~PlainTextPeer() { thread_.join(); }
    PlainTextPeer(const PlainTextPeer&) = delete;
    PlainTextPeer& operator=(const PlainTextPeer&) = delete;
    int Port() const { return port_; }

private:
    int port_ = 0;
    RawSocket listener_;
    std::thread thread_;
};

TEST_F(SslSocketTest, ClientHandshakeFailureGivesError8AndAClosedSocket) {
    enum class Peer { PlainText, OldProtocolOnly };
    for (const Peer kind : {Peer::PlainText, Peer::OldProtocolOnly}) {
        std::unique_ptr<PlainTextPeer> plain;
        std::unique_ptr<TlsTestServer> old;
        int port = 0;
        if (kind == Peer::PlainText) {
            plain = std::make_unique<PlainTextPeer>();
            port = plain->Port();
        } else {
            old = std::make_unique<TlsTestServer>(
                Certificates(),
                std::vector<std::string>{"-tls1_1", "-cipher", "DEFAULT@SECLEVEL=0"});
            port = old->Port();
        }
        auto client = NewSocket();
        SocketLog log(*client);
        client->SSLEnable = true;
        client->SSLCAFile = Certificates().CaFile();
        client->Connect("127.0.0.1", port);
        EXPECT_EQ(log.errors, std::vector<std::string>{"8 error on initializing ssl"});
        EXPECT_EQ(log.connects, 0);
        EXPECT_EQ(client->State, CSocket::StateClosed);
        EXPECT_EQ(client->SocketHandle, 0);
        EXPECT_EQ(client->SSLHandle, 0);
    }
}

} // namespace
