#include "sftp/SftpListing.h"

#include "ftp/FtpSettings.h"

#include "base/Text_Code.h"
#include "ftp/StopSignal.h"
#include "sftp/SshHome.h"

#include <exception>

namespace ornbrook {

KeptSftpLogin::KeptSftpLogin() = default;
KeptSftpLogin::~KeptSftpLogin() {
    Drop();
}
KeptSftpLogin::KeptSftpLogin(KeptSftpLogin&&) noexcept = default;
KeptSftpLogin& KeptSftpLogin::operator=(KeptSftpLogin&&) noexcept = default;

void KeptSftpLogin::Drop() {
    if (Session)
        Session->Close();
    Session.reset();
    Key.clear();
}

std::unique_ptr<SftpSession> KeptSftpLogin::Take(const std::string& key) {
    std::unique_ptr<SftpSession> taken;
    if (Session && Key == key)
        taken = std::move(Session);
    Drop();
    return taken;
}

SftpTarget SftpTargetOf(const FtpURL& url) {
    SftpTarget target;
    target.Host = url.Host;
    target.Port = url.Port;
    target.User = url.User;
    target.Password = url.Pass;
    target.TrustFile = CurrentHostKeyTrustFile();
    return target;
}

std::string SftpLoginKey(const SftpTarget& target) {
    std::string host = LowerCase(target.Host);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    // Line breaks never reach a login, so they cannot make two keys alike.
    return host + "\n" + std::to_string(target.Port == 0 ? 22 : target.Port) + "\n" +
           (target.User.empty() ? LocalUserName() : target.User) + "\n" + target.Password + "\n" +
           target.TrustFile;
}

SftpListingOutcome ListSftpDirectory(const SftpTarget& target, const std::string& path,
                                     std::chrono::milliseconds limit, const StopSignal* stop,
                                     KeptSftpLogin* kept) {
    const SftpBounds bounds = SftpBounds::For(limit, stop);
    const std::string key = SftpLoginKey(target);
    std::unique_ptr<SftpSession> session = kept ? kept->Take(key) : nullptr;
    SftpListingOutcome outcome;
    try {
        SftpResult r;
        bool listed = false;
        if (session && session->IsOpen()) {
            session->Rebind(bounds);
            r = session->List(path, outcome.Entries);
            const bool timeLeft = std::chrono::steady_clock::now() < bounds.Overall;
            // A kept login the server has let go meanwhile (its idle time is
            // up) is no failure of this check: a fresh one follows.
            listed = r.Ok || !r.Lost || (stop && stop->Stopped()) || !timeLeft;
        }
        if (!listed) {
            session = std::make_unique<SftpSession>(bounds);
            r = session->Open(target);
            outcome.Notes = session->Notes();
            if (!r.Ok) {
                outcome.Message = r.Message;
                if (session->HostKey() && session->HostKey()->Verdict != HostKeyVerdict::Trusted)
                    outcome.HostKey = session->HostKey();
                return outcome;
            }
            r = session->List(path, outcome.Entries);
        }
        if (!r.Ok) {
            outcome.Entries.clear();
            outcome.Message = r.Message;
            // A refusal leaves the login fit for the next check.
            if (kept && session->IsOpen()) {
                kept->Key = key;
                kept->Session = std::move(session);
            }
            return outcome;
        }
    } catch (const std::exception& error) {
        // Out of memory or the like: the listing cannot be trusted.
        outcome = SftpListingOutcome{};
        outcome.Message = std::string("could not list dir: ") + error.what();
        return outcome;
    }
    if (kept && session->IsOpen()) {
        kept->Key = key;
        kept->Session = std::move(session);
    }
    outcome.Ok = true;
    return outcome;
}

std::optional<HostKeyFacts> FetchSftpHostKey(const SftpTarget& target,
                                             std::chrono::milliseconds limit,
                                             const StopSignal* stop, std::string& problem) {
    SftpSession session(SftpBounds::For(limit, stop));
    const SftpResult r = session.FetchHostKey(target);
    if (!r.Ok) {
        problem = r.Message;
        return std::nullopt;
    }
    return session.HostKey();
}

DownloadOutcome DownloadSftpFile(const SftpTarget& target, const std::string& path, int fd,
                                 std::uint64_t offset, std::optional<std::uint64_t> limit,
                                 const DownloadProgress& progress, const StopSignal* stop,
                                 std::chrono::milliseconds idle) {
    SftpSession session(SftpBounds::For(CurrentFtpTimeouts().Check, stop));
    const SftpResult r = session.Open(target);
    if (!r.Ok) {
        DownloadOutcome outcome;
        outcome.Length = offset;
        outcome.Message = r.Message;
        return outcome;
    }
    DownloadOutcome outcome = session.Download(path, fd, offset, limit, progress, idle);
    session.Close();
    return outcome;
}

} // namespace ornbrook
