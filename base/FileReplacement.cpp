#include "base/FileReplacement.h"

#include "base/FileIO_Code.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace ornbrook {

FileReplacement::FileReplacement(std::string fileName) : fileName_(std::move(fileName)) {
    fd_ = CreateTemporaryFile(fileName_, temp_);
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
    Put(true);
}

bool FileReplacement::CommitNew() {
    return Put(false);
}

bool FileReplacement::Put(bool replace) {
    if (::fsync(fd_) != 0)
        Fail(temp_, "cannot write");
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        Fail(temp_, "cannot write");
    if (!replace) {
        // A link fails where a file is; the temporary name goes either way.
        const bool linked = ::link(temp_.c_str(), fileName_.c_str()) == 0;
        const int cause = errno;
        ::unlink(temp_.c_str());
        errno = cause;
        if (!linked && cause != EEXIST)
            Fail(fileName_, "cannot write");
        if (!linked)
            return false;
    } else if (::rename(temp_.c_str(), fileName_.c_str()) != 0) {
        Fail(fileName_, "cannot replace");
    }
    // The new name itself reaches the disk with the directory.
    const auto slash = fileName_.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : fileName_.substr(0, slash + 1);
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

void ReplaceFile(const std::string& fileName, std::string_view bytes) {
    FileReplacement file(fileName);
    file.Write(bytes);
    file.Commit();
}

} // namespace ornbrook
