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

// A gone entry that is listed again was put back, which is news: it is new
// until acknowledged. True when it was gone.
bool PutBack(FileEntry& entry) {
    if (entry.State != FileStateGone)
        return false;
    entry.State = FileStateNew;
    return true;
}

// Pairs every listed name with a known entry not matched yet, the first of
// that name in a work list from which matched pairs are removed by moving the
// last pair into their place; the result is exactly that of scanning the work
// list for every listed name, at O(log n) a step. Calls matched(k, i) for known
// entry k and listed name i, fresh(i) for a listed name without one, and
// leftOver(k) for each known entry no name matched, in work-list order.
template <typename NameAt, typename Matched, typename Fresh, typename LeftOver>
void MatchNames(const std::vector<FileEntry>& entries, std::size_t listedCount, NameAt nameAt,
                Matched matched, Fresh fresh, LeftOver leftOver) {
    const std::size_t known = entries.size() - 1;
    // Most checks find the directory as it was, listed in the same order: each
    // name matches the entry in its place, nothing is new and nothing gone.
    bool same = listedCount == known;
    for (std::size_t i = 0; same && i < listedCount; ++i)
        same = nameAt(i) == entries[i + 1].Name;
    if (same) {
        for (std::size_t i = 0; i < listedCount; ++i)
            matched(i + 1, i);
        return;
    }

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
    for (std::size_t i = 0; i < listedCount; ++i) {
        const auto found = ids.find(nameAt(i));
        if (found == ids.end() || names[found->second].Empty()) {
            fresh(i);
            continue;
        }
        const std::size_t c = names[found->second].TakeLowest();
        matched(work[c], i);
        if (c != r) {
            // The pair at r moves into the gap at c.
            names[nameOf[work[r]]].Move(r, c);
            work[c] = work[r];
        }
        --r;
    }
    for (std::size_t p = 1; p <= r; ++p)
        leftOver(work[p]);
}

// Room for what a merge adds, with some to spare: most checks add a few files,
// and a list of a hundred thousand entries is not moved for each of them.
void MakeRoom(std::vector<FileEntry>& entries, std::size_t added) {
    const std::size_t needed = entries.size() + added;
    if (needed > entries.capacity())
        entries.reserve(needed + needed / 8);
}

bool MarkGone(FileEntry& entry) {
    if (entry.State == FileStateGone)
        return false;
    entry.BeforeGone = entry.Changed                 ? FileMark::Changed
                       : entry.State == FileStateNew ? FileMark::New
                                                     : FileMark::Old;
    entry.State = FileStateGone;
    entry.Changed = false;
    entry.Arriving = false;
    return true;
}

// A settled file whose facts differ from what was last seen: arriving when
// uploads are waited for, else changed at once. Folders and links never are.
bool Differs(FileEntry& entry, const FileFacts& now, const MergeRules& rules, MergeNews& news) {
    if (!now.IsFile() || !FactsDiffer(entry.Facts, now))
        return false;
    if (rules.SettleSeconds > 0) {
        entry.Arriving = true;
        entry.SteadySince = rules.Now;
    } else {
        entry.Changed = true;
        entry.State = FileStateNew;
        news.Report(entry, true);
    }
    return true;
}

// An arriving file listed again: its facts held still long enough, or it is
// listed without facts to compare, and it is reported; else it waits on, from
// now when its facts moved.
bool GoesOnArriving(FileEntry& entry, const FileFacts& now, const MergeRules& rules,
                    MergeNews& news) {
    const bool comparable = now.Known() && now.Source == entry.Facts.Source;
    if (comparable && FactsDiffer(entry.Facts, now)) {
        entry.SteadySince = rules.Now;
        return true;
    }
    if (comparable && rules.Now - entry.SteadySince < rules.SettleSeconds)
        return false;
    entry.Arriving = false;
    if (entry.Settled) {
        entry.Changed = true;
        news.Report(entry, true);
    } else {
        entry.Settled = true;
        entry.Changed = false;
        news.Report(entry, false);
    }
    entry.State = FileStateNew;
    return true;
}

// A known entry listed again. Returns whether what is kept of it changed.
bool Relisted(FileEntry& entry, ListedEntry&& listed, ListingSource source, const MergeRules& rules,
              MergeNews& news) {
    FileFacts now{source, listed.Type, listed.Modified, listed.Size};
    bool changed = false;
    if (entry.Arriving) {
        changed = GoesOnArriving(entry, now, rules, news);
    } else if (entry.State == FileStateGone) {
        // Put back: with the facts it had, it gets back the mark it had;
        // without facts to tell, or with others, it is news.
        const bool same = now.Known() && entry.Facts.Known() && now.Source == entry.Facts.Source &&
                          !FactsDiffer(entry.Facts, now);
        if (same) {
            entry.State = entry.BeforeGone == FileMark::Old ? FileStateOld : FileStateNew;
            entry.Changed = entry.BeforeGone == FileMark::Changed;
        } else {
            entry.State = FileStateOld;
            if (!Differs(entry, now, rules, news)) {
                entry.State = FileStateNew;
                news.Report(entry, false);
            }
        }
        changed = true;
    } else {
        changed = Differs(entry, now, rules, news);
    }
    // Facts of a listing that has none never replace the ones known.
    if (now.Known() && !(now == entry.Facts)) {
        entry.Facts = now;
        changed = true;
    }
    return changed;
}

} // namespace

bool MergeListing(std::vector<FileEntry>& entries, const std::vector<std::string>& listed,
                  ListingExtent extent) {
    if (entries.empty())
        entries.emplace_back();
    bool changed = false;
    std::vector<std::size_t> added;
    MatchNames(
        entries, listed.size(), [&](std::size_t i) -> std::string_view { return listed[i]; },
        [&](std::size_t k, std::size_t) {
            if (PutBack(entries[k]))
                changed = entries[k].Unstored = true;
        },
        [&](std::size_t i) { added.push_back(i); },
        [&](std::size_t k) {
            if (extent == ListingExtent::Complete && entries[k].State != FileStateGone) {
                entries[k].State = FileStateGone;
                changed = entries[k].Unstored = true;
            }
        });
    MakeRoom(entries, added.size());
    for (const std::size_t i : added)
        entries.emplace_back(listed[i], FileStateNew).Unstored = true;
    return changed || !added.empty();
}

MergeNews MergeListing(std::vector<FileEntry>& entries, Listing&& listing,
                       const MergeRules& rules) {
    if (entries.empty())
        entries.emplace_back();
    std::vector<ListedEntry>& listed = listing.Entries;
    const ListingSource source = listing.Source;
    MergeNews news;
    bool& changed = news.Changed;
    bool dropped = false;
    std::vector<std::size_t> added;
    MatchNames(
        entries, listed.size(), [&](std::size_t i) -> std::string_view { return listed[i].Name; },
        [&](std::size_t k, std::size_t i) {
            FileEntry& entry = entries[k];
            const std::int32_t state = entry.State;
            const bool settled = entry.Settled;
            if (Relisted(entry, std::move(listed[i]), source, rules, news)) {
                changed = entry.Unstored = true;
                news.ChangedAt.push_back(static_cast<std::int32_t>(k));
                news.DataChanged =
                    news.DataChanged || entry.State != state || entry.Settled != settled;
            }
        },
        [&](std::size_t i) { added.push_back(i); },
        [&](std::size_t k) {
            if (listing.Cut)
                return;
            FileEntry& entry = entries[k];
            // A file seen only while it arrived was never reported: it goes
            // without a trace.
            if (!entry.Settled) {
                news.Dropped.push_back(entry.Name);
                news.DroppedAt.push_back(static_cast<std::int32_t>(k));
                entry.State = -1;
                dropped = true;
                changed = true;
                return;
            }
            if (MarkGone(entry)) {
                changed = news.DataChanged = entry.Unstored = true;
                news.ChangedAt.push_back(static_cast<std::int32_t>(k));
                news.Gone.push_back(entry.Name);
            }
        });
    if (dropped)
        entries.erase(std::remove_if(entries.begin() + 1, entries.end(),
                                     [](const FileEntry& e) { return e.State == -1; }),
                      entries.end());
    MakeRoom(entries, added.size());
    for (const std::size_t i : added) {
        ListedEntry& l = listed[i];
        FileEntry& entry = entries.emplace_back(std::move(l.Name), FileStateNew);
        entry.Facts = FileFacts{source, l.Type, l.Modified, l.Size};
        entry.Unstored = true;
        // A file that may still be uploading waits until its size and time
        // hold still; a starting point takes what it finds.
        const bool intoView = rules.ComesIntoView && rules.ComesIntoView(entry);
        if (!rules.StartingPoint && !intoView && rules.SettleSeconds > 0 && entry.Facts.Known() &&
            entry.Facts.IsFile()) {
            entry.Arriving = true;
            entry.Settled = false;
            entry.SteadySince = rules.Now;
        } else {
            if (intoView) {
                entry.State = FileStateOld;
                ++news.CameIntoView;
            } else
                news.Report(entry, false);
            news.DataChanged = true;
        }
    }
    changed = changed || !added.empty();
    return news;
}

} // namespace ornbrook
