#include "tests/net/TlsPeers.h"

#include "net/SslWrapper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace ornbrook::test {

namespace {

constexpr std::chrono::seconds PeerWaitLimit{20};

const char* const ConfigText = R"([req]
distinguished_name = dn
prompt = no
[dn]
[ca_ext]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[server_ext]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1,DNS:localhost
)";

// The paths come from mkdtemp and hold no characters the shell would change.
void RunTool(const std::vector<std::string>& arguments) {
    std::string command = "openssl";
    for (const auto& argument : arguments)
        command += " '" + argument + "'";
    if (std::system((command + " >/dev/null 2>&1 </dev/null").c_str()) != 0)
        throw std::runtime_error("openssl failed: " + command);
}

std::vector<std::string> NewKeyArguments() {
    return {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
}

std::vector<std::string> Joined(std::vector<std::string> first,
                                const std::vector<std::string>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

} // namespace

TestCertificates::TestCertificates() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ornbrook-tls-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("no temporary directory");
    dir_ = pattern;
    const std::string config = dir_ + "/test.cnf";
    std::ofstream(config) << ConfigText;

    for (const auto& [name, subject] :
         {std::pair{"ca", "/O=Ornbrook Tests/CN=Ornbrook Test CA"},
          std::pair{"other-ca", "/O=Ornbrook Tests/CN=Other Test CA"}}) {
        RunTool(Joined({"req", "-x509", "-config", config, "-extensions", "ca_ext", "-days", "2",
                        "-subj", subject, "-keyout", dir_ + "/" + name + ".key", "-out",
                        dir_ + "/" + name + ".pem"},
                       NewKeyArguments()));
    }
    RunTool(Joined({"req", "-new", "-config", config, "-subj", "/O=Ornbrook Tests/CN=localhost",
                    "-keyout", ServerKey(), "-out", dir_ + "/server.csr"},
                   NewKeyArguments()));
    RunTool({"x509", "-req", "-in", dir_ + "/server.csr", "-CA", CaFile(), "-CAkey",
             dir_ + "/ca.key", "-set_serial", "2", "-days", "2", "-extfile", config, "-extensions",
             "server_ext", "-out", ServerCertificate()});
}

const TestCertificates& SharedCertificates() {
    static const TestCertificates certificates;
    return certificates;
}

TestCertificates::~TestCertificates() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

OpensslPeer::OpensslPeer(const std::vector<std::string>& arguments) {
    int inputPipe[2];
    int outputPipe[2];
    if (::pipe2(inputPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("no pipe");
    if (::pipe2(outputPipe, O_CLOEXEC) != 0) {
        ::close(inputPipe[0]);
        ::close(inputPipe[1]);
        throw std::runtime_error("no pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inputPipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, outputPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, outputPipe[1], 2);

    std::vector<std::string> all{"openssl"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : all)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int spawned = ::posix_spawnp(&pid_, "openssl", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(inputPipe[0]);
    ::close(outputPipe[1]);
    input_ = inputPipe[1];
    outputPipe_ = outputPipe[0];
    if (spawned != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot run openssl");
    }
}

OpensslPeer::~OpensslPeer() {
    CloseInput();
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    if (outputPipe_ >= 0)
        ::close(outputPipe_);
}

void OpensslPeer::Write(const std::string& text) {
    std::size_t done = 0;
    while (input_ >= 0 && done < text.size()) {
        const ssize_t written = ::write(input_, text.data() + done, text.size() - done);
        if (written <= 0)
            return;
        done += static_cast<std::size_t>(written);
    }
}

void OpensslPeer::CloseInput() {
    if (input_ >= 0)
        ::close(input_);
    input_ = -1;
}

bool OpensslPeer::ReadSome(int waitMs) {
    if (outputPipe_ < 0)
        return false;
    pollfd entry{outputPipe_, POLLIN, 0};
    if (::poll(&entry, 1, waitMs) <= 0)
        return true;
    char buffer[4096];
    const ssize_t received = ::read(outputPipe_, buffer, sizeof buffer);
    if (received <= 0) {
        ::close(outputPipe_);
        outputPipe_ = -1;
        return false;
    }
    output_.append(buffer, static_cast<std::size_t>(received));
    return true;
}

bool OpensslPeer::WaitForOutput(const std::string& text,
                                const std::function<void()>& whileWaiting) {
    const auto deadline = std::chrono::steady_clock::now() + PeerWaitLimit;
    while (output_.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline || !ReadSome(whileWaiting ? 5 : 100))
            return output_.find(text) != std::string::npos;
        if (whileWaiting)
            whileWaiting();
    }
    return true;
}

std::string OpensslPeer::WaitForLine(const std::string& prefix) {
    const auto deadline = std::chrono::steady_clock::now() + PeerWaitLimit;
    for (;;) {
        const auto start = output_.find(prefix);
        const auto end = start == std::string::npos ? start : output_.find('\n', start);
        if (end != std::string::npos)
            return output_.substr(start + prefix.size(), end - start - prefix.size());
        if (std::chrono::steady_clock::now() > deadline || !ReadSome(100))
            return {};
    }
}

TlsTestServer::TlsTestServer(const TestCertificates& certificates,
                             const std::vector<std::string>& extraArguments)
    : peer_(Joined({"s_server", "-accept", "127.0.0.1:0", "-naccept", "1", "-cert",
                    certificates.ServerCertificate(), "-key", certificates.ServerKey()},
                   extraArguments)) {
    // The tool names the port it got: "ACCEPT 127.0.0.1:40123".
    port_ = std::atoi(peer_.WaitForLine("ACCEPT 127.0.0.1:").c_str());
    if (port_ <= 0)
        throw std::runtime_error("s_server did not start: " + peer_.Output());
}

std::vector<std::string> ClientArguments(int port, const std::string& caFile) {
    return {"s_client", "-connect", "127.0.0.1:" + std::to_string(port), "-CAfile", caFile};
}

TlsClientThread::TlsClientThread(int port, Job job) : socket_(RawSocket::ConnectTo(port)) {
    thread_ = std::thread([this, job = std::move(job)] {
        session_ = ssl_init_client(socket_.Fd(), "");
        if (session_ != 0)
            job(session_, socket_.Fd());
        done_ = true;
    });
}

TlsClientThread::~TlsClientThread() {
    thread_.join();
    if (session_ != 0)
        ssl_cleanup(session_);
}

std::string ReceiveThrough(std::int32_t session, int socket, std::size_t count) {
    std::string received;
    std::array<char, 16384> buffer{};
    const auto deadline = std::chrono::steady_clock::now() + PeerWaitLimit;
    while (received.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::int32_t got = 0;
        while ((got = ssl_recv(session, buffer.data(), static_cast<std::int32_t>(buffer.size()))) >
               0)
            received.append(buffer.data(), static_cast<std::size_t>(got));
        if (got == 0)
            break;
        pollfd entry{socket, POLLIN, 0};
        ::poll(&entry, 1, 100);
    }
    return received;
}

} // namespace ornbrook::test
