#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace ornbrook {

// Ends a blocking libssh wait from outside: libssh 0.10 waits for SFTP replies
// without any limit in blocking mode (channel reads use an infinite timeout) and
// spins in non-blocking mode, so neither its timeouts nor polling between calls
// can end a stalled request. A watch thread polls the stop signal and the armed
// wait's deadline and, when either comes, shuts the socket down: every poll
// inside libssh then wakes and its call fails at once.
class SocketWatch final {
public:
    using Clock = std::chrono::steady_clock;

    // How an armed wait was ended by the watch.
    enum class End { None, Stopped, TimedOut };

    SocketWatch() = default;
    ~SocketWatch();
    SocketWatch(const SocketWatch&) = delete;
    SocketWatch& operator=(const SocketWatch&) = delete;

    // Watches the socket (a duplicate of it is kept, so the number stays ours
    // whatever libssh does with its own) and the stop descriptor (-1 for none).
    // False with errno when the thread or descriptors could not be made.
    bool Start(int socketFd, int stopFd);
    // One more socket to shut down with the first (the SSH agent's); false
    // with errno when it cannot be watched.
    bool Also(int socketFd);
    // Joins the thread and lets the sockets go; Start may follow again.
    void Finish();
    // The stop descriptor of the wait's owner for the waits that follow (a kept
    // session serves one check after another).
    void SetStop(int stopFd);

    // A wait begins: it is cut at `until`, or at once when stopped. False when
    // the sockets are cut already: no wait may begin on them (libssh would
    // wait on a dead socket for as long as its own timeout says).
    bool Arm(Clock::time_point until);
    // The wait is over; how the watch ended the connection, if it did.
    End Disarm();
    // The sockets were shut down: the connection is unusable.
    bool WasCut() const;

private:
    void Run();
    void Wake();
    void CutLocked(End why);

    mutable std::mutex mutex_;
    std::thread thread_;
    std::vector<int> sockets_;
    int wake_ = -1;
    int stop_ = -1;
    bool stopSeen_ = false;
    bool quit_ = false;
    bool armed_ = false;
    bool cut_ = false;
    End end_ = End::None;
    Clock::time_point until_ = Clock::time_point::max();
    // The deadline the thread sleeps towards; an earlier one must wake it.
    Clock::time_point sleepingUntil_ = Clock::time_point::max();
};

} // namespace ornbrook
