#include "model/DamagedFile.h"

#include "base/FileIO_Code.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace ornbrook {

namespace {

constexpr std::size_t CopyPiece = 1 << 16;
// Copies of one file within one second; more means something loops.
constexpr int MostPerSecond = 100;

[[noreturn]] void ThrowErrno(const std::string& fileName, const char* action) {
    throw FileError(fileName, std::string(action) + ": " + std::strerror(errno));
}

class Descriptor final {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

std::size_t ReadAt(int fd, const std::string& fileName, char* into, std::size_t count,
                   off_t offset) {
    for (;;) {
        const ssize_t n = ::pread(fd, into, count, offset);
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno != EINTR)
            ThrowErrno(fileName, "cannot read");
    }
}

// Whether the file other holds exactly the size bytes of fd.
bool SameBytes(int fd, const std::string& fileName, off_t size, const std::string& other) {
    const Descriptor copy(::open(other.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (copy.Get() < 0 || ::fstat(copy.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size != size)
        return false;
    std::string mine(CopyPiece, '\0'), theirs(CopyPiece, '\0');
    for (off_t at = 0; at < size;) {
        const std::size_t n = ReadAt(fd, fileName, mine.data(), CopyPiece, at);
        if (n == 0 || ReadAt(copy.Get(), other, theirs.data(), n, at) != n ||
            std::memcmp(mine.data(), theirs.data(), n) != 0)
            return false;
        at += static_cast<off_t>(n);
    }
    return true;
}

// A copy of these very bytes kept by an earlier load, if there is one.
bool KeptAlready(int fd, const std::string& fileName, off_t size) {
    namespace fs = std::filesystem;
    const fs::path path(fileName);
    const std::string prefix = path.filename().string() + ".damaged-";
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(path.parent_path(), error)) {
        if (entry.path().filename().string().starts_with(prefix) &&
            SameBytes(fd, fileName, size, entry.path().string()))
            return true;
    }
    return false;
}

std::string Stem(const std::string& fileName, const std::string& why) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return fileName + "." + why + "-" + stamp;
}

std::string Numbered(const std::string& stem, int n) {
    return n == 1 ? stem : stem + "-" + std::to_string(n);
}

bool Exists(const std::string& fileName) {
    struct stat info {};
    return ::lstat(fileName.c_str(), &info) == 0;
}

void WriteAll(int fd, const std::string& name, const char* bytes, std::size_t count) {
    for (std::size_t done = 0; done < count;) {
        const ssize_t w = ::write(fd, bytes + done, count - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            ThrowErrno(name, "cannot keep the damaged file");
        done += static_cast<std::size_t>(w);
    }
}

} // namespace

std::string KeepDamagedCopy(int fd, const std::string& fileName, off_t size) {
    if (KeptAlready(fd, fileName, size))
        return {};
    const std::string stem = Stem(fileName, "damaged");
    std::string name;
    int copy = -1;
    // Created new or not at all: an earlier copy of the same second stays.
    for (int n = 1; copy < 0; ++n) {
        name = Numbered(stem, n);
        copy = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (copy < 0 && (errno != EEXIST || n >= MostPerSecond))
            ThrowErrno(name, "cannot keep the damaged file");
    }
    const Descriptor guard(copy);
    try {
        ::fchmod(copy, 0600);
        std::string buffer(CopyPiece, '\0');
        for (off_t at = 0; at < size;) {
            const std::size_t n = ReadAt(fd, fileName, buffer.data(), CopyPiece, at);
            if (n == 0)
                break;
            WriteAll(copy, name, buffer.data(), n);
            at += static_cast<off_t>(n);
        }
        if (::fsync(copy) != 0)
            ThrowErrno(name, "cannot keep the damaged file");
    } catch (...) {
        ::unlink(name.c_str());
        throw;
    }
    return name;
}

std::string KeepDamagedCopy(const std::string& fileName) {
    const Descriptor file(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (file.Get() < 0 || ::fstat(file.Get(), &info) != 0)
        ThrowErrno(fileName, "cannot read");
    return KeepDamagedCopy(file.Get(), fileName, info.st_size);
}

std::string SetAside(const std::string& fileName, const std::string& why,
                     std::span<const char* const> companions) {
    const std::string stem = Stem(fileName, why);
    std::string name;
    for (int n = 1;; ++n) {
        name = Numbered(stem, n);
        bool free = !Exists(name);
        for (const char* companion : companions)
            free = free && !Exists(name + companion);
        if (free)
            break;
        if (n >= MostPerSecond)
            throw FileError(fileName, "cannot set it aside: too many copies");
    }
    if (::rename(fileName.c_str(), name.c_str()) != 0)
        ThrowErrno(fileName, "cannot set it aside");
    for (const char* companion : companions) {
        const std::string from = fileName + companion;
        if (::rename(from.c_str(), (name + companion).c_str()) != 0 && errno != ENOENT)
            ThrowErrno(from, "cannot set it aside");
    }
    return name;
}

} // namespace ornbrook
