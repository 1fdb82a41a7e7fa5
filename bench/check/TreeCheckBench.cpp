// `ornbrook --check` of a URL watched three levels deep (10 x 10 x 10 = 1,000
// folders of 100 files each, 1,111 folders in all) against a server that
// waits 20 ms before every reply, against `curl --list-only` listing the same
// folders one after another over one connection (told every folder's URL in
// advance, which a watcher cannot be), and against the fewest replies such a
// walk can wait for: the login (greeting, USER, PASS), then for each folder a
// passive data connection (EPSV) and the listing's 150 and 226.
#include "bench/ProcessTiming.h"
#include "model/DataFileFormat.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ornbrook;
using namespace ornbrook::bench;

namespace {

pid_t serverPid = -1;
std::string scratchDir;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_tree_check: %s\n", what.substr(0, 500).c_str());
    if (serverPid > 0)
        ::kill(serverPid, SIGTERM);
    if (!scratchDir.empty())
        std::system(("rm -rf '" + scratchDir + "'").c_str());
    std::exit(1);
}

constexpr int DelayMs = 20;

} // namespace

int main() {
    char pattern[] = "/tmp/ornbrook-tree-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        Fail("no temporary directory");
    const std::string base = pattern;
    scratchDir = base;
    const std::string root = base + "/served";
    ::mkdir(root.c_str(), 0700);
    ::mkdir((root + "/top").c_str(), 0700);
    std::vector<std::string> folders = {"top/"};
    for (int a = 0; a < 10; ++a) {
        const std::string la = "top/a" + std::to_string(a) + "/";
        ::mkdir((root + "/" + la).c_str(), 0700);
        folders.push_back(la);
        for (int b = 0; b < 10; ++b) {
            const std::string lb = la + "b" + std::to_string(b) + "/";
            ::mkdir((root + "/" + lb).c_str(), 0700);
            folders.push_back(lb);
            for (int c = 0; c < 10; ++c) {
                const std::string lc = lb + "c" + std::to_string(c) + "/";
                ::mkdir((root + "/" + lc).c_str(), 0700);
                folders.push_back(lc);
                for (int f = 0; f < 100; ++f)
                    std::ofstream(root + "/" + lc + "img_" + std::to_string(f) + ".jpg");
            }
        }
    }

    const std::string command = "/usr/bin/python3 '" ORNBROOK_SLOW_FTPD "' '" + root + "' " +
                                std::to_string(DelayMs) + " 127.0.0.1 & echo $!";
    FILE* server = ::popen(command.c_str(), "r");
    char line[256];
    char address[64];
    int port = 0;
    if (!server || !std::fgets(line, sizeof line, server))
        Fail("cannot start the server");
    serverPid = std::atoi(line);
    if (!std::fgets(line, sizeof line, server) || std::sscanf(line, "%63s %d", address, &port) != 2)
        Fail("the server did not say where it listens");
    const std::string host = "ftp://127.0.0.1:" + std::to_string(port) + "/";
    const std::string url = host + "top/";

    const std::string programDir = base + "/program";
    ::mkdir(programDir.c_str(), 0700);
    std::string data;
    AppendFrame(data, url, "", {FileEntry{}});
    std::ofstream(programDir + "/maindata.dat", std::ios::binary) << data;
    // Files are reported at once, not after their upload has held still.
    std::ofstream(programDir + "/settle.dat") << "0\r\n";
    const std::string ornbrook = programDir + "/ornbrook";
    const std::string scratch = programDir + "/out";
    if (TimeProcess({"/bin/cp", ORNBROOK_EXE, ornbrook}, scratch) < 0 ||
        TimeProcess({ornbrook, "--set", "1", "depth=3"}, scratch) < 0)
        Fail("cannot prepare ornbrook");

    // The first check finds the whole tree; after a refresh the second finds
    // it again, unchanged.
    const ProcessRun first = RunProcess({ornbrook, "--check"}, scratch);
    const ProcessRun listed = RunProcess({ornbrook, "--list"}, scratch);
    if (first.Milliseconds < 0 || listed.Output.find("101110 new") == std::string::npos)
        Fail("the tree was not found whole: " + listed.Output + first.Errors);
    if (RunProcess({ornbrook, "--refresh"}, scratch).Milliseconds < 0)
        Fail("ornbrook --refresh failed");
    const ProcessRun again = RunProcess({ornbrook, "--check"}, scratch);
    if (again.Milliseconds < 0 || again.Output != url + "\nok\n\n")
        Fail("ornbrook --check failed: " + again.Output + again.Errors);

    std::vector<std::string> curlArgs = {"/usr/bin/curl", "-s", "--list-only", "--ftp-method",
                                         "singlecwd"};
    for (const std::string& folder : folders)
        curlArgs.push_back(host + folder);
    const ProcessRun curl = RunProcess(curlArgs, scratch);
    if (curl.Milliseconds < 0)
        Fail("curl failed: " + curl.Errors);

    const double floorMs = (3.0 + 3.0 * static_cast<double>(folders.size())) * DelayMs;
    std::printf("tree of %zu folders, 100,000 files, %d ms per reply:\n", folders.size(), DelayMs);
    std::printf("  ornbrook --check, first  %.1f s (%.1f ms per folder)\n",
                first.Milliseconds / 1000, first.Milliseconds / folders.size());
    std::printf("  ornbrook --check, again  %.1f s (%.1f ms per folder)\n",
                again.Milliseconds / 1000, again.Milliseconds / folders.size());
    std::printf("  curl --list-only, folders named in advance  %.1f s\n", curl.Milliseconds / 1000);
    std::printf("  fewest replies (3 + 3 per folder)  %.1f s\n", floorMs / 1000);
    std::printf("  ratio ornbrook/curl %.2f, ornbrook/fewest %.2f\n",
                again.Milliseconds / curl.Milliseconds, again.Milliseconds / floorMs);

    ::kill(serverPid, SIGTERM);
    ::pclose(server);
    const std::string cleanup = "rm -rf '" + base + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
