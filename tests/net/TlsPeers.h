#pragma once

#include "tests/fixtures/TestCertificates.h"
#include "tests/net/NetTestSupport.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace ornbrook::test {

// A server certificate for "localhost" / 127.0.0.1 from a CA, a second CA
// that signed nothing here, and a key that belongs to no certificate in use.
struct NetCertificates {
    TestCertificates pki;
    TestCertificates other;
    TestCertificates::Issued server = pki.Issue("localhost", "IP:127.0.0.1,DNS:localhost");
    TestCertificates::Issued foreign = other.Issue("foreign", "DNS:localhost");

    std::string CaFile() const { return pki.CaFile(); }
    std::string OtherCaFile() const { return other.CaFile(); }
    std::string ServerCertificate() const { return server.CertificateFile; }
    std::string ServerKey() const { return server.KeyFile; }
    std::string ForeignKey() const { return foreign.KeyFile; }
};

// One set for the whole test program.
const NetCertificates& SharedCertificates();

// A TLS peer on a thread of this process, through the SSL library: a client of
// a loopback port (verifying against caFile when one is given), or a server
// that accepts one connection on a port of its own. Once the handshake is done
// it runs job with the session and its socket, which stay open until the object
// goes. Unlike a real peer it can stop reading, or put bytes on the wire that
// are no TLS record.
class TlsPeerThread {
public:
    using Job = std::function<void(std::int32_t session, int socket)>;
    TlsPeerThread(int port, Job job, const std::string& caFile = "");
    TlsPeerThread(const std::string& certificate, const std::string& key, Job job);
    ~TlsPeerThread();
    TlsPeerThread(const TlsPeerThread&) = delete;
    TlsPeerThread& operator=(const TlsPeerThread&) = delete;

    // The server's port.
    int Port() const { return port_; }
    // The handshake failed or the job has returned.
    bool Done() const { return done_; }
    bool Connected() const { return session_ != 0; }

private:
    void Run(const std::function<std::int32_t()>& handshake, const Job& job);

    int port_ = 0; // before listener_, which sets it
    RawSocket listener_;
    RawSocket socket_;
    std::atomic<bool> done_{false};
    std::atomic<std::int32_t> session_{0};
    std::thread thread_;
};

// Reads through a session until count bytes came, the peer ended or a
// generous bound passed.
std::string ReceiveThrough(std::int32_t session, int socket, std::size_t count);

} // namespace ornbrook::test
