#pragma once

#include "diag/Debug_Modul.h"
#include "ftp/FileDownload.h"
#include "ftp/FtpSettings.h"
#include "sftp/HostKeyTrust.h"
#include "sftp/SocketWatch.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct ssh_session_struct;
struct sftp_session_struct;
struct sftp_dir_struct;
struct sftp_file_struct;

namespace ornbrook {

class StopSignal;

// What a directory entry is, from its SFTP attributes (the file type bits of
// the permissions, draft-ietf-secsh-filexfer-02 5).
enum class RemoteType { File, Folder, Link, Other };

// One directory entry with the facts its listing gave.
struct RemoteEntry {
    // Exactly as the server gave it.
    std::string Name;
    RemoteType Type = RemoteType::Other;
    std::optional<std::uint64_t> Size;
    // Modification time in seconds since 1970, UTC.
    std::optional<std::int64_t> Modified;
};

// Where and as whom to log in: the parts of an sftp:// URL, already decoded.
struct SftpTarget {
    // A name or address; an IPv6 address with or without its brackets.
    std::string Host;
    // 0 means 22.
    std::int32_t Port = 0;
    // Empty: the local user's name, as ssh takes it.
    std::string User;
    // Empty: none; only the agent and the user's keys are tried.
    std::string Password;
    // Our own file of trusted host keys (knownhosts.dat); empty for none.
    std::string TrustFile;
};

// What bounds a whole session beyond the limit of each wait: one overall
// deadline, and a stop signal that ends any wait at once.
struct SftpBounds {
    std::chrono::steady_clock::time_point Overall = std::chrono::steady_clock::time_point::max();
    // How long the overall limit was, for the message when it is reached.
    std::chrono::milliseconds OverallLength{0};
    const StopSignal* Stop = nullptr;

    // Bounds that end `length` from now.
    static SftpBounds For(std::chrono::milliseconds length, const StopSignal* stop);
};

// The outcome of one step. Message is what the user reads: "could not
// connect: ...", "could not change dir: ...", "could not list dir: ...".
struct SftpResult {
    bool Ok = false;
    std::string Message;
    // The connection is gone or cannot be trusted to continue; a refusal of the
    // server (a missing or forbidden folder) leaves it usable.
    bool Lost = false;
};

// One SSH connection with its SFTP channel, over libssh, blocking. Every wait
// (connect, key exchange, each SFTP request) has a limit from FtpTimeouts and
// lies inside the session's bounds; a stop ends it at once. The host key is
// judged (HostKeyTrust.h) before anything of the login is sent. Logins are
// tried in this order: the SSH agent ($SSH_AUTH_SOCK), the user's unencrypted
// keys in $HOME/.ssh (id_ed25519, id_ecdsa, id_rsa), then the password, by the
// "password" method or else by "keyboard-interactive". One session can serve
// several listings one after another. Not for use from two threads at once.
class SftpSession final {
public:
    explicit SftpSession(SftpBounds bounds = {});
    ~SftpSession();
    SftpSession(const SftpSession&) = delete;
    SftpSession& operator=(const SftpSession&) = delete;

    // Connects, judges the host key, logs in and starts SFTP.
    SftpResult Open(const SftpTarget& target);
    // Connects as far as the key exchange, judges the key and says goodbye:
    // for a user who wants to see it and decide. HostKey() holds it after.
    SftpResult FetchHostKey(const SftpTarget& target);
    // Every entry of the folder at path in the server's order, the folder's
    // own "." and ".." left out (another entry of such a name stays). The
    // path is absolute from the server's root; "/~" and "/~/..." are the
    // login's home directory. A failure never leaves a partial listing in
    // entries.
    SftpResult List(const std::string& path, std::vector<RemoteEntry>& entries);
    // Copies the remote file into fd (a regular file, written with pwrite) from
    // offset on: a partial file resumes at its length. Never writes past limit:
    // a byte beyond it fails the download (Overrun). Not bound by the overall
    // limit but by `idle`: it fails when no byte has come for that long. The
    // stop signal ends it; what was written stays.
    DownloadOutcome Download(const std::string& path, int fd, std::uint64_t offset,
                             std::optional<std::uint64_t> limit = std::nullopt,
                             const DownloadProgress& progress = {},
                             std::chrono::milliseconds idle = std::chrono::seconds(60));

    // New bounds for the next check that uses this kept session, which also
    // takes the timeouts and caps in force now.
    void Rebind(SftpBounds bounds);
    bool IsOpen() const;
    // Says goodbye within a short limit and lets the connection go.
    void Close();

    // The server's host key once the key exchange is done (also when refused).
    const std::optional<HostKeyFacts>& HostKey() const { return hostKey_; }
    // What the login passed over ("encrypted key skipped: ..."), for the log.
    const std::vector<std::string>& Notes() const { return notes_; }

private:
    SftpResult Connect(const SftpTarget& target);
    SftpResult Authenticate(const std::string& user, const std::string& password);
    SftpResult TryKeys(std::vector<std::string>& tried, int& methods);
    SftpResult StartSftp();
    void Release();

    std::chrono::steady_clock::time_point StepDeadline() const;
    int StopFd() const;
    bool Stopped() const;
    // Runs one libssh call that may wait, under the watch until `until`. No
    // call runs once the watch has cut the connection. False when it was cut
    // before or during the call; end says why.
    template <typename Call>
    bool Watched(Call&& call, SocketWatch::End& end, std::chrono::steady_clock::time_point until) {
        if (watch_.Arm(until))
            call();
        end = watch_.Disarm();
        return end == SocketWatch::End::None && !watch_.WasCut();
    }
    template <typename Call> bool Watched(Call&& call, SocketWatch::End& end) {
        return Watched(call, end, StepDeadline());
    }
    // Why a call failed: stopped, out of time, the step's limit, or the reason
    // libssh or the server gave.
    // Out of time only counts when bounded by the overall limit (a download is not).
    std::string Reason(SocketWatch::End end, bool bounded = true) const;
    // The result of a failed call; Fail also lets a lost connection go.
    SftpResult Judge(const std::string& step, SocketWatch::End end, bool bounded = true) const;
    SftpResult Fail(const std::string& step, SocketWatch::End end, bool bounded = true);
    // Closes a remote handle; after a cut only frees it.
    void CloseHandle(sftp_dir_struct* dir);
    void CloseHandle(sftp_file_struct* file);
    SftpResult Fail(const std::string& step, const std::string& reason, bool lost);

    LiveObject live_{"SftpSession"};
    SftpBounds bounds_;
    FtpTimeouts timeouts_;
    FtpLimits limits_;
    SocketWatch watch_;
    ssh_session_struct* ssh_ = nullptr;
    sftp_session_struct* sftp_ = nullptr;
    int socket_ = -1;
    std::optional<HostKeyFacts> hostKey_;
    std::vector<std::string> notes_;
};

// The path a server resolves for a URL path: "/~" and "/~/..." relative to
// the login's home directory (where SFTP resolves relative paths), anything
// else as it stands; empty is the root.
std::string SftpRemotePath(const std::string& path);

} // namespace ornbrook
