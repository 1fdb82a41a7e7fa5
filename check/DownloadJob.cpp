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

DownloadResult DownloadJob::Run(const StopSignal* stop, KeptLogins& kept,
                                const DownloadProgress& progress) const {
    DownloadResult result;
    const DownloadRequest& r = request_;
    if (std::string refusal = JudgeRemotePath(r.Path); !refusal.empty()) {
        result.Refused = true;
        result.Message = std::move(refusal);
        return result;
    }
    const std::string relative = JoinedPath(r.Path);
    const std::string& name = r.Path.back();
    // Every step below the folder goes from its descriptor: nothing a link
    // planted there points to is ever written.
    const OwnedFd top(::open(r.Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!top) {
        result.Message = "cannot open the folder " + r.Folder + ": " + ErrnoText();
        return result;
    }
    LocalProblem problem;
    const OwnedFd dir = OpenFolderBelow(top.Get(), r.Path, problem);
    const auto failed = [&result, &problem] {
        result.Refused = problem.Refused;
        result.Message = std::move(problem.Message);
        return result;
    };
    if (!dir)
        return failed();
    const std::string folder = r.Folder + "/" + relative.substr(0, relative.size() - name.size());
    const std::time_t now = std::time(nullptr);
    if (const auto local = LocalFileFacts(dir.Get(), name);
        local && r.Size && local->Size == *r.Size &&
        SameListedTime(r.Modified, local->Modified, now)) {
        result.Ok = result.AlreadyThere = true;
        result.SavedAs = folder + name;
        result.Length = local->Size;
        return result;
    }
    if (struct stat there{}; ::fstatat(dir.Get(), name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
                             S_ISLNK(there.st_mode)) {
        problem = {"refused \"" + relative + "\": \"" + relative + "\" is a link", true};
        return failed();
    }
    std::string partial;
    const OwnedFd file = OpenPartialFile(dir.Get(), name, partial, problem);
    if (!file)
        return failed();
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0) {
        result.Message = "cannot write " + folder + partial + ": " + ErrnoText();
        return result;
    }
    // A partial file of another file, or longer than this one, is no start.
    std::uint64_t offset = static_cast<std::uint64_t>(info.st_size);
    if (!r.Resume || (r.Size && offset > *r.Size))
        offset = 0;
    result.Length = offset;
    // A file that cannot fit is not begun; after a full disk, not resumed
    // until there is room again.
    if (std::string full = SpaceProblem(dir.Get(), r.Size ? *r.Size - offset : 0, r.Folder);
        !full.empty()) {
        if (info.st_size == 0)
            ::unlinkat(dir.Get(), partial.c_str(), 0);
        result.Message = "not started: " + full;
        return result;
    }
    if (offset == 0 && info.st_size > 0 && ::ftruncate(file.Get(), 0) != 0) {
        result.Message = "cannot write " + folder + partial + ": " + ErrnoText();
        return result;
    }

    DownloadOutcome outcome;
    if (sftp_) {
        kept.Ftp.Drop();
        outcome = DownloadSftpFile(SftpTargetOf(target_), RemotePath(target_.Path, relative),
                                   file.Get(), offset, r.Size, progress, stop, r.Idle);
    } else {
        kept.Sftp.Drop();
        outcome = DownloadFtpFile(target_, login_, relative, file.Get(), offset, r.Size, progress,
                                  stop, &kept.Ftp, r.Idle);
    }
    result.Length = outcome.Length;
    if (!outcome.Ok) {
        result.Held = outcome.Overrun;
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
        ::futimens(file.Get(), times);
    }
    const std::string placed = PlaceFinishedFile(dir.Get(), partial, name, result.Message);
    if (placed.empty())
        return result;
    result.Ok = true;
    result.SavedAs = folder + placed;
    return result;
}

} // namespace ornbrook
