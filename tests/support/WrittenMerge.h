#pragma once

#include "model/FileEntry.h"

#include <string>
#include <utility>
#include <vector>

namespace ornbrook::test {

// The merge as the watch list's design writes it: a work list of the known
// entries, scanned from the front for every listed name, a match replaced by
// the last pair; and, beyond the design, a gone entry that is matched becomes
// new (it was put back). O(n * m); kept here as the reference the fast merge
// must equal.
inline void WrittenMerge(std::vector<FileEntry>& entries, const std::vector<std::string>& listed) {
    const std::size_t n = entries.size() - 1;
    std::vector<std::pair<std::string, std::size_t>> w(n + 1);
    for (std::size_t k = 1; k <= n; ++k)
        w[k] = {entries[k].Name, k};
    std::size_t r = n;
    for (const auto& name : listed) {
        std::size_t c = 0;
        for (std::size_t p = 1; p <= r; ++p) {
            if (w[p].first == name) {
                c = p;
                break;
            }
        }
        if (c != 0) {
            if (entries[w[c].second].State == FileStateGone)
                entries[w[c].second].State = FileStateNew;
            w[c] = w[r];
            --r;
        } else {
            entries.push_back(FileEntry{name, FileStateNew});
        }
    }
    for (std::size_t p = 1; p <= r; ++p)
        entries[w[p].second].State = FileStateGone;
}

} // namespace ornbrook::test
