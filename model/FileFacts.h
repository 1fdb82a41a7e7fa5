#pragma once

#include "ftp/ListedEntry.h"

#include <cstdint>
#include <optional>

namespace ornbrook {

// What a listing says of an entry beyond its name, and which kind of listing
// said it: facts of different listing commands are never compared (an MLSD
// time is UTC to the second, a LIST time the server's clock to the minute).
struct FileFacts {
    ListingSource Source = ListingSource::Names;
    EntryType Type = EntryType::Unknown;
    std::optional<std::uint64_t> Size;
    ListedTime Modified;

    bool operator==(const FileFacts&) const = default;
    // Anything to compare: a size or a time from a listing with facts.
    bool Known() const {
        return Source != ListingSource::Names &&
               (Size.has_value() || Modified.Precision != ListedTime::Resolution::None);
    }
    // Folders and links: their size and time say nothing about new files.
    bool IsFile() const { return Type == EntryType::File || Type == EntryType::Unknown; }
};

// Whether a file seen with facts now differs from what was last seen of it: its
// size, or its time as far as both times are known (a time known to the day
// only, or without a year, is compared that far). Facts of another listing
// command, or no facts on either side, never make a difference.
bool FactsDiffer(const FileFacts& before, const FileFacts& now);

} // namespace ornbrook
