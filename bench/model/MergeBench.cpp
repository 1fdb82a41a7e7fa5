// Merge of 100,000 known and 100,000 listed names (10% new, 10% gone): the
// watch list's merge against the work-list scan as the design writes it.
#include "model/ListingMerge.h"
#include "tests/support/WrittenMerge.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

using namespace ornbrook;
using ornbrook::test::WrittenMerge;

namespace {

template <typename F> double Seconds(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main() {
    const std::size_t n = 100000;
    std::vector<FileEntry> known{FileEntry{}};
    for (std::size_t i = 0; i < n; ++i)
        known.push_back(FileEntry{"file-" + std::to_string(i) + ".dat", FileStateOld});
    // 10% of the known names are gone, 10% of the listing is new; the listing
    // comes in a different order, as servers list by their own rules.
    std::vector<std::string> listed;
    for (std::size_t i = n / 10; i < n; ++i)
        listed.push_back("file-" + std::to_string(i) + ".dat");
    for (std::size_t i = 0; i < n / 10; ++i)
        listed.push_back("new-" + std::to_string(i) + ".dat");
    std::shuffle(listed.begin(), listed.end(), std::mt19937(42));

    auto fast = known;
    const double ours = Seconds([&] { MergeListing(fast, listed); });
    auto written = known;
    const double plain = Seconds([&] { WrittenMerge(written, listed); });
    std::printf("merge of %zu known and %zu listed names\n", n, listed.size());
    std::printf("  near-linear merge : %8.3f s\n", ours);
    std::printf("  written procedure : %8.3f s\n", plain);
    std::printf("  speed-up          : %8.0fx   (results %s)\n", plain / ours,
                fast == written ? "identical" : "DIFFER");
    return fast == written ? 0 : 1;
}
