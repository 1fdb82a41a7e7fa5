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

std::string ErrnoText() {
    return LowerCase(std::strerror(errno));
}

} // namespace

// The same server and login as the URL's checks: one limit for both.
DownloadJob::DownloadJob(DownloadRequest request)
    : request_(std::move(request)), server_(request_.Watched.ServerKey()),
      login_(KeptLoginKey(request_.Watched)) {}

namespace {

// MLSD and SFTP give UTC to the second.
bool ExactTime(const ListedTime& time) {
    return time.Utc && time.Precision == ListedTime::Resolution::Second;
}

} // namespace

Result<SavedFile> DownloadJob::Run(const StopSignal* stop, KeptLogins& kept,
                                   const DownloadProgress& progress) const {
    const DownloadRequest& r = request_;
    if (auto judged = JudgeRemotePath(r.Path); !judged)
        return std::move(judged).error();
    const std::string relative = JoinedPath(r.Path);
    const std::string& name = r.Path.back();
    // Every step below the folder goes from its descriptor: nothing a link
    // planted there points to is ever written.
    const OwnedFd top(::open(r.Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!top)
        return Error{ErrorKind::LocalFile,
                     "cannot open the folder " + r.Folder + ": " + ErrnoText()};
    Result<OwnedFd> opened = OpenFolderBelow(top.Get(), r.Path);
    if (!opened)
        return std::move(opened).error();
    const OwnedFd dir = std::move(*opened);
    const std::string folder = r.Folder + "/" + relative.substr(0, relative.size() - name.size());
    const std::time_t now = std::time(nullptr);
    if (const auto local = LocalFileFacts(dir.Get(), name);
        local && r.Size && local->Size == *r.Size &&
        SameListedTime(r.Modified, local->Modified, now))
        return SavedFile{folder + name, local->Size, true};
    if (struct stat there{}; ::fstatat(dir.Get(), name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
                             S_ISLNK(there.st_mode))
        return Error{ErrorKind::Invalid,
                     "refused \"" + relative + "\": \"" + relative + "\" is a link"};
    Result<PartialFile> partial = OpenPartialFile(dir.Get(), name);
    if (!partial)
        return std::move(partial).error();
    const OwnedFd& file = partial->File;
    const auto cannotWrite = [&] {
        return Error{ErrorKind::LocalFile,
                     "cannot write " + folder + partial->Name + ": " + ErrnoText()};
    };
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0)
        return cannotWrite();
    // A partial file of another file, or longer than this one, is no start.
    std::uint64_t offset = static_cast<std::uint64_t>(info.st_size);
    if (!r.Resume || (r.Size && offset > *r.Size))
        offset = 0;
    // A file that cannot fit is not begun; after a full disk, not resumed
    // until there is room again.
    if (auto space = CheckSpace(dir.Get(), r.Size ? *r.Size - offset : 0, r.Folder); !space) {
        if (info.st_size == 0)
            ::unlinkat(dir.Get(), partial->Name.c_str(), 0);
        Error full = std::move(space).error();
        full.Message = "not started: " + full.Message;
        return full;
    }
    if (offset == 0 && info.st_size > 0 && ::ftruncate(file.Get(), 0) != 0)
        return cannotWrite();

    Result<Downloaded> fetched = Error{};
    if (r.Watched.IsSftp()) {
        kept.Ftp.Drop();
        fetched = DownloadSftpFile(SftpTargetOf(r.Watched), r.Watched.PathBelow(relative),
                                   file.Get(), offset, r.Size, progress, stop, r.Idle);
    } else {
        kept.Sftp.Drop();
        fetched = DownloadFtpFile(r.Watched, relative, file.Get(), offset, r.Size, progress, stop,
                                  &kept.Ftp, r.Idle, r.Mode, !ExactTime(r.Modified));
    }
    if (!fetched)
        return std::move(fetched).error();
    const std::optional<std::uint64_t> expected = r.Size ? r.Size : fetched->RemoteSize;
    if (expected && fetched->Length != *expected)
        return Error{ErrorKind::Protocol, "could not download: the server sent " +
                                              std::to_string(fetched->Length) + " bytes of " +
                                              std::to_string(*expected)};
    // The server's word on the time where the listing's is not exact (LIST
    // gives minutes or days, in the server's own zone).
    if (const auto seconds =
            fetched->ModifiedUtc ? fetched->ModifiedUtc : ListedSeconds(r.Modified, now)) {
        const timespec times[2] = {{0, UTIME_OMIT}, {*seconds, 0}};
        ::futimens(file.Get(), times);
    }
    Result<std::string> placed = PlaceFinishedFile(dir.Get(), partial->Name, name);
    if (!placed)
        return std::move(placed).error();
    return SavedFile{folder + *placed, fetched->Length, false};
}

} // namespace ornbrook
