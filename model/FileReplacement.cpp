#include "model/FileReplacement.h"

#include "base/FileIO_Code.h"
#include "diag/Debug_Modul.h"

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

std::string FileReplacement::ProzessName(const std::string& fileName) {
    const auto slash = fileName.rfind('/');
    return "replace " + (slash == std::string::npos ? fileName : fileName.substr(slash + 1));
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
    if (::close(fd) != 0)
        Fail(temp_, "cannot write");
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
    RecordProzessRun(ProzessName(fileName_), std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 std::chrono::steady_clock::now() - begun_)
                                                 .count());
}

} // namespace ornbrook
