#pragma once

#include "base/Result.h"
#include "ftp/DirectoryListing.h"
#include "ftp/FtpModule.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace ornbrook {

class StopSignal;

// Called as a download goes on with the length of the local file so far.
using DownloadProgress = std::function<void(std::uint64_t length)>;

// A download that ended whole, over FTP or SFTP.
struct Downloaded {
    // Bytes in the local file.
    std::uint64_t Length = 0;
    // The remote file's size when the download began, if the server said.
    std::optional<std::uint64_t> RemoteSize;
    // Its modification time (seconds since 1970, UTC), when asked for and told.
    std::optional<std::int64_t> ModifiedUtc;
};

// The message of a download that went past the listed size.
std::string OverrunMessage(std::uint64_t listed);

// A download is bound only by the time without a byte, never by a check's
// overall limit: large files take their time.
inline constexpr std::chrono::milliseconds DownloadIdleLimit = std::chrono::seconds(60);

// Downloads `name` (relative to the URL's directory; "/" between the parts of a
// path below it) of an FTP URL into fd from offset on: the login and directory
// change within the check's time, then the transfer, resumed with REST where
// the server offers REST STREAM, else started over (fd truncated). With a
// limit (the listed size) the first byte beyond it fails the download, which
// leaves fd at the limit (Overrun). With kept, a login kept there for this
// server is used and the login of a successful download is left there. With
// askTime, the file's exact time is asked for (MDTM) once it is whole.
// Blocking; safe on any thread; stop ends it at once. Whatever the outcome, fd
// holds a whole prefix of the file.
Result<Downloaded> DownloadFtpFile(const Url& url, const std::string& name, int fd,
                                   std::uint64_t offset, std::optional<std::uint64_t> limit,
                                   const DownloadProgress& progress, const StopSignal* stop,
                                   KeptLogin* kept = nullptr,
                                   std::chrono::milliseconds idle = DownloadIdleLimit,
                                   DataMode mode = DataMode::Auto, bool askTime = false);

} // namespace ornbrook
