#pragma once

#include "tests/net/NetTestSupport.h"

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace ornbrook::test {

// A CA, a second CA that signed nothing here, and a server certificate for
// "localhost" / 127.0.0.1 signed by the first, made by the openssl tool in a
// temporary directory that goes away with the object.
class TestCertificates {
public:
    TestCertificates();
    ~TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    std::string CaFile() const { return dir_ + "/ca.pem"; }
    std::string OtherCaFile() const { return dir_ + "/other-ca.pem"; }
    std::string ServerCertificate() const { return dir_ + "/server.pem"; }
    std::string ServerKey() const { return dir_ + "/server.key"; }
    // A valid key that does not belong to the server certificate.
    std::string ForeignKey() const { return dir_ + "/other-ca.key"; }
    const std::string& Dir() const { return dir_; }

private:
    std::string dir_;
};

// One set for the whole test program: making them costs a few tool runs.
const TestCertificates& SharedCertificates();

// One run of the openssl tool (s_server, s_client) with its input and merged
// output on pipes. Stopped and reaped when the object goes.
class OpensslPeer {
public:
    explicit OpensslPeer(const std::vector<std::string>& arguments);
    ~OpensslPeer();
    OpensslPeer(const OpensslPeer&) = delete;
    OpensslPeer& operator=(const OpensslPeer&) = delete;

    void Write(const std::string& text);
    void CloseInput();
    // Reads output until it holds text; whileWaiting runs between short waits
    // (an event loop to keep going). False when the peer ends first or after a
    // generous bound, so a hung peer fails a test instead of hanging it.
    bool WaitForOutput(const std::string& text,
                       const std::function<void()>& whileWaiting = nullptr);
    // The rest of the first output line that starts with prefix, once the line
    // is complete; empty when none comes.
    std::string WaitForLine(const std::string& prefix);
    const std::string& Output() const { return output_; }

private:
    bool ReadSome(int waitMs);

    pid_t pid_ = -1;
    int input_ = -1;
    int outputPipe_ = -1;
    std::string output_;
};

// An s_server on a free loopback port with the test server certificate,
// serving one connection.
class TlsTestServer {
public:
    explicit TlsTestServer(const TestCertificates& certificates,
                           const std::vector<std::string>& extraArguments = {});
    int Port() const { return port_; }
    OpensslPeer& Peer() { return peer_; }

private:
    OpensslPeer peer_;
    int port_ = 0;
};

// An s_client connecting to a loopback port, verifying against caFile.
std::vector<std::string> ClientArguments(int port, const std::string& caFile);

// A TLS client on a thread of this process, through the SSL library: connects
// to a loopback port, completes the handshake and runs job with the session
// and its socket, which stay open until the object goes. Unlike s_client it
// can stop reading, or put bytes on the wire that are no TLS record.
class TlsClientThread {
public:
    using Job = std::function<void(std::int32_t session, int socket)>;
    TlsClientThread(int port, Job job);
    ~TlsClientThread();
    TlsClientThread(const TlsClientThread&) = delete;
    TlsClientThread& operator=(const TlsClientThread&) = delete;

    // The handshake failed or the job has returned.
    bool Done() const { return done_; }
    bool Connected() const { return session_ != 0; }

private:
    RawSocket socket_;
    std::atomic<bool> done_{false};
    std::atomic<std::int32_t> session_{0};
    std::thread thread_;
};

// Reads through a session until count bytes came, the peer ended or a
// generous bound passed.
std::string ReceiveThrough(std::int32_t session, int socket, std::size_t count);

} // namespace ornbrook::test
