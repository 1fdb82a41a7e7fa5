#include "model/ListingMerge.h"

#include <algorithm>
#include <memory>
#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace ornbrook {

namespace {

constexpr std::size_t NoPosition = 0;

// Where in the work list the unmatched entries of one name stand. Almost every
// name is known once, so one position is kept inline; names known several times
// keep an ordered set, as matching always takes the lowest position.
struct NamePositions {
    std::size_t single = NoPosition;
    std::unique_ptr<std::set<std::size_t>> many;

    bool Empty() const { return many ? many->empty() : single == NoPosition; }
    std::size_t TakeLowest() {
        if (!many)
            return std::exchange(single, NoPosition);
        const std::size_t lowest = *many->begin();
        many->erase(many->begin());
        return lowest;
    }
    void Insert(std::size_t p) {
        if (!many && single == NoPosition) {
            single = p;
            return;
        }
        if (!many) {
            many = std::make_unique<std::set<std::size_t>>();
            many->insert(std::exchange(single, NoPosition));
        }
        many->insert(p);
    }
    void Move(std::size_t from, std::size_t to) {
        if (!many) {
            single = to;
            return;
        }
        many->erase(from);
        many->insert(to);
    }
};

} // namespace

bool MergeListing(std::vector<FileEntry>& entries, const std::vector<std::string>& listed,
                  ListingExtent extent) {
    if (entries.empty())
        entries.emplace_back();
    const std::size_t known = entries.size() - 1;

    // Most checks find the directory as it was, listed in the same order: each
    // name matches the entry in its place, nothing is new and nothing gone.
    if (listed.size() == known && std::equal(listed.begin(), listed.end(), entries.begin() + 1,
                                             [](const std::string& name, const FileEntry& entry) {
                                                 return name == entry.Name;
                                             }))
        return false;

    // work[p] (p = 1..r) is the index of a known entry not matched yet; slot 0 unused.
    std::vector<std::size_t> work(known + 1);
    // Each known entry's name, as an index into `names`.
    std::vector<std::size_t> nameOf(known + 1);
    std::vector<NamePositions> names;
    std::unordered_map<std::string_view, std::size_t> ids;
    ids.reserve(known);
    for (std::size_t k = 1; k <= known; ++k) {
        const auto [it, added] = ids.try_emplace(entries[k].Name, names.size());
        if (added)
            names.emplace_back();
        work[k] = k;
        nameOf[k] = it->second;
        names[it->second].Insert(k);
    }
    std::size_t r = known;

    // New entries never join the work list, so they are collected and appended
    // at the end; this keeps the name views above valid while we merge.
    std::vector<std::string_view> added;
    for (const std::string& name : listed) {
        const auto found = ids.find(name);
        if (found == ids.end() || names[found->second].Empty()) {
            added.push_back(name);
            continue;
        }
        const std::size_t c = names[found->second].TakeLowest();
        if (c != r) {
            // The pair at r moves into the gap at c.
            names[nameOf[work[r]]].Move(r, c);
            work[c] = work[r];
        }
        --r;
    }

    bool changed = !added.empty();
    if (extent == ListingExtent::Complete) {
        for (std::size_t p = 1; p <= r; ++p) {
            FileEntry& entry = entries[work[p]];
            changed = changed || entry.State != FileStateGone;
            entry.State = FileStateGone;
        }
    }

    entries.reserve(entries.size() + added.size());
    for (const std::string_view name : added)
        entries.push_back(FileEntry{std::string(name), FileStateNew});
    return changed;
}

} // namespace ornbrook
