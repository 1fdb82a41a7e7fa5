#pragma once

#include "model/FileEntry.h"

#include <cstdint>
#include <functional>
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

// Whether a URL can be kept: the data file's URLs are not empty and hold no
// control characters (C0 and DEL), so that garbage is told from a URL. Whoever takes a URL from the
// user asks this before the watch list gets it.
bool IsStorableURL(std::string_view url);

// How much of a record checks out: its URL and error text complete and no
// longer than the record, a URL that is not empty and holds no control
// character, and entries that fill the rest exactly, each with its whole name
// and a state of 0, 1 or 2. The form of a URL is not judged further: whatever
// an earlier version stored and could check stays.
enum class RecordCheck {
    Whole,
    // The URL checks out and something after it does not: what precedes the
    // fault is kept (an error text cut short reads as none), the entry at the
    // fault and every one after it are dropped, never guessed.
    Partial,
    // Not even the URL checks out: nothing of the record is usable.
    Unusable,
};

// Reads a record, checking it as it goes. Entries are appended to
// record.Entries (slot 0 is added when missing), in one allocation.
RecordCheck DecodeRecordInto(std::string_view data, UrlRecord& record);

// What reading a data file found.
struct FramesRead {
    std::size_t Whole = 0;    // records that checked out
    std::size_t Partial = 0;  // records of which only a part could be used
    std::size_t Unusable = 0; // frames of which nothing could be used
    // The file ended inside a frame or inside a frame length.
    bool Cut = false;
    bool Damaged() const { return Partial > 0 || Unusable > 0 || Cut; }
    std::size_t Loaded() const { return Whole + Partial; }
};

// Fills into with up to count bytes of the file, front to back; 0 at its end.
using ByteReader = std::function<std::size_t(char* into, std::size_t count)>;

// Reads the frames of a data file one after another, holding one frame at a
// time, and hands every record that is usable, whole or in part, to take. A
// frame whose length runs past the end of the file is read as far as the file
// goes and ends the file; memory grows with the bytes read, never with what a
// length claims.
FramesRead ReadFrames(const ByteReader& read, const std::function<void(UrlRecord&)>& take);
// The same over bytes in memory.
FramesRead ReadFrames(std::string_view file, const std::function<void(UrlRecord&)>& take);

} // namespace ornbrook
