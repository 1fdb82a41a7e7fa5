// ornbrook.sqlite at scale, measured side by side in one run:
// 1. A save of 100,000 new rows into an empty store.
// 2. In a URL of 100,000 rows, a save that changes 10 of them against a save of
//    all of them: statements run, bytes written to the database and its WAL
//    (the write(2) bytes of this process while Save runs, as /proc/self/io
//    counts them), and time.
// 3. LoadAll of the 100,000 rows against a plain read of a file of the store's
//    size, and Open of that store (its quick check included).
#include "model/FileStore.h"
#include "tests/support/TempProgramDir.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace ornbrook;

namespace {

constexpr int Rows = 100'000;
const std::string Url = "ftp://server.example.org/pub/incoming/";

double Seconds(const std::function<void()>& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Bytes this process has handed to write(2) and its kin so far.
std::uint64_t BytesWritten() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "wchar:")
            return value;
    }
    return 0;
}

std::vector<StoredFile> MakeRows() {
    std::vector<StoredFile> rows(Rows);
    for (int i = 0; i < Rows; ++i) {
        StoredFile& row = rows[static_cast<std::size_t>(i)];
        row.Name = "some-longer-file-name-" + std::to_string(i) + ".tar.gz";
        row.Facts.Source = ListingSource::Machine;
        row.Facts.Type = EntryType::File;
        row.Facts.Size = 1'000'000 + static_cast<std::uint64_t>(i) * 37;
        row.Facts.Modified = {
            ListedTime::Resolution::Second,           2026,
            static_cast<std::uint8_t>(1 + i % 12),    static_cast<std::uint8_t>(1 + i % 28),
            static_cast<std::uint8_t>(i % 24),        static_cast<std::uint8_t>(i % 60),
            static_cast<std::uint8_t>((i / 60) % 60), true};
        row.DataState = FileStateOld;
    }
    return rows;
}

void PlainRead(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    ::fstat(fd, &info);
    std::string buffer(static_cast<std::size_t>(info.st_size), '\0');
    for (std::size_t at = 0; at < buffer.size();) {
        const ssize_t n = ::read(fd, buffer.data() + at, buffer.size() - at);
        if (n <= 0)
            break;
        at += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

struct SaveCost {
    double Best = 1e9;
    std::uint64_t Statements = 0;
    std::uint64_t Bytes = 0;
};

void Measure(FileStore& store, const std::vector<StoreChange>& changes, SaveCost& cost) {
    std::fflush(stdout);
    const std::uint64_t statements = store.StatementsRun();
    const std::uint64_t bytes = BytesWritten();
    cost.Best = std::min(cost.Best, Seconds([&] { (void)store.Save(changes); }));
    cost.Statements = store.StatementsRun() - statements;
    cost.Bytes = BytesWritten() - bytes;
}

} // namespace

int main() {
    test::TempProgramDir dir;
    std::vector<StoredFile> rows = MakeRows();
    std::string notice;

    // 1. New rows into an empty store, a new store each time.
    double firstSave = 1e9;
    for (int i = 0; i < 3; ++i) {
        const std::string path = dir.File("first" + std::to_string(i) + ".sqlite");
        auto store = *FileStore::Open(path, notice, [](const std::string& url) { return url; });
        firstSave = std::min(firstSave, Seconds([&] {
                                 (void)store->Save({{Url, rows, {}, false}});
                             }));
    }

    const std::string path = dir.File("ornbrook.sqlite");
    auto store = *FileStore::Open(path, notice, [](const std::string& url) { return url; });
    (void)store->Save({{Url, rows, {}, false}});

    // 2. Ten rows changed against all rows written, in turns; each save
    // changes what it writes, so that no save writes what is there already.
    SaveCost ten, all;
    for (int run = 0; run < 5; ++run) {
        std::vector<StoredFile> changed;
        for (int i = 0; i < 10; ++i) {
            StoredFile& row = rows[static_cast<std::size_t>(i) * 9'999];
            row.Facts.Size = *row.Facts.Size + 1;
            row.Changed = !row.Changed;
            changed.push_back(row);
        }
        Measure(*store, {{Url, changed, {}, false}}, ten);
        for (StoredFile& row : rows)
            row.SteadySince += 1;
        Measure(*store, {{Url, rows, {}, false}}, all);
    }

    // 3. Loading against reading the file's bytes.
    store.reset();
    store = *FileStore::Open(path, notice, [](const std::string& url) { return url; });
    const auto fileSize = std::filesystem::file_size(path);
    double load = 1e9, read = 1e9, open = 1e9;
    std::size_t loaded = 0;
    for (int run = 0; run < 5; ++run) {
        load = std::min(load, Seconds([&] { loaded = store->LoadAll()->at(Url).size(); }));
        read = std::min(read, Seconds([&] { PlainRead(path); }));
    }
    store.reset();
    for (int run = 0; run < 3; ++run) {
        open = std::min(open, Seconds([&] {
                            store = *FileStore::Open(path, notice,
                                                     [](const std::string& url) { return url; });
                        }));
        store.reset();
    }

    const double kb = 1024.0;
    std::printf("ornbrook.sqlite with one URL of %d rows (%.1f MB)\n", Rows,
                double(fileSize) / 1e6);
    std::printf("  save of %d new rows into an empty store %7.1f ms (target well under 1 s)\n",
                Rows, firstSave * 1e3);
    std::printf("  save of 10 changed rows: %6llu statements %9.1f KB written %7.2f ms\n",
                static_cast<unsigned long long>(ten.Statements), double(ten.Bytes) / kb,
                ten.Best * 1e3);
    std::printf("  save of all %d rows:   %6llu statements %9.1f KB written %7.2f ms\n", Rows,
                static_cast<unsigned long long>(all.Statements), double(all.Bytes) / kb,
                all.Best * 1e3);
    std::printf("  ratio all / 10 changed: statements %.0f, bytes %.0f\n",
                double(all.Statements) / double(ten.Statements),
                double(all.Bytes) / double(ten.Bytes));
    std::printf("  LoadAll of %zu rows %7.1f ms   plain read of the file %7.1f ms   ratio %.1f"
                "   (target well under 1 s)\n",
                loaded, load * 1e3, read * 1e3, load / read);
    std::printf("  Open of that store (quick check included) %7.1f ms\n", open * 1e3);
    return 0;
}
