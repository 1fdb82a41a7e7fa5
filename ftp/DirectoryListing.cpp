#include "ftp/DirectoryListing.h"

#include "ftp/FtpModule.h"
#include "ftp/FtpSession.h"

#include <exception>

namespace ornbrook {

namespace {

Error At(const char* step, Error why) {
    why.Message = why.Message.empty() ? step : step + (": " + why.Message);
    return why;
}

} // namespace

const char* ConnectStep(const Error& why) {
    return why.Kind == ErrorKind::LoginRefused ? "login refused" : "could not connect";
}

KeptLogin::KeptLogin() = default;
KeptLogin::~KeptLogin() {
    Drop();
}
KeptLogin::KeptLogin(KeptLogin&&) noexcept = default;
KeptLogin& KeptLogin::operator=(KeptLogin&&) noexcept = default;

void KeptLogin::Drop() {
    if (Session)
        Session->Quit();
    Session.reset();
    Key.clear();
}

std::unique_ptr<FtpSession> KeptLogin::Take(const std::string& key) {
    std::unique_ptr<FtpSession> taken;
    if (Session && Key == key)
        taken = std::move(Session);
    Drop();
    return taken;
}

Result<void> EnterDirectory(std::unique_ptr<FtpSession>& session, const Url& url,
                            const std::string& path, const SessionBounds& bounds, DataMode mode) {
    if (session && session->IsOpen()) {
        session->Rebind(bounds);
        session->SetDataMode(mode);
        auto in = session->ChangeDir(path);
        if (in)
            return {};
        // Refused: the directory is not there for this login either way.
        if (session->IsOpen())
            return At("could not change dir", std::move(in).error());
    }
    session = std::make_unique<FtpSession>(bounds, TlsModeOf(url));
    session->SetDataMode(mode);
    if (auto r = session->Open(url.Host(), url.Port(), url.User(), url.Pass()); !r) {
        const char* step = ConnectStep(r.error());
        return At(step, std::move(r).error());
    }
    if (auto r = session->ChangeDir(path); !r)
        return At("could not change dir", std::move(r).error());
    return {};
}

FolderListing ListDirectory(const Url& url, bool confirmEmpty, const StopSignal* stop,
                            KeptLogin* kept, const std::string& below,
                            std::chrono::milliseconds limit, DataMode mode) {
    const SessionBounds bounds =
        SessionBounds::For(limit.count() > 0 ? limit : CurrentFtpTimeouts().Check, stop);
    const std::string key = url.LoginKey();
    std::unique_ptr<FtpSession> session = kept ? kept->Take(key) : nullptr;
    FolderListing outcome{Error{}, std::nullopt};
    try {
        if (auto in = EnterDirectory(session, url, url.PathBelow(below), bounds, mode); !in) {
            outcome.Listed = std::move(in).error();
            if (outcome.Listed.error().Kind == ErrorKind::Untrusted)
                outcome.Certificate = session->Certificate();
        } else if (auto listed = session->List(confirmEmpty); !listed) {
            outcome.Listed = At("could not list dir", std::move(listed).error());
        } else {
            outcome.Listed = std::move(listed);
        }
    } catch (const std::exception& error) {
        // Out of memory or the like: the listing cannot be trusted.
        outcome = {Error{ErrorKind::Protocol, std::string("could not list dir: ") + error.what()},
                   std::nullopt};
    }
    if (outcome.Listed && kept && session->IsOpen()) {
        kept->Key = key;
        kept->Session = std::move(session);
    } else if (session && session->IsOpen()) {
        session->Quit();
    }
    return outcome;
}

Result<CertificateFacts> FetchCertificate(const Url& url) {
    FtpSession session(SessionBounds::For(CurrentFtpTimeouts().Check, nullptr), TlsModeOf(url));
    const auto r = session.FetchCertificate(url.Host(), url.Port());
    if (!r)
        return At("could not connect", r.error());
    if (!session.Certificate())
        return Error{ErrorKind::Untrusted, "could not connect"};
    return *session.Certificate();
}

} // namespace ornbrook
