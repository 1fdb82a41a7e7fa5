#pragma once

#include <cstdint>
#include <vector>

namespace ornbrook {

class UrlFileList;

// What one change did to the entries of one URL, by the list's entry indexes
// (1 to GetFilesCount), so that views update those rows only.
struct EntryChanges {
    // Indexes before the change, ascending: entries that left the list (the
    // ones after them moved up).
    std::vector<std::int32_t> Removed;
    // Entries appended: the list's last Added indexes after the change.
    std::int32_t Added = 0;
    // Indexes after the change: entries whose mark or facts changed.
    std::vector<std::int32_t> Changed;
    // Any entry may have changed or moved: read them all anew.
    bool All = false;

    bool Empty() const { return !All && Removed.empty() && Added == 0 && Changed.empty(); }
};

// What the watch list's Change names: the URL whose entries or message
// changed and how; without a URL anything may have changed (a refresh, a URL
// added or taken away).
struct ListChange {
    const UrlFileList* List = nullptr;
    EntryChanges Entries;
};

} // namespace ornbrook
