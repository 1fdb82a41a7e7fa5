#pragma once

#include <string>
#include <string_view>

namespace ornbrook {

// A new version of a file, written beside it and put in its place only when
// complete: the bytes go to a temporary file in the same directory, Commit
// flushes them to the disk and renames the file over the target. A crash, a full
// disk or an error at any moment leaves either the old file or the new one, never
// a broken or missing one; a replacement that is not committed leaves nothing
// behind. A new file is owner-only; a replaced one keeps its mode. Failures
// throw FileError naming the file.
class FileReplacement final {
public:
    explicit FileReplacement(std::string fileName);
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    void Write(std::string_view bytes);
    void Commit();

private:
    [[noreturn]] void Fail(const std::string& fileName, const char* action);

    std::string fileName_;
    std::string temp_;
    int fd_ = -1;
};

} // namespace ornbrook
