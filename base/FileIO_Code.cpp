#include "base/FileIO_Code.h"

#include "base/ProgramGlobals.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fnmatch.h>
#include <memory>
#include <sys/stat.h>

namespace ornbrook {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

[[noreturn]] void ThrowErrno(const std::string& fileName, const char* action) {
    throw FileError(fileName, std::string(action) + ": " + std::strerror(errno));
}

FilePtr Open(const std::string& fileName, const char* mode, const char* action) {
    FilePtr file(std::fopen(fileName.c_str(), mode));
    if (!file)
        ThrowErrno(fileName, action);
    return file;
}

// Closing reports a failed flush (a full disk), so it is checked, not left to the deleter.
void Close(FilePtr file, const std::string& fileName) {
    if (std::fclose(file.release()) != 0)
        ThrowErrno(fileName, "cannot write");
}

bool HasWildcards(const std::string& name) {
    return name.find_first_of("*?[") != std::string::npos;
}

} // namespace

FileError::FileError(const std::string& fileName, const std::string& cause)
    : std::runtime_error("File \"" + fileName + "\": " + cause), fileName_(fileName) {}

bool FileExists(const std::string& fileName) {
    struct stat info {};
    return ::stat(fileName.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

void WriteText(const std::string& fileName, const std::string& text) {
    auto file = Open(fileName, "wb", "cannot create");
    const std::string line = text + LineBreak;
    if (std::fwrite(line.data(), 1, line.size(), file.get()) != line.size())
        ThrowErrno(fileName, "cannot write");
    Close(std::move(file), fileName);
}

std::string ReadFirstLine(const std::string& fileName, const std::string& defaultText) {
    if (!FileExists(fileName))
        WriteText(fileName, defaultText);
    auto file = Open(fileName, "rb", "cannot open");
    std::string line;
    // A line ends at CR, LF or CR LF, so hand-edited files with bare LF read the same.
    for (int c; (c = std::fgetc(file.get())) != EOF;) {
        if (c == '\r' || c == '\n')
            break;
        line += static_cast<char>(c);
    }
    if (std::ferror(file.get()))
        ThrowErrno(fileName, "cannot read");
    return line;
}

void CreateEmptyFile(const std::string& fileName) {
    Close(Open(fileName, "wb", "cannot create"), fileName);
}

void EnsureFileExists(const std::string& fileName) {
    if (!FileExists(fileName))
        CreateEmptyFile(fileName);
}

void DeleteFileIfExists(const std::string& fileNameOrPattern) {
    namespace fs = std::filesystem;
    const fs::path path(fileNameOrPattern);
    const std::string pattern = path.filename().string();
    if (!HasWildcards(pattern)) {
        if (FileExists(fileNameOrPattern) && std::remove(fileNameOrPattern.c_str()) != 0)
            ThrowErrno(fileNameOrPattern, "cannot delete");
        return;
    }
    // Only the last component is a pattern: the directory itself may hold "[" or "*".
    const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_directory(error) || fnmatch(pattern.c_str(), name.c_str(), FNM_PERIOD) != 0)
            continue;
        if (std::remove(entry.path().c_str()) != 0)
            ThrowErrno(entry.path().string(), "cannot delete");
    }
}

} // namespace ornbrook
