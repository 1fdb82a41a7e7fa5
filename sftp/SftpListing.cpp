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

SftpTarget SftpTargetOf(const Url& url) {
    SftpTarget target;
    target.Host = url.Host();
    target.Port = url.Port();
    target.User = url.User();
    target.Password = url.Pass();
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

SftpFolder ListSftpDirectory(const SftpTarget& target, const std::string& path,
                             std::chrono::milliseconds limit, const StopSignal* stop,
                             KeptSftpLogin* kept) {
    const SftpBounds bounds = SftpBounds::For(limit, stop);
    const std::string key = SftpLoginKey(target);
    std::unique_ptr<SftpSession> session = kept ? kept->Take(key) : nullptr;
    SftpFolder outcome{Error{}, std::nullopt, {}};
    try {
        bool listed = false;
        if (session && session->IsOpen()) {
            session->Rebind(bounds);
            outcome.Entries = session->List(path);
            const bool timeLeft = std::chrono::steady_clock::now() < bounds.Overall;
            // A kept login the server has let go meanwhile (its idle time is
            // up) is no failure of this check: a fresh one follows.
            listed = outcome.Entries || session->IsOpen() || (stop && stop->Stopped()) || !timeLeft;
        }
        if (!listed) {
            session = std::make_unique<SftpSession>(bounds);
            auto opened = session->Open(target);
            outcome.Notes = session->Notes();
            if (!opened) {
                outcome.Entries = std::move(opened).error();
                if (session->HostKey() && session->HostKey()->Verdict != HostKeyVerdict::Trusted)
                    outcome.HostKey = session->HostKey();
                return outcome;
            }
            outcome.Entries = session->List(path);
        }
    } catch (const std::exception& error) {
        // Out of memory or the like: the listing cannot be trusted.
        return {Error{ErrorKind::Protocol, std::string("could not list dir: ") + error.what()},
                std::nullopt,
                {}};
    }
    // A refusal leaves the login fit for the next check.
    if (kept && session->IsOpen()) {
        kept->Key = key;
        kept->Session = std::move(session);
    }
    return outcome;
}

Result<HostKeyFacts> FetchSftpHostKey(const SftpTarget& target, std::chrono::milliseconds limit,
                                      const StopSignal* stop) {
    SftpSession session(SftpBounds::For(limit, stop));
    if (auto r = session.FetchHostKey(target); !r)
        return std::move(r).error();
    return *session.HostKey();
}

Result<Downloaded> DownloadSftpFile(const SftpTarget& target, const std::string& path, int fd,
                                    std::uint64_t offset, std::optional<std::uint64_t> limit,
                                    const DownloadProgress& progress, const StopSignal* stop,
                                    std::chrono::milliseconds idle) {
    SftpSession session(SftpBounds::For(CurrentFtpTimeouts().Check, stop));
    if (auto r = session.Open(target); !r)
        return std::move(r).error();
    Result<Downloaded> outcome = session.Download(path, fd, offset, limit, progress, idle);
    session.Close();
    return outcome;
}

} // namespace ornbrook
