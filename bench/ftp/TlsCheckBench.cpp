// `ornbrook --check` of a 10,000-name directory over explicit TLS against
// `curl --ssl-reqd` listing the same directory with the same command (NLST),
// both passive, both verifying the certificate, each a whole process,
// alternating over several runs; prints the median ratio.
//
// The server is the project's scripted test server speaking TLS: pyftpdlib
// drops a TLS data connection whose client speaks before the transfer has
// begun, which curl does, and curl 7.88 never starts TLS on an active data
// connection. So the server refuses PORT, and ours lists passive as curl does
// (after one refused PORT, which counts against ours).
#include "bench/ProcessTiming.h"
#include "tests/fixtures/FaultFtpServer.h"
#include "tests/fixtures/TestCertificates.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace ornbrook::bench;
using ornbrook::test::FaultFtpServer;
using ornbrook::test::ServerTls;

int main() {
    constexpr int Names = 10'000;
    constexpr int Runs = 9;
    ornbrook::test::TestCertificates pki;
    const auto issued = pki.Issue("bench", "IP:127.0.0.1");
    std::vector<std::string> names;
    for (int i = 0; i < Names; ++i)
        names.push_back("name-" + std::to_string(i) + ".dat");
    using Session = FaultFtpServer::Session;
    FaultFtpServer server({{"PORT", [](Session& s, auto&) { s.Reply("500 passive only"); }}}, names,
                          {ServerTls::Mode::Explicit, issued.CertificateFile, issued.KeyFile});
    const std::string url = server.Url("/big/");
    const std::string curlUrl = "ftp://127.0.0.1:" + std::to_string(server.Port()) + "/big/";

    // A program directory of its own: the certificate trusted with --trust (the
    // test CA is no system CA), the URL known, so --check merges and saves.
    char pattern[] = "/tmp/ornbrook-tls-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        return 1;
    const std::string programDir = std::string(pattern) + "/";
    const std::string ornbrook = programDir + "ornbrook";
    const std::string output = programDir + "bench.out";
    if (TimeProcess({"/bin/cp", ORNBROOK_EXE, ornbrook}, output) < 0 ||
        TimeProcess({ornbrook, "--trust", url}, output) < 0 ||
        TimeProcess({ornbrook, "--add", url}, output) < 0 ||
        TimeProcess({ornbrook, "--refresh"}, output) < 0) {
        std::fprintf(stderr, "bench_ftp_tls_check: cannot prepare ornbrook --check\n");
        return 1;
    }

    std::vector<double> ours, curl, ratios;
    for (int run = 0; run <= Runs; ++run) {
        const double a = TimeProcess({ornbrook, "--check"}, output);
        const bool oursOk = Slurp(output) == url + "\nok\n\n";
        const double b = TimeProcess(
            {"/usr/bin/curl", "-s", "--ssl-reqd", "--cacert", pki.CaFile(), "--list-only", curlUrl},
            output);
        const std::string listed = Slurp(output);
        const bool curlOk = std::count(listed.begin(), listed.end(), '\n') == Names;
        if (a < 0 || b < 0 || !oursOk || !curlOk) {
            std::fprintf(stderr, "bench_ftp_tls_check: a run failed (ours %s, curl %s)\n",
                         oursOk ? "ok" : "wrong", curlOk ? "ok" : "wrong");
            return 1;
        }
        if (run == 0)
            continue; // warm-up
        ours.push_back(a);
        curl.push_back(b);
        ratios.push_back(a / b);
    }
    std::printf("explicit TLS check of %d names, %d runs: ornbrook --check median %.1f ms, "
                "curl --ssl-reqd median %.1f ms\n",
                Names, Runs, Median(ours), Median(curl));
    std::printf("median ratio ornbrook --check/curl: %.2f (goal <= 1.0)\n", Median(ratios));
    const std::string cleanup = "rm -rf '" + programDir + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
