#include "net/SocketModule.h"

#include "net/ADomainCache.h"
#include "net/CSocket.h"
#include "net/WinsockApi.h"
#include "tests/net/NetTestSupport.h"
#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

namespace ornbrook {
namespace {

using test::Address;

// Winsock numbers, and errno values mapped to them, give the owner's texts.
TEST(SocketRuntime, ErrorTexts) {
    const std::pair<std::int32_t, const char*> rows[] = {
        {10004, "Interrupted system call."},
        {10013, "Permission Denied."},
        {10047, "Address family not supported by protocol family."},
        {10049, "Can't assign requested address."},
        {10059, "Too many references: can't splice."},
        {10071, "Too many levels of remote in path."},
        {10093, "Winsock not Initized."},
        {10101, "Disconnect."},
        {11004, "Valid name, no data record of requested type."},
        {10000, ""},
        {10072, ""},
        {0, ""},
        {-1, ""},
        {winsock::WinsockErrorFromErrno(ECONNREFUSED), "Connection refused."},
        {winsock::WinsockErrorFromErrno(ETIMEDOUT), "Connection timed out."},
        {winsock::WinsockErrorFromErrno(EHOSTUNREACH), "No route to host."},
        {winsock::WinsockErrorFromErrno(ENETUNREACH), "Network is unreachable."},
        {winsock::WinsockErrorFromErrno(EADDRINUSE), "Address already in use."},
        {winsock::WinsockErrorFromErrno(ECONNRESET), "Connection reset by peer."},
        {winsock::WinsockErrorFromErrno(EPIPE), "Connection reset by peer."},
        {winsock::WinsockErrorFromErrno(EAGAIN), "Operation would block."},
    };
    for (const auto& [number, text] : rows)
        EXPECT_EQ(GetWinsockErrorText(number), text) << number;
    // The halves of a notification's lParam are signed.
    EXPECT_EQ(HiWord(0x274D0010), 10061);
    EXPECT_EQ(LoWord(0x0000FFFF), -1);
    EXPECT_EQ(HiWord(static_cast<std::int32_t>(0xFFFF0000u)), -1);
}

TEST(SocketRuntime, HostsResolveThroughTheCacheWithoutRepeatedLookups) {
    test::FakeNames names;
    names.hosts["ftp.example.test"] = {Address("10.1.2.3"), Address("10.1.2.4")};

    EXPECT_EQ(GetIpOfHost("127.0.0.1"), static_cast<std::int32_t>(Address("127.0.0.1")));
    EXPECT_EQ(names.lookups, 0); // a dotted address needs no lookup
    EXPECT_EQ(DomainCache().GetDomainIP("127.0.0.1"), -1);

    EXPECT_EQ(ResolveHost("ftp.example.test"), "10.1.2.3");
    EXPECT_EQ(ResolveHost("FTP.Example.Test"), "10.1.2.3");
    EXPECT_EQ(names.lookups, 1);

    RemoveCachedDomain("ftp.example.test");
    EXPECT_EQ(ResolveHost("ftp.example.test"), "10.1.2.3");
    EXPECT_EQ(names.lookups, 2);

    EXPECT_EQ(GetIpOfHost("nowhere.invalid"), -1);
    EXPECT_EQ(ResolveHost("nowhere.invalid"), "255.255.255.255");
    const int before = names.lookups;
    EXPECT_EQ(GetIpOfHost("255.255.255.255"), -1); // the all-ones text is no address
    EXPECT_EQ(names.lookups, before + 1);
    RemoveCachedDomain("ftp.example.test");
}

TEST(SocketRuntime, NameAndAddressHelpers) {
    test::FakeNames names;
    names.hosts["multi.test"] = {Address("192.168.1.5"), Address("80.1.2.3")};
    EXPECT_EQ(GetHostAddress("multi.test", 0), "192.168.1.5");
    EXPECT_EQ(GetHostAddress("multi.test", 1), "80.1.2.3");
    EXPECT_EQ(GetHostAddress("multi.test", 2), "");
    EXPECT_EQ(GetHostAddress("unknown.invalid", 0), "");
    EXPECT_EQ(GetHostOfIp(static_cast<std::int32_t>(Address("80.1.2.3"))), "multi.test");
    EXPECT_EQ(GetHostOfIp(static_cast<std::int32_t>(Address("1.1.1.1"))), "");
    EXPECT_EQ(IpToText(static_cast<std::int32_t>(Address("172.20.0.1"))), "172.20.0.1");
    EXPECT_FALSE(GetLocalHostName().empty());
    // Sockets without a peer give the zero record.
    EXPECT_EQ(GetPeerIP(-1), "0.0.0.0");
    EXPECT_EQ(GetPeerPort(-1), 0);
}

TEST(SocketRuntime, WindowProcedureDropsStrayMessagesAndLogsHandlerErrors) {
    test::TempProgramDir dir;
    auto server = CSocket::Create();
    server->Listen();
    ASSERT_EQ(server->State, CSocket::StateListening);
    const HWND window = server->WindowHandle;
    const auto handle = static_cast<WPARAM>(server->SocketHandle);
    int closed = 0;
    Subscriptions subs;
    subs += server->Events.Closed.Connect([&] { ++closed; });
    EXPECT_EQ(SocketWindowProc(window, SocketNotifyMessage, 0, winsock::FD_CLOSE), 0);
    EXPECT_EQ(SocketWindowProc(window, SocketNotifyMessage, handle + 1000, winsock::FD_CLOSE), 0);
    EXPECT_EQ(closed, 0);
    // A time-out for a socket that is not connecting only ends the timer.
    SocketWindowProc(window, WM_TIMER, handle, 0);
    EXPECT_EQ(server->State, CSocket::StateListening);

    subs += server->Events.ConnectionRequest.Connect([] { throw std::runtime_error("boom"); });
    EXPECT_EQ(SocketWindowProc(window, SocketNotifyMessage, handle, winsock::FD_ACCEPT), 0);
    EXPECT_EQ(test::ReadBytes(dir.File("windowsproclog.txt")), "WindowProcError> boom\r\n");
    server->Cancel();
}

} // namespace
} // namespace ornbrook
