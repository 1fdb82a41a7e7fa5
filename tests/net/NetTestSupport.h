#pragma once

#include "net/WinsockApi.h"

#include <cstdint>
#include <functional>
#include <map>
#include <netinet/in.h>
#include <string>
#include <utility>

namespace ornbrook::test {

// Runs the event loop until the condition holds or a generous bound passes.
bool WaitFor(const std::function<bool()>& condition, int boundMs = 20000);
// Runs the event loop for a while (for "nothing more arrives" checks).
void RunEvents(int ms);

std::uint32_t Address(const char* dotted);

// Keeps name lookups off the network: answers from a table and counts lookups.
class FakeNames {
public:
    FakeNames();
    ~FakeNames();
    FakeNames(const FakeNames&) = delete;
    FakeNames& operator=(const FakeNames&) = delete;

    std::map<std::string, std::vector<std::uint32_t>> hosts;
    int lookups = 0;
};

// A plain blocking loopback socket for the far end of a test.
class RawSocket {
public:
    RawSocket() = default;
    explicit RawSocket(int fd) : fd_(fd) {}
    ~RawSocket();
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;
    RawSocket(RawSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    RawSocket& operator=(RawSocket&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }

    static RawSocket ConnectTo(int port);
    static RawSocket ListenOn(int backlog, int* port);
    RawSocket AcceptOne() const;
    void SendAll(const std::string& bytes) const;
    // Reads until `count` bytes came or the peer closed (bounded by a receive time-out).
    std::string Read(std::size_t count) const;
    void Close();
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

sockaddr_in Loopback(int port);

// A loopback port that nothing listens on.
int FreePort();

} // namespace ornbrook::test
