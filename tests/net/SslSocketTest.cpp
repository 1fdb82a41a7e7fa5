#include "net/CSocket.h"
#include "net/CSocketSecure.h"

#include "app/ProgramGlobals.h"
#include "diag/Debug_Modul.h"
#include "platform/Timer_Modul.h"
#include "tests/net/SecureTestSupport.h"
#include "tests/net/TlsPeers.h"
#include "tests/support/TempProgramDir.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace ornbrook;
using ornbrook::test::ClientArguments;
using ornbrook::test::OpensslPeer;
using ornbrook::test::TempProgramDir;
using ornbrook::test::TestCertificates;
using ornbrook::test::TlsTestServer;
using ornbrook::test::WaitUntil;

namespace {

const TestCertificates& Certificates() {
    static const TestCertificates certificates;
    return certificates;
}

void Pump() { QCoreApplication::processEvents(); }

// What a CSocket told its owner.
struct SocketLog {
    explicit SocketLog(CSocket& socket) {
        socket.Events.Connect.Connect([this, &socket] {
            ++connects;
            trustedAtConnect = socket.SSLTrusted;
        });
        socket.Events.Closed.Connect([this] { ++closes; });
        socket.Events.DataArrival.Connect(
            [this](const SocketBytes& bytes, const std::string&) {
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

class SslSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        DebugActive = true;
        Unloading = false;
        InitDebug();
        ShowDebugForm();
        InitTimers();
    }
    void TearDown() override {
        for (const auto& socket : sockets_)
            socket->Cancel();
        Pump();
        InitDebug();
        DebugActive = false;
    }
    std::shared_ptr<CSocket> NewSocket() {
        sockets_.push_back(CSocket::Create());
        return sockets_.back();
    }

    TempProgramDir dir_;
    std::vector<std::shared_ptr<CSocket>> sockets_;
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
    auto listener = NewSocket();
    listener->SSLEnable = true;
    listener->SSLServerCertificate = Certificates().ServerCertificate();
    listener->SSLServerKey = Certificates().ServerKey();
    listener->Listen();
    ASSERT_EQ(listener->State, CSocket::StateListening);

    std::shared_ptr<CSocket> accepted;
    std::unique_ptr<SocketLog> log;
    listener->Events.ConnectionRequest.Connect([&] {
        accepted = NewSocket();
        log = std::make_unique<SocketLog>(*accepted);
        accepted->Accept(*listener);
    });
    OpensslPeer client(ClientArguments(listener->LocalPort, Certificates().CaFile()));
    ASSERT_TRUE(WaitUntil([&] { return accepted && accepted->State == CSocket::StateConnected; }))
        << client.Output();
    EXPECT_GT(accepted->SSLHandle, 100);
    EXPECT_EQ(accepted->RemoteHost, "127.0.0.1");
    EXPECT_TRUE(client.WaitForOutput("Verify return code: 0 (ok)", Pump)) << client.Output();

    client.Write("hello server\n");
    EXPECT_TRUE(WaitUntil([&] { return log->data.find('\n') != std::string::npos; }));
    EXPECT_EQ(log->data, "hello server\n");
    accepted->SendData(SocketData("hello client\n"));
    EXPECT_TRUE(client.WaitForOutput("hello client", Pump));

    // The client leaves: the accepted side hears it and closes.
    client.CloseInput();
    EXPECT_TRUE(WaitUntil([&] { return log->closes == 1; })) << client.Output();
    EXPECT_EQ(accepted->State, CSocket::StateClosed);
    EXPECT_EQ(accepted->SSLHandle, 0);
    EXPECT_EQ(log->connects, 0);
}

TEST_F(SslSocketTest, ServerHandshakeFailureClosesWithoutAnEvent) {
    auto listener = NewSocket();
    listener->SSLEnable = true;
    listener->SSLServerCertificate = Certificates().ServerCertificate();
    listener->SSLServerKey = Certificates().ForeignKey();
    listener->Listen();
    std::shared_ptr<CSocket> accepted;
    std::unique_ptr<SocketLog> log;
    listener->Events.ConnectionRequest.Connect([&] {
        accepted = NewSocket();
        log = std::make_unique<SocketLog>(*accepted);
        accepted->Accept(*listener);
    });
    OpensslPeer client(ClientArguments(listener->LocalPort, Certificates().CaFile()));
    ASSERT_TRUE(WaitUntil([&] { return accepted != nullptr; }));
    EXPECT_EQ(accepted->State, CSocket::StateClosed);
    EXPECT_EQ(accepted->SocketHandle, 0);
    EXPECT_EQ(accepted->RemotePort, 0);
    EXPECT_TRUE(log->errors.empty());
}

// A peer that answers a TLS client in plain text and hangs up.
class PlainTextPeer {
public:
    PlainTextPeer() : listener_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 1);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            const int connection = ::accept(listener_, nullptr, nullptr);
            if (connection < 0)
                return;
            const std::string text = "220 plain FTP here\r\n";
            [[maybe_unused]] const auto written = ::write(connection, text.data(), text.size());
            ::close(connection);
        });
    }
    ~PlainTextPeer() {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    PlainTextPeer(const PlainTextPeer&) = delete;
    PlainTextPeer& operator=(const PlainTextPeer&) = delete;
    int Port() const { return port_; }

private:
    int listener_;
    int port_ = 0;
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
                Certificates(), std::vector<std::string>{"-tls1_1", "-cipher", "DEFAULT@SECLEVEL=0"});
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
