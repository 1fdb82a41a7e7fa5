// `ornbrook --watch` left alone, measured from outside through /proc:
// 1. 100 URLs on a 300 s interval, nothing due for the whole run: the
//    service's wake-ups (context switches of every thread), CPU time and
//    resident memory. Goal: no wake-up without a due check; under 30 MB.
// 2. The same URLs on a 20 s interval against pyftpdlib: wake-ups of the
//    scheduling thread per due check (goal: at most one), and of all threads.
// The run takes ORNBROOK_BENCH_SECONDS (default 120) for the first part and
// 65 s for the second; the figures are extrapolated to 10 minutes.
#include "model/DataFileFormat.h"
#include "tests/fixtures/PyFtpServer.h"
#include "tests/support/TempProgramDir.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace ornbrook;

namespace {

constexpr int Urls = 100;

// A wake-up is a voluntary context switch: the thread slept and was woken.
// Involuntary ones (preemption on a busy machine) are counted apart.
struct Sample {
    long MainSwitches = 0;
    long AllSwitches = 0;
    long Preempted = 0;
    double CpuSeconds = 0;
    long RssKilobytes = 0;
};

long Field(const std::string& statusFile, const std::string& name) {
    std::ifstream in(statusFile);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(name + ":", 0) == 0)
            return std::stol(line.substr(name.size() + 1));
    }
    return 0;
}

Sample Measure(pid_t pid) {
    Sample s;
    const std::string proc = "/proc/" + std::to_string(pid);
    for (const auto& task : std::filesystem::directory_iterator(proc + "/task")) {
        const std::string status = task.path().string() + "/status";
        const long switches = Field(status, "voluntary_ctxt_switches");
        s.Preempted += Field(status, "nonvoluntary_ctxt_switches");
        s.AllSwitches += switches;
        if (task.path().filename() == std::to_string(pid))
            s.MainSwitches = switches;
    }
    std::ifstream stat(proc + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i)
        fields >> skip;
    long utime = 0, stime = 0;
    fields >> utime >> stime;
    s.CpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    s.RssKilobytes = Field(proc + "/status", "VmRSS");
    return s;
}

pid_t StartWatch(const std::string& exe, const std::string& log) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<std::string> args = {exe, "--watch", "-log2"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

std::string Slurp(const std::string& file) {
    std::ifstream in(file);
    return {std::istreambuf_iterator<char>(in), {}};
}

int CountLines(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// Waits until the service says it watches; false when it ended.
bool WaitReady(pid_t pid, const std::string& log) {
    for (int i = 0; i < 600; ++i) {
        if (Slurp(log).find("watching ") != std::string::npos)
            return true;
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

void Stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

} // namespace

int main() {
    const char* given = std::getenv("ORNBROOK_BENCH_SECONDS");
    const int idleSeconds = given ? std::atoi(given) : 120;
    test::PyFtpServer server;
    test::TempProgramDir dir;
    const std::string exe = dir.File("ornbrook");
    std::filesystem::copy_file(ORNBROOK_EXE, exe);
    std::string data;
    for (int u = 0; u < Urls; ++u) {
        const std::string folder = "d" + std::to_string(u);
        server.AddFile(folder + "/old.txt", "x");
        AppendFrame(data, server.Url("/" + folder + "/"), "", {FileEntry{}, {"old.txt", 0}});
    }
    test::WriteBytes(dir.File("maindata.dat"), data);
    const std::string log = dir.File("watch.log");

    // 1. Idle: nothing is due before 301 s.
    test::WriteBytes(dir.File("interval.dat"), "300\r\n");
    pid_t pid = StartWatch(exe, log);
    if (!WaitReady(pid, log)) {
        std::printf("the service did not start:\n%s", Slurp(log).c_str());
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const Sample idleFrom = Measure(pid);
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const Sample idleTo = Measure(pid);
    const long peak = Field("/proc/" + std::to_string(pid) + "/status", "VmHWM");
    Stop(pid);
    const double toTen = 600.0 / idleSeconds;
    std::printf("idle, 100 URLs, 300 s interval, %d s measured (10 min extrapolated):\n",
                idleSeconds);
    std::printf("  wake-ups, main thread: %ld (%.0f per 10 min)\n",
                idleTo.MainSwitches - idleFrom.MainSwitches,
                static_cast<double>(idleTo.MainSwitches - idleFrom.MainSwitches) * toTen);
    std::printf("  wake-ups, all threads: %ld (%.0f per 10 min)\n",
                idleTo.AllSwitches - idleFrom.AllSwitches,
                static_cast<double>(idleTo.AllSwitches - idleFrom.AllSwitches) * toTen);
    std::printf("  CPU time: %.2f s (%.2f s per 10 min)\n", idleTo.CpuSeconds - idleFrom.CpuSeconds,
                (idleTo.CpuSeconds - idleFrom.CpuSeconds) * toTen);
    std::printf("  resident: %ld KB, peak %ld KB (goal under 30 MB)\n", idleTo.RssKilobytes, peak);

    // 2. Due checks: a global run every 21 s.
    test::WriteBytes(dir.File("interval.dat"), "20\r\n");
    pid = StartWatch(exe, log);
    if (!WaitReady(pid, log))
        return 1;
    const Sample busyFrom = Measure(pid);
    constexpr int BusySeconds = 65;
    std::this_thread::sleep_for(std::chrono::seconds(BusySeconds));
    const Sample busyTo = Measure(pid);
    Stop(pid);
    const int checks = CountLines(Slurp(log), "/: ok");
    const long main = busyTo.MainSwitches - busyFrom.MainSwitches;
    std::printf("due checks, 100 URLs, 20 s interval, %d s: %d checks\n", BusySeconds, checks);
    std::printf("  wake-ups, main thread: %ld (%.2f per due check, goal at most 1)\n", main,
                checks > 0 ? static_cast<double>(main) / checks : 0.0);
    std::printf("  wake-ups, all threads: %ld (%.2f per due check, the checks' own work)\n",
                busyTo.AllSwitches - busyFrom.AllSwitches,
                checks > 0 ? static_cast<double>(busyTo.AllSwitches - busyFrom.AllSwitches) / checks
                           : 0.0);
    std::printf("  preempted (not wake-ups): %ld\n", busyTo.Preempted - busyFrom.Preempted);
    std::printf("  CPU time: %.2f s\n", busyTo.CpuSeconds - busyFrom.CpuSeconds);
    return 0;
}
