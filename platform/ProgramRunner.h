#pragma once

#include "base/HandOff.h"
#include "diag/Debug_Modul.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ornbrook {

// How a program run by ProgramRunner ended.
struct ProgramOutcome {
    enum class Ending { Exited, Signalled, TimedOut, NotStarted };
    Ending How = Ending::NotStarted;
    // Exited: the exit status (-1 when it could not be read); Signalled: the
    // signal that ended it.
    int Status = 0;
    // NotStarted: why ("program not found: foo", "not executable: /x/y", ...).
    std::string Reason;
    // The first lines of what it wrote to stdout and stderr (together), without
    // their line breaks, and how many bytes more it wrote (read and dropped).
    std::vector<std::string> Lines;
    std::uint64_t DroppedBytes = 0;
    // TimedOut: the limit it ran into.
    std::chrono::milliseconds Limit{0};

    bool Succeeded() const { return How == Ending::Exited && Status == 0; }
    // For the log: "exited with status 3", "ended by signal SEGV",
    // "ran longer than 60 s and was ended", or the reason it did not start.
    std::string Describe() const;
};

struct ProgramLimits {
    // How long a program may run before its whole process group is ended, and
    // how long the group then has between SIGTERM and SIGKILL (also what a
    // program that ended by itself left in its group).
    std::chrono::milliseconds Limit{60'000};
    std::chrono::milliseconds Grace{2'000};
    // The output kept: the first MaxLines lines, at most MaxBytes bytes.
    std::size_t MaxLines = 5;
    std::size_t MaxBytes = 2'000;
};

// Runs programs for their owner, directly (never through a shell): one at a
// time per key, in the order they were asked for, while programs of different
// keys run side by side. Each runs in a process group of its own with stdin
// from /dev/null, stdout and stderr into one pipe (read all along, so it never
// blocks on a full pipe) and no other inherited descriptor, and is ended with
// its whole group when it runs past the limit; what it leaves in its group is
// ended when it ends, and its end is heard of once none of that lives. A
// program that fails, or cannot be started, stops nothing: the next one runs.
//
// Like CheckPool, what the owner hears of a program is handed over on the
// owner's thread: a worker only queues the news and calls the wake-up
// function; the owner calls Deliver. Every process is waited for, so none is
// left a zombie.
class ProgramRunner final {
public:
    using Id = std::uint64_t;
    using Finished = std::function<void(ProgramOutcome)>;

    explicit ProgramRunner(ProgramLimits limits = {});
    // Closes, and waits for the programs it ends.
    ~ProgramRunner();
    ProgramRunner(const ProgramRunner&) = delete;
    ProgramRunner& operator=(const ProgramRunner&) = delete;

    // Queues arguments[0] with its arguments under key; the program is found
    // on PATH (as it is now) when its turn comes. Owner's thread. Once closed,
    // returns 0 and nothing runs or is heard.
    Id Start(const std::string& key, std::vector<std::string> arguments, Finished finished);

    // Called on a worker thread whenever news waits for Deliver; it must only
    // post to the owner's thread. Once SetWakeUp has returned, the previous
    // function is not running and will not be called again.
    void SetWakeUp(std::function<void()> wakeUp);
    // Runs the Finished callbacks of the programs that have ended, in the order
    // they ended. Owner's thread; a callback may start programs or close.
    void Deliver();
    // For owners without an event loop: waits until news is there or the time
    // is up; true when there is news.
    bool WaitForNews(std::chrono::milliseconds timeout);
    // Delivers news until every program asked for has ended (true) or the
    // deadline has passed (false; the rest go on until Close).
    bool WaitAll(std::chrono::steady_clock::time_point deadline);
    // Programs queued, running, or ended and not yet delivered. Owner's thread.
    std::size_t Outstanding() const { return callbacks_.size(); }

    // Refuses new programs, drops the queued ones and ends the running ones
    // (SIGTERM to the group, SIGKILL after the grace), and returns when they
    // are gone. No callback runs any more.
    void Close();

private:
    struct Job {
        Id JobId = 0;
        std::vector<std::string> Arguments;
        std::optional<std::string> PathVariable;
    };
    struct News {
        Id JobId;
        ProgramOutcome Outcome;
    };

    void Work(std::uint64_t worker, const std::string& key);
    void JoinFinishedWorkers();

    LiveObject live_{"ProgramRunner"};
    const ProgramLimits limits_;
    // Readable once closed: ends every running program's wait.
    int closing_ = -1;

    mutable std::mutex mutex_;
    // The keys that have a worker, with their programs still to run.
    std::map<std::string, std::deque<Job>> queues_;
    // Posted under mutex_, so that nothing is heard once closed.
    HandOff<News> news_;
    std::map<std::uint64_t, std::thread> workers_;
    std::vector<std::uint64_t> finishedWorkers_;
    std::uint64_t lastWorker_ = 0;
    bool closed_ = false;

    // Owner's thread only: the programs not yet delivered.
    std::map<Id, Finished> callbacks_;
    Id lastId_ = 0;
};

} // namespace ornbrook
