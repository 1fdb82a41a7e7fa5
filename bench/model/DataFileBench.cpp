// The data file at scale, measured side by side in one run:
// 1. LoadData of 100 URLs x 10,000 names against a plain read of the same bytes,
//    and SaveData against a plain write of them flushed to the disk.
// 2. The peak memory of `ornbrook --list` on that file against its size.
// 3. `--refresh` of 100 URLs x 2,000 names: saves counted through the file
//    layer, and the whole process against a plain durable write of its bytes.
// 4. `--check` of 20 URLs x 2,000 names against pyftpdlib: the first finds
//    everything new and saves; after a refresh, one that changes nothing must
//    not write the data file at all.
#include "bench/ProcessTiming.h"
#include "model/DataFileFormat.h"
#include "model/HeadlessCommands.h"
#include "model/MainInterface.h"
#include "tests/fixtures/PyFtpServer.h"
#include "tests/support/SaveCount.h"
#include "tests/support/TempProgramDir.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ornbrook;
using namespace ornbrook::bench;

namespace {

double Seconds(const std::function<void()>& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Best of runs, the two taken in turns so that both see the same machine.
std::pair<double, double> BestOfBoth(int runs, const std::function<void()>& a,
                                     const std::function<void()>& b) {
    double bestA = 1e9, bestB = 1e9;
    for (int i = 0; i < runs; ++i) {
        bestA = std::min(bestA, Seconds(a));
        bestB = std::min(bestB, Seconds(b));
    }
    return {bestA, bestB};
}

// Writes a watch list of urls URLs with names entries each, one frame at a time
// (so that writing it leaves this process small); returns its size.
std::size_t WriteWatchList(const std::string& fileName, int urls, int names) {
    std::FILE* out = std::fopen(fileName.c_str(), "wb");
    std::size_t size = 0;
    for (int u = 0; u < urls; ++u) {
        std::vector<FileEntry> entries{FileEntry{}};
        for (int i = 0; i < names; ++i)
            entries.push_back(
                FileEntry{"some-longer-file-name-" + std::to_string(i) + ".tar.gz", i % 3});
        std::string frame;
        AppendFrame(frame, "ftp://server" + std::to_string(u) + ".example.org/pub/", "", entries);
        std::fwrite(frame.data(), 1, frame.size(), out);
        size += frame.size();
    }
    std::fclose(out);
    return size;
}

// Reads the whole file into buffer, which is grown to the file's size.
void PlainRead(const std::string& fileName, std::string& buffer) {
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    ::fstat(fd, &info);
    buffer.resize(static_cast<std::size_t>(info.st_size));
    for (std::size_t at = 0; at < buffer.size();) {
        const ssize_t n = ::read(fd, buffer.data() + at, buffer.size() - at);
        if (n <= 0)
            break;
        at += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

std::string ReadAll(const std::string& fileName) {
    std::string bytes;
    PlainRead(fileName, bytes);
    return bytes;
}

void PlainDurableWrite(const std::string& fileName, const std::string& bytes) {
    std::FILE* out = std::fopen(fileName.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fflush(out);
    ::fsync(::fileno(out));
    std::fclose(out);
}

struct Identity {
    ino_t Inode = 0;
    timespec Modified{};
    bool operator==(const Identity& o) const {
        return Inode == o.Inode && Modified.tv_sec == o.Modified.tv_sec &&
               Modified.tv_nsec == o.Modified.tv_nsec;
    }
};

Identity IdentityOf(const std::string& fileName) {
    struct stat info {};
    ::stat(fileName.c_str(), &info);
    return {info.st_ino, info.st_mtim};
}

int Headless(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    return RunHeadless(args, out, err);
}

} // namespace

int main() {
    test::TempProgramDir dir;
    const std::string dataFile = dir.File("maindata.dat");
    const std::string exe = dir.File("ornbrook");
    std::filesystem::copy_file(ORNBROOK_EXE, exe);
    const double mb = 1e6;

    // 2. first: a child's peak memory counts its parent's as it was at the
    // start, so this process must still be small.
    long emptyPeak = 0;
    {
        test::TempProgramDir empty;
        std::filesystem::copy_file(ORNBROOK_EXE, empty.File("ornbrook"));
        emptyPeak =
            RunProcess({empty.File("ornbrook"), "--list"}, empty.File("list")).PeakKilobytes;
    }
    const std::size_t bigSize = WriteWatchList(dataFile, 100, 10000);
    long peak = 0;
    for (int i = 0; i < 3; ++i) {
        const ProcessRun run = RunProcess({exe, "--list"}, dir.File("list"));
        if (run.Milliseconds < 0 || run.Output.empty()) {
            std::fprintf(stderr, "bench_model_datafile: --list failed: %s\n", run.Errors.c_str());
            return 1;
        }
        peak = std::max(peak, run.PeakKilobytes);
    }
    const double size = static_cast<double>(bigSize);
    std::printf("data file of 100 URLs x 10,000 names (%.1f MB)\n", size / mb);
    std::printf("  --list peak memory %6.1f MB   file %6.1f MB   ratio %.2f   (target <= 2;"
                " on an empty list %.1f MB)\n",
                double(peak) * 1024 / mb, size / mb, double(peak) * 1024 / size,
                double(emptyPeak) * 1024 / mb);

    // 1. Loading, cold (what a start does: the memory is fresh, as for a plain
    // read into a new buffer of the file's size, the way the loader once read)
    // and warm (memory reused, as for a plain read into a buffer kept).
    std::unique_ptr<MainInterface> loaded;
    std::string kept;
    double coldLoad = 1e9, coldRead = 1e9, warmLoad = 1e9, warmRead = 1e9, wholeFirst = 1e9;
    for (int i = 0; i < 5; ++i) {
        loaded.reset();
        kept = std::string();
        ::malloc_trim(0);
        // The way the loader worked before: the whole file in memory, then its records.
        wholeFirst =
            std::min(wholeFirst, Seconds([&] {
                         const std::string bytes = ReadAll(dataFile);
                         std::vector<UrlRecord> records;
                         ReadFrames(bytes, [&](UrlRecord& r) { records.push_back(std::move(r)); });
                     }));
        ::malloc_trim(0);
        coldLoad = std::min(coldLoad, Seconds([&] { loaded = std::make_unique<MainInterface>(); }));
        coldRead = std::min(coldRead, Seconds([&] { (void)ReadAll(dataFile).size(); }));
        ::malloc_trim(0);
        loaded.reset();
        warmLoad = std::min(warmLoad, Seconds([&] { loaded = std::make_unique<MainInterface>(); }));
        warmRead = std::min(warmRead, Seconds([&] { PlainRead(dataFile, kept); }));
    }
    std::printf("  LoadData cold %7.1f ms   plain read into a new buffer  %7.1f ms   ratio %.2f"
                "   (target <= 2)\n",
                coldLoad * 1e3, coldRead * 1e3, coldLoad / coldRead);
    std::printf("  (reading the whole file first, then its records: %.1f ms, ratio %.2f)\n",
                wholeFirst * 1e3, wholeFirst / coldRead);
    std::printf("  LoadData warm %7.1f ms   plain read into a kept buffer %7.1f ms   ratio %.2f\n",
                warmLoad * 1e3, warmRead * 1e3, warmLoad / warmRead);
    const std::string big = ReadAll(dataFile);
    const auto [save, write] = BestOfBoth(
        7, [&] { loaded->SaveData(); }, [&] { PlainDurableWrite(dir.File("plain.dat"), big); });
    std::printf("  SaveData %7.1f ms   plain write flushed to disk  %7.1f ms   ratio %.2f\n",
                save * 1e3, write * 1e3, save / write);
    loaded.reset();

    // 3. --refresh: saves through the file layer, then the process's time.
    const std::string medium = [&] {
        WriteWatchList(dir.File("medium.dat"), 100, 2000);
        return ReadAll(dir.File("medium.dat"));
    }();
    std::printf("data file of 100 URLs x 2,000 names (%.1f MB)\n", double(medium.size()) / mb);
    test::WriteBytes(dataFile, medium);
    std::int64_t refreshSaves = 0;
    {
        const test::SaveCount count;
        Headless({"--refresh"});
        refreshSaves = count.Saves();
    }
    // Whole processes: start-up alone, start-up and reading, and --refresh.
    double help = 1e9, list = 1e9, refresh = 1e9, plain = 1e9;
    for (int i = 0; i < 5; ++i) {
        test::WriteBytes(dataFile, medium);
        help = std::min(help, RunProcess({exe, "--help"}, dir.File("help")).Milliseconds);
        list = std::min(list, RunProcess({exe, "--list"}, dir.File("list")).Milliseconds);
        refresh =
            std::min(refresh, RunProcess({exe, "--refresh"}, dir.File("refresh")).Milliseconds);
        plain = std::min(plain,
                         Seconds([&] { PlainDurableWrite(dir.File("plain.dat"), medium); }) * 1e3);
    }
    std::printf("  --refresh: %lld save(s) (target <= 1)\n", static_cast<long long>(refreshSaves));
    std::printf("  processes: --help %.1f ms, --list %.1f ms, --refresh %.1f ms;"
                " a plain durable write of the file %.1f ms\n",
                help, list, refresh, plain);

    // 4. --check that changes nothing.
    test::PyFtpServer server;
    std::string watched;
    for (int u = 0; u < 20; ++u) {
        const std::string folder = "d" + std::to_string(u);
        for (int i = 0; i < 2000; ++i)
            server.AddFile(folder + "/some-longer-file-name-" + std::to_string(i) + ".tar.gz");
        AppendFrame(watched, server.Url("/" + folder + "/"), "", {FileEntry{}});
    }
    test::WriteBytes(dataFile, watched);
    // One check at a time: the same listings, whatever the server's pace.
    test::WriteBytes(dir.File("checksatonce.dat"), "1\r\n");
    std::int64_t learn = 0, acknowledge = 0, again = 0;
    bool untouched = false;
    double checkMs = 0;
    {
        const test::SaveCount count;
        const int firstStatus = Headless({"--check"});
        learn = count.Saves();
        Headless({"--refresh"});
        acknowledge = count.Saves() - learn;
        const Identity before = IdentityOf(dataFile);
        int status = 0;
        checkMs = Seconds([&] { status = Headless({"--check"}); }) * 1e3;
        again = count.Saves() - learn - acknowledge;
        untouched = IdentityOf(dataFile) == before && status == 0 && firstStatus == 0;
    }
    std::printf("--check of 20 URLs x 2,000 names (pyftpdlib): the first %lld save(s),"
                " --refresh %lld; one that changes nothing: %lld save(s), data file %s"
                " (target 0, untouched), %.0f ms\n",
                static_cast<long long>(learn), static_cast<long long>(acknowledge),
                static_cast<long long>(again), untouched ? "untouched" : "WRITTEN OR FAILED",
                checkMs);
    return 0;
}
