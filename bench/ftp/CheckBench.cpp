// Checks one directory of 10,000 names on pyftpdlib (loopback) with our checker,
// with `ornbrook --check` (check, merge and save of a known URL) and with curl
// (active mode, as ours), each a whole process, alternating over several runs,
// and prints the median time ratios against curl.
#include "tests/fixtures/PyFtpServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Runs the program with its output into a file; the wall time in ms, or -1 on failure.
double TimeProcess(std::vector<std::string> args, const std::string& output) {
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    int status = 1;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0 || ::waitpid(pid, &status, 0) != pid || status != 0)
        return -1;
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

std::string Slurp(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main() {
    constexpr int Names = 10'000;
    constexpr int Runs = 9;
    ornbrook::test::PyFtpServer server;
    for (int i = 0; i < Names; ++i)
        server.AddFile("big/name-" + std::to_string(i) + ".dat");
    const std::string url = server.Url("/big/");
    const std::string output = server.RootDir() + "-bench.out";

    // A program directory of its own, with the URL known: --check then merges and saves.
    const std::string programDir = server.RootDir() + "-program/";
    const std::string ornbrook = programDir + "ornbrook";
    ::mkdir(programDir.c_str(), 0755);
    if (TimeProcess({"/bin/cp", ORNBROOK_EXE, ornbrook}, output) < 0 ||
        TimeProcess({ornbrook, "--add", url}, output) < 0 ||
        TimeProcess({ornbrook, "--refresh"}, output) < 0) {
        std::fprintf(stderr, "bench_ftp_check: cannot prepare ornbrook --check\n");
        return 1;
    }

    std::vector<double> ours, curl, curlMlsd, ratios, ratiosMlsd, program, ratiosProgram;
    for (int run = 0; run <= Runs; ++run) {
        const double a = TimeProcess({ORNBROOK_CHECK_ONCE, url}, output);
        const bool oursOk = Slurp(output) == std::to_string(Names) + "\n";
        const double b = TimeProcess(
            {"/usr/bin/curl", "-s", "--list-only", "--ftp-port", "127.0.0.1", url}, output);
        const std::string listed = Slurp(output);
        const bool curlOk = std::count(listed.begin(), listed.end(), '\n') == Names;
        if (a < 0 || b < 0 || !oursOk || !curlOk) {
            std::fprintf(stderr, "bench_ftp_check: a run failed (ours %s, curl %s)\n",
                         oursOk ? "ok" : "wrong", curlOk ? "ok" : "wrong");
            return 1;
        }
        // The same listing command as ours (pyftpdlib stats every entry for MLSD).
        const double c = TimeProcess(
            {"/usr/bin/curl", "-s", "-X", "MLSD", "--ftp-port", "127.0.0.1", url}, output);
        if (c < 0) {
            std::fprintf(stderr, "bench_ftp_check: curl MLSD failed\n");
            return 1;
        }
        const double d = TimeProcess({ornbrook, "--check"}, output);
        if (d < 0 || Slurp(output) != url + "\nok\n\n") {
            std::fprintf(stderr, "bench_ftp_check: ornbrook --check failed\n");
            return 1;
        }
        if (run == 0)
            continue; // warm-up: page cache, server start
        program.push_back(d);
        ratiosProgram.push_back(d / b);
        ours.push_back(a);
        curl.push_back(b);
        curlMlsd.push_back(c);
        ratios.push_back(a / b);
        ratiosMlsd.push_back(a / c);
    }
    ::unlink(output.c_str());
    std::printf("check of %d names, %d runs: ours median %.1f ms, curl median %.1f ms\n", Names,
                Runs, Median(ours), Median(curl));
    std::printf("median ratio ours/curl: %.2f (goal <= 1.0)\n", Median(ratios));
    std::printf("curl -X MLSD median %.1f ms; median ratio ours/curl-MLSD: %.2f\n",
                Median(curlMlsd), Median(ratiosMlsd));
    std::printf("ornbrook --check median %.1f ms; median ratio ornbrook --check/curl: %.2f\n",
                Median(program), Median(ratiosProgram));
    std::string cleanup = "rm -rf '" + programDir + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
