#pragma once

#include "base/Result.h"
#include "ftp/ListedEntry.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ornbrook {

// Where a file from a server goes in a local download folder, and the rules that
// keep it there: a name from any listing is the server's word, so each segment
// of its path is judged on its own and a bad one is refused, never cleaned.
// Below the folder every step is taken from the folder's descriptor, one part at
// a time, never through a link and never through a file with a second name.

// Why a listed name cannot stand for an entry of its folder: empty, "." or
// "..", or "/" inside it; none when it can. Listings refuse such names (with
// a message) rather than show them.
const char* ListedNameFault(std::string_view name);

// Whether a remote path (its segments, folders first, the file's name last) may
// be written below a download folder. Invalid: no segment, what ListedNameFault
// refuses, "\" inside a segment, control characters. The reason names the file
// as the server gave it; it is escaped where it is shown.
Result<void> JudgeRemotePath(const std::vector<std::string>& segments);

// The path relative to the download folder (and to the URL's directory).
std::string JoinedPath(const std::vector<std::string>& segments);

// The hidden file a download of `name` is written to until it is whole, beside
// it: ".NAME.ornbrook-part", and ".NAME.N.ornbrook-part" for n = N > 1 where
// the first cannot be ours (a link, another file's second name).
std::string PartialFileName(const std::string& name, int n = 1);

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

// A local file's size and modification time; none when there is no regular
// file of that name (a link is none). name is relative to the folder dir, or
// a whole path for AT_FDCWD.
struct LocalFacts {
    std::uint64_t Size = 0;
    std::time_t Modified = 0;
};
std::optional<LocalFacts> LocalFileFacts(int dir, const std::string& name);
std::optional<LocalFacts> LocalFileFacts(const std::string& path);

// A descriptor that is closed with its owner.
class OwnedFd final {
public:
    OwnedFd() = default;
    explicit OwnedFd(int fd) : fd_(fd) {}
    ~OwnedFd();
    OwnedFd(OwnedFd&& other) noexcept;
    OwnedFd& operator=(OwnedFd&& other) noexcept;
    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// The local steps fail as LocalFile, or as Invalid where a link (or the like)
// stands in the way, so that trying again would change nothing.

// The folder the file at path (folders first, its name last) goes into,
// opened from top one folder at a time (openat with O_NOFOLLOW), each made
// where missing. A link on the way refuses the file; top itself may be a link.
Result<OwnedFd> OpenFolderBelow(int top, const std::vector<std::string>& path);

// The partial file of `name` in dir, opened for reading and writing (made if
// missing): the first PartialFileName that is no link and a regular file with
// one name. Whatever else stands at a partial name is left alone.
struct PartialFile {
    OwnedFd File;
    std::string Name;
};
Result<PartialFile> OpenPartialFile(int dir, const std::string& name);

// Moves a finished partial file in dir to name or, where something of that
// name is there already, to the first free "name (n)": never over anything,
// never through a link. The name it went to.
Result<std::string> PlaceFinishedFile(int dir, const std::string& partial, const std::string& name);

// Whether `toFetch` more bytes fit into the file system of dir: not when they
// would leave less free than 1 % of its size or 100 MB, whichever is less;
// folder names the place in the message.
Result<void> CheckSpace(int dir, std::uint64_t toFetch, const std::string& folder);

} // namespace ornbrook
