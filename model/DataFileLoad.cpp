#include "model/DataFileLoad.h"

#include "base/FileIO_Code.h"
#include "model/DamagedFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ornbrook {

namespace {

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
    if (load.Frames.Damaged())
        load.KeptAs = KeepDamagedCopy(file.Get(), fileName, at);
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
