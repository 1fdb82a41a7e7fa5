#pragma once

#include "ftp/ListedEntry.h"

#include <cstdint>
#include <optional>

namespace ornbrook {

// What a listing says of an entry beyond its name, and which kind of listing
// said it: facts of different listing commands are never compared (an MLSD
// time is UTC to the second, a LIST time the server's clock to the minute).
// A size that may be unknown, in 8 bytes where an optional takes 16: a watch
// list holds a million entries at once, and each carries one.
class KnownSize {
public:
    constexpr KnownSize() = default;
    constexpr KnownSize(std::nullopt_t) {}
    constexpr KnownSize(std::uint64_t size) : value_(size) {}
    constexpr KnownSize(const std::optional<std::uint64_t>& size) : value_(size.value_or(None)) {}

    constexpr bool has_value() const { return value_ != None; }
    constexpr explicit operator bool() const { return has_value(); }
    constexpr std::uint64_t operator*() const { return value_; }
    constexpr std::uint64_t& operator*() { return value_; }
    constexpr std::uint64_t value_or(std::uint64_t other) const {
        return has_value() ? value_ : other;
    }
    constexpr operator std::optional<std::uint64_t>() const {
        return has_value() ? std::optional<std::uint64_t>(value_) : std::nullopt;
    }
    bool operator==(const KnownSize&) const = default;

private:
    // No file is 2^64 - 1 bytes long.
    static constexpr std::uint64_t None = ~std::uint64_t{0};
    std::uint64_t value_ = None;
};

// The fields are in the order that packs them tightly (24 bytes).
struct FileFacts {
    ListingSource Source = ListingSource::Names;
    EntryType Type = EntryType::Unknown;
    ListedTime Modified;
    KnownSize Size;

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
