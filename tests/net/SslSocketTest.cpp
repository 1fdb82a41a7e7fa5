#include "net/CSocket.h"
#include "net/CSocketSecure.h"
#include "net/SslWrapper.h"

#include "tests/net/NetTestSupport.h"
#include "tests/net/SecureTestSupport.h"
#include "tests/net/TlsPeers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <sys/socket.h>
#include <time.h>

#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace ornbrook;
using ornbrook::test::ErrorList;
using ornbrook::test::NetCertificates;
using ornbrook::test::RawSocket;
using ornbrook::test::Recorder;
using ornbrook::test::SocketFixture;
using ornbrook::test::TlsPeerThread;
using ornbrook::test::WaitFor;

namespace {

const NetCertificates& Certificates() {
    return ornbrook::test::SharedCertificates();
}

// Process CPU time spent while the event loop runs, idle unless there is work,
// for about the given time.
double CpuSecondsWhileEventsRun(int ms) {
    const auto cpu = [] {
        timespec now{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
    };
    const double before = cpu();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return cpu() - before;
}

// Counts the ticks of a 100 ms timer.
struct TickCounter {
    TickCounter() {
        QObject::connect(&timer, &QTimer::timeout, &timer, [this] { ++ticks; });
        timer.start(100);
    }
    QTimer timer;
    int ticks = 0;
};

class SslSocketTest : public SocketFixture {
protected:
    // An SSL listener whose ConnectionRequest accepts into a new socket with
    // the given TimeOut.
    std::shared_ptr<CSocket> StartListener(const std::string& key, std::int16_t timeOut = 5000) {
        auto listener = NewSocket();
        listener->SSLEnable = true;
        listener->SSLServerCertificate = Certificates().ServerCertificate();
        listener->SSLServerKey = key;
        listener->Listen();
        CSocket* server = listener.get();
        subscriptions_ += listener->Events.ConnectionRequest.Connect([this, server, timeOut] {
            accepted = NewSocket();
            accepted->TimeOut = timeOut;
            acceptedAll.push_back(accepted);
            acceptedLogs.emplace_back().Watch(*accepted);
            accepted->Accept(*server);
        });
        return listener;
    }

    std::shared_ptr<CSocket> accepted; // the latest
    std::vector<std::shared_ptr<CSocket>> acceptedAll;
    std::deque<Recorder> acceptedLogs; // one for each of acceptedAll
    Subscriptions subscriptions_;
};

struct TrustCase {
    const char* name;
    std::string caFile;
    bool trusted;
};

class SslSocketTrust : public SslSocketTest, public ::testing::WithParamInterface<TrustCase> {};

TEST_P(SslSocketTrust, ClientConnectsToATlsServer) {
    std::string heard;
    TlsPeerThread server(Certificates().ServerCertificate(), Certificates().ServerKey(),
                         [&](std::int32_t session, int socket) {
                             ssl_send(session, "from the server\n", 16);
                             heard = test::ReceiveThrough(session, socket, 16);
                         });
    auto client = NewSocket();
    Recorder log;
    log.Watch(*client);
    bool trustedAtConnect = true;
    Subscriptions subs;
    subs += client->Events.Connect.Connect([&] { trustedAtConnect = client->SSLTrusted; });
    client->SSLEnable = true;
    client->SSLCAFile = GetParam().caFile;
    client->Connect("127.0.0.1", server.Port());

    // Connected, and told so, before Connect returned; trust is known after.
    ASSERT_EQ(log.Count("Connect"), 1);
    EXPECT_FALSE(trustedAtConnect);
    EXPECT_EQ(client->SSLTrusted, GetParam().trusted);
    EXPECT_EQ(client->State, CSocket::StateConnected);
    EXPECT_EQ(client->RemotePort, server.Port());
    EXPECT_NE(client->SSLCipher.find("TLSv1."), std::string::npos) << client->SSLCipher;
    EXPECT_NE(client->SSLSubject.find("CN = localhost"), std::string::npos) << client->SSLSubject;
    EXPECT_NE(client->SSLIssuer.find("CN = Ornbrook Test CA"), std::string::npos)
        << client->SSLIssuer;

    EXPECT_TRUE(WaitFor([&] { return log.Received().find('\n') != std::string::npos; }));
    EXPECT_EQ(log.Received(), "from the server\n");
    client->SendData(SocketData("from the client\n"));
    ASSERT_TRUE(WaitFor([&] { return server.Done(); }));
    EXPECT_EQ(heard, "from the client\n");
    EXPECT_TRUE(log.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(CaFiles, SslSocketTrust,
                         ::testing::Values(TrustCase{"RightCa", Certificates().CaFile(), true},
                                           TrustCase{"NoCa", "", false},
                                           TrustCase{"OtherCa", Certificates().OtherCaFile(),
                                                     false}),
                         [](const auto& row) { return std::string(row.param.name); });

// The secure socket over the SSL path: its events come after Connect returned,
// in order, with the trust known; line mode reaches the wrapped socket.
TEST_F(SslSocketTest, SecureSocketDeliversAfterConnectReturnedWithTrustKnown) {
    TlsPeerThread server(Certificates().ServerCertificate(), Certificates().ServerKey(),
                         [](std::int32_t session, int) { ssl_send(session, "hello\r\n", 7); });
    auto secure = CSocketSecure::Create();
    std::vector<std::string> heard;
    bool trustedAtConnect = false;
    Subscriptions subs;
    subs += secure->Events.Connect.Connect([&] {
        heard.emplace_back("Connect");
        trustedAtConnect = secure->mySocket->SSLTrusted;
    });
    subs += secure->Events.LineDataArrival.Connect(
        [&](const std::string& line, const std::string&) { heard.push_back(line); });
    secure->LineSeperator("\r\n");
    secure->mySocket->SSLEnable = true;
    secure->mySocket->SSLCAFile = Certificates().CaFile();
    secure->Connect("127.0.0.1", server.Port());
    EXPECT_TRUE(heard.empty());
    EXPECT_EQ(secure->State(), CSocket::StateConnected);
    ASSERT_TRUE(WaitFor([&] { return heard.size() == 2; }));
    EXPECT_EQ(heard, (std::vector<std::string>{"Connect", "hello"}));
    EXPECT_TRUE(trustedAtConnect);
    secure->Cancel();
}

TEST_F(SslSocketTest, ServerAcceptsATlsClient) {
    const auto listener = StartListener(Certificates().ServerKey());
    ASSERT_EQ(listener->State, CSocket::StateListening);
    std::int32_t verify = -1;
    std::string heard;
    auto client = std::make_unique<TlsPeerThread>(
        listener->LocalPort,
        [&](std::int32_t session, int socket) {
            verify = ssl_getverify(session);
            ssl_send(session, "hello server\n", 13);
            heard = test::ReceiveThrough(session, socket, 13);
        },
        Certificates().CaFile());
    ASSERT_TRUE(WaitFor([&] { return accepted && accepted->State == CSocket::StateConnected; }));
    EXPECT_GT(accepted->SSLHandle, 100);
    EXPECT_EQ(accepted->RemoteHost, "127.0.0.1");
    EXPECT_TRUE(
        WaitFor([&] { return acceptedLogs.back().Received().find('\n') != std::string::npos; }));
    EXPECT_EQ(acceptedLogs.back().Received(), "hello server\n");
    accepted->SendData(SocketData("hello client\n"));
    ASSERT_TRUE(WaitFor([&] { return client->Done(); }));
    EXPECT_EQ(verify, 0); // the client found the chain good
    EXPECT_EQ(heard, "hello client\n");

    // The client leaves: the accepted side hears it and closes.
    client.reset();
    EXPECT_TRUE(WaitFor([&] { return acceptedLogs.back().Count("Closed") == 1; }));
    EXPECT_EQ(accepted->State, CSocket::StateClosed);
    EXPECT_EQ(accepted->SSLHandle, 0);
    EXPECT_FALSE(acceptedLogs.back().Saw("Connect"));
}

// A key that does not fit fails at once, a client's plain text when it comes.
TEST_F(SslSocketTest, ServerHandshakeFailureClosesWithoutAnEvent) {
    enum class Client { Tls, PlainText };
    const struct {
        const char* name;
        std::string key;
        Client client;
    } rows[] = {
        {"key that does not fit", Certificates().ForeignKey(), Client::Tls},
        {"client speaking plain text", Certificates().ServerKey(), Client::PlainText},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto listener = StartListener(row.key);
        const std::size_t acceptedBefore = acceptedAll.size();
        std::unique_ptr<TlsPeerThread> tls;
        RawSocket plain;
        if (row.client == Client::Tls)
            tls = std::make_unique<TlsPeerThread>(listener->LocalPort, [](std::int32_t, int) {});
        else
            plain = RawSocket::ConnectTo(listener->LocalPort);
        ASSERT_TRUE(WaitFor([&] { return acceptedAll.size() > acceptedBefore; }));
        if (row.client == Client::PlainText)
            plain.SendAll("220 plain FTP greeting, no TLS here\r\n");
        ASSERT_TRUE(WaitFor([&] { return accepted->State == CSocket::StateClosed; }));
        EXPECT_EQ(accepted->SocketHandle, 0);
        EXPECT_EQ(accepted->RemotePort, 0);
        EXPECT_TRUE(acceptedLogs.back().sequence.empty());
    }
}

// A server that speaks nothing newer than TLS 1.1 is refused. The handshake
// failing in other ways is tested on the SSL library.
TEST_F(SslSocketTest, ClientHandshakeFailureGivesError8AndAClosedSocket) {
    int port = 0;
    RawSocket listener = RawSocket::ListenOn(1, &port);
    std::thread old([&] {
        RawSocket far = listener.AcceptOne();
        SSL_CTX* context = SSL_CTX_new(TLS_server_method());
        SSL_CTX_set_security_level(context, 0);
        SSL_CTX_set_max_proto_version(context, TLS1_1_VERSION);
        SSL_CTX_use_certificate_file(context, Certificates().ServerCertificate().c_str(),
                                     SSL_FILETYPE_PEM);
        SSL_CTX_use_PrivateKey_file(context, Certificates().ServerKey().c_str(), SSL_FILETYPE_PEM);
        SSL* ssl = SSL_new(context);
        SSL_set_fd(ssl, far.Fd());
        SSL_accept(ssl);
        SSL_free(ssl);
        SSL_CTX_free(context);
    });
    auto client = NewSocket();
    Recorder log;
    log.Watch(*client);
    client->SSLEnable = true;
    client->SSLCAFile = Certificates().CaFile();
    client->Connect("127.0.0.1", port);
    old.join();
    EXPECT_EQ(log.errors, (ErrorList{{8, "error on initializing ssl"}}));
    EXPECT_FALSE(log.Saw("Connect"));
    EXPECT_EQ(client->State, CSocket::StateClosed);
    EXPECT_EQ(client->SocketHandle, 0);
    EXPECT_EQ(client->SSLHandle, 0);
}

// After a record that does not decrypt, or bytes after the peer's close_notify,
// the session is broken for good: the socket says so with Error, then Closed,
// and closes, instead of being woken for the same bytes again and again.
TEST_F(SslSocketTest, ABrokenSessionEndsWithErrorThenClosedWithoutSpinning) {
    // Application data records whose contents are not what the key encrypted:
    // the first breaks the session, the second is still waiting then.
    const std::string record = std::string("\x17\x03\x03\x00\x20", 5) + std::string(32, 'Z');
    const std::string badRecords = record + record;
    const std::string plainBytes = "these come after the end";
    const struct {
        const char* name;
        TlsPeerThread::Job job;
    } rows[] = {
        {"record that does not decrypt",
         [&](std::int32_t, int socket) {
             ::send(socket, badRecords.data(), badRecords.size(), MSG_NOSIGNAL);
         }},
        {"bytes after the end",
         [&](std::int32_t session, int socket) {
             ssl_cleanup(session); // close_notify; the connection stays open
             ::send(socket, plainBytes.data(), plainBytes.size(), MSG_NOSIGNAL);
         }},
    };
    const auto listener = StartListener(Certificates().ServerKey());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TlsPeerThread peer(listener->LocalPort, row.job);
        ASSERT_TRUE(WaitFor([&] { return peer.Done(); }));
        ASSERT_TRUE(peer.Connected());
        EXPECT_LT(CpuSecondsWhileEventsRun(1000), 0.3);
        const Recorder& log = acceptedLogs.back();
        std::vector<std::string> sequence = log.sequence;
        std::erase(sequence, "SendComplete"); // whether it came first is the peer's timing
        EXPECT_EQ(sequence, (std::vector<std::string>{"Error", "Closed"}));
        EXPECT_EQ(log.errors, (ErrorList{{0, "Software caused connection abort."}}));
        EXPECT_EQ(accepted->State, CSocket::StateClosed);
        EXPECT_EQ(accepted->SocketHandle, 0);
        EXPECT_EQ(accepted->SSLHandle, 0);
    }
}

// A peer that does not read for a second: what the connection cannot take yet
// waits for FD_WRITE while the thread goes on, then arrives whole and in order.
TEST_F(SslSocketTest, ALargeSendToAPeerThatDoesNotReadLeavesTheThreadFree) {
    const auto listener = StartListener(Certificates().ServerKey());
    std::string payload(32 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>(i * 7 + i / 251);
    std::string received;
    TlsPeerThread peer(listener->LocalPort, [&](std::int32_t session, int socket) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        received = test::ReceiveThrough(session, socket, payload.size());
    });
    ASSERT_TRUE(WaitFor([&] { return accepted && acceptedLogs.back().Saw("SendComplete"); }));
    Recorder& log = acceptedLogs.back();
    log.events.clear();

    TickCounter counter;
    accepted->SendData(SocketBytes(payload.begin(), payload.end()));
    ASSERT_TRUE(WaitFor([&] { return peer.Done(); }, 60000));
    EXPECT_GE(counter.ticks, 5);
    EXPECT_EQ(received.size(), payload.size());
    EXPECT_TRUE(received == payload);
    EXPECT_TRUE(WaitFor([&] { return log.Saw("SendComplete"); }));
    EXPECT_TRUE(log.errors.empty());
}

// A client that connects and says nothing holds neither the thread nor other
// clients: the accepted socket's handshake goes on as bytes arrive and ends
// at the socket's TimeOut, closing it without an event. On the client side, a
// TCP connect that nobody answers ends at TimeOut.
TEST_F(SslSocketTest, SilentPeersDoNotHoldTheThread) {
    const auto listener = StartListener(Certificates().ServerKey(), 500);
    TickCounter counter;
    RawSocket silent = RawSocket::ConnectTo(listener->LocalPort);
    ASSERT_TRUE(WaitFor([&] { return acceptedAll.size() == 1; }));
    const auto quiet = acceptedAll[0];
    EXPECT_EQ(quiet->State, CSocket::StateConnecting);

    TlsPeerThread talker(listener->LocalPort,
                         [](std::int32_t session, int) { ssl_send(session, "hello", 5); });
    ASSERT_TRUE(WaitFor([&] { return acceptedAll.size() == 2; }));
    EXPECT_TRUE(WaitFor([&] { return acceptedLogs[1].Received() == "hello"; }));
    EXPECT_EQ(acceptedAll[1]->State, CSocket::StateConnected);
    EXPECT_EQ(acceptedAll[1]->RemoteHost, "127.0.0.1");
    EXPECT_EQ(quiet->State, CSocket::StateConnecting);

    ASSERT_TRUE(WaitFor([&] { return quiet->State == CSocket::StateClosed; }));
    EXPECT_GE(counter.ticks, 3);
    EXPECT_EQ(quiet->SocketHandle, 0);
    EXPECT_EQ(quiet->RemotePort, 0);
    EXPECT_TRUE(acceptedLogs[0].sequence.empty());
    EXPECT_EQ(silent.Read(1), ""); // it sees the close

    // A listener whose one-place queue is full leaves further connects unanswered.
    int fullPort = 0;
    RawSocket full = RawSocket::ListenOn(0, &fullPort);
    RawSocket filler = RawSocket::ConnectTo(fullPort);
    auto client = NewSocket();
    Recorder log;
    log.Watch(*client);
    client->SSLEnable = true;
    client->TimeOut = 300;
    QElapsedTimer clock;
    clock.start();
    client->Connect("127.0.0.1", fullPort);
    EXPECT_LT(clock.elapsed(), 10000); // the system's own limit is minutes
    EXPECT_EQ(log.errors, (ErrorList{{7, "error on connecting"}}));
    EXPECT_EQ(client->State, CSocket::StateClosed);
}

} // namespace
