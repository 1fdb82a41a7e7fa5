#include "model/FileReplacement.h"

#include "base/FileIO_Code.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ornbrook {

FileReplacement::FileReplacement(std::string fileName)
    : fileName_(std::move(fileName)), temp_(fileName_ + "." + std::to_string(::getpid()) + ".tmp") {
    // Owner-only from the first byte: the data file holds passwords.
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd_ < 0)
        throw FileError(temp_, std::string("cannot create: ") + std::strerror(errno));
    // A file that is there keeps its mode: a save never widens (nor narrows)
    // what its owner allowed.
    struct stat existing {};
    if (::stat(fileName_.c_str(), &existing) == 0)
        ::fchmod(fd_, existing.st_mode & 07777);
}

FileReplacement::~FileReplacement() {
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(temp_.c_str());
    }
}

void FileReplacement::Fail(const std::string& fileName, const char* action) {
    const std::string cause = std::string(action) + ": " + std::strerror(errno);
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    ::unlink(temp_.c_str());
    throw FileError(fileName, cause);
}

void FileReplacement::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Fail(temp_, "cannot write");
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void FileReplacement::Commit() {
    if (::fsync(fd_) != 0)
        Fail(temp_, "cannot write");
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        fd_ = -1;
        Fail(temp_, "cannot write");
    }
    if (::rename(temp_.c_str(), fileName_.c_str()) != 0)
        Fail(fileName_, "cannot replace");
    // The rename itself reaches the disk with the directory.
    const auto slash = fileName_.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : fileName_.substr(0, slash + 1);
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

} // namespace ornbrook
