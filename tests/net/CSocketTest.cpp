#include "net/CSocket.h"

#include "net/ADomainCache.h"
#include "net/SocketModule.h"
#include "net/WinsockApi.h"
#include "tests/net/NetTestSupport.h"
#include "tests/net/SecureTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

namespace ornbrook {
namespace {

using test::ErrorList;
using test::RawSocket;
using test::Recorder;
using test::WaitFor;

std::int32_t ProzessRuns(const std::string& name) {
    for (const auto& p : Prozesse()) {
        if (p.Name == name)
            return static_cast<std::int32_t>(p.Anzahl);
    }
    return 0;
}

class CSocketTest : public test::SocketFixture {
protected:
    void TearDown() override {
        SocketFixture::TearDown();
        EXPECT_EQ(WinsockUsers(), 0);
        EXPECT_EQ(winsock::WSAStartupCount(), 0);
    }

    // A listener whose connection requests are accepted into accepted_.
    std::shared_ptr<CSocket> MakeServer() {
        auto server = NewSocket();
        CSocket* listener = server.get();
        subscriptions_ += server->Events.ConnectionRequest.Connect([this, listener] {
            auto peer = NewSocket();
            serverSide_.Watch(*peer);
            peer->Accept(*listener);
            accepted_.push_back(peer);
        });
        server->Listen();
        return server;
    }

    // A listener that accepts one plain blocking socket, far, into accepted_.
    bool AcceptRaw(RawSocket& far) {
        far = RawSocket::ConnectTo(MakeServer()->LocalPort);
        return WaitFor([&] { return accepted_.size() == 1; });
    }

    test::FakeNames names_;
    std::vector<std::shared_ptr<CSocket>> accepted_;
    Recorder serverSide_;
    Subscriptions subscriptions_;
};

TEST_F(CSocketTest, ClientAndServerTalkAndThePeerCloseArrives) {
    auto server = MakeServer();
    ASSERT_EQ(server->State, CSocket::StateListening);

    names_.hosts["localhost"] = {test::Address("127.0.0.1")};
    auto client = NewSocket();
    Recorder clientSide;
    clientSide.Watch(*client);
    client->Connect("LocalHost", server->LocalPort);
    EXPECT_EQ(client->State, CSocket::StateConnecting);
    ASSERT_TRUE(WaitFor([&] { return clientSide.Saw("Connect") && accepted_.size() == 1; }));
    EXPECT_EQ(client->RemoteHost, "127.0.0.1");
    auto peer = accepted_[0];
    EXPECT_EQ(peer->State, CSocket::StateConnected);
    EXPECT_EQ(peer->RemotePort, client->LocalPort);
    EXPECT_FALSE(serverSide_.Saw("Connect")); // an accepted connection raises no Connect
    EXPECT_TRUE(WaitFor([&] { return clientSide.Saw("SendComplete"); }));

    client->SendData("hello");
    ASSERT_TRUE(WaitFor([&] { return serverSide_.Received() == "hello"; }));
    EXPECT_EQ(serverSide_.remoteOfLastData, "127.0.0.1");
    peer->SendData(SocketBytes{1, 2, 0, 255});
    ASSERT_TRUE(WaitFor([&] { return clientSide.Received().size() == 4; }));
    EXPECT_EQ(clientSide.data[0], (SocketBytes{1, 2, 0, 255}));

    // The server stops listening; the accepted connection goes on by itself.
    server->Disconnect();
    peer->SendData("still here");
    ASSERT_TRUE(WaitFor([&] { return clientSide.Received().size() == 14; }));

    const std::int32_t clientPort = client->LocalPort;
    client->Disconnect();
    EXPECT_FALSE(clientSide.Saw("Closed")); // own Disconnect raises nothing
    ASSERT_TRUE(WaitFor([&] { return serverSide_.Saw("Closed"); }));
    EXPECT_EQ(peer->State, CSocket::StateClosed);
    EXPECT_EQ(peer->SocketHandle, 0);
    EXPECT_EQ(peer->WindowHandle, 0);
    EXPECT_EQ(peer->RemotePort, clientPort); // kept after the close
    EXPECT_TRUE(clientSide.errors.empty());
    EXPECT_TRUE(serverSide_.errors.empty());
}

TEST_F(CSocketTest, ReadsComeInPiecesOfAtMost2000Bytes) {
    RawSocket far;
    ASSERT_TRUE(AcceptRaw(far));

    far.SendAll(std::string(3000, 'x')); // all waiting before the notification is handled
    ASSERT_TRUE(WaitFor([&] { return serverSide_.Received().size() == 3000; }));
    ASSERT_EQ(serverSide_.data.size(), 2u);
    EXPECT_EQ(serverSide_.data[0].size(), 2000u);
    EXPECT_EQ(serverSide_.data[1].size(), 1000u);

    // A handler that runs the event loop gets the rest within it, in order,
    // and what comes meanwhile after it.
    std::string more(60000, '\0');
    for (std::size_t i = 0; i < more.size(); ++i)
        more[i] = static_cast<char>(i / 2000 + i % 7);
    const std::string all = more + "tail";
    bool nested = false;
    subscriptions_ += accepted_[0]->Events.DataArrival.Connect([&](const SocketBytes&,
                                                                   const std::string&) {
        if (std::exchange(nested, true))
            return;
        EXPECT_TRUE(WaitFor([&] { return serverSide_.Received().size() == 3000 + more.size(); }));
        far.SendAll("tail");
        EXPECT_TRUE(WaitFor([&] { return serverSide_.Received().size() == 3000 + all.size(); }));
    });
    far.SendAll(more);
    ASSERT_TRUE(WaitFor([&] { return serverSide_.Received().size() == 3000 + all.size(); }));
    EXPECT_TRUE(serverSide_.Received().substr(3000) == all);
    EXPECT_TRUE(std::all_of(serverSide_.data.begin(), serverSide_.data.end(),
                            [](const SocketBytes& piece) { return piece.size() <= 2000; }));

    far.Close();
    ASSERT_TRUE(WaitFor([&] { return serverSide_.Saw("Closed"); }));
}

TEST_F(CSocketTest, LineModeSplitsKeepsTheRestAndCutsAtAZeroByte) {
    RawSocket far;
    ASSERT_TRUE(AcceptRaw(far));
    auto peer = accepted_[0];
    peer->LineSeparator = "\r\n";

    far.SendAll("a\r\nb\r\nc");
    ASSERT_TRUE(WaitFor([&] { return serverSide_.lines.size() == 2; }));
    test::RunEvents(50);
    EXPECT_EQ(serverSide_.lines, (std::vector<std::string>{"a", "b"}));

    far.SendAll("\r\n\r\nd\r");
    ASSERT_TRUE(WaitFor([&] { return serverSide_.lines.size() == 4; }));
    far.SendAll("\ne");
    ASSERT_TRUE(WaitFor([&] { return serverSide_.lines.size() == 5; }));
    EXPECT_EQ(serverSide_.lines, (std::vector<std::string>{"a", "b", "c", "", "d"}));

    const std::int32_t reads = ProzessRuns("Event CSocket_DataArrival");
    far.SendAll(std::string("x\0y\r\n", 5)); // the zero byte ends this packet's text
    ASSERT_TRUE(WaitFor([&] { return ProzessRuns("Event CSocket_DataArrival") > reads; }));
    far.SendAll("\r\n");
    ASSERT_TRUE(WaitFor([&] { return serverSide_.lines.size() == 6; }));
    EXPECT_EQ(serverSide_.lines.back(), "ex");
    EXPECT_TRUE(serverSide_.data.empty()); // no DataArrival in line mode
    EXPECT_EQ(serverSide_.remoteOfLastData, "127.0.0.1");

    // Sending in line mode: each text is one line; an empty text is the separator.
    peer->SendData("hi");
    peer->SendData("");
    EXPECT_EQ(far.Read(6), "hi\r\n\r\n");
}

// Bytes with a zero, a file, and a block too large for the system to take at
// once, arriving whole and in order; SendComplete only once all is out.
TEST_F(CSocketTest, SendDataValuesFilesAndBlocksThatMustWait) {
    RawSocket far;
    ASSERT_TRUE(AcceptRaw(far));
    auto peer = accepted_[0];
    ASSERT_TRUE(WaitFor([&] { return serverSide_.Saw("SendComplete"); }));
    serverSide_.events.clear();

    EXPECT_EQ(peer->SendData(""), 0); // empty text in byte mode: nothing
    peer->SendData(SocketBytes{0x42, 0x00, 0x43});
    const std::string values("B\0C", 3);
    std::string file(12345, 'q');
    file[0] = '\0';
    test::WriteBytes(dir_.File("payload.bin"), file);
    peer->SendFile(dir_.File("payload.bin"));
    peer->SendFile(dir_.File("missing.bin")); // nothing to send, no failure

    std::string big(8 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 + i / 251);
    peer->SendData(SocketBytes(big.begin(), big.end()));
    peer->SendData("tail");
    EXPECT_FALSE(serverSide_.Saw("SendComplete"));
    const std::string all = values + file + big + "tail";
    EXPECT_TRUE(far.Read(all.size()) == all);
    EXPECT_TRUE(WaitFor([&] { return serverSide_.Saw("SendComplete"); }));

    EXPECT_EQ(NewSocket()->SendData("nobody"), 0); // a closed socket sends nothing
}

// Failures found after Connect returned: one retry, then one Error and closed.
TEST_F(CSocketTest, FailedConnectsAreRetriedOnceThenReported) {
    // A listener whose one-place queue is full drops further connection requests,
    // so a connect there stays pending until the time-out.
    int fullPort = 0;
    RawSocket full = RawSocket::ListenOn(0, &fullPort);
    RawSocket filler = RawSocket::ConnectTo(fullPort);

    enum class Target { NobodyListens, FullQueue, ItsOwnListenPort };
    const struct {
        const char* name;
        Target target;
        const char* error;
    } rows[] = {
        {"refused", Target::NobodyListens, "Connection refused."},
        {"time-out", Target::FullQueue, "Timeout"},
        // Connect on an open socket closes it first, without a Closed event.
        {"was listening", Target::ItsOwnListenPort, "Connection refused."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto client = NewSocket();
        Recorder events;
        events.Watch(*client);
        int port = row.target == Target::FullQueue ? fullPort : test::FreePort();
        if (row.target == Target::ItsOwnListenPort) {
            client->Listen();
            port = client->LocalPort;
        }
        if (row.target == Target::FullQueue)
            client->TimeOut = 30;
        const std::int32_t connectsBefore = ProzessRuns("CSocket_Connect");
        client->Connect("127.0.0.1", port);
        ASSERT_TRUE(WaitFor([&] { return !events.errors.empty(); }));
        test::RunEvents(150);
        EXPECT_EQ(events.errors, (ErrorList{{0, row.error}}));
        EXPECT_EQ(ProzessRuns("CSocket_Connect") - connectsBefore, 2); // the first and the retry
        EXPECT_EQ(client->State, CSocket::StateClosed);
        EXPECT_EQ(client->SocketHandle, 0);
        EXPECT_TRUE(events.events.empty()) << events.events[0];
    }
}

// Failures found inside Connect and Listen: the Error comes before they return.
TEST_F(CSocketTest, SetUpFailuresRaiseErrorDuringConnectAndListen) {
    auto taken = NewSocket();
    taken->Listen();
    ASSERT_EQ(taken->State, CSocket::StateListening);
    const struct {
        const char* host; // null: Listen
        std::int32_t port;
        std::int32_t localPort;
        std::int32_t error;
        const char* text;
    } rows[] = {
        {"127.0.0.1", 65535, 0, 1, "bad port"},
        {"127.0.0.1", 65535 + 65536, 0, 1, "bad port"}, // only the low 16 bits count
        {"no-such-host.invalid", 21, 0, 2, "host not found"},
        {"127.0.0.1", taken->LocalPort, taken->LocalPort, 5, "error on binding"},
        {nullptr, 0, taken->LocalPort, 5, "error on binding"},
        {nullptr, 0, 65535, 4, "invalid socket"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        auto socket = NewSocket();
        Recorder events;
        events.Watch(*socket);
        socket->LocalPort = row.localPort;
        if (row.host)
            socket->Connect(row.host, row.port);
        else
            socket->Listen();
        EXPECT_EQ(events.errors, (ErrorList{{row.error, row.text}}));
        EXPECT_EQ(socket->State, CSocket::StateClosed);
        EXPECT_EQ(socket->WindowHandle, 0);
        EXPECT_TRUE(events.events.empty());
    }
}

// A refused connect waits about 100 ms for its one retry. What the owner does in
// that time stands: the retry does not come after it.
TEST_F(CSocketTest, DisconnectConnectListenAndCancelStopAPendingRetry) {
    const std::int32_t serverPort = MakeServer()->LocalPort;
    names_.hosts["retry.test"] = {test::Address("127.0.0.1")};
    enum class Then { Disconnect, ConnectElsewhere, Listen, Cancel };
    const struct {
        const char* name;
        Then then;
        std::int32_t state;
    } rows[] = {
        {"Disconnect", Then::Disconnect, CSocket::StateClosed},
        {"Connect elsewhere", Then::ConnectElsewhere, CSocket::StateConnected},
        {"Listen", Then::Listen, CSocket::StateListening},
        {"Cancel", Then::Cancel, CSocket::StateClosed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto client = NewSocket();
        Recorder events;
        events.Watch(*client);
        client->Connect("retry.test", test::FreePort());
        // The refusal drops the host from the domain cache as it arms the retry.
        ASSERT_TRUE(WaitFor([&] { return DomainCache().GetDomainIP("retry.test") == -1; }));
        const std::int32_t connectsBefore = ProzessRuns("CSocket_Connect");
        switch (row.then) {
        case Then::Disconnect:
            client->Disconnect();
            break;
        case Then::ConnectElsewhere:
            client->Connect("127.0.0.1", serverPort);
            break;
        case Then::Listen:
            client->Listen();
            break;
        case Then::Cancel:
            client->Cancel();
            break;
        }
        test::RunEvents(400);
        const int ownConnects = row.then == Then::ConnectElsewhere ? 1 : 0;
        EXPECT_EQ(ProzessRuns("CSocket_Connect") - connectsBefore, ownConnects);
        EXPECT_EQ(client->State, row.state);
        EXPECT_EQ(events.Count("Connect"), ownConnects);
        EXPECT_TRUE(events.errors.empty());
    }
}

// The Disconnect that follows Closed and Error leaves alone a connection that
// the handler opened.
TEST_F(CSocketTest, AConnectFromInsideClosedOrErrorSurvives) {
    const std::int32_t port = MakeServer()->LocalPort;
    for (const char* handler : {"Closed", "Error"}) {
        SCOPED_TRACE(handler);
        auto client = NewSocket();
        Recorder events;
        events.Watch(*client);
        CSocket* raw = client.get();
        const auto reconnect = [raw, port] { raw->Connect("127.0.0.1", port); };
        const bool onClosed = std::string(handler) == "Closed";
        Subscriptions subs;
        if (onClosed) {
            subs += client->Events.Closed.Connect(reconnect);
            const std::size_t acceptedBefore = accepted_.size();
            client->Connect("127.0.0.1", port);
            ASSERT_TRUE(WaitFor([&] { return accepted_.size() > acceptedBefore; }));
            ASSERT_TRUE(WaitFor([&] { return events.Saw("Connect"); }));
            accepted_.back()->Disconnect(); // the far end leaves
        } else {
            subs += client->Events.Error.Connect(
                [reconnect](std::int32_t, const std::string&) { reconnect(); });
            client->Connect("127.0.0.1", test::FreePort()); // refused, retried, refused
        }
        // The first connection's Connect, if any, and the handler's.
        ASSERT_TRUE(WaitFor([&] { return events.Count("Connect") == (onClosed ? 2 : 1); }));
        test::RunEvents(300);
        EXPECT_EQ(client->State, CSocket::StateConnected);
        EXPECT_EQ(client->RemotePort, port);
    }
}

// A notification that was under way when the socket was cancelled finds nothing
// to raise, and nothing holds the socket after it.
TEST_F(CSocketTest, NothingIsRaisedOrHeldAfterCancel) {
    const std::size_t before = SocketRegistry().size();
    auto socket = CSocket::Create();
    SocketRegistry().push_back(socket); // registered twice
    socket->Listen();
    const auto handle = static_cast<WPARAM>(socket->SocketHandle);
    const HWND window = socket->WindowHandle;
    Recorder events;
    events.Watch(*socket);
    socket->Cancel();
    socket->Cancel();
    EXPECT_EQ(SocketRegistry().size(), before);
    SocketWindowProc(window, SocketNotifyMessage, handle, winsock::FD_ACCEPT);
    test::RunEvents(20);
    EXPECT_TRUE(events.events.empty());
    std::weak_ptr<CSocket> weak = socket;
    socket.reset();
    EXPECT_TRUE(weak.expired());
}

TEST(MyIPChoice, PublicBeforePrivateAndTheLastOfEach) {
    const struct {
        std::vector<std::string> addresses;
        const char* chosen;
    } rows[] = {
        {{}, ""},
        {{"127.0.0.1"}, "127.0.0.1"},
        {{"192.168.1.5", "80.1.2.3"}, "80.1.2.3"},
        {{"80.1.2.3", "192.168.1.5"}, "80.1.2.3"},
        {{"10.0.0.1", "192.168.0.2"}, "192.168.0.2"},
        {{"172.20.0.1"}, "172.20.0.1"},
        {{"172.32.0.1", "10.1.1.1"}, "172.32.0.1"},
        {{"172.15.0.1", "172.16.0.1"}, "172.15.0.1"},
        {{"172.31.9.9", "127.0.0.1"}, "127.0.0.1"},
        {{"127.1.0.1", "10.0.0.1"}, "127.1.0.1"}, // only 127.0.x.x counts as private
        {{"1.2.3.4", "5.6.7.8"}, "5.6.7.8"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ChooseMyIP(row.addresses), row.chosen) << row.chosen;
}

} // namespace
} // namespace ornbrook
