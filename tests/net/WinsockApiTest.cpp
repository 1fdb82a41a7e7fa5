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

} // namespace
} // namespace ornbrook
