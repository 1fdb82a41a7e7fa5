#pragma once

#include "model/FileEntry.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ornbrook {

// maindata.dat: one frame per URL, a 3-byte length (least significant byte first)
// and the URL's record. A record is the URL and the last error message, each after
// its 3-byte length, then for every entry its 3-byte name length, the name and a
// 1-byte state. No header, no count, no separators.

// The most a 3-byte length can hold: a frame, URL, error or name never exceeds it.
constexpr std::uint32_t MaxFieldLength = 16777215;

// The bytes a record takes, and the share of one entry in it; whoever needs to
// know whether a record fits asks these instead of counting again.
std::size_t RecordBytes(std::string_view url, std::string_view error,
                        const std::vector<FileEntry>& entries);
std::size_t EntryBytes(std::string_view name);
inline bool RecordFits(std::size_t bytes) {
    return bytes <= MaxFieldLength;
}

struct UrlRecord {
    std::string URL;
    std::string ErrorMsg;
    std::vector<FileEntry> Entries; // slot 0 unused
};

// Appends one frame (3-byte length and record) for a URL to out. Writing only
// what a 3-byte length can describe keeps the file readable whatever it holds: a
// URL or error longer than the limit is cut to it, and entries that would push the
// record past the limit are left out (the watch list refuses a listing that large
// before it gets here, so this is the last guard, not the rule). Returns the
// number of entries left out. entries[0] is the unused slot.
std::size_t AppendFrame(std::string& out, std::string_view url, std::string_view error,
                        const std::vector<FileEntry>& entries);

// The record alone, without its frame length.
std::string EncodeRecord(std::string_view url, std::string_view error,
                         const std::vector<FileEntry>& entries);

// Reads a record as it stands: a record cut short yields shorter texts and a
// missing state reads as 0; the loop over entries always advances and ends.
// Entries are appended to record.Entries (which must hold slot 0).
void DecodeRecordInto(std::string_view data, UrlRecord& record);

// The frames of a data file. A frame whose length runs past the end of the file
// takes the bytes that remain; loading never reads or allocates beyond the file.
std::vector<std::string_view> SplitFrames(std::string_view file);

} // namespace ornbrook
