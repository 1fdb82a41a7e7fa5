#pragma once

#include "base/Url.h"
#include "sftp/SftpSession.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ornbrook {

class StopSignal;

// A login kept open after one check for the next check of the same server as
// the same user: that check lists at once, with no key exchange or login.
struct KeptSftpLogin {
    // Server, port and login the session belongs to (see SftpLoginKey).
    std::string Key;
    std::unique_ptr<SftpSession> Session;

    KeptSftpLogin();
    ~KeptSftpLogin();
    KeptSftpLogin(KeptSftpLogin&&) noexcept;
    KeptSftpLogin& operator=(KeptSftpLogin&&) noexcept;
    // Says goodbye and forgets the session.
    void Drop();
    // The kept session when it serves key (null otherwise); either way nothing
    // is kept any more.
    std::unique_ptr<SftpSession> Take(const std::string& key);
};

// Where an sftp:// URL logs in, trusting the host keys of the trust file in
// force (see SetHostKeyTrustFile).
SftpTarget SftpTargetOf(const Url& url);

// Which logins can serve a target: host (in any case, brackets or none), port
// (0 is 22), user (the local name when none is given), password and trust file.
std::string SftpLoginKey(const SftpTarget& target);

// The outcome of one check's network part.
struct SftpFolder {
    // In server order, "." and ".." left out; or why not: "could not
    // connect", "could not change dir" or "could not list dir", then ": " and
    // the reason.
    Result<std::vector<RemoteEntry>> Entries;
    // The server's host key when the check failed because it is not trusted
    // (unknown or changed): what the user needs to decide.
    std::optional<HostKeyFacts> HostKey;
    // What the login passed over ("encrypted key skipped: ..."), for the log.
    std::vector<std::string> Notes;
};

// Logs in to the target's server, lists the folder at path (absolute, or "/~/"
// for the home directory) and logs out, all within `limit`; stop (may be null)
// ends it at once from another thread. With kept, a login kept there for this
// target is used (a dead one is replaced by a fresh login), and the login of a
// successful check is left there instead of logging out. Blocking; safe on any
// thread.
SftpFolder ListSftpDirectory(const SftpTarget& target, const std::string& path,
                             std::chrono::milliseconds limit, const StopSignal* stop,
                             KeptSftpLogin* kept = nullptr);

// The server's host key, judged but not refused, for a user who wants to see
// it and decide (the window's question, `--trust sftp://...`); then
// StoreHostKeyTrust trusts it. "could not connect: ..." when no key exchange
// took place.
Result<HostKeyFacts> FetchSftpHostKey(const SftpTarget& target, std::chrono::milliseconds limit,
                                      const StopSignal* stop);

// A download job: logs in within FtpTimeouts::Check, then copies the remote
// file at path into fd from offset on, never past limit (see
// SftpSession::Download), bound only by `idle` and the stop signal.
Result<Downloaded> DownloadSftpFile(const SftpTarget& target, const std::string& path, int fd,
                                    std::uint64_t offset, std::optional<std::uint64_t> limit,
                                    const DownloadProgress& progress, const StopSignal* stop,
                                    std::chrono::milliseconds idle = std::chrono::seconds(60));

} // namespace ornbrook
