#include "net/CSocket.h"

#include "app/ProgramGlobals.h"
#include "net/SocketModule.h"
#include "net/WinsockApi.h"
#include "tests/net/NetTestSupport.h"
#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace ornbrook {
namespace {

using test::RawSocket;
using test::WaitFor;

// What one socket raised, in order.
struct Recorder {
    std::vector<std::string> events;
    std::vector<SocketBytes> data;
    std::vector<std::string> lines;
    std::vector<std::pair<std::int32_t, std::string>> errors;
    std::string remoteOfLastData;

    void Watch(CSocket& s) {
        s.Events.Connect.Connect([this] { events.push_back("Connect"); });
        s.Events.Closed.Connect([this] { events.push_back("Closed"); });
        s.Events.SendComplete.Connect([this] { events.push_back("SendComplete"); });
        s.Events.DataArrival.Connect([this](const SocketBytes& bytes, const std::string& ip) {
            data.push_back(bytes);
            remoteOfLastData = ip;
        });
        s.Events.LineDataArrival.Connect([this](const std::string& line, const std::string& ip) {
            lines.push_back(line);
            remoteOfLastData = ip;
        });
        s.Events.Error.Connect(
            [this](std::int32_t n, const std::string& text) { errors.emplace_back(n, text); });
        s.Events.ConnectionRequest.Connect([this] { events.push_back("ConnectionRequest"); });
    }
    bool Saw(const std::string& event) const {
        return std::find(events.begin(), events.end(), event) != events.end();
    }
    std::string Received() const {
        std::string all;
        for (const auto& d : data)
            all.append(d.begin(), d.end());
        return all;
    }
};

std::int32_t ProzessRuns(const std::string& name) {
    for (const auto& p : Prozesse()) {
        if (p.Name == name)
            return static_cast<std::int32_t>(p.Anzahl);
    }
    return 0;
}

class CSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Timing statistics count the connect attempts.
        DebugActive = true;
        ShowDebugForm();
    }
    void TearDown() override {
        for (auto& s : made_)
            s->Cancel();
        made_.clear();
        EXPECT_EQ(WinsockUsers(), 0);
        EXPECT_EQ(winsock::WSAStartupCount(), 0);
    }

    std::shared_ptr<CSocket> Make() {
        made_.push_back(CSocket::Create());
        return made_.back();
    }

    // A listener whose connection requests are accepted into new sockets.
    std::shared_ptr<CSocket> MakeServer(std::vector<std::shared_ptr<CSocket>>& accepted,
                                        Recorder& acceptedEvents) {
        auto server = Make();
        CSocket* listener = server.get();
        server->Events.ConnectionRequest.Connect([this, listener, &accepted, &acceptedEvents] {
            auto peer = Make();
            acceptedEvents.Watch(*peer);
            peer->Accept(*listener);
            accepted.push_back(peer);
        });
        server->Listen();
        return server;
    }

    // A listener that accepts one plain blocking socket, far, into accepted_.
    bool AcceptRaw(RawSocket& far) {
        auto server = MakeServer(accepted_, serverSide_);
        far = RawSocket::ConnectTo(server->LocalPort);
        return WaitFor([&] { return accepted_.size() == 1; });
    }

    test::FakeNames names_;
    test::TempProgramDir dir_;
    std::vector<std::shared_ptr<CSocket>> accepted_;
    Recorder serverSide_;
    std::vector<std::shared_ptr<CSocket>> made_;
};

TEST_F(CSocketTest, ClientAndServerTalkAndThePeerCloseArrives) {
    std::vector<std::shared_ptr<CSocket>> accepted;
    Recorder serverSide;
    auto server = MakeServer(accepted, serverSide);
    ASSERT_EQ(server->State, CSocket::StateListening);
    ASSERT_GT(server->LocalPort, 0);
    EXPECT_TRUE(server->RemoteHost.empty());

    names_.hosts["localhost"] = {test::Address("127.0.0.1")};
    auto client = Make();
    Recorder clientSide;
    clientSide.Watch(*client);
    client->Connect("LocalHost", server->LocalPort);
    EXPECT_EQ(client->State, CSocket::StateConnecting);
    ASSERT_TRUE(WaitFor([&] { return clientSide.Saw("Connect") && accepted.size() == 1; }));

    EXPECT_EQ(client->State, CSocket::StateConnected);
    EXPECT_EQ(client->RemoteHost, "127.0.0.1");
    EXPECT_EQ(client->RemotePort, server->LocalPort);
    EXPECT_GT(client->LocalPort, 0);
    auto peer = accepted[0];
    EXPECT_EQ(peer->State, CSocket::StateConnected);
    EXPECT_EQ(peer->RemotePort, client->LocalPort);
    EXPECT_EQ(peer->RemoteHost, "127.0.0.1");
    EXPECT_FALSE(serverSide.Saw("Connect")); // an accepted connection raises no Connect
    EXPECT_TRUE(WaitFor([&] { return clientSide.Saw("SendComplete"); }));

    client->SendData("hello");
    ASSERT_TRUE(WaitFor([&] { return serverSide.Received() == "hello"; }));
    EXPECT_EQ(serverSide.remoteOfLastData, "127.0.0.1");
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
    ASSERT_TRUE(WaitFor([&] { return serverSide.Saw("Closed"); }));
    EXPECT_EQ(peer->State, CSocket::StateClosed);
    EXPECT_EQ(peer->SocketHandle, 0);
    EXPECT_EQ(peer->WindowHandle, 0);
    EXPECT_EQ(peer->RemotePort, clientPort); // kept after the close
    EXPECT_EQ(peer->LocalPort, 0);
    EXPECT_TRUE(clientSide.errors.empty());
    EXPECT_TRUE(serverSide.errors.empty());
}

TEST_F(CSocketTest, ReadsComeInPiecesOfAtMost2000Bytes) {
    RawSocket far;
    ASSERT_TRUE(AcceptRaw(far));

    far.SendAll(std::string(3000, 'x')); // all waiting before the notification is handled
    ASSERT_TRUE(WaitFor([&] { return serverSide_.Received().size() == 3000; }));
    ASSERT_EQ(serverSide_.data.size(), 2u);
    EXPECT_EQ(serverSide_.data[0].size(), 2000u);
    EXPECT_EQ(serverSide_.data[1].size(), 1000u);

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

TEST_F(CSocketTest, SendDataByKindOfValue) {
    RawSocket far;
    ASSERT_TRUE(AcceptRaw(far));
    auto peer = accepted_[0];

    EXPECT_EQ(peer->SendData(""), 0); // empty text in byte mode: nothing
    peer->SendData(SocketData::Byte(0x41));
    peer->SendData(SocketBytes{0x42, 0x00, 0x43});
    peer->SendData(SocketData::Number(12.5));
    peer->SendData(SocketData::Other("Ä"));
    peer->SendData(SocketData()); // no value: nothing
    const std::string expected("A"
                               "B\0C"
                               "1\0"
                               "2\0"
                               ".\0"
                               "5\0"
                               "\xC4\0",
                               14);
    EXPECT_EQ(far.Read(expected.size()), expected);

    auto closed = Make();
    EXPECT_EQ(closed->SendData("nobody"), 0);
}

TEST_F(CSocketTest, LargeSendsArriveWholeEvenWhenTheSystemMustWait) {
    RawSocket far;
    ASSERT_TRUE(AcceptRaw(far));
    auto peer = accepted_[0];
    ASSERT_TRUE(WaitFor([&] { return serverSide_.Saw("SendComplete"); }));
    serverSide_.events.clear();

    std::string big(8 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 + i / 251);
    peer->SendData(SocketBytes(big.begin(), big.end()));
    peer->SendData("tail");
    EXPECT_FALSE(serverSide_.Saw("SendComplete"));
    EXPECT_EQ(far.Read(big.size() + 4), big + "tail");
    EXPECT_TRUE(WaitFor([&] { return serverSide_.Saw("SendComplete"); }));
}

TEST_F(CSocketTest, SendFileSendsTheWholeFile) {
    RawSocket far;
    ASSERT_TRUE(AcceptRaw(far));

    std::string content(12345, 'q');
    content[0] = '\0';
    content[5000] = 'z';
    test::WriteBytes(dir_.File("payload.bin"), content);
    accepted_[0]->SendFile(dir_.File("payload.bin"));
    EXPECT_EQ(far.Read(content.size()), content);
    accepted_[0]->SendFile(dir_.File("missing.bin")); // nothing to send, no failure
}

TEST_F(CSocketTest, RefusedConnectIsRetriedOnceThenReported) {
    const int port = test::FreePort();
    auto client = Make();
    Recorder events;
    events.Watch(*client);
    const std::int32_t connectsBefore = ProzessRuns("CSocket_Connect");
    client->Connect("127.0.0.1", port);
    ASSERT_TRUE(WaitFor([&] { return !events.errors.empty(); }));
    EXPECT_EQ(events.errors,
              (std::vector<std::pair<std::int32_t, std::string>>{{0, "Connection refused."}}));
    EXPECT_EQ(ProzessRuns("CSocket_Connect") - connectsBefore, 2); // the first and the retry
    EXPECT_EQ(client->State, CSocket::StateClosed);
    EXPECT_EQ(client->SocketHandle, 0);
    test::RunEvents(250);
    EXPECT_EQ(events.errors.size(), 1u); // no third attempt
}

TEST_F(CSocketTest, ConnectTimesOutTwiceThenReportsTimeout) {
    // A listener whose one-place queue is full drops further connection requests,
    // so the connect stays pending until the time-out.
    int port = 0;
    RawSocket listener = RawSocket::ListenOn(0, &port);
    RawSocket filler = RawSocket::ConnectTo(port);

    auto client = Make();
    Recorder events;
    events.Watch(*client);
    client->TimeOut = 30;
    client->Connect("127.0.0.1", port);
    ASSERT_TRUE(WaitFor([&] { return !events.errors.empty(); }));
    EXPECT_EQ(events.errors, (std::vector<std::pair<std::int32_t, std::string>>{{0, "Timeout"}}));
    EXPECT_EQ(client->State, CSocket::StateClosed);
    EXPECT_FALSE(events.Saw("Connect"));
}

TEST_F(CSocketTest, SetUpFailuresRaiseErrorDuringConnectAndListen) {
    auto client = Make();
    Recorder events;
    events.Watch(*client);

    client->Connect("127.0.0.1", 65535);
    ASSERT_EQ(events.errors.size(), 1u);
    EXPECT_EQ(events.errors[0], (std::pair<std::int32_t, std::string>{1, "bad port"}));
    EXPECT_EQ(client->State, CSocket::StateClosed);
    EXPECT_EQ(client->WindowHandle, 0);

    client->Connect("127.0.0.1", 65535 + 65536); // only the low 16 bits count
    ASSERT_EQ(events.errors.size(), 2u);
    EXPECT_EQ(events.errors[1].first, 1);

    client->Connect("no-such-host.invalid", 21);
    ASSERT_EQ(events.errors.size(), 3u);
    EXPECT_EQ(events.errors[2], (std::pair<std::int32_t, std::string>{2, "host not found"}));

    auto first = Make();
    first->Listen();
    ASSERT_EQ(first->State, CSocket::StateListening);
    auto second = Make();
    Recorder secondEvents;
    secondEvents.Watch(*second);
    second->LocalPort = first->LocalPort;
    second->Listen();
    EXPECT_EQ(secondEvents.errors,
              (std::vector<std::pair<std::int32_t, std::string>>{{5, "error on binding"}}));
    EXPECT_EQ(second->State, CSocket::StateClosed);

    second->LocalPort = 65535;
    second->Listen();
    EXPECT_EQ(secondEvents.errors.back(),
              (std::pair<std::int32_t, std::string>{4, "invalid socket"}));
    EXPECT_EQ(second->WindowHandle, 0);

    client->LocalPort = first->LocalPort; // bind before connecting fails likewise
    client->Connect("127.0.0.1", first->LocalPort);
    EXPECT_EQ(events.errors.back(), (std::pair<std::int32_t, std::string>{5, "error on binding"}));
    EXPECT_TRUE(events.events.empty());
}

TEST_F(CSocketTest, ConnectOnAnOpenSocketClosesItWithoutClosedEvent) {
    auto listener = Make();
    listener->Listen();
    Recorder events;
    events.Watch(*listener);
    const int oldPort = listener->LocalPort;
    listener->Connect("127.0.0.1", oldPort);
    EXPECT_FALSE(events.Saw("Closed"));
    ASSERT_TRUE(WaitFor([&] { return !events.errors.empty(); })); // nobody listens any more
    EXPECT_EQ(events.errors[0].second, "Connection refused.");
}

TEST_F(CSocketTest, AFailedAcceptLeavesTheSocketClosedWithoutEvent) {
    auto listener = Make();
    listener->Listen();
    auto taker = Make();
    Recorder events;
    events.Watch(*taker);
    taker->Accept(*listener); // nothing is waiting
    EXPECT_EQ(taker->State, CSocket::StateClosed);
    EXPECT_EQ(taker->SocketHandle, 0);
    EXPECT_EQ(taker->WindowHandle, 0);
    EXPECT_TRUE(taker->RemoteHost.empty());
    EXPECT_TRUE(events.events.empty());
    EXPECT_TRUE(events.errors.empty());
}

TEST_F(CSocketTest, CancelRemovesOneRegistryEntryAndEndsNotifications) {
    const std::size_t before = SocketRegistry().size();
    auto socket = CSocket::Create();
    EXPECT_EQ(SocketRegistry().size(), before + 1);
    SocketRegistry().push_back(socket); // registered twice
    socket->Listen();
    const auto handle = static_cast<WPARAM>(socket->SocketHandle);
    const HWND window = socket->WindowHandle;
    Recorder events;
    events.Watch(*socket);

    socket->Cancel();
    EXPECT_EQ(std::count(SocketRegistry().begin(), SocketRegistry().end(), socket), 1);
    socket->Cancel();
    EXPECT_EQ(std::count(SocketRegistry().begin(), SocketRegistry().end(), socket), 0);
    EXPECT_EQ(SocketRegistry().size(), before);

    SocketWindowProc(window, SocketNotifyMessage, handle, winsock::FD_ACCEPT);
    test::RunEvents(20);
    EXPECT_TRUE(events.events.empty());
    std::weak_ptr<CSocket> weak = socket;
    socket.reset();
    EXPECT_TRUE(weak.expired()); // nothing else holds it after Cancel
}

TEST_F(CSocketTest, MyIPAndNameAnswerWithoutTouchingAnOpenSocket) {
    names_.hosts[GetLocalHostName()] = {test::Address("127.0.0.1")};
    auto socket = Make();
    socket->Listen();
    const HWND window = socket->WindowHandle;
    EXPECT_EQ(socket->MyIP(), "127.0.0.1");
    EXPECT_EQ(socket->myName(), GetLocalHostName());
    EXPECT_EQ(socket->WindowHandle, window);
    EXPECT_EQ(socket->State, CSocket::StateListening);
    EXPECT_EQ(WinsockUsers(), 1);
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
