#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ornbrook {

enum class EntryType { Unknown, File, Folder, Link, Other };

// Which listing command a listing came from: NLST gives names alone, MLSD and
// LIST give facts as well.
enum class ListingSource { Names, Machine, Long };

// When an entry was last modified, as precisely as the listing says it.
struct ListedTime {
    // None: the listing gave no time. Day: "Mon DD YYYY" or a date alone.
    // Minute: "Mon DD HH:MM" (no year) or a DOS date and time. Second: MLSD.
    enum class Resolution { None, Day, Minute, Second };
    Resolution Precision = Resolution::None;
    // Year is 0 where the listing leaves it out: a Unix listing of the last
    // half year gives month, day and time only.
    int Year = 0;
    int Month = 0;
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    // MLSD times are UTC (RFC 3659 2.3); LIST gives the server's local time.
    bool Utc = false;

    bool operator==(const ListedTime&) const = default;
};

// One entry of a directory listing: its exact name and the facts the listing
// gives of it.
struct ListedEntry {
    // Byte for byte as the server lists it, blanks at either end included.
    std::string Name;
    EntryType Type = EntryType::Unknown;
    std::optional<std::uint64_t> Size;
    ListedTime Modified;
    // Where a link points, when the listing says.
    std::string LinkTarget;

    bool operator==(const ListedEntry&) const = default;
};

// A whole listing in server order.
struct Listing {
    std::vector<ListedEntry> Entries;
    // The server said it cut the listing short: Entries is only part of the directory.
    bool Cut = false;
    ListingSource Source = ListingSource::Names;

    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        names.reserve(Entries.size());
        for (const ListedEntry& entry : Entries)
            names.push_back(entry.Name);
        return names;
    }
};

} // namespace ornbrook
