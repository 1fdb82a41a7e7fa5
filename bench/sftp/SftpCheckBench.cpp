// `ornbrook --check` of a 10,000-name folder over SFTP against OpenSSH's
// `sftp -b` listing the same folder (`ls -l`, which asks for the same
// attributes ours reads), both logging in with the same key to the same
// server on loopback, each a whole process, alternating over several runs;
// prints the median ratio. The server is the asyncssh test server.
#include "bench/ProcessTiming.h"
#include "tests/fixtures/SftpTestServer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using namespace ornbrook::bench;
using ornbrook::test::SftpTestServer;

int main() {
    constexpr int Names = 10'000;
    constexpr int Runs = 9;
    // A home of its own: one key, no agent, the server's key in known_hosts.
    const std::string work = ornbrook::test::MakeTempFolder("ornbrook-sftp-bench");
    const std::string home = work + "/home";
    const std::string key = home + "/.ssh/id_ed25519";
    const std::string scratch = work + "/scratch";
    if (std::system(
            ("mkdir -p '" + home + "/.ssh' && ssh-keygen -q -t ed25519 -N '' -f '" + key + "'")
                .c_str()) != 0)
        return 1;
    ::setenv("HOME", home.c_str(), 1);
    ::unsetenv("SSH_AUTH_SOCK");
    std::string publicKey;
    std::getline(std::ifstream(key + ".pub"), publicKey);
    SftpTestServer server(publicKey + "\n");
    for (int i = 0; i < Names; ++i)
        server.AddFile("big/file-" + std::to_string(i) + ".dat");
    const std::string port = std::to_string(server.Port());
    std::string hostKey;
    std::getline(std::ifstream(server.HostPublicKeyFile()), hostKey);
    std::ofstream(home + "/.ssh/known_hosts") << "[127.0.0.1]:" << port << ' ' << hostKey << '\n';
    std::ofstream(work + "/batch") << "ls -l /big\n";

    // A program directory of its own with the URL known, so --check merges and saves.
    const std::string ornbrook = work + "/ornbrook";
    const std::string url = "sftp://watcher@127.0.0.1:" + port + "/big/";
    if (TimeProcess({"/bin/cp", ORNBROOK_EXE, ornbrook}, scratch) < 0 ||
        TimeProcess({ornbrook, "--add", url}, scratch) < 0 ||
        TimeProcess({ornbrook, "--refresh"}, scratch) < 0) {
        std::fprintf(stderr, "bench_sftp_check: cannot prepare ornbrook --check: %s\n",
                     Slurp(scratch).c_str());
        return 1;
    }
    const std::vector<std::string> sftp = {
        "/usr/bin/sftp", "-q", "-b", work + "/batch", "-i", key, "-P", port,
        // OpenSSH takes its home from the password database, not $HOME.
        "-o", "UserKnownHostsFile=" + home + "/.ssh/known_hosts", "-o", "BatchMode=yes",
        "watcher@127.0.0.1"};

    std::vector<double> ours, theirs, ratios;
    for (int run = 0; run <= Runs; ++run) {
        const double a = TimeProcess({ornbrook, "--check"}, scratch);
        const bool oursOk = Slurp(scratch) == url + "\nok\n\n";
        const double b = TimeProcess(sftp, scratch);
        const std::string listed = Slurp(scratch);
        const bool theirsOk = std::count(listed.begin(), listed.end(), '\n') >= Names;
        if (a < 0 || b < 0 || !oursOk || !theirsOk) {
            std::fprintf(stderr, "bench_sftp_check: a run failed (ours %s, sftp %s)\n",
                         oursOk ? "ok" : "wrong", theirsOk ? "ok" : "wrong");
            return 1;
        }
        if (run == 0)
            continue; // warm-up
        ours.push_back(a);
        theirs.push_back(b);
        ratios.push_back(a / b);
    }
    std::printf("SFTP check of %d names, %d runs: ornbrook --check median %.1f ms, "
                "sftp -b median %.1f ms\n",
                Names, Runs, Median(ours), Median(theirs));
    std::printf("median ratio ornbrook --check/sftp -b: %.2f (goal <= 1.0)\n", Median(ratios));
    return std::system(("rm -rf '" + work + "'").c_str()) == 0 ? 0 : 1;
}
