#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace ornbrook {

// A new version of a file, written beside it and put in its place only when
// complete: the bytes go to a temporary file in the same directory (a new,
// unguessable name, see CreateTemporaryFile), Commit flushes them to the disk
// and renames the file over the target. A crash, a full disk or an error at any
// moment leaves either the old file or the new one, never a broken or missing
// one; a replacement that is not committed leaves nothing behind (a killed
// process leaves its temporary file to RemoveStaleTemporaryFiles). The new file
// is owner-only (0600), whatever the old one allowed: the data file holds
// passwords. Failures throw FileError naming the file.
//
// Every commit counts as one run of the process "replace NAME" (NAME the bare
// file name) in the timing statistics, so the debug window shows how often and
// how long the program writes each file.
class FileReplacement final {
public:
    explicit FileReplacement(std::string fileName);
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    void Write(std::string_view bytes);
    void Commit();

    // The name of the timing statistics' process of a file's replacements.
    static std::string ProzessName(const std::string& fileName);

private:
    [[noreturn]] void Fail(const std::string& fileName, const char* action);

    std::string fileName_;
    std::string temp_;
    int fd_ = -1;
    std::chrono::steady_clock::time_point begun_ = std::chrono::steady_clock::now();
};

} // namespace ornbrook
