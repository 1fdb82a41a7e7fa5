#include "check/DownloadTarget.h"

#include "base/Text_Code.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace ornbrook {

namespace {

const char* SegmentFault(const std::string& segment) {
    if (const char* fault = ListedNameFault(segment))
        return fault;
    for (const char c : segment) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\')
            return "a name with a slash in it";
        if (byte < 0x20 || byte == 0x7f)
            return "a name with a control character in it";
    }
    return nullptr;
}

std::string ErrnoText(int error = errno) {
    return LowerCase(std::strerror(error));
}

} // namespace

const char* ListedNameFault(std::string_view name) {
    if (name.empty())
        return "an empty name";
    if (name == "." || name == "..")
        return "a name that means a folder";
    if (name.find('/') != std::string_view::npos)
        return "a name with a slash in it";
    return nullptr;
}

Result<void> JudgeRemotePath(const std::vector<std::string>& segments) {
    if (segments.empty())
        return Error{ErrorKind::Invalid, "refused a file without a name"};
    for (const std::string& segment : segments) {
        if (const char* fault = SegmentFault(segment))
            return Error{ErrorKind::Invalid, "refused \"" + JoinedPath(segments) + "\": " + fault};
    }
    return {};
}

std::string JoinedPath(const std::vector<std::string>& segments) {
    std::string path;
    for (const std::string& segment : segments) {
        if (!path.empty())
            path += '/';
        path += segment;
    }
    return path;
}

std::string PartialFileName(const std::string& name, int n) {
    return "." + name + (n > 1 ? "." + std::to_string(n) : std::string()) + ".ornbrook-part";
}

std::string NumberedName(const std::string& target, int n) {
    const std::size_t slash = target.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = target.rfind('.');
    if (dot == std::string::npos || dot <= start)
        dot = target.size();
    return target.substr(0, dot) + " (" + std::to_string(n) + ")" + target.substr(dot);
}

std::optional<std::time_t> ListedSeconds(const ListedTime& time, std::time_t now) {
    if (time.Precision == ListedTime::Resolution::None || time.Month < 1 || time.Month > 12 ||
        time.Day < 1 || time.Day > 31)
        return std::nullopt;
    const auto at = [&time](int year) {
        std::tm parts{};
        parts.tm_year = year - 1900;
        parts.tm_mon = time.Month - 1;
        parts.tm_mday = time.Day;
        parts.tm_hour = time.Hour;
        parts.tm_min = time.Minute;
        parts.tm_sec = time.Second;
        parts.tm_isdst = -1;
        return time.Utc ? ::timegm(&parts) : std::mktime(&parts);
    };
    if (time.Year != 0)
        return at(time.Year);
    // "Mon DD HH:MM" stands for the last half year (ls): this year's date, or
    // last year's when this year's lies more than a day ahead.
    std::tm today{};
    ::localtime_r(&now, &today);
    const std::time_t thisYear = at(today.tm_year + 1900);
    return thisYear > now + 86400 ? at(today.tm_year + 1899) : thisYear;
}

bool SameListedTime(const ListedTime& listed, std::time_t local, std::time_t now) {
    const std::optional<std::time_t> seconds = ListedSeconds(listed, now);
    if (!seconds)
        return false;
    std::time_t span = 1;
    if (listed.Precision == ListedTime::Resolution::Minute)
        span = 60;
    else if (listed.Precision == ListedTime::Resolution::Day)
        span = 86400;
    return local >= *seconds && local < *seconds + span;
}

std::optional<LocalFacts> LocalFileFacts(int dir, const std::string& name) {
    struct stat info {};
    if (::fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return LocalFacts{static_cast<std::uint64_t>(info.st_size), info.st_mtime};
}

std::optional<LocalFacts> LocalFileFacts(const std::string& path) {
    return LocalFileFacts(AT_FDCWD, path);
}

OwnedFd::~OwnedFd() {
    if (fd_ >= 0)
        ::close(fd_);
}

OwnedFd::OwnedFd(OwnedFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

OwnedFd& OwnedFd::operator=(OwnedFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

Result<OwnedFd> OpenFolderBelow(int top, const std::vector<std::string>& path) {
    constexpr int Flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    OwnedFd folder(::fcntl(top, F_DUPFD_CLOEXEC, 0));
    std::string walked;
    for (std::size_t i = 0; folder && i + 1 < path.size(); ++i) {
        const char* part = path[i].c_str();
        walked += (walked.empty() ? "" : "/") + path[i];
        int fd = ::openat(folder.Get(), part, Flags);
        if (fd < 0 && errno == ENOENT) {
            if (::mkdirat(folder.Get(), part, 0777) != 0 && errno != EEXIST)
                return Error{ErrorKind::LocalFile,
                             "cannot make the folder " + walked + ": " + ErrnoText()};
            fd = ::openat(folder.Get(), part, Flags);
        }
        if (fd < 0) {
            const int error = errno;
            struct stat info {};
            const bool there = ::fstatat(folder.Get(), part, &info, AT_SYMLINK_NOFOLLOW) == 0;
            if (there && S_ISLNK(info.st_mode))
                return Error{ErrorKind::Invalid,
                             "refused \"" + JoinedPath(path) + "\": \"" + walked + "\" is a link"};
            if (there && !S_ISDIR(info.st_mode))
                return Error{ErrorKind::LocalFile,
                             "cannot make the folder " + walked + ": a file has its name"};
            return Error{ErrorKind::LocalFile,
                         "cannot open the folder " + walked + ": " + ErrnoText(error)};
        }
        folder = OwnedFd(fd);
    }
    if (!folder)
        return Error{ErrorKind::LocalFile, "cannot open the download folder: " + ErrnoText()};
    return folder;
}

Result<PartialFile> OpenPartialFile(int dir, const std::string& name) {
    // Never O_TRUNC and never a write before the checks: a second name may be
    // a file outside the folder, and a device or a pipe is not ours either.
    for (int n = 1; n <= 100; ++n) {
        const std::string candidate = PartialFileName(name, n);
        struct stat info {};
        if (::fstatat(dir, candidate.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            (!S_ISREG(info.st_mode) || info.st_nlink > 1))
            continue;
        OwnedFd file(::openat(dir, candidate.c_str(),
                              O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
        if (!file) {
            if (errno == ELOOP || errno == EISDIR || errno == ENXIO || errno == EWOULDBLOCK)
                continue;
            return Error{ErrorKind::LocalFile, "cannot write " + candidate + ": " + ErrnoText()};
        }
        // What stands there may have changed since it was looked at.
        if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink > 1)
            continue;
        return PartialFile{std::move(file), candidate};
    }
    return Error{ErrorKind::Invalid,
                 "refused \"" + name + "\": no partial file name of it is free"};
}

Result<std::string> PlaceFinishedFile(int dir, const std::string& partial,
                                      const std::string& name) {
    for (int n = 1; n <= 1000; ++n) {
        const std::string target = n == 1 ? name : NumberedName(name, n);
        // Fails where the name is taken, whatever comes meanwhile: nothing that
        // is there is ever replaced, and a link there is not followed.
        if (::renameat2(dir, partial.c_str(), dir, target.c_str(), RENAME_NOREPLACE) == 0)
            return target;
        if (errno == EEXIST)
            continue;
        // Without that rename (some file systems): a hard link fails the same way.
        if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
            if (::linkat(dir, partial.c_str(), dir, target.c_str(), 0) == 0) {
                ::unlinkat(dir, partial.c_str(), 0);
                return target;
            }
            if (errno == EEXIST)
                continue;
        }
        return Error{ErrorKind::LocalFile, "cannot name the file " + target + ": " + ErrnoText()};
    }
    return Error{ErrorKind::LocalFile, "no free name beside " + name};
}

Result<void> CheckSpace(int dir, std::uint64_t toFetch, const std::string& folder) {
    struct statvfs fs {};
    if (::fstatvfs(dir, &fs) != 0)
        return {}; // unknown: a full disk is told by the write
    const std::uint64_t unit = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
    const std::uint64_t free = static_cast<std::uint64_t>(fs.f_bavail) * unit;
    const std::uint64_t keep = std::min<std::uint64_t>(
        static_cast<std::uint64_t>(fs.f_blocks) * unit / 100, 100ull * 1024 * 1024);
    if (free >= keep && free - keep >= toFetch)
        return {};
    return Error{ErrorKind::LocalFile, "not enough space in " + folder + ": " +
                                           std::to_string(toFetch) + " bytes to fetch, " +
                                           std::to_string(free) + " free, " + std::to_string(keep) +
                                           " kept free"};
}

} // namespace ornbrook
