#pragma once

#include "base/HandOff.h"
#include "diag/Debug_Modul.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace ornbrook {

// The watch list's disk work, off the owner's thread: saves of maindata.dat,
// urlsettings.json and ornbrook.sqlite run on one thread of their own, one
// after another, in the order they were asked for.
//
// Thread contract:
// - Post, Finish, Deliver, SetWakeUp and Pending are called on the owner's
//   thread only (the watch list's: the window's, or a command-line run's).
// - A task runs on the writer's thread and touches only what it owns: the
//   immutable snapshot it was made with (the bytes of a file, the store's
//   changes) and what the owner handed to the writer for good (the store).
//   It never reads or changes the owner's objects.
// - Tasks run in the order they were posted; each has run when Finish returns.
// - A task that throws does not stop the ones after it; its failure (and any
//   notice a task tells) is handed back to the owner's thread: Deliver rethrows
//   the first failure there, so a save error reaches the user as a failed save
//   on the owner's thread always did. The wake-up is called on the writer's
//   thread when news waits and must only post to the owner's thread, which then
//   calls Deliver.
// - The destructor runs every task still queued, then ends the thread: nothing
//   asked for is lost when the owner goes (its failures are then only logged).
class DiskWriter final {
public:
    using Task = std::function<void()>;

    DiskWriter();
    ~DiskWriter();
    DiskWriter(const DiskWriter&) = delete;
    DiskWriter& operator=(const DiskWriter&) = delete;

    void Post(Task task);
    // Waits until every task posted so far has run, then delivers.
    void Finish();
    // Rethrows the first failure heard of since the last Deliver; tells notices.
    void Deliver();
    void SetWakeUp(std::function<void()> wakeUp) { news_.SetWakeUp(std::move(wakeUp)); }
    // Tasks posted and not yet run.
    std::size_t Pending() const;

    // For tasks, on the writer's thread: a line for the user (the store failed
    // and goes on without it), told on the owner's thread by Deliver.
    void Tell(std::string notice);
    // Where Deliver hands notices (the watch list's log and damage notice).
    void SetNoticeTaker(std::function<void(const std::string&)> taker) {
        noticeTaker_ = std::move(taker);
    }

private:
    struct News {
        std::exception_ptr Failure;
        std::string Notice;
    };
    void Work();

    LiveObject live_{"DiskWriter"};
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Task> tasks_;
    std::size_t running_ = 0;
    bool closing_ = false;
    HandOff<News> news_;
    std::function<void(const std::string&)> noticeTaker_;
    // Last: the thread starts once everything it uses is made.
    std::thread thread_;
};

} // namespace ornbrook
