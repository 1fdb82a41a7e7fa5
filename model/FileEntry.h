#pragma once

#include <cstdint>
#include <string>

namespace ornbrook {

// One name seen in a watched directory, with what the user knows of it.
struct FileEntry {
    std::string Name;
    std::int32_t State = 0;
};

// Known before the last acknowledgement and still listed.
constexpr std::int32_t FileStateOld = 0;
// Listed, but not known at the last acknowledgement.
constexpr std::int32_t FileStateNew = 1;
// Known, but missing from the latest listing.
constexpr std::int32_t FileStateGone = 2;

inline bool operator==(const FileEntry& a, const FileEntry& b) {
    return a.Name == b.Name && a.State == b.State;
}

} // namespace ornbrook
