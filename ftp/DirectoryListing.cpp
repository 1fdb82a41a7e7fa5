#include "ftp/DirectoryListing.h"

#include "base/Text_Code.h"
#include "ftp/FtpModule.h"
#include "ftp/FtpSession.h"
#include "ftp/SimpleFtpClient.h"

#include <exception>

namespace ornbrook {

namespace {

ListingOutcome Failure(const char* step, const SimpleFtpClient& client) {
    ListingOutcome outcome;
    outcome.Message = step;
    if (const std::string& reason = client.LastResult().Message; !reason.empty())
        outcome.Message += ": " + reason;
    return outcome;
}

} // namespace

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

std::string LoginKey(const std::string& url) {
    return LoginKey(ParseURL(url));
}

std::string LoginKey(const FtpURL& parsed) {
    // Line breaks never reach a login, so they cannot make two keys alike. The
    // kind of TLS is part of it: a plain login never serves an encrypted URL.
    return std::to_string(static_cast<int>(TlsModeOf(parsed.Scheme))) + "\n" +
           LowerCase(parsed.Host) + "\n" + std::to_string(parsed.Port) + "\n" + parsed.User + "\n" +
           parsed.Pass;
}

ListingOutcome ListDirectory(const std::string& url, bool confirmEmpty, const StopSignal* stop,
                             KeptLogin* kept) {
    const FtpURL parsed = ParseURL(url);
    return ListDirectory(parsed, LoginKey(parsed), confirmEmpty, stop, kept);
}

ListingOutcome ListDirectory(const FtpURL& parsed, const std::string& key, bool confirmEmpty,
                             const StopSignal* stop, KeptLogin* kept,
                             std::chrono::milliseconds limit) {
    SimpleFtpClient client(
        SessionBounds::For(limit.count() > 0 ? limit : CurrentFtpTimeouts().Check, stop),
        TlsModeOf(parsed.Scheme));
    if (kept)
        if (auto session = kept->Take(key))
            client.Adopt(std::move(session));
    ListingOutcome outcome;
    try {
        // A kept login that died meanwhile (the server's idle time is up) is
        // replaced by a fresh one.
        bool inDirectory = false;
        if (client.IsConnected()) {
            inDirectory = client.ChangeDir(parsed.Path) != 0;
            if (!inDirectory && client.IsConnected())
                return Failure("could not change dir", client);
        }
        if (!inDirectory) {
            if (client.Connect(parsed.Host, parsed.Port, parsed.User, parsed.Pass) == 0) {
                outcome = Failure("could not connect", client);
                outcome.Certificate = client.RejectedCertificate();
                return outcome;
            }
            if (client.ChangeDir(parsed.Path) == 0)
                return Failure("could not change dir", client);
        }
        if (client.GetListing(outcome.Listed, confirmEmpty) == 0)
            return Failure("could not list dir", client);
    } catch (const std::exception& error) {
        // Out of memory or the like: the listing cannot be trusted.
        outcome = ListingOutcome{};
        outcome.Message = std::string("could not list dir: ") + error.what();
        return outcome;
    }
    if (kept) {
        kept->Key = key;
        kept->Session = client.Release();
    }
    client.Disconnect();
    outcome.Ok = true;
    return outcome;
}

std::optional<CertificateFacts> FetchCertificate(const std::string& url, std::string& problem) {
    const FtpURL parsed = ParseURL(url);
    FtpSession session(SessionBounds::For(CurrentFtpTimeouts().Check, nullptr),
                       TlsModeOf(parsed.Scheme));
    const FtpResult r = session.FetchCertificate(parsed.Host, parsed.Port);
    if (!r.Ok || !session.Certificate()) {
        problem = "could not connect: " + r.Message;
        return std::nullopt;
    }
    return session.Certificate();
}

} // namespace ornbrook
