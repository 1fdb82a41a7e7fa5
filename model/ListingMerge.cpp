#include "model/ListingMerge.h"

#include <set>
#include <string_view>
#include <unordered_map>

namespace ornbrook {

void MergeListing(std::vector<FileEntry>& entries, const std::vector<std::string>& listed) {
    const std::size_t known = entries.empty() ? 0 : entries.size() - 1;

    // work[p] (p = 1..r) is the index of a known entry not matched yet; slot 0 unused.
    std::vector<std::size_t> work(known + 1);
    // For each name, the work positions that hold an entry of that name. Matching
    // takes the lowest, as the scan from position 1 upward would.
    std::unordered_map<std::string_view, std::set<std::size_t>> positions;
    positions.reserve(known);
    for (std::size_t k = 1; k <= known; ++k) {
        work[k] = k;
        positions[entries[k].Name].insert(k);
    }
    std::size_t r = known;

    // New entries never join the work list, so they are collected and appended
    // at the end; this keeps the name views above valid while we merge.
    std::vector<std::string_view> added;
    for (const std::string& name : listed) {
        const auto found = positions.find(name);
        if (found == positions.end() || found->second.empty()) {
            added.push_back(name);
            continue;
        }
        std::set<std::size_t>& own = found->second;
        const std::size_t c = *own.begin();
        own.erase(own.begin());
        if (c != r) {
            // The pair at r moves into the gap at c.
            std::set<std::size_t>& moved = positions[entries[work[r]].Name];
            moved.erase(r);
            moved.insert(c);
            work[c] = work[r];
        }
        --r;
    }

    for (std::size_t p = 1; p <= r; ++p)
        entries[work[p]].State = FileStateGone;

    if (entries.empty())
        entries.emplace_back();
    entries.reserve(entries.size() + added.size());
    for (const std::string_view name : added)
        entries.push_back(FileEntry{std::string(name), FileStateNew});
}

} // namespace ornbrook
