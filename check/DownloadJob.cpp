#include "check/DownloadJob.h"

#include "base/Text_Code.h"
#include "check/DownloadTarget.h"
#include "sftp/SftpListing.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ornbrook {

namespace {

// Closes the partial file however the download ends.
class OpenFile final {
public:
    explicit OpenFile(int fd) : fd_(fd) {}
    ~OpenFile() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int Fd() const { return fd_; }

private:
    int fd_;
};

std::string ErrnoText() {
    return LowerCase(std::strerror(errno));
}

std::string RemotePath(const std::string& directory, const std::string& relative) {
    if (directory.empty() || directory.back() == '/')
        return directory + relative;
    return directory + "/" + relative;
}

} // namespace

DownloadJob::DownloadJob(DownloadRequest request)
    : request_(std::move(request)), target_(ParseURL(request_.Url)),
      sftp_(IsSftpScheme(target_.Scheme)) {
    // The same server and login as the URL's checks: one limit for both.
    const CheckJob check(request_.Url, false);
    server_ = check.Server();
    login_ = check.Login();
}

std::string DownloadJob::Target() const {
    return request_.Folder + "/" + JoinedPath(request_.Path);
}

DownloadResult DownloadJob::Run(const StopSignal* stop, KeptLogins& kept,
                                const DownloadProgress& progress) const {
    DownloadResult result;
    const DownloadRequest& r = request_;
    if (std::string refusal = JudgeRemotePath(r.Path); !refusal.empty()) {
        result.Refused = true;
        result.Message = std::move(refusal);
        return result;
    }
    const std::string target = Target();
    const std::time_t now = std::time(nullptr);
    if (const auto local = LocalFileFacts(target);
        local && r.Size && local->Size == *r.Size && SameListedTime(r.Modified, local->Modified, now)) {
        result.Ok = result.AlreadyThere = true;
        result.SavedAs = target;
        result.Length = local->Size;
        return result;
    }
    if (!MakeFolders(r.Folder, r.Path, result.Message))
        return result;
    const std::string partial = PartialFileName(target);
    const OpenFile file(::open(partial.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666));
    struct stat info {};
    if (file.Fd() < 0 || ::fstat(file.Fd(), &info) != 0 || !S_ISREG(info.st_mode)) {
        result.Message = "cannot write " + partial + ": " + ErrnoText();
        return result;
    }
    // A partial file of another file, or longer than this one, is no start.
    std::uint64_t offset = static_cast<std::uint64_t>(info.st_size);
    if (!r.Resume || (r.Size && offset > *r.Size))
        offset = 0;
    if (offset == 0 && info.st_size > 0 && ::ftruncate(file.Fd(), 0) != 0) {
        result.Message = "cannot write " + partial + ": " + ErrnoText();
        return result;
    }

    const std::string relative = JoinedPath(r.Path);
    DownloadOutcome outcome;
    if (sftp_) {
        kept.Ftp.Drop();
        outcome = DownloadSftpFile(SftpTargetOf(target_), RemotePath(target_.Path, relative),
                                   file.Fd(), offset, progress, stop, r.Idle);
    } else {
        kept.Sftp.Drop();
        outcome = DownloadFtpFile(target_, login_, relative, file.Fd(), offset, progress, stop,
                                  &kept.Ftp, r.Idle);
    }
    result.Length = outcome.Length;
    if (!outcome.Ok) {
        result.Message = std::move(outcome.Message);
        return result;
    }
    const std::optional<std::uint64_t> expected = r.Size ? r.Size : outcome.RemoteSize;
    if (expected && outcome.Length != *expected) {
        result.Message = "could not download: the server sent " + std::to_string(outcome.Length) +
                         " bytes of " + std::to_string(*expected);
        return result;
    }
    if (const auto seconds = ListedSeconds(r.Modified, now)) {
        const timespec times[2] = {{0, UTIME_OMIT}, {*seconds, 0}};
        ::futimens(file.Fd(), times);
    }
    result.SavedAs = PlaceFinishedFile(partial, target, result.Message);
    result.Ok = !result.SavedAs.empty();
    return result;
}

} // namespace ornbrook
