#include "net/CSocket_Client.h"
#include "net/CSocket_Server.h"
#include "net/WinsockControl.h"
#include "net/WinsockError.h"
#include "net/WinsockServer_Form.h"

#include "base/NumberText.h"
#include "base/ProgramGlobals.h"
#include "diag/Debug_Modul.h"

#include "tests/net/NetTestSupport.h"
#include "tests/net/SecureTestSupport.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <stdexcept>

using namespace ornbrook;
using ornbrook::test::FreePort;
using ornbrook::test::WaitFor;

namespace {

constexpr std::int32_t TCP = 0;
constexpr std::int32_t UDP = 1;

// Destroys what the sockets let go of from the event loop.
void FlushDeletes() {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A server socket with everything it reported.
struct ServerProbe {
    explicit ServerProbe(std::int32_t protocol = TCP) {
        server.SetProtocol(protocol);
        auto& e = server.Events;
        subscriptions_ += e.NewClient.Connect([this](std::int32_t i) { newClients.push_back(i); });
        subscriptions_ += e.Closed.Connect([this](std::int32_t i) { closed.push_back(i); });
        subscriptions_ +=
            e.DataArrival.Connect([this](std::int32_t i, const std::string& d) { data[i] += d; });
        subscriptions_ +=
            e.SendComplete.Connect([this](std::int32_t i) { sendComplete.push_back(i); });
        subscriptions_ +=
            e.Error.Connect([this](std::int32_t i, std::int32_t n, const std::string&) {
                errors.push_back(IntToText(i) + ":" + IntToText(n));
            });
    }
    std::int32_t UBound() const { return server.Form().ClientsUBound(); }
    bool Closed(std::int32_t index) const {
        return std::find(closed.begin(), closed.end(), index) != closed.end();
    }

    CSocket_Server server;
    std::vector<std::int32_t> newClients;
    std::vector<std::int32_t> closed;
    std::vector<std::int32_t> sendComplete;
    std::vector<std::string> errors;
    std::map<std::int32_t, std::string> data;
    Subscriptions subscriptions_;
};

// A client socket with its events in order.
struct ClientProbe {
    explicit ClientProbe(std::int32_t protocol = TCP) {
        client.SetProtocol(protocol);
        auto& e = client.Events;
        subscriptions_ += e.Connect.Connect([this] { events.push_back("Connect"); });
        subscriptions_ += e.Closed.Connect([this] { events.push_back("Closed"); });
        subscriptions_ += e.SendComplete.Connect([this] { ++sendComplete; });
        subscriptions_ +=
            e.DataArrival.Connect([this](const std::string& d, const std::string& ip) {
                data += d;
                ++arrivals;
                remoteIP = ip;
            });
        subscriptions_ += e.Error.Connect([this](std::int32_t n, const std::string& text) {
            events.push_back("Error " + IntToText(n) + " " + text);
        });
    }
    bool Saw(const std::string& event) const {
        return std::find(events.begin(), events.end(), event) != events.end();
    }

    CSocket_Client client;
    std::vector<std::string> events;
    std::string data;
    std::string remoteIP;
    int arrivals = 0;
    int sendComplete = 0;
    Subscriptions subscriptions_;
};

class ControlSocketTest : public test::SocketFixture {
protected:
    void TearDown() override {
        FlushDeletes();
        SocketFixture::TearDown();
    }

    // A listening TCP server and its port.
    std::int32_t StartServer(ServerProbe& probe) {
        EXPECT_FALSE(probe.server.Listen(0));
        return probe.server.GetPort(0);
    }

    // Connects a new client and returns it once the server has given it an index.
    std::unique_ptr<ClientProbe> Join(ServerProbe& server, std::int32_t port) {
        auto probe = std::make_unique<ClientProbe>();
        const auto before = server.newClients.size();
        probe->client.Connect("127.0.0.1", port);
        EXPECT_TRUE(
            WaitFor([&] { return probe->Saw("Connect") && server.newClients.size() > before; }));
        return probe;
    }
};

TEST_F(ControlSocketTest, ClientAndServerExchangeBytesUnchanged) {
    ServerProbe server;
    const auto port = StartServer(server);
    ASSERT_GT(port, 0);
    EXPECT_EQ(server.server.GetState(0), 2);

    ClientProbe client;
    client.client.Connect("127.0.0.1", port);
    // Nothing is reported from inside the call.
    EXPECT_TRUE(client.events.empty());
    EXPECT_EQ(client.client.State(), 3);
    ASSERT_TRUE(WaitFor([&] { return client.Saw("Connect") && !server.newClients.empty(); }));
    EXPECT_EQ(server.newClients, std::vector<std::int32_t>{1});
    EXPECT_EQ(client.client.State(), 4);
    EXPECT_EQ(server.server.GetState(1), 4);
    EXPECT_EQ(server.server.GetClientIP(1), "127.0.0.1");

    // Bytes of every value, and more than one read's worth.
    std::string payload;
    for (int i = 0; i < 300000; ++i)
        payload += static_cast<char>(i % 256);
    EXPECT_EQ(client.client.SendData(payload), 0);
    ASSERT_TRUE(WaitFor([&] { return server.data[1].size() >= payload.size(); }));
    EXPECT_TRUE(server.data[1] == payload);
    ASSERT_TRUE(WaitFor([&] { return client.sendComplete > 0; }));

    const std::string reply("re\0ply\r\n\xfe", 9);
    server.server.SendData(1, reply);
    ASSERT_TRUE(WaitFor([&] { return client.data.size() >= reply.size(); }));
    EXPECT_EQ(client.data, reply);
    EXPECT_EQ(client.remoteIP, "127.0.0.1");
    ASSERT_TRUE(WaitFor([&] { return !server.sendComplete.empty(); }));
    EXPECT_EQ(server.sendComplete.front(), 1);

    client.client.Disconnect();
    EXPECT_EQ(client.client.State(), 1);
    ASSERT_TRUE(WaitFor([&] { return server.Closed(1); }));
    EXPECT_EQ(server.UBound(), 0);
    EXPECT_TRUE(server.errors.empty());
    EXPECT_FALSE(client.Saw("Closed")); // closing oneself raises nothing
}

TEST_F(ControlSocketTest, LowestFreeIndexIsReusedAndElementsUnloadFromTheTopOnly) {
    ServerProbe server;
    const auto port = StartServer(server);
    auto first = Join(server, port);
    auto second = Join(server, port);
    auto third = Join(server, port);
    EXPECT_EQ(server.newClients, (std::vector<std::int32_t>{1, 2, 3}));

    second->client.Disconnect();
    ASSERT_TRUE(WaitFor([&] { return server.Closed(2); }));
    EXPECT_EQ(server.UBound(), 3);
    EXPECT_EQ(server.server.GetState(2), 1);
    auto fourth = Join(server, port);
    EXPECT_EQ(server.newClients.back(), 2);
    EXPECT_EQ(server.server.GetState(2), 4);

    server.server.Disconnect(3);
    EXPECT_EQ(server.UBound(), 2);
    ASSERT_TRUE(WaitFor([&] { return third->Saw("Closed"); }));

    server.server.Disconnect(1);
    EXPECT_EQ(server.UBound(), 2); // 2 is still open above it
    EXPECT_EQ(server.server.GetState(1), 1);
    ASSERT_TRUE(WaitFor([&] { return first->Saw("Closed"); }));

    server.server.Disconnect(7); // not loaded: nothing happens
    EXPECT_EQ(server.UBound(), 2);
    auto again = Join(server, port);
    EXPECT_EQ(server.newClients.back(), 1);

    server.server.Disconnect(2);
    EXPECT_EQ(server.UBound(), 1);
    EXPECT_THROW(server.server.GetState(2), std::out_of_range);
}

TEST_F(ControlSocketTest, RefusedClientSeesClosedThenError) {
    ClientProbe client;
    const auto port = FreePort();
    const std::vector<std::string> refused{"Closed",
                                           "Error 10061 Connection is forcefully rejected."};
    client.client.Connect("127.0.0.1", port);
    ASSERT_TRUE(WaitFor([&] { return client.events.size() >= 2; }));
    EXPECT_EQ(client.events, refused);
    EXPECT_EQ(client.client.State(), 1);

    // ReConnect goes to the same place again.
    client.events.clear();
    client.client.ReConnect();
    ASSERT_TRUE(WaitFor([&] { return client.events.size() >= 2; }));
    EXPECT_EQ(client.events, refused);
    EXPECT_EQ(client.client.RemotePort(), port);

    // A bare control that listens but never accepts turns the connection away.
    WinsockControl listener;
    listener.Listen();
    EXPECT_THROW(listener.Listen(), WinsockError); // already listening
    ClientProbe unaccepted;
    unaccepted.client.Connect("127.0.0.1", listener.LocalPort());
    ASSERT_TRUE(WaitFor([&] { return unaccepted.Saw("Closed"); }));
}

// The listener answers whoever sent the last datagram.
TEST_F(ControlSocketTest, UdpDatagramsGoBothWays) {
    ServerProbe server(UDP);
    ASSERT_FALSE(server.server.Listen(0));
    const auto port = server.server.GetPort(0);
    ASSERT_GT(port, 0);

    ClientProbe client(UDP);
    client.client.Connect("127.0.0.1", port);
    const std::string ping("pi\0ng", 5);
    client.client.SendData(ping);
    ASSERT_TRUE(WaitFor([&] { return server.data.count(0) > 0; }));
    EXPECT_EQ(server.data[0], ping);

    server.server.SendData(0, "pong");
    ASSERT_TRUE(WaitFor([&] { return client.arrivals == 1; }));
    EXPECT_EQ(client.data, "pong");
    EXPECT_EQ(client.remoteIP, "127.0.0.1");
    ASSERT_TRUE(WaitFor([&] { return client.sendComplete > 0 && !server.sendComplete.empty(); }));
    EXPECT_EQ(server.sendComplete.front(), 0);
    EXPECT_EQ(server.UBound(), 0);
}

TEST_F(ControlSocketTest, SendDataRefusesWhatItCannotSend) {
    ClientProbe client;
    // A literal is text, not a boolean.
    EXPECT_THROW(client.client.SendData("abc"), WinsockError); // not connected
    EXPECT_EQ(client.client.LastPacketData(), "abc");
    // Null has no text form: refused before anything is stored.
    EXPECT_THROW(client.client.SendData(nullptr), std::invalid_argument);
    EXPECT_EQ(client.client.LastPacketData(), "abc");
}

TEST_F(ControlSocketTest, OwnersMayLetGoInsideTheirHandlers) {
    {
        // The client is destroyed in its Closed handler: the Error after it must not arrive.
        auto client = std::make_unique<ClientProbe>();
        std::vector<std::string> seen;
        Subscriptions subs;
        subs += client->client.Events.Closed.Connect([&] {
            seen = client->events;
            client.reset();
        });
        client->client.Connect("127.0.0.1", FreePort());
        ASSERT_TRUE(WaitFor([&] { return client == nullptr; }));
        FlushDeletes();
        EXPECT_EQ(seen, std::vector<std::string>{"Closed"});
    }
    {
        // The server cancels itself when its connection closes.
        ServerProbe server;
        const auto port = StartServer(server);
        Subscriptions subs;
        subs += server.server.Events.Closed.Connect([&](std::int32_t) { server.server.Cancel(); });
        auto client = Join(server, port);
        client->client.Disconnect();
        ASSERT_TRUE(WaitFor([&] { return server.Closed(1); }));
        EXPECT_THROW(server.server.GetState(0), std::logic_error);
        EXPECT_NE(DebugPaneText().find("Server_Cancel\r\n"), std::string::npos);
    }
    FlushDeletes();
    for (const char* name : {"CSocket_Client", "CSocket_Server", "WinsockClient_Form",
                             "WinsockServer_Form", "WinsockControl"})
        EXPECT_EQ(LiveCount(name), 0) << name;
}

} // namespace
