#include "base/FileIO_Code.h"

#include "base/ProgramGlobals.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fnmatch.h>
#include <memory>
#include <optional>
#include <random>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

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

constexpr const char* TemporarySuffix = ".tmp";
constexpr std::size_t RandomDigits = 16;

std::string RandomHexDigits() {
    unsigned char bytes[RandomDigits / 2];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    if (got < sizeof bytes) {
        std::random_device device;
        for (auto& byte : bytes)
            byte = static_cast<unsigned char>(device());
    }
    static constexpr char Hex[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : bytes) {
        text += Hex[byte >> 4];
        text += Hex[byte & 0xF];
    }
    return text;
}

bool AllOf(const std::string& text, int (*test)(int)) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [test](char c) { return test(c) != 0; });
}

// The process that made a temporary file of base: "base.PID.RANDOM.tmp", or
// "base.PID.tmp" as earlier versions named it. None for any other name.
std::optional<pid_t> TemporaryFileOwner(const std::string& name, const std::string& base) {
    const std::string prefix = base + ".";
    if (!name.starts_with(prefix) || !name.ends_with(TemporarySuffix))
        return std::nullopt;
    const std::string middle =
        name.substr(prefix.size(), name.size() - prefix.size() - std::strlen(TemporarySuffix));
    const auto dot = middle.find('.');
    const std::string pid = middle.substr(0, dot);
    if (dot != std::string::npos) {
        const std::string random = middle.substr(dot + 1);
        if (random.size() != RandomDigits || !AllOf(random, &::isxdigit))
            return std::nullopt;
    }
    if (pid.size() > 9 || !AllOf(pid, &::isdigit))
        return std::nullopt;
    return static_cast<pid_t>(std::stol(pid));
}

bool ProcessRuns(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

} // namespace

FileError::FileError(const std::string& fileName, const std::string& cause)
    : std::runtime_error("File \"" + fileName + "\": " + cause), fileName_(fileName),
      cause_(cause) {}

bool FileExists(const std::string& fileName) {
    struct stat info {};
    return ::stat(fileName.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

int CreateTemporaryFile(const std::string& fileName, std::string& tempName) {
    for (int attempt = 0;; ++attempt) {
        tempName =
            fileName + "." + std::to_string(::getpid()) + "." + RandomHexDigits() + TemporarySuffix;
        const int fd =
            ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            // The umask may have taken the owner's own bits away.
            ::fchmod(fd, 0600);
            return fd;
        }
        if (errno != EEXIST || attempt == 8)
            ThrowErrno(tempName, "cannot create");
    }
}

int RemoveStaleTemporaryFiles(const std::string& fileName) {
    namespace fs = std::filesystem;
    const fs::path path(fileName);
    const std::string base = path.filename().string();
    const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
    int removed = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
        const auto owner = TemporaryFileOwner(entry.path().filename().string(), base);
        // This process's own pid is left alone: its saves may be under way.
        if (!owner || *owner <= 0 || *owner == ::getpid() || ProcessRuns(*owner))
            continue;
        if (!entry.is_directory(error) && ::unlink(entry.path().c_str()) == 0)
            ++removed;
    }
    return removed;
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
