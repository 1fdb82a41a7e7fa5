#include "check/DownloadTarget.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ornbrook {

namespace {

// A name as it may be shown in a message: control bytes as \xNN.
std::string Shown(const std::string& name) {
    std::string shown;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

const char* SegmentFault(const std::string& segment) {
    if (segment.empty())
        return "an empty name";
    if (segment == "." || segment == "..")
        return "a name that means a folder";
    for (const char c : segment) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\')
            return "a name with a slash in it";
        if (byte < 0x20 || byte == 0x7f)
            return "a name with a control character in it";
    }
    return nullptr;
}

std::string ErrnoText() {
    std::string text = std::strerror(errno);
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

} // namespace

std::string JudgeRemotePath(const std::vector<std::string>& segments) {
    if (segments.empty())
        return "refused a file without a name";
    for (const std::string& segment : segments) {
        if (const char* fault = SegmentFault(segment))
            return "refused \"" + Shown(JoinedPath(segments)) + "\": " + fault;
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

std::string PartialFileName(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::size_t at = slash == std::string::npos ? 0 : slash + 1;
    return target.substr(0, at) + "." + target.substr(at) + ".ornbrook-part";
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

std::optional<LocalFacts> LocalFileFacts(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return LocalFacts{static_cast<std::uint64_t>(info.st_size), info.st_mtime};
}

std::string PlaceFinishedFile(const std::string& partial, const std::string& target,
                              std::string& problem) {
    for (int n = 1; n <= 1000; ++n) {
        const std::string name = n == 1 ? target : NumberedName(target, n);
        // A hard link fails where the name is taken, whatever comes meanwhile:
        // no existing file is ever replaced.
        if (::link(partial.c_str(), name.c_str()) == 0) {
            ::unlink(partial.c_str());
            return name;
        }
        if (errno == EEXIST)
            continue;
        // Without hard links (some file systems): a rename that checks first.
        if (errno == EPERM || errno == EOPNOTSUPP || errno == EXDEV || errno == EMLINK) {
            struct stat info {};
            if (::lstat(name.c_str(), &info) == 0)
                continue;
            if (::rename(partial.c_str(), name.c_str()) == 0)
                return name;
        }
        problem = "cannot name the file " + name + ": " + ErrnoText();
        return {};
    }
    problem = "no free name beside " + target;
    return {};
}

bool MakeFolders(const std::string& folder, const std::vector<std::string>& segments,
                 std::string& problem) {
    std::string path = folder;
    for (std::size_t i = 0; i + 1 < segments.size(); ++i) {
        path += "/" + segments[i];
        if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
            problem = "cannot make the folder " + path + ": " + ErrnoText();
            return false;
        }
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            problem = "cannot make the folder " + path + ": a file has its name";
            return false;
        }
    }
    return true;
}

} // namespace ornbrook
