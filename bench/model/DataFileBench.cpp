// SaveData and LoadData of 100 URLs with 10,000 entries each, against writing
// and reading the same bytes with one plain buffered write and read.
#include "model/DataFileFormat.h"
#include "model/MainInterface.h"
#include "model/UrlFileList.h"
#include "tests/support/TempProgramDir.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <type_traits>
#include <unistd.h>

using namespace ornbrook;

namespace {

template <typename F> double Best(int runs, F&& f) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        f();
        best = std::min(
            best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

} // namespace

int main() {
    test::TempProgramDir dir;
    std::string file;
    for (int u = 0; u < 100; ++u) {
        std::vector<FileEntry> entries{FileEntry{}};
        for (int i = 0; i < 10000; ++i)
            entries.push_back(
                FileEntry{"some/longer-file-name-" + std::to_string(i) + ".tar.gz", i % 3});
        AppendFrame(file, "ftp://server" + std::to_string(u) + ".example.org/pub/", "", entries);
    }
    test::WriteBytes(dir.File("maindata.dat"), file);
    const double mb = static_cast<double>(file.size()) / 1e6;

    MainInterface list; // loads once
    // The first saves replace a file the page cache has not seen yet; the best of
    // several runs is the steady state the program lives in.
    const double save = Best(9, [&] { list.SaveData(); });
    std::unique_ptr<MainInterface> again;
    // Only the loading counts, not letting go of the previous copy.
    const double load = Best(5, [&] {
        again.reset();
        const auto start = std::chrono::steady_clock::now();
        again = std::make_unique<MainInterface>();
        return std::chrono::steady_clock::now() - start;
    });
    const double plainWrite = Best(5, [&] {
        std::ofstream out(dir.File("plain.dat"), std::ios::binary);
        out.write(file.data(), static_cast<std::streamsize>(file.size()));
        out.flush();
    });
    const double plainDurable = Best(9, [&] {
        std::FILE* out = std::fopen(dir.File("plain.dat").c_str(), "wb");
        std::fwrite(file.data(), 1, file.size(), out);
        std::fflush(out);
        ::fsync(::fileno(out));
        std::fclose(out);
    });
    const double plainRead = Best(5, [&] {
        std::ifstream in(dir.File("plain.dat"), std::ios::binary);
        std::string bytes(file.size(), '\0');
        in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    });
    std::printf("data file of 100 URLs x 10,000 entries (%.1f MB)\n", mb);
    std::printf("  SaveData   %7.1f ms  %7.0f MB/s   plain write %7.1f ms   ratio %.2f\n",
                save * 1e3, mb / save, plainWrite * 1e3, save / plainWrite);
    std::printf("  SaveData vs a plain write flushed to disk (%.1f ms): ratio %.2f\n",
                plainDurable * 1e3, save / plainDurable);
    std::printf("  LoadData   %7.1f ms  %7.0f MB/s   plain read  %7.1f ms   ratio %.2f\n",
                load * 1e3, mb / load, plainRead * 1e3, load / plainRead);
    return 0;
}
