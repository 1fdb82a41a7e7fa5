#include "check/CheckPool.h"
#include "check/UrlFileListChecker.h"
#include "ftp/FtpSettings.h"
#include "ftp/ServerMemory.h"
#include "ftp/SimpleFtpClient.h"
#include "tests/fixtures/PyFtpServer.h"
#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace ornbrook;
using ornbrook::test::PyFtpServer;
using namespace std::chrono_literals;

namespace {

struct Outcome {
    std::optional<std::string> error;
    std::vector<std::string> names;
};

Outcome Check(const std::string& url) {
    UrlFileListChecker checker;
    Outcome outcome;
    Subscriptions subs;
    subs += checker.Ended.Connect([&](CheckOutcome& ended) {
        if (!ended.Listed) {
            outcome.error = ended.Listed.error().Message;
            return;
        }
        for (const ListedEntry& entry : ended.Listed->Entries)
            outcome.names.push_back(entry.Name);
    });
    checker.CheckURL(Url(url));
    std::sort(outcome.names.begin(), outcome.names.end());
    return outcome;
}

class PyFtpdlib : public testing::Test {
protected:
    static void SetUpTestSuite() {
        FtpTimeouts t;
        t.Connect = t.Reply = t.DataConnect = t.DataIdle = 5s;
        SetFtpTimeouts(t);
        server_ = new PyFtpServer();
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
        SetFtpTimeouts({});
    }
    static PyFtpServer* server_;
    const PyFtpServer& server() const { return *server_; }
};

PyFtpServer* PyFtpdlib::server_ = nullptr;

} // namespace

TEST_F(PyFtpdlib, LogsInOrReportsWhyNot) {
    server().AddFile("login/file.txt", "x");
    const std::string closed = "ftp://127.0.0.1:1/"; // nothing listens on port 1
    const std::string port = std::to_string(server().Port());
    const struct {
        std::string url;
        std::optional<std::string> error;
    } rows[] = {
        {server().Url("/login"), std::nullopt},
        {server().UserUrl("/login"), std::nullopt},
        {server().UserUrl("/login", PyFtpServer::UserName, "wrong"),
         "login refused: 530 Authentication failed."},
        {"ftp://no-such-host.invalid:" + port + "/login", "could not connect: unknown host"},
        {"ftp:///login", "could not connect: no host name"},
        {closed, "could not connect: connection refused"},
        {"ftp://127.0.0.1:70000/", "could not connect: no such port"},
        {"ftp://127.0.0.1:-21/", "could not connect: no such port"},
        {"ftp://127.0.0.1:99999999999/", "could not connect: no such port"},
        {"ftp://us\r\ner:pw@127.0.0.1:" + port + "/login",
         "could not connect: line break in the login"},
        {server().Url("/missing"), "could not change dir: 550 No such file or directory."},
        {server().Url("/login/file.txt"), "could not change dir: 550 Not a directory."},
        // Entering is allowed, listing is not: a failed check, never an empty directory.
        {server().UserUrl("/login", PyFtpServer::NoListUser, PyFtpServer::NoListUser),
         "could not list dir: 550 Not enough privileges."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url);
        const Outcome outcome = Check(row.url);
        EXPECT_EQ(outcome.error, row.error);
        if (!row.error) {
            EXPECT_EQ(outcome.names, std::vector<std::string>{"file.txt"});
        }
    }
}

TEST_F(PyFtpdlib, ListsNamesExactly) {
    server().AddDir("empty");
    const std::vector<std::string> names = {
        " leading space",    "trailing space ", "two  spaces",         "sub dir",
        "\xC3\xA4pfel-utf8", "caf\xE9-latin1",  std::string(255, 'n'), "semi;colon=x",
    };
    for (const auto& name : names) {
        if (name == "sub dir")
            server().AddDir("names/" + name);
        else
            server().AddFile("names/" + name, "data");
    }
    auto sorted = names;
    std::sort(sorted.begin(), sorted.end());

    EXPECT_EQ(Check(server().Url("/names")).names, sorted);
    EXPECT_EQ(Check(server().Url("/names/")).names, sorted);
    const Outcome empty = Check(server().Url("/empty"));
    EXPECT_EQ(empty.error, std::nullopt);
    EXPECT_TRUE(empty.names.empty());
}

TEST(PyFtpdlibIpv6, ListsOverTheIpv6Loopback) {
    const int probe = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 loopback{};
    loopback.sin6_family = AF_INET6;
    loopback.sin6_addr = in6addr_loopback;
    const bool hasIpv6 =
        probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&loopback), sizeof(loopback)) == 0;
    if (probe >= 0)
        ::close(probe);
    if (!hasIpv6)
        GTEST_SKIP() << "this machine has no IPv6 loopback (::1): the IPv6 check is skipped";
    FtpTimeouts t;
    t.Connect = t.Reply = t.DataConnect = t.DataIdle = 5s;
    SetFtpTimeouts(t);
    PyFtpServer server({}, "::1");
    server.AddFile("v6/a b");
    // Active (EPRT) first; then passive (EPSV) for a server known to need it.
    EXPECT_EQ(Check(server.Url("/v6")).names, std::vector<std::string>{"a b"});
    ServerFacts passive;
    passive.PassiveOnly = true;
    RememberServer("::1", server.Port(), passive);
    EXPECT_EQ(Check(server.UserUrl("/v6/")).names, std::vector<std::string>{"a b"});
    ForgetServers();
    SetFtpTimeouts({});
}

TEST_F(PyFtpdlib, ClientEnumeratesAndMovesFilesIntact) {
    server().AddDir("box");
    std::string payload;
    for (int i = 0; i < 300'000; ++i)
        payload += static_cast<char>(i % 251);
    const std::string local = server().RootDir() + "-local.bin";
    const std::string back = server().RootDir() + "-back.bin";
    test::WriteBytes(local, payload);

    SimpleFtpClient client;
    ASSERT_NE(
        client.Connect("127.0.0.1", server().Port(), PyFtpServer::UserName, PyFtpServer::Password),
        0);
    ASSERT_NE(client.ChangeDir("/box"), 0);
    std::string name = "stale";
    EXPECT_EQ(client.GetFirstFile(name), 0);
    EXPECT_TRUE(client.LastResult()); // empty, not failed

    EXPECT_NE(client.SendFile(local, "up load.bin"), 0);
    EXPECT_EQ(server().ReadFile("box/up load.bin"), payload);
    EXPECT_NE(client.GetFile("up load.bin", back), 0);
    EXPECT_EQ(test::ReadBytes(back), payload);
    // A refused download leaves an existing local file alone.
    EXPECT_EQ(client.GetFile("missing.bin", back), 0);
    EXPECT_TRUE(std::filesystem::exists(back));
    EXPECT_EQ(client.SendFile(local, "bad\r\nDELE up load.bin"), 0);

    const std::int32_t find = client.GetFirstFile(name);
    ASSERT_NE(find, 0);
    EXPECT_EQ(name, "up load.bin");
    EXPECT_EQ(client.GetNextFile(find, name), 0);
    EXPECT_EQ(name, "");
    // A local file with a second name is not written through.
    test::WriteBytes(back + ".mine", "mine");
    std::filesystem::create_hard_link(back + ".mine", back + ".linked");
    EXPECT_EQ(client.GetFile("up load.bin", back + ".linked"), 0);
    EXPECT_EQ(std::filesystem::file_size(back + ".mine"), 4u);

    client.Cancel();
    std::filesystem::remove(local);
    std::filesystem::remove(back);
    std::filesystem::remove(back + ".mine");
    std::filesystem::remove(back + ".linked");
}

TEST_F(PyFtpdlib, APooledCheckRaisesOnTheOwnersThread) {
    server().AddFile("threaded/a", "");
    const auto owner = std::this_thread::get_id();
    auto pool = std::make_shared<CheckPool>();
    auto checker = std::make_unique<UrlFileListChecker>(pool);
    UrlFileListChecker* raw = checker.get();
    std::vector<std::string> heard;
    Subscriptions subs;
    subs += checker->Started.Connect([&] { heard.push_back("started"); });
    subs += checker->Ended.Connect([&](CheckOutcome& ended) {
        heard.push_back("ended");
        EXPECT_EQ(std::this_thread::get_id(), owner);
        ASSERT_TRUE(ended.Listed);
        ASSERT_EQ(ended.Listed->Entries.size(), 1u);
        EXPECT_EQ(ended.Listed->Entries[0].Name, "a");
        // The owner cancels from its handler, as the file list does.
        raw->Cancel();
    });
    checker->CheckURL(Url(server().Url("/threaded")));
    EXPECT_TRUE(heard.empty()); // queued: nothing is raised inside CheckURL
    while (pool->Outstanding() > 0) {
        pool->WaitForNews(100ms);
        pool->Deliver();
    }
    EXPECT_EQ(heard, (std::vector<std::string>{"started", "ended"}));
    EXPECT_EQ(checker->GetURL(), server().Url("/threaded"));
}
