#include "ftp/DirectoryListing.h"

#include "base/Text_Code.h"
#include "ftp/FtpModule.h"
#include "ftp/FtpSession.h"
#include "ftp/SimpleFtpClient.h"

#include <exception>

namespace ornbrook {

namespace {

// Takes the whole listing into names, of the current directory or of the one
// at path; false when it failed.
bool CollectNames(SimpleFtpClient& client, std::vector<std::string>& names,
                  const std::string* path = nullptr) {
    names.clear();
    std::string name;
    const std::int32_t find = path ? client.GetFirstFileAt(*path, name) : client.GetFirstFile(name);
    if (find == 0)
        return !client.ListingFailed();
    do {
        names.push_back(std::move(name));
    } while (client.GetNextFile(find, name) != 0);
    return true;
}

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

std::string LoginKey(const std::string& url) {
    const FtpURL parsed = ParseURL(url);
    // Line breaks never reach a login, so they cannot make two keys alike. The
    // kind of TLS is part of it: a plain login never serves an encrypted URL.
    return std::to_string(static_cast<int>(TlsModeOf(parsed.Scheme))) + "\n" +
           LowerCase(parsed.Host) + "\n" + std::to_string(parsed.Port) + "\n" + parsed.User + "\n" +
           parsed.Pass;
}

ListingOutcome ListDirectory(const std::string& url, bool confirmEmpty, const StopSignal* stop,
                             KeptLogin* kept) {
    const FtpURL parsed = ParseURL(url);
    const std::string key = LoginKey(url);
    SimpleFtpClient client(SessionBounds::For(CurrentFtpTimeouts().Check, stop),
                           TlsModeOf(parsed.Scheme));
    if (kept) {
        if (kept->Session && kept->Key == key)
            client.Adopt(std::move(kept->Session));
        kept->Drop();
    }
    ListingOutcome outcome;
    try {
        // A kept login lists by path where the server can (one reply fewer),
        // else changes directory as a fresh login does.
        const std::string* listAt = nullptr;
        bool inDirectory = false;
        bool listed = false;
        if (client.CanListAt()) {
            listed = CollectNames(client, outcome.Names, &parsed.Path);
            if (listed) {
                listAt = &parsed.Path;
            } else if (client.IsConnected()) {
                // Refused: a missing directory and a refused listing say so
                // apart as they do for a fresh login.
                inDirectory = client.ChangeDir(parsed.Path) != 0;
                if (!inDirectory && client.IsConnected())
                    return Failure("could not change dir", client);
            }
        } else if (client.IsConnected()) {
            inDirectory = client.ChangeDir(parsed.Path) != 0;
            if (!inDirectory && client.IsConnected())
                return Failure("could not change dir", client);
        }
        // Not connected: no kept login, or it died meanwhile (the server's
        // idle time is up): a fresh one.
        if (!listed && !inDirectory) {
            if (client.Connect(parsed.Host, parsed.Port, parsed.User, parsed.Pass) == 0) {
                outcome = Failure("could not connect", client);
                outcome.Certificate = client.RejectedCertificate();
                return outcome;
            }
            if (client.ChangeDir(parsed.Path) == 0)
                return Failure("could not change dir", client);
        }
        if (!listed)
            listed = CollectNames(client, outcome.Names);
        // Some servers answer 226 for a directory they failed to read.
        if (listed && outcome.Names.empty() && confirmEmpty)
            listed = CollectNames(client, outcome.Names, listAt);
        if (!listed)
            return Failure("could not list dir", client);
        outcome.Cut = client.ListingCut();
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
