#include "sftp/SocketWatch.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ornbrook {

namespace {

int MillisecondsUntil(SocketWatch::Clock::time_point until) {
    if (until == SocketWatch::Clock::time_point::max())
        return -1;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(until - SocketWatch::Clock::now());
    return static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, INT_MAX));
}

} // namespace

SocketWatch::~SocketWatch() {
    Finish();
}

bool SocketWatch::Start(int socketFd, int stopFd) {
    Finish();
    wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_ < 0 || !Also(socketFd)) {
        const int error = errno;
        Finish();
        errno = error;
        return false;
    }
    stop_ = stopFd;
    stopSeen_ = quit_ = armed_ = cut_ = false;
    end_ = End::None;
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        Finish();
        errno = EAGAIN;
        return false;
    }
    return true;
}

bool SocketWatch::Also(int socketFd) {
    const int copy = ::fcntl(socketFd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return false;
    const std::lock_guard lock(mutex_);
    sockets_.push_back(copy);
    if (cut_)
        ::shutdown(copy, SHUT_RDWR);
    return true;
}

void SocketWatch::Finish() {
    if (thread_.joinable()) {
        {
            const std::lock_guard lock(mutex_);
            quit_ = true;
        }
        Wake();
        thread_.join();
    }
    for (const int fd : sockets_)
        ::close(fd);
    sockets_.clear();
    if (wake_ >= 0)
        ::close(wake_);
    wake_ = -1;
    armed_ = false;
}

void SocketWatch::SetStop(int stopFd) {
    {
        const std::lock_guard lock(mutex_);
        if (stop_ == stopFd)
            return;
        stop_ = stopFd;
        stopSeen_ = false;
    }
    Wake();
}

bool SocketWatch::Arm(Clock::time_point until) {
    bool wake = false;
    {
        const std::lock_guard lock(mutex_);
        if (cut_ || sockets_.empty())
            return false;
        armed_ = true;
        until_ = until;
        if (stopSeen_)
            CutLocked(End::Stopped);
        wake = until < sleepingUntil_;
    }
    if (wake)
        Wake();
    return true;
}

SocketWatch::End SocketWatch::Disarm() {
    const std::lock_guard lock(mutex_);
    armed_ = false;
    return cut_ ? end_ : End::None;
}

bool SocketWatch::WasCut() const {
    const std::lock_guard lock(mutex_);
    return cut_;
}

void SocketWatch::Wake() {
    if (wake_ < 0)
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof one);
}

void SocketWatch::CutLocked(End why) {
    for (const int fd : sockets_)
        ::shutdown(fd, SHUT_RDWR);
    cut_ = true;
    end_ = why;
}

void SocketWatch::Run() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        // A stop descriptor stays readable once stopped: it is polled until seen,
        // then remembered, so the thread never spins on it.
        const int stop = stopSeen_ ? -1 : stop_;
        sleepingUntil_ = armed_ && !cut_ ? until_ : Clock::time_point::max();
        const int timeout = MillisecondsUntil(sleepingUntil_);
        lock.unlock();
        pollfd p[2] = {{wake_, POLLIN, 0}, {stop, POLLIN, 0}};
        const int rc = ::poll(p, 2, timeout);
        lock.lock();
        if (rc > 0 && (p[0].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto read = ::read(wake_, &count, sizeof count);
        }
        if (rc > 0 && stop >= 0 && stop == stop_ && p[1].revents != 0)
            stopSeen_ = true;
        if (armed_ && !cut_) {
            if (stopSeen_)
                CutLocked(End::Stopped);
            else if (Clock::now() >= until_)
                CutLocked(End::TimedOut);
        }
    }
}

} // namespace ornbrook
