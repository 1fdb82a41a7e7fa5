#include "bench/ProcessTiming.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace ornbrook::bench {

namespace {

// The exit status, or -1 when the program could not run or did not exit.
int Spawn(std::vector<std::string> args, const std::string& output, const std::string& errors,
          double& milliseconds, long* peakKilobytes = nullptr) {
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!errors.empty())
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    int status = 0;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    rusage usage{};
    if (rc != 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status))
        return -1;
    if (peakKilobytes)
        *peakKilobytes = usage.ru_maxrss;
    milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return WEXITSTATUS(status);
}

} // namespace

ProcessRun RunProcess(std::vector<std::string> args, const std::string& scratch,
                      int allowedStatus) {
    ProcessRun run;
    double ms = -1;
    run.Status = Spawn(std::move(args), scratch + ".out", scratch + ".err", ms, &run.PeakKilobytes);
    run.Output = Slurp(scratch + ".out");
    run.Errors = Slurp(scratch + ".err");
    if (run.Status >= 0 && run.Status <= allowedStatus)
        run.Milliseconds = ms;
    return run;
}

double TimeProcess(std::vector<std::string> args, const std::string& output) {
    double ms = -1;
    return Spawn(std::move(args), output, {}, ms) == 0 ? ms : -1;
}

std::string Slurp(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

double Median(std::vector<double> values) {
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace ornbrook::bench
