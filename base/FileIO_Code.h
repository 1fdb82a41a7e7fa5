#pragma once

#include <stdexcept>
#include <string>

namespace ornbrook {

// A file that cannot be created, opened, written or deleted. The message names
// the file and the cause; the program's callers do not catch it.
class FileError : public std::runtime_error {
public:
    FileError(const std::string& fileName, const std::string& cause);
    const std::string& FileName() const { return fileName_; }
    // What went wrong, without the file's name ("cannot write: No space left on device").
    const std::string& Cause() const { return cause_; }

private:
    std::string fileName_;
    std::string cause_;
};

// One-line settings files and small file chores. Each call opens, works and
// closes; nothing stays open between calls. Names are full paths.

// Creates or truncates the file and writes text followed by CR LF.
void WriteText(const std::string& fileName, const std::string& text);

// The first line of the file (up to the first line break, without it). A missing
// file is first written with the default, so every settings file exists after
// its first read. An empty file reads as the empty text.
std::string ReadFirstLine(const std::string& fileName, const std::string& defaultText);

// Creates the file, or truncates an existing one, to zero length.
void CreateEmptyFile(const std::string& fileName);

// Creates an empty file unless one exists; an existing file is left untouched.
void EnsureFileExists(const std::string& fileName);

// Deletes the file, or every file in its directory that the name matches when
// its last component holds wildcards ("debugfile.prozessinfo.*"). No match is
// not an error.
void DeleteFileIfExists(const std::string& fileNameOrPattern);

// True when a directory entry of that name exists and is not a directory.
bool FileExists(const std::string& fileName);

// A new file beside fileName for writing its next version, open for writing:
// "fileName.PID.RANDOM.tmp", where RANDOM is 16 hex digits nobody can guess.
// It is created new or not at all (never an existing file, never through a
// link) and owner-only (0600) from the start. Returns the descriptor and sets
// tempName; throws FileError.
int CreateTemporaryFile(const std::string& fileName, std::string& tempName);

// Removes the temporary files of fileName (as CreateTemporaryFile names them, or
// "fileName.PID.tmp" as earlier versions did) whose process no longer runs: a
// run killed during a save leaves one behind. Returns how many went.
int RemoveStaleTemporaryFiles(const std::string& fileName);

} // namespace ornbrook
