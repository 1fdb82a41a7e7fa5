#pragma once

#include "base/Result.h"
#include "ftp/ServerMemory.h"
#include "model/NameFilter.h"
#include "model/UrlNames.h"
#include "platform/ProgramCommand.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ornbrook {

// What a user may set for one watched URL beyond its text. The defaults are
// what every URL did before it could have settings of its own: one folder,
// every name, the global interval.
struct UrlSettings {
    // Subfolders watched below the URL's folder (0: the folder alone).
    std::int32_t Depth = 0;
    // Globs matched against a file's path relative to the URL, or its last
    // part for a glob without "/" (see NameFilter): a file counts when it
    // matches an include (any, when there is none), an entry when neither it
    // nor a folder above it matches an exclude.
    std::vector<std::string> Include;
    std::vector<std::string> Exclude;
    bool NoCase = false;
    // Seconds between periodic checks; 0 takes the global interval.
    std::int64_t Interval = 0;
    // Kept in the list but left out of periodic checks and --check.
    bool Paused = false;
    // Where every file reported from now on is downloaded (absolute); empty
    // for none.
    std::string Download;
    // A program run for every file reported (after its download, with
    // Download): "PROGRAM ARG...", split as a shell quotes when it is set, with
    // {path}, {url} and {name} put in for each file; empty for none.
    ProgramCommand Run;
    // How an FTP server's data connections are made: active, falling back to
    // passive for good when active ones never arrive (auto), or one alone.
    DataMode Mode = DataMode::Auto;

    bool operator==(const UrlSettings&) const = default;
    bool IsDefault() const { return *this == UrlSettings{}; }
    // Whether both settings see the same files: depth and filters alike.
    bool SameView(const UrlSettings& other) const;
    // Whether an entry at this relative path ("sub/file") counts.
    bool Counts(std::string_view path, bool folder = false) const;
};

// What a URL's settings let into view: paths at most Depth folders down that
// count, with the globs compiled once for the many paths of a listing.
class UrlView final {
public:
    explicit UrlView(const UrlSettings& settings);
    bool Shows(std::string_view path, bool folder) const;

private:
    std::int32_t depth_;
    NameFilter filter_;
};

constexpr std::int32_t MaxDepth = 10;

// Applies "KEY=VALUE" assignments, all or nothing: on any unknown key or bad
// value, settings stay as they were and the problem comes back (Invalid). A
// key given replaces its whole value (the include and exclude lists are made of
// every occurrence in this call); "KEY=" returns it to its default.
Result<void> ApplyAssignments(UrlSettings& settings, const std::vector<std::string>& assignments);

// Every key as "KEY=VALUE" lines, one per pattern for the lists (none when a
// list is empty), in the order of the key table.
std::vector<std::string> AssignmentLines(const UrlSettings& settings);

// A few words for the user on what differs from the defaults ("depth 2,
// include *.csv, every 600 s, paused"); empty for defaults.
std::string DescribeSettings(const UrlSettings& settings);

// urlsettings.json: the settings of every URL that has any, by its name
// (model/UrlNames), written as the URL without its password and the name's tag.
// Saving replaces the file atomically, owner-only, and removes it when no URL
// has settings. Throws FileError.
using SettingsByUrl = std::map<std::string, UrlSettings>;
struct SettingsFile {
    SettingsByUrl Settings;
    // Entries that named their URL by its text, password and all, as the first
    // version of the file did (named by their URL's name now): the file must
    // be written anew.
    std::size_t OldEntries = 0;
    // What did not check out, one problem a line; empty when all did.
    std::string Problems;
};
// Loading takes what can be read; a file that is not entirely sound is kept
// aside (KeepDamagedCopy) and notice says so, once (empty when all was well).
SettingsFile LoadUrlSettings(const std::string& fileName, const UrlNames& names,
                             std::string& notice);
void SaveUrlSettings(const std::string& fileName, const SettingsByUrl& settings);
// The file's text for settings, and settings back from a text (for both of
// the above).
std::string UrlSettingsText(const SettingsByUrl& settings);
SettingsFile ParseUrlSettings(std::string_view text, const UrlNames& names);

} // namespace ornbrook
