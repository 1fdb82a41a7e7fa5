#include "sftp/SshConnect.h"

#include "base/Text_Code.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ornbrook {

namespace {

using Clock = std::chrono::steady_clock;

struct Address {
    sockaddr_storage Storage{};
    socklen_t Length = 0;
};

// A lookup on a thread of its own that may outlive an abandoned wait: it shares
// this record, and the eventfd says that the answer is there.
struct Lookup {
    std::mutex Mutex;
    int Rc = EAI_AGAIN;
    std::vector<Address> Found;
    int Done = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ~Lookup() {
        if (Done >= 0)
            ::close(Done);
    }
};

int Resolve(const std::string& host, const std::string& service, int flags,
            std::vector<Address>& found) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (rc != 0)
        return rc;
    for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        Address a;
        std::memcpy(&a.Storage, ai->ai_addr, ai->ai_addrlen);
        a.Length = ai->ai_addrlen;
        found.push_back(a);
    }
    ::freeaddrinfo(list);
    return 0;
}

int MillisecondsUntil(Clock::time_point until) {
    if (until == Clock::time_point::max())
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
    return static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, INT_MAX));
}

// 1 ready, 0 timed out, -1 stopped.
int Wait(int fd, short events, Clock::time_point until, int stopFd) {
    for (;;) {
        pollfd p[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
        const int rc = ::poll(p, 2, MillisecondsUntil(until));
        if (rc > 0)
            return p[1].revents != 0 ? -1 : 1;
        if (rc == 0 || errno != EINTR)
            return 0;
    }
}

std::string ConnectProblem(int error, std::chrono::milliseconds step) {
    switch (error) {
    case ECONNREFUSED:
        return "connection refused";
    case ETIMEDOUT:
        return "no answer in " + LengthText(step);
    case EHOSTUNREACH:
        return "host unreachable";
    case ENETUNREACH:
        return "network unreachable";
    default:
        return LowerCase(std::strerror(error));
    }
}

} // namespace

std::string LengthText(std::chrono::milliseconds length) {
    if (length.count() % 1000 != 0)
        return std::to_string(length.count()) + " ms";
    return std::to_string(length.count() / 1000) + " s";
}

int ConnectTcp(const std::string& host, std::uint16_t port, Clock::time_point until, int stopFd,
               std::chrono::milliseconds stepLength, std::string& problem) {
    const std::string service = std::to_string(port);
    std::vector<Address> addresses;
    // An address written as such needs no resolver and no thread.
    if (Resolve(host, service, AI_NUMERICHOST, addresses) != 0 || addresses.empty()) {
        addresses.clear();
        auto lookup = std::make_shared<Lookup>();
        if (lookup->Done < 0) {
            problem = "unknown host";
            return -1;
        }
        try {
            std::thread([lookup, host, service] {
                std::vector<Address> found;
                const int rc = Resolve(host, service, 0, found);
                const std::lock_guard lock(lookup->Mutex);
                lookup->Rc = rc;
                lookup->Found = std::move(found);
                const std::uint64_t one = 1;
                [[maybe_unused]] const auto written = ::write(lookup->Done, &one, sizeof one);
            }).detach();
        } catch (const std::system_error&) {
            problem = "name lookup failed, try later";
            return -1;
        }
        const int waited = Wait(lookup->Done, POLLIN, until, stopFd);
        if (waited <= 0) {
            problem = waited < 0 ? "stopped" : "name lookup timed out";
            return -1;
        }
        const std::lock_guard lock(lookup->Mutex);
        if (lookup->Rc != 0 || lookup->Found.empty()) {
            problem = lookup->Rc == EAI_AGAIN ? "name lookup failed, try later" : "unknown host";
            return -1;
        }
        addresses = std::move(lookup->Found);
    }

    int error = 0;
    for (const Address& a : addresses) {
        const int fd = ::socket(a.Storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = errno;
            continue;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&a.Storage), a.Length) == 0)
            return fd;
        error = errno;
        if (error == EINPROGRESS) {
            const int waited = Wait(fd, POLLOUT, until, stopFd);
            if (waited < 0) {
                ::close(fd);
                problem = "stopped";
                return -1;
            }
            socklen_t length = sizeof error;
            if (waited == 0)
                error = ETIMEDOUT;
            else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                error = errno;
            if (error == 0)
                return fd;
        }
        ::close(fd);
        if (Clock::now() >= until)
            break;
    }
    problem = ConnectProblem(error, stepLength);
    return -1;
}

} // namespace ornbrook
