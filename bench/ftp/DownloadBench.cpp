// Downloads from pyftpdlib on loopback against curl: one 200 MB file (curl -O)
// and 1,000 files of 10 kB (one curl process per file, as a script would run
// it). Ours runs the check engine's download jobs in this process, with the
// pool's default limits; prints the times and the ratios.
#include "bench/ProcessTiming.h"
#include "check/CheckPool.h"
#include "check/DownloadJob.h"
#include "tests/fixtures/PyFtpServer.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

using namespace ornbrook;
using namespace ornbrook::bench;
using ornbrook::test::PyFtpServer;
namespace fs = std::filesystem;

namespace {

double Ours(const std::string& url, const std::vector<std::string>& names, std::uint64_t size,
            const std::string& folder) {
    const auto begin = std::chrono::steady_clock::now();
    CheckPool pool;
    int failed = 0;
    for (const std::string& name : names) {
        DownloadRequest request{Url(url), {name}, size};
        request.Folder = folder;
        CheckPool::DownloadCallbacks callbacks;
        callbacks.Finished = [&failed](const Result<SavedFile>& r) {
            if (!r) {
                ++failed;
                std::fprintf(stderr, "%s\n", r.error().Message.c_str());
            }
        };
        pool.StartDownload(std::make_shared<const DownloadJob>(std::move(request)),
                           std::move(callbacks));
    }
    while (pool.OutstandingDownloads() > 0) {
        pool.WaitForNews(std::chrono::milliseconds(50));
        pool.Deliver();
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
    return failed > 0 ? -1 : ms;
}

double Curl(const std::string& base, const std::vector<std::string>& names,
            const std::string& folder, const std::string& output) {
    const auto begin = std::chrono::steady_clock::now();
    for (const std::string& name : names) {
        if (TimeProcess(
                {"/bin/sh", "-c", "cd '" + folder + "' && curl -s -S -O '" + base + name + "'"},
                output) < 0)
            return -1;
    }
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
        .count();
}

} // namespace

int main() {
    PyFtpServer server;
    const std::string scratch =
        fs::temp_directory_path() / ("ornbrook-dl-bench-" + std::to_string(::getpid()));
    fs::create_directories(scratch);
    const std::string output = scratch + "/curl.out";
    const std::string curlBase = "ftp://127.0.0.1:" + std::to_string(server.Port());

    // One big file.
    constexpr std::uint64_t Big = 200ull * 1024 * 1024;
    {
        std::string chunk(1024 * 1024, '\0');
        for (std::size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = static_cast<char>(i * 2654435761u >> 13);
        std::string content;
        content.reserve(Big);
        while (content.size() < Big)
            content += chunk;
        server.AddFile("big/big.bin", content);
    }
    std::vector<double> ours, curl;
    for (int run = 0; run < 3; ++run) {
        const std::string a = scratch + "/ours" + std::to_string(run);
        const std::string b = scratch + "/curl" + std::to_string(run);
        fs::create_directories(a);
        fs::create_directories(b);
        ours.push_back(Ours(server.Url("/big/"), {"big.bin"}, Big, a));
        curl.push_back(Curl(curlBase + "/big/", {"big.bin"}, b, output));
        if (fs::file_size(a + "/big.bin") != Big || fs::file_size(b + "/big.bin") != Big)
            std::fprintf(stderr, "a download is short\n");
        fs::remove_all(a);
        fs::remove_all(b);
    }
    std::printf("200 MB file: ours %.0f ms, curl -O %.0f ms, ratio %.2f (median of 3)\n",
                Median(ours), Median(curl), Median(ours) / Median(curl));

    // Many small files.
    constexpr int Many = 1000;
    std::vector<std::string> names;
    const std::string small(10 * 1024, 'x');
    for (int i = 0; i < Many; ++i) {
        names.push_back("file-" + std::to_string(i) + ".dat");
        server.AddFile("many/" + names.back(), small);
    }
    fs::create_directories(scratch + "/ours-many");
    fs::create_directories(scratch + "/curl-many");
    const double oursMany = Ours(server.Url("/many/"), names, small.size(), scratch + "/ours-many");
    const double curlMany = Curl(curlBase + "/many/", names, scratch + "/curl-many", output);
    std::printf(
        "1,000 files of 10 kB: ours %.0f ms, curl (a process per file) %.0f ms, ratio %.2f\n",
        oursMany, curlMany, oursMany / curlMany);
    fs::remove_all(scratch);
    return 0;
}
