#pragma once

#include <string>
#include <string_view>

namespace ornbrook {

// The one way a file of the program directory is written anew: the bytes go to
// a temporary file in the same directory (a new, unguessable name, see
// CreateTemporaryFile), Commit flushes them to the disk and renames the file
// over the target. A crash, a full disk or an error at any moment leaves either
// the old file or the new one, never a broken or missing one; a replacement
// that is not committed leaves nothing behind (a killed process leaves its
// temporary file to RemoveStaleTemporaryFiles). The new file is owner-only
// (0600), whatever the old one allowed: the data file holds passwords.
// Failures throw FileError naming the file.
class FileReplacement final {
public:
    explicit FileReplacement(std::string fileName);
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    void Write(std::string_view bytes);
    void Commit();
    // Puts the file in place only where no file of that name is: false, and
    // nothing changed, when one is (another process made it meanwhile).
    bool CommitNew();

private:
    bool Put(bool replace);
    [[noreturn]] void Fail(const std::string& fileName, const char* action);

    std::string fileName_;
    std::string temp_;
    int fd_ = -1;
};

// A whole file replaced by bytes, as above.
void ReplaceFile(const std::string& fileName, std::string_view bytes);

} // namespace ornbrook
