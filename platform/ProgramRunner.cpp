#include "platform/ProgramRunner.h"

#include "base/Text_Code.h"
#include "platform/ProgramCommand.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace ornbrook {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string ErrorText(int error) {
    return LowerCase(std::strerror(error));
}

class Descriptor final {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { Reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }
    void Reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// Keeps the first lines of a program's output and counts what comes after.
class OutputKeeper final {
public:
    OutputKeeper(std::size_t maxLines, std::size_t maxBytes)
        : maxLines_(maxLines), maxBytes_(maxBytes), full_(maxLines == 0 || maxBytes == 0) {}

    void Take(const char* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            if (full_) {
                dropped_ += size - i;
                return;
            }
            if (data[i] == '\n')
                EndLine();
            else
                line_ += data[i];
            if (++kept_ >= maxBytes_)
                full_ = true;
        }
    }

    void HandTo(ProgramOutcome& outcome) {
        if (!line_.empty())
            EndLine();
        outcome.Lines = std::move(lines_);
        outcome.DroppedBytes = dropped_;
    }

private:
    void EndLine() {
        if (!line_.empty() && line_.back() == '\r')
            line_.pop_back();
        lines_.push_back(std::exchange(line_, {}));
        if (lines_.size() >= maxLines_)
            full_ = true;
    }

    const std::size_t maxLines_;
    const std::size_t maxBytes_;
    std::vector<std::string> lines_;
    std::string line_;
    std::size_t kept_ = 0;
    std::uint64_t dropped_ = 0;
    bool full_;
};

pid_t Spawn(const std::string& path, const std::vector<std::string>& arguments, int output,
            int& error) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    // The pipe first: it may itself sit on 0, 1 or 2 when we were started
    // without them.
    ::posix_spawn_file_actions_adddup2(&actions, output, 1);
    ::posix_spawn_file_actions_adddup2(&actions, output, 2);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // Whatever else this process holds stays here, close-on-exec or not.
    ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    // A group of its own, so that ending it ends what it started; and signals
    // as a fresh program expects them (we may block or ignore some, SIGPIPE).
    sigset_t none;
    sigset_t all;
    ::sigemptyset(&none);
    ::sigfillset(&all);
    ::sigdelset(&all, SIGKILL);
    ::sigdelset(&all, SIGSTOP);
    ::posix_spawnattr_setpgroup(&attributes, 0);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                                POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    error = ::posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

// Whether the child has ended, without waiting for it yet: until it is waited
// for, its pid (and so its group's id) cannot be taken by another process.
bool HasEnded(pid_t pid) {
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        if (errno != EINTR)
            return true;
    }
    return info.si_pid != 0;
}

// The wait status, or -1 when there is none to read.
int Reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

// Readable when the child ends (close-on-exec by itself); without it the
// wait for a program looks every 50 ms.
int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    static_cast<void>(pid);
    return -1;
#endif
}

// One started program, from its start until it has been waited for.
class RunningProgram final {
public:
    enum class Wake { Ended, Closing, Deadline };

    RunningProgram(pid_t pid, int output, OutputKeeper& keeper)
        : pid_(pid), output_(output), pidfd_(OpenPidFd(pid)), keeper_(keeper) {
        ::fcntl(output_.Get(), F_SETFL, O_NONBLOCK);
    }
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    // Reads the output until the child ends, stop is readable, or the deadline.
    Wake WaitUntil(Clock::time_point deadline, int stop) {
        for (;;) {
            if (HasEnded(pid_))
                return Wake::Ended;
            const auto now = Clock::now();
            if (now >= deadline)
                return Wake::Deadline;
            auto wait = std::chrono::ceil<milliseconds>(deadline - now).count();
            if (pidfd_.Get() < 0)
                wait = std::min<decltype(wait)>(wait, 50);
            pollfd fds[] = {
                {output_.Get(), POLLIN, 0}, {pidfd_.Get(), POLLIN, 0}, {stop, POLLIN, 0}};
            const int ready =
                ::poll(fds, 3, static_cast<int>(std::min<decltype(wait)>(wait, INT_MAX)));
            if (ready < 0 && errno != EINTR)
                return Wake::Deadline;
            if (fds[0].revents != 0)
                ReadOutput();
            if ((fds[2].revents & POLLIN) != 0)
                return Wake::Closing;
        }
    }

    // Takes what the pipe holds now and stops reading: the child has ended,
    // and what it left in its group is ended without being heard.
    void LastRead() {
        ReadOutput();
        output_.Reset();
    }

private:
    void ReadOutput() {
        // A bounded share per wake-up, so a program that floods its output is
        // still ended on time.
        char buffer[16384];
        for (int reads = 0; reads < 16 && output_.Get() >= 0; ++reads) {
            const ssize_t got = ::read(output_.Get(), buffer, sizeof buffer);
            if (got > 0) {
                keeper_.Take(buffer, static_cast<std::size_t>(got));
            } else if (got < 0 && errno == EINTR) {
                continue;
            } else {
                if (got == 0 || errno != EAGAIN)
                    output_.Reset();
                return;
            }
        }
    }

    const pid_t pid_;
    Descriptor output_;
    Descriptor pidfd_;
    OutputKeeper& keeper_;
};

// Whether a process of the group is still alive. One that has ended but is
// not yet reaped is not: in a container the first process may never reap the
// orphans that come to it.
bool GroupLives(pid_t group) {
    if (::kill(-group, 0) != 0)
        return false; // none left, or none we may end
    DIR* processes = ::opendir("/proc");
    if (!processes)
        return true;
    bool alive = false;
    while (const dirent* entry = ::readdir(processes)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        const std::string file = std::string(entry->d_name) + "/stat";
        const int fd = ::openat(::dirfd(processes), file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        char stat[512];
        const ssize_t got = ::read(fd, stat, sizeof stat - 1);
        ::close(fd);
        if (got <= 0)
            continue;
        stat[got] = '\0';
        // "pid (name) state ppid pgrp ...": the name may hold anything but
        // ends at the last ")".
        const char* after = std::strrchr(stat, ')');
        char state = 0;
        long ppid = 0, pgrp = 0;
        if (after && std::sscanf(after + 1, " %c %ld %ld", &state, &ppid, &pgrp) == 3 &&
            pgrp == group && state != 'Z' && state != 'X') {
            alive = true;
            break;
        }
    }
    ::closedir(processes);
    return alive;
}

// Ends what is left of the group once its leader has been waited for: what
// got SIGTERM has until killAt, then SIGKILL, and then as long again to go.
// While a process of the group lives, its id cannot go to another group.
void EndRestOfGroup(pid_t group, Clock::time_point killAt, milliseconds grace) {
    Clock::time_point giveUpAt = Clock::time_point::max();
    while (GroupLives(group)) {
        const auto now = Clock::now();
        if (now >= giveUpAt)
            return;
        if (now >= killAt && giveUpAt == Clock::time_point::max()) {
            ::kill(-group, SIGKILL);
            giveUpAt = now + grace;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
}

ProgramOutcome RunProgram(const std::vector<std::string>& arguments,
                          const std::optional<std::string>& pathVariable,
                          const ProgramLimits& limits, int closing) {
    ProgramOutcome outcome;
    const auto notStarted = [&outcome](std::string why) {
        outcome.Reason = std::move(why);
        return outcome;
    };
    if (arguments.empty())
        return notStarted("no program is named");
    for (const std::string& argument : arguments) {
        if (argument.find('\0') != std::string::npos)
            return notStarted("an argument holds a NUL byte, which no program can receive");
    }
    const Result<std::string> found =
        FindProgram(arguments.front(), pathVariable ? pathVariable->c_str() : nullptr);
    if (!found)
        return notStarted(found.error().Message);
    const std::string& path = *found;

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return notStarted("cannot start " + path + ": " + ErrorText(errno));
    Descriptor readEnd(ends[0]);
    Descriptor writeEnd(ends[1]);
    int error = 0;
    const pid_t pid = Spawn(path, arguments, writeEnd.Get(), error);
    writeEnd.Reset();
    if (pid < 0) {
        std::string why = "cannot start " + path + ": " + ErrorText(error);
        // The kernel runs only binaries and "#!" scripts; no shell is tried instead.
        if (error == ENOEXEC)
            why += " (a script needs a #! line)";
        return notStarted(std::move(why));
    }

    OutputKeeper keeper(limits.MaxLines, limits.MaxBytes);
    RunningProgram program(pid, readEnd.Release(), keeper);
    const RunningProgram::Wake wake = program.WaitUntil(Clock::now() + limits.Limit, closing);
    // Whether it ended by itself or is ended now, its group goes with it:
    // SIGTERM, and SIGKILL after the grace. The child is not waited for yet,
    // so the group's id is still its own.
    ::kill(-pid, SIGTERM);
    const auto killAt = Clock::now() + limits.Grace;
    if (wake != RunningProgram::Wake::Ended) {
        program.WaitUntil(killAt, -1);
        if (!HasEnded(pid))
            ::kill(-pid, SIGKILL);
    }
    program.LastRead();
    const int status = Reap(pid);
    EndRestOfGroup(pid, killAt, limits.Grace);
    keeper.HandTo(outcome);

    if (wake != RunningProgram::Wake::Ended) {
        outcome.How = ProgramOutcome::Ending::TimedOut;
        outcome.Limit = limits.Limit;
    } else if (status >= 0 && WIFSIGNALED(status)) {
        outcome.How = ProgramOutcome::Ending::Signalled;
        outcome.Status = WTERMSIG(status);
    } else {
        outcome.How = ProgramOutcome::Ending::Exited;
        outcome.Status = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return outcome;
}

std::string SignalName(int signal) {
    if (const char* abbreviation = ::sigabbrev_np(signal))
        return std::string("SIG") + abbreviation;
    return std::to_string(signal);
}

} // namespace

std::string ProgramOutcome::Describe() const {
    switch (How) {
    case Ending::Exited:
        if (Status < 0)
            return "ended; its exit status could not be read";
        return "exited with status " + std::to_string(Status);
    case Ending::Signalled:
        return "ended by signal " + SignalName(Status);
    case Ending::TimedOut:
        return "ran longer than " +
               (Limit.count() % 1000 == 0 ? std::to_string(Limit.count() / 1000) + " s"
                                          : std::to_string(Limit.count()) + " ms") +
               " and was ended";
    case Ending::NotStarted:
        break;
    }
    return Reason;
}

ProgramRunner::ProgramRunner(ProgramLimits limits)
    : limits_(limits), closing_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    // Without it Close could not end a running program.
    if (closing_ < 0)
        throw std::system_error(errno, std::generic_category(), "ProgramRunner");
}

ProgramRunner::~ProgramRunner() {
    Close();
    ::close(closing_);
}

ProgramRunner::Id ProgramRunner::Start(const std::string& key, std::vector<std::string> arguments,
                                       Finished finished) {
    JoinFinishedWorkers();
    // PATH as it is when the program is asked for, read here, not on a worker.
    const char* path = std::getenv("PATH");
    Job job{0, std::move(arguments), path ? std::optional<std::string>(path) : std::nullopt};
    {
        const std::lock_guard lock(mutex_);
        if (closed_)
            return 0;
        job.JobId = ++lastId_;
        const auto [queue, fresh] = queues_.try_emplace(key);
        queue->second.push_back(std::move(job));
        if (fresh) {
            const std::uint64_t worker = ++lastWorker_;
            try {
                workers_.emplace(worker, std::thread([this, worker, key] { Work(worker, key); }));
            } catch (...) {
                queues_.erase(queue);
                throw;
            }
        }
    }
    callbacks_.emplace(lastId_, std::move(finished));
    return lastId_;
}

void ProgramRunner::Work(std::uint64_t worker, const std::string& key) {
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto queue = queues_.find(key);
        if (closed_ || queue->second.empty()) {
            queues_.erase(queue);
            // Once closed, Close holds this worker's thread and joins it.
            if (!closed_)
                finishedWorkers_.push_back(worker);
            return;
        }
        Job job = std::move(queue->second.front());
        queue->second.pop_front();
        lock.unlock();
        ProgramOutcome outcome = RunProgram(job.Arguments, job.PathVariable, limits_, closing_);
        lock.lock();
        if (closed_)
            continue;
        news_.Post(News{job.JobId, std::move(outcome)});
    }
}

void ProgramRunner::JoinFinishedWorkers() {
    std::vector<std::thread> finished;
    {
        const std::lock_guard lock(mutex_);
        for (const std::uint64_t worker : finishedWorkers_) {
            const auto it = workers_.find(worker);
            finished.push_back(std::move(it->second));
            workers_.erase(it);
        }
        finishedWorkers_.clear();
    }
    for (std::thread& thread : finished)
        thread.join();
}

void ProgramRunner::SetWakeUp(std::function<void()> wakeUp) {
    news_.SetWakeUp(std::move(wakeUp));
}

void ProgramRunner::Deliver() {
    JoinFinishedWorkers();
    for (News& item : news_.TakeAll()) {
        // A callback earlier in this batch may have closed the runner.
        const auto it = callbacks_.find(item.JobId);
        if (it == callbacks_.end())
            continue;
        const Finished finished = std::move(it->second);
        callbacks_.erase(it);
        if (finished)
            finished(std::move(item.Outcome));
    }
}

bool ProgramRunner::WaitForNews(milliseconds timeout) {
    return news_.WaitFor(timeout);
}

bool ProgramRunner::WaitAll(Clock::time_point deadline) {
    for (;;) {
        Deliver();
        if (callbacks_.empty())
            return true;
        if (!news_.WaitUntil(deadline))
            return false;
    }
}

void ProgramRunner::Close() {
    std::map<std::uint64_t, std::thread> workers;
    {
        const std::lock_guard lock(mutex_);
        closed_ = true;
        for (auto& entry : queues_)
            entry.second.clear();
        news_.Clear();
        workers.swap(workers_);
        finishedWorkers_.clear();
    }
    // Never read back: every later wait of a running program wakes too.
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(closing_, &one, sizeof one);
    callbacks_.clear();
    for (auto& entry : workers)
        entry.second.join();
}

} // namespace ornbrook
