#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ornbrook {

enum class EntryType : std::uint8_t { Unknown, File, Folder, Link, Other };

// Which listing command a listing came from: NLST gives names alone, MLSD and
// LIST give facts as well.
enum class ListingSource : std::uint8_t { Names, Machine, Long };

// When an entry was last modified, as precisely as the listing says it.
struct ListedTime {
    // None: the listing gave no time. Day: "Mon DD YYYY" or a date alone.
    // Minute: "Mon DD HH:MM" (no year) or a DOS date and time. Second: MLSD.
    // Small fields: a watched directory may hold a hundred thousand of them.
    enum class Resolution : std::uint8_t { None, Day, Minute, Second };
    Resolution Precision = Resolution::None;
    // Year is 0 where the listing leaves it out: a Unix listing of the last
    // half year gives month, day and time only.
    std::int16_t Year = 0;
    std::uint8_t Month = 0;
    std::uint8_t Day = 0;
    std::uint8_t Hour = 0;
    std::uint8_t Minute = 0;
    std::uint8_t Second = 0;
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
    // Entries whose names cannot stand for an entry of their folder ("/"
    // inside, a folder named "..") are left out of Entries and told here, each
    // as a message naming it.
    std::vector<std::string> Refused;

    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        names.reserve(Entries.size());
        for (const ListedEntry& entry : Entries)
            names.push_back(entry.Name);
        return names;
    }
};

} // namespace ornbrook
