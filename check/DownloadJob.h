#pragma once

#include "base/Url.h"
#include "check/CheckJob.h"
#include "diag/Debug_Modul.h"
#include "ftp/FileDownload.h"
#include "ftp/ListedEntry.h"
#include "sftp/SftpSession.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ornbrook {

class StopSignal;

// One file of a watched URL to fetch into a local folder.
struct DownloadRequest {
    // The watched URL the file is below.
    Url Watched;
    // The remote path below the URL's directory: folders first, the file's name
    // last, each exactly as the server listed it.
    std::vector<std::string> Path;
    // What the listing said; a size, when known, must be met exactly.
    std::optional<std::uint64_t> Size;
    ListedTime Modified;
    // The local folder the path is placed below; it must exist (and may be a link).
    std::string Folder;
    // A partial file there belongs to this file (begun when it had the same
    // size and time), so the download goes on where it ended.
    bool Resume = true;
    std::chrono::milliseconds Idle = DownloadIdleLimit;
    // How an FTP server's data connection is made.
    DataMode Mode = DataMode::Auto;
};

// A download that ended with the file in place.
struct SavedFile {
    // Where the file is: its full local path.
    std::string SavedAs;
    std::uint64_t Length = 0;
    // Not fetched: a local file of that name has the listed size and time.
    bool AlreadyThere = false;
};

// A download as a job of the check engine: like a CheckJob it owns copies of
// all it needs, runs on any thread, shares the server's limit and kept logins,
// and ends by handing back its whole result. The file is written to a hidden
// partial file beside the target and takes its name only when it is whole.
// Nothing is written outside the folder, through a link or a second name of a
// file, past the listed size, or where the file would not fit.
class DownloadJob final {
public:
    explicit DownloadJob(DownloadRequest request);

    const DownloadRequest& Request() const { return request_; }
    const std::string& Server() const { return server_; }
    const std::string& Login() const { return login_; }
    // Blocking, safe on any thread; stop ends it at once and the partial file
    // stays for the next attempt. progress hears the partial file's length.
    // Invalid: the name was refused, or a link stands in its way, and no
    // attempt is made, now or later. Overrun: the server sent more than the
    // listed size, and it is not tried again until the listing's size or time
    // changes.
    Result<SavedFile> Run(const StopSignal* stop, KeptLogins& kept,
                          const DownloadProgress& progress) const;

private:
    LiveObject live_{"DownloadJob"};
    DownloadRequest request_;
    std::string server_;
    std::string login_;
};

} // namespace ornbrook
