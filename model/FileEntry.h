#pragma once

#include "model/FileFacts.h"

#include <cstdint>
#include <string>
#include <utility>

namespace ornbrook {

// What the user is shown of an entry: the design's three states, and two
// marks beyond them that maindata.dat cannot hold.
enum class FileMark : std::uint8_t {
    Old,
    New,
    Gone,
    // A known file whose size or time differs from what was last seen.
    Changed,
    // A new or changed file whose size and time have not held still for the
    // settle time yet: an upload still under way, not reported.
    Arriving,
};

// One name seen in a watched directory, with what the user knows of it.
// Fields are ordered to pack tightly: a watch list may hold a million entries.
struct FileEntry {
    FileEntry() = default;
    FileEntry(std::string name, std::int32_t state) : Name(std::move(name)), State(state) {}

    std::string Name;
    // Beyond the design (kept in ornbrook.sqlite):
    // What the last listing said of it.
    FileFacts Facts;
    // While arriving: when it was first seen with its current facts (seconds
    // since the epoch).
    std::int64_t SteadySince = 0;

    // The design's state, as maindata.dat holds it: what has settled. A changed
    // file is new there; a known file that is arriving again keeps its last
    // settled state.
    std::int32_t State = 0;

    // A known file that changed (State is new then).
    bool Changed = false;
    bool Arriving = false;
    // False for a file first seen while arriving: it is in no listing the user
    // was told of, and not in maindata.dat.
    bool Settled = true;
    // For a gone entry: the mark it had before it went (old, new or changed).
    FileMark BeforeGone = FileMark::Old;
    // Changed since the store last heard of it.
    bool Unstored = false;
};

// Known before the last acknowledgement and still listed.
constexpr std::int32_t FileStateOld = 0;
// Listed, but not known at the last acknowledgement.
constexpr std::int32_t FileStateNew = 1;
// Known, but missing from the latest listing.
constexpr std::int32_t FileStateGone = 2;

inline FileMark MarkOf(const FileEntry& entry) {
    if (entry.Arriving)
        return FileMark::Arriving;
    if (entry.State == FileStateGone)
        return FileMark::Gone;
    if (entry.Changed)
        return FileMark::Changed;
    return entry.State == FileStateNew ? FileMark::New : FileMark::Old;
}

// Name and design state: what maindata.dat compares.
inline bool operator==(const FileEntry& a, const FileEntry& b) {
    return a.Name == b.Name && a.State == b.State;
}

} // namespace ornbrook
