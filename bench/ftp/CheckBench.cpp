// Checks one directory of 10,000 names on pyftpdlib (loopback) with our checker,
// with `ornbrook --check` (check, merge and save of a known URL) and with curl
// (active mode, as ours), each a whole process, alternating over several runs,
// and prints the median time ratios against curl.
#include "bench/ftp/ProcessTiming.h"
#include "tests/fixtures/PyFtpServer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace ornbrook::bench;

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
