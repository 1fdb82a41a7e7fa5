#include "net/SocketModule.h"

#include "base/Clock.h"
#include "net/ADomainCache.h"
#include "net/CSocket.h"
#include "net/WinsockApi.h"
#include "tests/net/NetTestSupport.h"
#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

namespace ornbrook {
namespace {

using test::Address;

// errno values reach the owner as the Winsock number and its text.
TEST(SocketRuntime, ErrorTexts) {
    const std::pair<std::int32_t, const char*> rows[] = {
        {10072, ""},
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

TEST(DomainCache, AnEntryLivesExactlyTwoHoursAndAWrongAgeCountsAsExpired) {
    ManualClock clock(5);
    ADomainCache cache;
    cache.AddDomain("host", 42);
    clock.Advance(7200000);
    EXPECT_EQ(cache.GetDomainIP("host"), 42);
    clock.Advance(1);
    EXPECT_EQ(cache.GetDomainIP("host"), -1);

    clock.Set(0xFFFFFF00u);
    cache.AddDomain("wraps", 1);
    clock.Set(0x00000100u); // 512 ms later, across the wrap
    EXPECT_EQ(cache.GetDomainIP("wraps"), 1);
    cache.AddDomain("back", 2);
    clock.Set(0x00000050u); // earlier than the entry
    EXPECT_EQ(cache.GetDomainIP("back"), -1);
}

TEST(DomainCache, NamesIgnoreCaseAndAnAddAgainOnlyRenewsTheTime) {
    ManualClock clock(1000);
    ADomainCache cache;
    cache.AddDomain("Example.ORG", 0x0100007F);
    EXPECT_EQ(cache.GetDomainIP("EXAMPLE.org"), 0x0100007F);
    clock.Advance(7000000);
    cache.AddDomain("example.org", 0x0200007F); // known: the old address stays
    EXPECT_EQ(cache.Domains().size(), 2u);
    clock.Advance(7000000); // 14,000,000 after the first add, 7,000,000 after the renewal
    EXPECT_EQ(cache.GetDomainIP("example.org"), 0x0100007F);
    EXPECT_EQ(cache.GetDomainIP("other.org"), -1);
}

TEST(DomainCache, RemovalMovesTheLastEntryIntoTheGapAndExpiredEntriesGo) {
    ManualClock clock(0);
    ADomainCache cache;
    cache.RemoveBadDomain("nothing"); // no entry: nothing happens
    cache.AddDomain("a", 1);
    cache.AddDomain("b", 2);
    cache.AddDomain("c", 3);
    cache.RemoveBadDomain("A");
    ASSERT_EQ(cache.Domains().size(), 3u); // entry 0 is never used
    EXPECT_EQ(cache.Domains()[1].Name, "c");
    EXPECT_EQ(cache.Domains()[2].Name, "b");

    // Both expire; the one moved into the gap of the other must go as well.
    clock.Advance(7200001);
    cache.AddDomain("new", 4);
    EXPECT_EQ(cache.Domains().size(), 2u);
    EXPECT_EQ(cache.GetDomainIP("new"), 4);
}

} // namespace
} // namespace ornbrook
