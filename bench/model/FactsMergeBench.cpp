// Files, not names: a check of a URL of 100,000 files with facts, as the watch
// list takes it in (the merge, then the store's update by what changed),
// against the plain merge of names alone, side by side in one run; and a check
// run that changes 10 files of 100,000: what the store writes.
#include "model/FileStore.h"
#include "model/ListingMerge.h"
#include "model/MainInterface.h"
#include "model/UrlFileList.h"
#include "tests/support/TempProgramDir.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

using namespace ornbrook;

namespace {

template <typename F> double Milliseconds(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

ListedEntry File(const std::string& name, std::uint64_t size) {
    ListedEntry entry;
    entry.Name = name;
    entry.Type = EntryType::File;
    entry.Size = size;
    entry.Modified = {ListedTime::Resolution::Second, 2026, 12, 7, 10, 0, 0, true};
    return entry;
}

// 100,000 files seen once; then a listing with 10% gone, 10% new and 1% grown,
// in another order.
struct Scene {
    std::vector<ListedEntry> first, second;
    Scene() {
        const std::size_t n = 100000;
        for (std::size_t i = 0; i < n; ++i)
            first.push_back(File("file-" + std::to_string(i) + ".dat", 1000 + i));
        for (std::size_t i = n / 10; i < n; ++i)
            second.push_back(File("file-" + std::to_string(i) + ".dat", 1000 + i + (i % 100 == 0)));
        for (std::size_t i = 0; i < n / 10; ++i)
            second.push_back(File("new-" + std::to_string(i) + ".dat", i));
        std::shuffle(second.begin(), second.end(), std::mt19937(42));
    }
};

std::vector<std::string> Names(const std::vector<ListedEntry>& listed) {
    std::vector<std::string> names;
    for (const auto& entry : listed)
        names.push_back(entry.Name);
    return names;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main() {
    const Scene scene;
    test::TempProgramDir dir;
    std::vector<double> plain, facts, merged, stored;
    std::size_t rows = 0;
    for (int round = 0; round < 5; ++round) {
        // Names alone, as the design merges them into a URL's list.
        UrlFileList byName;
        byName.SetURL("ftp://example/");
        byName.MergeFreshListing(Names(scene.first));
        const std::vector<std::string> names = Names(scene.second);
        plain.push_back(Milliseconds([&] { byName.MergeFreshListing(names); }));

        // With facts, then the store told what changed.
        std::string notice;
        std::filesystem::remove(dir.File("ornbrook.sqlite"));
        auto store = *FileStore::Open(dir.File("ornbrook.sqlite"), notice,
                                      [](const std::string& url) { return url; });
        UrlFileList list;
        list.SetURL("ftp://example/");
        Listing first{scene.first, false, ListingSource::Machine};
        list.SetStartingPoint();
        list.MergeFreshListing(std::move(first));
        (void)store->Save({list.TakeStoreChange()});
        Listing second{scene.second, false, ListingSource::Machine};
        double m = 0, t = 0, v = 0;
        StoreChange change;
        facts.push_back(Milliseconds([&] {
            m = Milliseconds([&] { list.MergeFreshListing(std::move(second)); });
            t = Milliseconds([&] { change = list.TakeStoreChange(); });
            rows = change.Put.size() + change.Remove.size();
            std::vector<StoreChange> changes;
            changes.push_back(std::move(change));
            v = Milliseconds([&] { (void)store->Save(changes); });
        }));
        merged.push_back(m);
        stored.push_back(t + v);
    }
    std::printf("check of 100,000 files (10%% gone, 10%% new, 1%% grown), median of 5\n");
    std::printf("  names alone, merged             : %8.1f ms\n", Median(plain));
    std::printf("  with facts, merged and stored   : %8.1f ms   (%zu rows written)\n",
                Median(facts), rows);
    std::printf("    of which the merge            : %8.1f ms\n", Median(merged));
    std::printf("    of which the store's update   : %8.1f ms\n", Median(stored));
    std::printf("  ratio                           : %8.2fx   (target at most 2x)\n",
                Median(facts) / Median(plain));

    // A check run that changes 10 files of 100,000: only their rows are written.
    std::string notice;
    std::filesystem::remove(dir.File("ornbrook.sqlite"));
    auto store = *FileStore::Open(dir.File("ornbrook.sqlite"), notice,
                                  [](const std::string& url) { return url; });
    UrlFileList list;
    list.SetURL("ftp://example/");
    list.SetStartingPoint();
    list.MergeFreshListing(Listing{scene.first, false, ListingSource::Machine});
    (void)store->Save({list.TakeStoreChange()});
    std::vector<ListedEntry> ten = scene.first;
    for (std::size_t i = 0; i < 10; ++i)
        *ten[i * 9973].Size += 1;
    const std::uint64_t before = store->StatementsRun();
    list.MergeFreshListing(Listing{ten, false, ListingSource::Machine});
    const StoreChange change = list.TakeStoreChange();
    (void)store->Save({change});
    std::printf("check run changing 10 of 100,000 files: %zu rows written, %llu statements\n",
                change.Put.size(),
                static_cast<unsigned long long>(store->StatementsRun() - before));
    return 0;
}
