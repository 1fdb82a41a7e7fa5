#include "ftp/LocalFiles.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ornbrook {

FileSink::~FileSink() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool FileSink::Open() {
    opened_ = true;
    // Truncated only once it is known to be a file of one name: a hard link
    // would carry the download into a file elsewhere.
    fd_ = ::open(fileName_.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    struct stat info {};
    ours_ = fd_ >= 0 && ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1 &&
            ::ftruncate(fd_, 0) == 0;
    failed_ = !ours_;
    return ours_;
}

bool FileSink::Take(std::string_view bytes) {
    if (!opened_ && !Open())
        return false;
    while (!failed_ && !bytes.empty()) {
        const ssize_t w = ::write(fd_, bytes.data(), bytes.size());
        if (w < 0 && errno == EINTR)
            continue;
        failed_ = w <= 0;
        if (w > 0)
            bytes.remove_prefix(static_cast<std::size_t>(w));
    }
    return !failed_;
}

Result<FtpReply> FileSink::Finish(Result<FtpReply> r) {
    if (r && !opened_)
        Open();
    if (fd_ >= 0 && ::close(fd_) != 0)
        failed_ = true;
    fd_ = -1;
    if (r && failed_)
        r = Error{ErrorKind::LocalFile, "could not write the local file"};
    // Only a file that this download wrote goes; one refused is left alone.
    if (!r && ours_)
        std::remove(fileName_.c_str());
    return r;
}

long FileSource::Fill(char* buffer, std::size_t size) {
    in_.read(buffer, static_cast<std::streamsize>(size));
    return in_.bad() ? -1 : static_cast<long>(in_.gcount());
}

} // namespace ornbrook
