#pragma once

#include "ftp/ListedEntry.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace ornbrook {

// Where a file from a server goes in a local download folder, and the rules that
// keep it there: a name from any listing is the server's word, so each segment
// of its path is judged on its own and a bad one is refused, never cleaned.

// Why a remote path (its segments, folders first, the file's name last) cannot
// be written below a download folder; empty when it can. Refused: no segment,
// an empty segment, "." and "..", "/" or "\" inside a segment, control
// characters. The reason names the file as it may be shown.
std::string JudgeRemotePath(const std::vector<std::string>& segments);

// The path relative to the download folder (and to the URL's directory).
std::string JoinedPath(const std::vector<std::string>& segments);

// The hidden file a download is written to until it is whole, beside the
// target: ".NAME.ornbrook-part", a name no listed file can take over since
// the listing's own "." files are never written there by us.
std::string PartialFileName(const std::string& target);

// "name (2).ext" for n = 2: the free name for a different file of the same
// name. A name led by its only dot (".profile") has no extension.
std::string NumberedName(const std::string& target, int n);

// The modification time a listing gives, in seconds since 1970: UTC where the
// listing says so, else the local clock's reading of the server's time (the
// server's zone is unknown). A time without a year is within the last half
// year before now. None when the listing gave no time.
std::optional<std::time_t> ListedSeconds(const ListedTime& time, std::time_t now);

// Whether a local file's time is the listed one, as far as the listing tells.
bool SameListedTime(const ListedTime& listed, std::time_t local, std::time_t now);

// A local file's size and modification time; none when there is no regular file.
struct LocalFacts {
    std::uint64_t Size = 0;
    std::time_t Modified = 0;
};
std::optional<LocalFacts> LocalFileFacts(const std::string& path);

// Renames a finished partial file to target or, where a file of that name is
// there already, to the first free "target (n)": never over an existing file.
// The name it went to; empty with problem set when it could not go anywhere.
std::string PlaceFinishedFile(const std::string& partial, const std::string& target,
                              std::string& problem);

// Makes the folders of path below folder, which must exist; false with problem set.
bool MakeFolders(const std::string& folder, const std::vector<std::string>& segments,
                 std::string& problem);

} // namespace ornbrook
