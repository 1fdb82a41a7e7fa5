#include "ftp/FtpSettings.h"
#include "ftp/StopSignal.h"
#include "sftp/SftpListing.h"
#include "tests/fixtures/SftpTestServer.h"
#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ornbrook {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using test::SftpTestServer;

template <typename T> std::string Why(const Result<T>& result) {
    return result ? std::string() : result.error().Message;
}
namespace fs = std::filesystem;

constexpr auto Limit = 30s;

// The standard output of a shell command; the test fails when it fails.
std::string Shell(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return output;
    }
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    EXPECT_EQ(::pclose(pipe), 0) << command;
    return output;
}

// Each test gets a home of its own ($HOME, with an empty .ssh), no agent, and
// "watcher" as the local user's name, and gives back what it found.
class SftpTest : public ::testing::Test {
public:
    void SetUp() override {
        sshHome_.emplace();
        home_ = sshHome_->Path();
        trustFile_ = home_ + "/knownhosts.dat";
    }

    void TearDown() override {
        if (agent_ > 0) {
            ::kill(agent_, SIGTERM);
            ::waitpid(agent_, nullptr, 0);
        }
        sshHome_.reset();
    }

    // A new key pair in $HOME/.ssh; its public line.
    std::string NewKey(const std::string& name, const std::string& type = "ed25519",
                       const std::string& passphrase = "") {
        const std::string file = home_ + "/.ssh/" + name;
        Shell("ssh-keygen -q -t " + type + " -N '" + passphrase + "' -C test -f " + file);
        return test::ReadBytes(file + ".pub");
    }

    // An ssh-agent of the test's own holding the key, named by $SSH_AUTH_SOCK.
    void StartAgent(const std::string& keyFile) {
        const std::string socket = home_ + "/agent.sock";
        agent_ = std::stoi(
            Shell("ssh-agent -a " + socket + " | sed -n 's/^SSH_AGENT_PID=\\([0-9]*\\);.*/\\1/p'"));
        ::setenv("SSH_AUTH_SOCK", socket.c_str(), 1);
        Shell("ssh-add -q " + keyFile + " 2>&1");
    }

    // The server's key as known_hosts has it for the address.
    static std::string KnownHostsLine(const SftpTestServer& server,
                                      const std::string& host = "127.0.0.1") {
        return "[" + host + "]:" + std::to_string(server.Port()) + " " +
               test::ReadBytes(server.HostPublicKeyFile());
    }

    // Another server's key for the same address: what a changed key looks like.
    std::string OtherKeyLine(const SftpTestServer& server) {
        const std::string pub = NewKey("other_host_key");
        fs::remove(home_ + "/.ssh/other_host_key");
        fs::remove(home_ + "/.ssh/other_host_key.pub");
        return "[127.0.0.1]:" + std::to_string(server.Port()) + " " + pub;
    }

    void TrustInKnownHosts(const SftpTestServer& server) {
        test::WriteBytes(home_ + "/.ssh/known_hosts", KnownHostsLine(server));
    }

    SftpTarget Target(const SftpTestServer& server,
                      const std::string& user = SftpTestServer::UserName,
                      const std::string& password = SftpTestServer::Password) const {
        return {"127.0.0.1", server.Port(), user, password, trustFile_};
    }

    std::optional<test::SshHome> sshHome_;
    std::string home_;
    std::string trustFile_;
    pid_t agent_ = -1;
};

TEST_F(SftpTest, LogsInByAgentKeyOrPasswordAndSaysWhatItTriedWhenAllFail) {
    struct Row {
        const char* Name;
        std::function<std::string(SftpTest&)> Prepare; // the authorized keys
        SftpTestServer::Logins Logins;
        std::string User;
        std::string Password;
        std::string Failure; // empty: the login succeeds
        std::string Note;
    };
    const std::string user = SftpTestServer::UserName;
    const std::string password = SftpTestServer::Password;
    const std::vector<Row> rows = {
        {"agent, its key not on disk",
         [](SftpTest& t) {
             const std::string pub = t.NewKey("agent_key");
             t.StartAgent(t.home_ + "/.ssh/agent_key");
             fs::remove(t.home_ + "/.ssh/agent_key");
             return pub;
         },
         SftpTestServer::Logins::Password, user, "", "", ""},
        {"key file beside an encrypted one",
         [](SftpTest& t) {
             t.NewKey("id_ed25519", "ed25519", "passphrase");
             return t.NewKey("id_ecdsa", "ecdsa");
         },
         SftpTestServer::Logins::Password, user, "", "", "encrypted key skipped: "},
        {"password", [](SftpTest&) { return std::string(); }, SftpTestServer::Logins::Password,
         user, password, "", ""},
        {"keyboard-interactive", [](SftpTest&) { return std::string(); },
         SftpTestServer::Logins::KeyboardInteractive, user, password, "", ""},
        {"no user: the local user's name", [](SftpTest&) { return std::string(); },
         SftpTestServer::Logins::Password, "", password, "", ""},
        {"nothing fits",
         [](SftpTest& t) {
             t.NewKey("id_ed25519");
             const std::string someoneElses = t.NewKey("someone_else");
             fs::remove(t.home_ + "/.ssh/someone_else");
             return someoneElses;
         },
         SftpTestServer::Logins::Password, user, "wrong",
         "login refused: authentication failed (publickey, password)", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        TearDown();
        SetUp();
        const std::string authorized = row.Prepare(*this);
        SftpTestServer server(authorized, row.Logins);
        server.AddFile("a.txt");
        TrustInKnownHosts(server);
        const auto outcome =
            ListSftpDirectory(Target(server, row.User, row.Password), "/", Limit, nullptr);
        if (row.Failure.empty()) {
            EXPECT_TRUE(outcome.Entries.has_value()) << Why(outcome.Entries);
            EXPECT_EQ(outcome.Entries->size(), 1u);
        } else {
            EXPECT_EQ(Why(outcome.Entries), row.Failure);
        }
        const bool noted = std::any_of(outcome.Notes.begin(), outcome.Notes.end(), [&](auto& n) {
            return n.rfind(row.Note, 0) == 0 && n.find("/.ssh/id_ed25519") != std::string::npos;
        });
        EXPECT_EQ(noted, !row.Note.empty());
    }
}

TEST_F(SftpTest, ListsEveryNameWithItsFactsOverIpv4AndIpv6) {
    SftpTestServer server;
    server.AddFile("a.txt", "12345", 1700000000);
    server.AddFile(" spaced name ", "", 1600000000);
    server.AddFile("caf\xE9", "x"); // not UTF-8: kept byte for byte
    server.AddFile("sub/inner.bin", std::string(70000, 'z'), 1500000000);
    server.AddLink("link", "a.txt");

    // The trust question's answer for both addresses, as --trust would give it.
    for (const std::string& host : {"127.0.0.1"s, "::1"s}) {
        std::string problem;
        SftpTarget target = Target(server);
        target.Host = host;
        const auto key = FetchSftpHostKey(target, Limit, nullptr);
        ASSERT_TRUE(key) << Why(key);
        ASSERT_TRUE(StoreHostKeyTrust(*key, trustFile_, problem)) << problem;
    }

    for (const std::string& host : {"127.0.0.1"s, "::1"s, "[::1]"s}) {
        for (const std::string& path : {"/"s, "/~/"s, "/~"s}) {
            SCOPED_TRACE(host + " " + path);
            SftpTarget target = Target(server);
            target.Host = host;
            const auto outcome = ListSftpDirectory(target, path, Limit, nullptr);
            ASSERT_TRUE(outcome.Entries.has_value()) << Why(outcome.Entries);
            std::map<std::string, RemoteEntry> byName;
            for (const RemoteEntry& e : *outcome.Entries)
                byName[e.Name] = e;
            ASSERT_EQ(byName.size(), 5u);
            EXPECT_EQ(outcome.Entries->size(), 5u);
            EXPECT_EQ(byName["a.txt"].Type, RemoteType::File);
            EXPECT_EQ(byName["a.txt"].Size, 5u);
            EXPECT_EQ(byName["a.txt"].Modified, 1700000000);
            EXPECT_EQ(byName[" spaced name "].Modified, 1600000000);
            EXPECT_EQ(byName["caf\xE9"].Size, 1u);
            EXPECT_EQ(byName["sub"].Type, RemoteType::Folder);
            EXPECT_EQ(byName["link"].Type, RemoteType::Link);
        }
    }
    const auto sub = ListSftpDirectory(Target(server), "/~/sub/", Limit, nullptr);
    ASSERT_TRUE(sub.Entries.has_value()) << Why(sub.Entries);
    ASSERT_EQ(sub.Entries->size(), 1u);
    EXPECT_EQ((*sub.Entries)[0].Name, "inner.bin");
    EXPECT_EQ((*sub.Entries)[0].Size, 70000u);
    EXPECT_EQ((*sub.Entries)[0].Modified, 1500000000);
}

TEST_F(SftpTest, AKeptLoginServesListingAfterListingAndOutlivesARefusal) {
    SftpTestServer server;
    server.AddFile("a.txt");
    server.AddFile("sub/b.txt");
    server.AddDir("refused");
    TrustInKnownHosts(server);
    KeptSftpLogin kept;
    for (const std::string& path : {"/"s, "/sub"s, "/refused"s, "/"s}) {
        const auto outcome = ListSftpDirectory(Target(server), path, Limit, nullptr, &kept);
        EXPECT_EQ(outcome.Entries.has_value(), path != "/refused")
            << path << ": " << Why(outcome.Entries);
    }
    EXPECT_EQ(server.ConnectionCount(), 1);
    // Another user's check never takes it.
    const auto other = ListSftpDirectory(Target(server, "someone"), "/", Limit, nullptr, &kept);
    EXPECT_FALSE(other.Entries.has_value());
    EXPECT_EQ(server.ConnectionCount(), 2);
}

TEST_F(SftpTest, AFolderThatFailsGivesAReasonAndNoListing) {
    // Some key may log in, so that the server asks for keys and the agent is asked.
    SftpTestServer server(NewKey("someone_else"));
    for (const char* dir : {"refused", "stall", "cut", "garbage"})
        server.AddDir(dir);
    for (int i = 0; i < 300; ++i)
        server.AddFile("cutlate/f" + std::to_string(i));
    for (int i = 0; i < 300; ++i)
        server.AddFile("big/f" + std::to_string(i));
    TrustInKnownHosts(server);
    const FtpLimits limits = CurrentFtpLimits();
    struct Row {
        std::string Path;
        std::chrono::milliseconds Limit;
        std::string Message; // its start
    };
    const std::vector<Row> rows = {
        {"/refused", Limit, "could not change dir: permission denied"},
        {"/missing", Limit, "could not change dir: no such file or folder"},
        {"/cut", Limit, "could not change dir: connection closed by the server"},
        {"/cutlate", Limit, "could not list dir: connection closed by the server"},
        {"/garbage", Limit, "could not change dir: invalid sftp packet size"},
        {"/stall", 1500ms, "could not change dir: timed out after 1500 ms"},
        {"/big", Limit, "could not list dir: listing beyond the caps"},
    };
    // Each over a login kept from a check before, so that a short limit falls on
    // the folder's own wait, never on the login.
    KeptSftpLogin kept;
    const auto warmUp = [&] {
        ASSERT_TRUE(ListSftpDirectory(Target(server), "/", Limit, nullptr, &kept).Entries);
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Path);
        warmUp();
        FtpLimits small = limits;
        small.ListingNames = 200;
        SetFtpLimits(small);
        const auto outcome = ListSftpDirectory(Target(server), row.Path, row.Limit, nullptr, &kept);
        SetFtpLimits(limits);
        EXPECT_EQ(Why(outcome.Entries).rfind(row.Message, 0), 0u) << Why(outcome.Entries);
    }

    // A server that takes the connection and never speaks: the key exchange waits
    // no longer than the check may.
    const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(silent, 4), 0);
    ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length), 0);
    SftpTarget mute = Target(server);
    mute.Port = ntohs(address.sin_port);
    const auto unanswered = ListSftpDirectory(mute, "/", 1500ms, nullptr);
    ::close(silent);
    EXPECT_EQ(Why(unanswered.Entries), "could not connect: timed out after 1500 ms");

    // An agent that takes the request and never answers holds the login no
    // longer either.
    const std::string agentPath = home_ + "/mute-agent.sock";
    const int muteAgent = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un agentAddress{};
    agentAddress.sun_family = AF_UNIX;
    agentPath.copy(agentAddress.sun_path, sizeof agentAddress.sun_path - 1);
    ASSERT_EQ(::bind(muteAgent, reinterpret_cast<sockaddr*>(&agentAddress), sizeof agentAddress),
              0);
    ASSERT_EQ(::listen(muteAgent, 4), 0);
    ::setenv("SSH_AUTH_SOCK", agentPath.c_str(), 1);
    const auto agentless = ListSftpDirectory(Target(server), "/", 1500ms, nullptr);
    ::unsetenv("SSH_AUTH_SOCK");
    ::close(muteAgent);
    EXPECT_EQ(Why(agentless.Entries), "could not connect: timed out after 1500 ms");

    // A stop from another thread ends the wait at once, whatever the limit.
    warmUp();
    StopSignal stop;
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(300ms);
        stop.Stop();
    });
    const auto stopped = ListSftpDirectory(Target(server), "/stall", 10min, &stop, &kept);
    stopper.join();
    EXPECT_EQ(Why(stopped.Entries), "could not change dir: stopped");
}

TEST_F(SftpTest, HostKeysAreJudgedBeforeAnyLoginAndOurFileWins) {
    SftpTestServer server;
    server.AddFile("a.txt");
    const std::string right = KnownHostsLine(server);
    const std::string wrong = OtherKeyLine(server);
    const std::string knownHosts = home_ + "/.ssh/known_hosts";
    struct Row {
        const char* Name;
        std::string KnownHosts;
        std::string Ours;
        bool Hashed;
        std::string Failure; // empty: trusted
    };
    const std::vector<Row> rows = {
        {"unknown", "", "", false, "could not connect: host key unknown: ED25519 SHA256:"},
        {"known_hosts", right, "", false, ""},
        {"known_hosts hashed", right, "", true, ""},
        {"changed in known_hosts", wrong, "", true,
         "could not connect: host key changed: ED25519 SHA256:"},
        {"trusted anew in our file", wrong, right, false, ""},
        {"changed in our file", right, wrong, false,
         "could not connect: host key changed: ED25519 SHA256:"},
    };
    const std::string fingerprint =
        Shell("ssh-keygen -l -E sha256 -f " + server.HostPublicKeyFile() + " | cut -d' ' -f2");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        fs::remove(knownHosts);
        fs::remove(trustFile_);
        if (!row.KnownHosts.empty())
            test::WriteBytes(knownHosts, "other.example ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIA\n" +
                                             row.KnownHosts);
        if (row.Hashed)
            Shell("ssh-keygen -q -H -f " + knownHosts + " 2>&1");
        if (!row.Ours.empty())
            test::WriteBytes(trustFile_, row.Ours);
        const int logins = server.LoginCount();
        const auto outcome = ListSftpDirectory(Target(server), "/", Limit, nullptr);
        if (row.Failure.empty()) {
            EXPECT_TRUE(outcome.Entries.has_value()) << Why(outcome.Entries);
            continue;
        }
        EXPECT_EQ(server.LoginCount(), logins) << "a login began before the key was judged";
        EXPECT_EQ(Why(outcome.Entries).rfind(row.Failure, 0), 0u) << Why(outcome.Entries);
        ASSERT_TRUE(outcome.HostKey);
        EXPECT_EQ(outcome.HostKey->Fingerprint + "\n", fingerprint);
        EXPECT_EQ(outcome.HostKey->Server, "127.0.0.1:" + std::to_string(server.Port()));
        const std::string oldFile = row.Ours.empty() ? knownHosts : trustFile_;
        if (outcome.HostKey->Verdict == HostKeyVerdict::Changed) {
            EXPECT_EQ(outcome.HostKey->OldKeyFile, oldFile);
            EXPECT_NE(Why(outcome.Entries).find("not the key in " + oldFile), std::string::npos);
        }
        // Trusting it (the window's question, --trust) lets the next check in and
        // keeps the lines of other servers.
        test::WriteBytes(trustFile_, test::ReadBytes(trustFile_) + "[other.example]:2222 " +
                                         test::ReadBytes(server.HostPublicKeyFile()));
        std::string problem;
        ASSERT_TRUE(StoreHostKeyTrust(*outcome.HostKey, trustFile_, problem)) << problem;
        EXPECT_TRUE(ListSftpDirectory(Target(server), "/", Limit, nullptr).Entries);
        EXPECT_NE(test::ReadBytes(trustFile_).find("[other.example]:2222 "), std::string::npos);
    }
}

TEST_F(SftpTest, DownloadsWholeOrResumesAtThePartialFilesLength) {
    SftpTestServer server;
    std::string content(200001, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>((i * 7919) >> 3);
    server.AddFile("data.bin", content);
    TrustInKnownHosts(server);
    const std::string local = home_ + "/data.bin.part";
    for (const std::size_t already : {std::size_t{0}, std::size_t{70001}}) {
        SCOPED_TRACE(already);
        test::WriteBytes(local, content.substr(0, already));
        const int fd = ::open(local.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        std::uint64_t lastProgress = 0;
        const auto outcome = DownloadSftpFile(
            Target(server), "/data.bin", fd, already, content.size(),
            [&](std::uint64_t n) { lastProgress = n; }, nullptr);
        ::close(fd);
        ASSERT_TRUE(outcome) << Why(outcome);
        EXPECT_EQ(outcome->Length, content.size());
        EXPECT_EQ(outcome->RemoteSize, content.size());
        EXPECT_EQ(lastProgress, content.size());
        EXPECT_TRUE(test::ReadBytes(local) == content);
    }
    // A partial file longer than the remote one is not resumed, and a file
    // that grew since it was listed is not followed past the listed size.
    const int fd = ::open(local.c_str(), O_WRONLY | O_CLOEXEC);
    const auto longer = DownloadSftpFile(Target(server), "/data.bin", fd, content.size() + 1,
                                         std::nullopt, {}, nullptr);
    EXPECT_EQ(Why(longer), "could not download: the partial file is longer than the remote file");
    ASSERT_EQ(::ftruncate(fd, 0), 0);
    const auto grown = DownloadSftpFile(Target(server), "/data.bin", fd, 0, 100000, {}, nullptr);
    ::close(fd);
    EXPECT_EQ(grown.error().Kind, ErrorKind::Overrun);
    EXPECT_EQ(Why(grown), "could not download: the server sent more than the listed 100000 bytes");
    EXPECT_TRUE(test::ReadBytes(local) == content.substr(0, 100000));

    // No overall limit, but one on silence.
    server.AddFile("stall.bin", "never read");
    const int stalled = ::open(local.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    const auto idle =
        DownloadSftpFile(Target(server), "/stall.bin", stalled, 0, std::nullopt, {}, nullptr, 1s);
    ::close(stalled);
    EXPECT_EQ(Why(idle), "could not download: no data for 1 s");
    EXPECT_EQ(test::ReadBytes(local), "");
}

} // namespace
} // namespace ornbrook
