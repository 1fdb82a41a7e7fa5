#include "model/DataFileLoad.h"

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

constexpr const char* DamagedInfix = ".damaged-";
constexpr std::size_t CopyPiece = 1 << 16;

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

// A copy of this very file kept by an earlier load, if there is one.
bool KeptAlready(int fd, const std::string& fileName, off_t size) {
    namespace fs = std::filesystem;
    const fs::path path(fileName);
    const std::string prefix = path.filename().string() + DamagedInfix;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(path.parent_path(), error)) {
        if (entry.path().filename().string().starts_with(prefix) &&
            SameBytes(fd, fileName, size, entry.path().string()))
            return true;
    }
    return false;
}

std::string TimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

// Copies the file of fd, from its first byte, into a new owner-only file
// beside it; returns the copy's name.
std::string KeepAside(int fd, const std::string& fileName, off_t size) {
    const std::string stem = fileName + DamagedInfix + TimeStamp();
    std::string name = stem;
    int copy = -1;
    // Two damaged files within one second get a number.
    for (int n = 2; (copy = ::open(name.c_str(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)) < 0;
         ++n) {
        if (errno != EEXIST || n > 100)
            ThrowErrno(name, "cannot keep the damaged data file");
        name = stem + "-" + std::to_string(n);
    }
    const Descriptor guard(copy);
    ::fchmod(copy, 0600);
    std::string buffer(CopyPiece, '\0');
    for (off_t at = 0; at < size;) {
        const std::size_t n = ReadAt(fd, fileName, buffer.data(), CopyPiece, at);
        if (n == 0)
            break;
        for (std::size_t done = 0; done < n;) {
            const ssize_t w = ::write(copy, buffer.data() + done, n - done);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                const int cause = errno;
                ::unlink(name.c_str());
                errno = cause;
                ThrowErrno(name, "cannot keep the damaged data file");
            }
            done += static_cast<std::size_t>(w);
        }
        at += static_cast<off_t>(n);
    }
    if (::fsync(copy) != 0) {
        const int cause = errno;
        ::unlink(name.c_str());
        errno = cause;
        ThrowErrno(name, "cannot keep the damaged data file");
    }
    return name;
}

int OpenOrCreate(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT)
        return fd;
    // Created owner-only: the URLs it will hold carry passwords.
    const int created =
        ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (created < 0 && errno != EEXIST)
        ThrowErrno(fileName, "cannot create");
    if (created >= 0)
        ::close(created);
    return ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
}

std::string Counted(std::size_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

} // namespace

DataFileLoad LoadDataFile(const std::string& fileName,
                          const std::function<void(UrlRecord&)>& take) {
    RemoveStaleTemporaryFiles(fileName);
    const Descriptor file(OpenOrCreate(fileName));
    if (file.Get() < 0)
        ThrowErrno(fileName, "cannot open");
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0)
        ThrowErrno(fileName, "cannot read");
    if (!S_ISREG(info.st_mode))
        throw FileError(fileName, "cannot read: not a regular file");
    if ((info.st_mode & 077) != 0)
        ::fchmod(file.Get(), 0600);

    DataFileLoad load;
    off_t at = 0;
    load.Frames = ReadFrames(
        [&](char* into, std::size_t count) {
            const std::size_t n = ReadAt(file.Get(), fileName, into, count, at);
            at += static_cast<off_t>(n);
            return n;
        },
        take);
    if (load.Frames.Damaged() && !KeptAlready(file.Get(), fileName, at))
        load.KeptAs = KeepAside(file.Get(), fileName, at);
    return load;
}

std::string DamageNotice(const DataFileLoad& load) {
    if (load.KeptAs.empty())
        return {};
    const std::size_t loaded = load.Frames.Loaded();
    std::string text = "maindata.dat is damaged: ";
    if (loaded == 0) {
        text += "nothing in it could be read, the watch list starts empty.";
    } else {
        text += "what could be read is loaded (" + Counted(loaded, "URL");
        if (load.Frames.Partial > 0)
            text += ", " + std::to_string(load.Frames.Partial) + " of them in part";
        text += ").";
    }
    return text + " The file as it was is kept as " + load.KeptAs + ".";
}

} // namespace ornbrook
