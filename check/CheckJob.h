#pragma once

#include "base/Url.h"
#include "diag/Debug_Modul.h"
#include "ftp/DirectoryListing.h"
#include "sftp/HostKeyTrust.h"
#include "sftp/SftpListing.h"

#include <optional>
#include <string>

namespace ornbrook {

class StopSignal;

// The logins a worker keeps between the checks it runs, for the next check of
// the same server and login, one of each protocol.
struct KeptLogins {
    KeptLogin Ftp;
    KeptSftpLogin Sftp;
    // The key of whichever is kept (see CheckJob::Login); empty for none.
    std::string Key() const { return Sftp.Session ? Sftp.Key : Ftp.Key; }
    void Drop() {
        Ftp.Drop();
        Sftp.Drop();
    }
    bool Holds() const { return Ftp.Session || Sftp.Session; }
};

// The whole outcome of a check: the listing or the failure, and what the user
// may decide to trust when the server's certificate (FTP over TLS) or host key
// (SFTP) was refused.
struct CheckOutcome : FolderListing {
    std::optional<HostKeyFacts> HostKey;
};

// Which kept login can serve a check or a download of url: a login of each
// protocol serves only its own.
std::string KeptLoginKey(const Url& url);

// One check of one watched URL, from the moment it is asked for to its outcome:
// it owns the URL and what it needs to
// know of the watch list (whether entries are known), so that it can run on any
// thread without touching the watch list, and it ends by handing back its whole
// outcome, the listing or the failure with its reason, by value. sftp:// URLs
// are checked over SSH, every other one over FTP.
class CheckJob final {
public:
    // confirmEmpty: entries are known, so an empty listing is confirmed by
    // another listing command before it is believed.
    // depth: subfolders listed below the URL's folder (see WalkTree).
    // mode: how an FTP server's data connections are made.
    CheckJob(Url url, bool confirmEmpty, int depth = 0, DataMode mode = DataMode::Auto);

    // Checks of one server share its limit (see Url::ServerKey).
    const std::string& Server() const { return server_; }
    // Which kept login can serve this check.
    const std::string& Login() const { return login_; }

    // The network part: blocking, safe on any thread; stop (may be null) ends it
    // at once from another one.
    CheckOutcome Run(const StopSignal* stop, KeptLogins& kept) const;

private:
    CheckOutcome RunSftp(const StopSignal* stop, KeptLogins& kept) const;

    LiveObject live_{"CheckJob"};
    Url url_;
    SftpTarget sftpTarget_;
    bool confirmEmpty_;
    int depth_;
    DataMode mode_;
    std::string server_;
    std::string login_;
};

} // namespace ornbrook
