#include "net/WinsockApi.h"

#include "net/SocketModule.h"
#include "tests/net/NetTestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <vector>

namespace ornbrook {
namespace {

using namespace winsock;
using test::RawSocket;
using test::WaitFor;

struct Note {
    WPARAM socket;
    std::int32_t event;
    std::int32_t error;
};

// A window that notes every socket notification it is sent.
class NotifyWindow {
public:
    NotifyWindow() {
        WSAStartup(0x0101);
        hwnd = CreateWindowExA("static", "test");
        SetWindowLongA(hwnd, GWL_WNDPROC, [this](HWND, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
            if (msg == SocketNotifyMessage)
                notes.push_back(Note{w, LoWord(static_cast<std::int32_t>(l)),
                                     HiWord(static_cast<std::int32_t>(l))});
            return 0;
        });
    }
    ~NotifyWindow() {
        DestroyWindow(hwnd);
        WSACleanup();
    }
    int Count(SOCKET s, std::int32_t event) const {
        int n = 0;
        for (const auto& note : notes)
            n += (note.socket == static_cast<WPARAM>(s) && note.event == event) ? 1 : 0;
        return n;
    }

    HWND hwnd = 0;
    std::vector<Note> notes;
};

using test::Loopback;

// A socket selected on the window with the client mask and connecting to port.
SOCKET ConnectingSocket(HWND hwnd, int port) {
    const SOCKET s = winsock::socket(FamilyInet, TypeStream, ProtocolTcp);
    EXPECT_EQ(WSAAsyncSelect(s, hwnd, SocketNotifyMessage, 0x33), 0);
    const sockaddr_in a = Loopback(port);
    winsock::connect(s, &a, sizeof a);
    return s;
}

SOCKET Listener(HWND hwnd, int* port) {
    const SOCKET s = winsock::socket(FamilyInet, TypeStream, ProtocolTcp);
    sockaddr_in a = Loopback(0);
    EXPECT_EQ(winsock::bind(s, &a, sizeof a), 0);
    EXPECT_EQ(WSAAsyncSelect(s, hwnd, SocketNotifyMessage, 0x2B), 0);
    EXPECT_EQ(winsock::listen(s, 5), 0);
    int length = sizeof a;
    winsock::getsockname(s, &a, &length);
    *port = ntohs(a.sin_port);
    return s;
}

TEST(WinsockStandIn, AcceptReadAndCloseNotifyOnceUntilTheProgramReacts) {
    NotifyWindow window;
    int port = 0;
    const SOCKET listener = Listener(window.hwnd, &port);
    RawSocket first = RawSocket::ConnectTo(port);
    RawSocket second = RawSocket::ConnectTo(port);
    ASSERT_TRUE(WaitFor([&] { return window.Count(listener, FD_ACCEPT) == 1; }));
    test::RunEvents(30);
    EXPECT_EQ(window.Count(listener, FD_ACCEPT), 1); // two waiting, one notice until accept

    const SOCKET accepted = winsock::accept(listener, nullptr, nullptr);
    ASSERT_GT(accepted, 0);
    ASSERT_TRUE(WaitFor([&] { return window.Count(listener, FD_ACCEPT) == 2; }));
    // The accepted socket inherits the selection: it may be written to at once.
    ASSERT_TRUE(WaitFor([&] { return window.Count(accepted, FD_WRITE) == 1; }));

    first.SendAll("abc");
    ASSERT_TRUE(WaitFor([&] { return window.Count(accepted, FD_READ) == 1; }));
    test::RunEvents(30);
    EXPECT_EQ(window.Count(accepted, FD_READ), 1); // no new notice while unread
    char buffer[8] = {};
    EXPECT_EQ(winsock::recv(accepted, buffer, 1, 0), 1);
    ASSERT_TRUE(WaitFor([&] { return window.Count(accepted, FD_READ) == 2; })); // two still there
    EXPECT_EQ(winsock::recv(accepted, buffer, 8, 0), 2);
    EXPECT_EQ(winsock::recv(accepted, buffer, 8, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

    first.Close();
    ASSERT_TRUE(WaitFor([&] { return window.Count(accepted, FD_CLOSE) == 1; }));
    EXPECT_EQ(window.Count(accepted, FD_READ), 2); // the end of the stream is no read notice
    test::RunEvents(30);
    EXPECT_EQ(window.Count(accepted, FD_CLOSE), 1);

    EXPECT_EQ(closesocket(accepted), 0);
    EXPECT_EQ(closesocket(listener), 0);
    EXPECT_EQ(closesocket(listener), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

TEST(WinsockStandIn, ConnectNotifiesOnceWithItsError) {
    NotifyWindow window;
    int port = 0;
    RawSocket server = RawSocket::ListenOn(5, &port);

    const SOCKET good = ConnectingSocket(window.hwnd, port);
    ASSERT_TRUE(WaitFor([&] { return window.Count(good, FD_WRITE) == 1; }));
    ASSERT_EQ(window.Count(good, FD_CONNECT), 1);
    EXPECT_EQ(window.notes[0].event, FD_CONNECT);
    EXPECT_EQ(window.notes[0].error, 0);

    const SOCKET refused = ConnectingSocket(window.hwnd, test::FreePort());
    ASSERT_TRUE(WaitFor([&] { return window.Count(refused, FD_CONNECT) == 1; }));
    test::RunEvents(30);
    EXPECT_EQ(window.notes.back().error, WSAECONNREFUSED);
    EXPECT_EQ(window.Count(refused, FD_CONNECT) + window.Count(refused, FD_WRITE) +
                  window.Count(refused, FD_CLOSE),
              1);
    closesocket(good);
    closesocket(refused);
}

TEST(WinsockStandIn, WriteNoticeReturnsAfterASendHadToWaitAndSelectionCanBeCancelled) {
    NotifyWindow window;
    int port = 0;
    RawSocket server = RawSocket::ListenOn(5, &port);
    const SOCKET s = ConnectingSocket(window.hwnd, port);
    ASSERT_TRUE(WaitFor([&] { return window.Count(s, FD_WRITE) == 1; }));
    RawSocket peer = server.AcceptOne();

    std::uint32_t blocking = 0;
    EXPECT_EQ(ioctlsocket(s, FionBio, &blocking), SOCKET_ERROR); // not while selected
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);

    const std::vector<char> chunk(65536, 'w');
    std::size_t sent = 0;
    while (winsock::send(s, chunk.data(), static_cast<int>(chunk.size()), 0) > 0)
        sent += chunk.size(); // short sends count as whole: only the total's order matters
    ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    test::RunEvents(30);
    EXPECT_EQ(window.Count(s, FD_WRITE), 1);
    peer.Read(sent / 2); // room again
    ASSERT_TRUE(WaitFor([&] { return window.Count(s, FD_WRITE) == 2; }));

    ASSERT_EQ(WSAAsyncSelect(s, window.hwnd, 0, 0), 0);
    const std::size_t notes = window.notes.size();
    peer.SendAll("late");
    peer.Close();
    test::RunEvents(50);
    EXPECT_EQ(window.notes.size(), notes);
    EXPECT_EQ(ioctlsocket(s, FionBio, &blocking), 0);
    closesocket(s);
}

TEST(WinsockStandIn, StartupIsACounter) {
    const int before = WSAStartupCount();
    EXPECT_EQ(WSAStartup(0x0000), WSAVERNOTSUPPORTED);
    EXPECT_EQ(WSAStartup(0x0101), 0);
    EXPECT_EQ(WSAStartup(0x0202), 0);
    EXPECT_EQ(WSAStartupCount(), before + 2);
    WSACleanup();
    WSACleanup();
    EXPECT_EQ(WSAStartupCount(), before);
    if (before == 0) {
        EXPECT_EQ(winsock::socket(FamilyInet, TypeStream, ProtocolTcp), INVALID_SOCKET);
        EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    }
}

} // namespace
} // namespace ornbrook
