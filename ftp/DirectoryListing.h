#pragma once

#include "base/Result.h"
#include "ftp/CertificateFacts.h"
#include "ftp/FtpModule.h"
#include "ftp/ListedEntry.h"
#include "ftp/ServerMemory.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ornbrook {

class FtpSession;
class StopSignal;
struct SessionBounds;

// A login kept open after one check for the next check of the same server with
// the same user: that check changes directory and lists, and waits for no login.
struct KeptLogin {
    // Server, port and login the session belongs to (see Url::LoginKey).
    std::string Key;
    std::unique_ptr<FtpSession> Session;

    KeptLogin();
    ~KeptLogin();
    KeptLogin(KeptLogin&&) noexcept;
    KeptLogin& operator=(KeptLogin&&) noexcept;
    // Logs out (QUIT, not waited for) and forgets the session.
    void Drop();
    // The kept session when it serves key (null otherwise); either way nothing
    // is kept any more.
    std::unique_ptr<FtpSession> Take(const std::string& key);
};

// What a failed login is told as: "login refused" when the server refused the
// login itself, "could not connect" otherwise.
const char* ConnectStep(const Error& why);

// One folder's listing, or why there is none ("could not connect", "login
// refused", "could not change dir" or "could not list dir", then ": " and the
// reason); with the
// server's certificate when it was what could not be trusted.
struct FolderListing {
    Result<Listing> Listed;
    std::optional<CertificateFacts> Certificate;
};

// Logs in to the URL's server, changes to its directory, collects every entry
// there and logs out, within the overall check time. With confirmEmpty (the
// caller knows entries for this URL) an empty listing is confirmed by another
// listing command in the same session before it is believed. stop (may be
// null) ends the check at once from another thread. With kept, a login kept
// there for this URL's server is used (a dead one is replaced by a fresh
// login), and the login of a successful check is left there instead of
// logging out; a kept login changes directory just as a fresh one does, so a
// check's outcome never depends on which login takes it. below names a folder
// under the URL's ("a/b"); limit, when given, replaces the overall check time.
// Blocking; safe on any thread.
FolderListing ListDirectory(const Url& url, bool confirmEmpty, const StopSignal* stop,
                            KeptLogin* kept = nullptr, const std::string& below = {},
                            std::chrono::milliseconds limit = {}, DataMode mode = DataMode::Auto);

// Brings session (one kept from an earlier check, or none) into the directory
// at path on the URL's server: a kept login changes directory as a fresh one
// does, and one that died meanwhile is replaced by a fresh login. Fails with
// "could not connect" or "could not change dir" and the reason; an untrusted
// certificate is then session's Certificate().
// mode: how its data connections are made.
Result<void> EnterDirectory(std::unique_ptr<FtpSession>& session, const Url& url,
                            const std::string& path, const SessionBounds& bounds,
                            DataMode mode = DataMode::Auto);

// The certificate of an ftpes:// or ftps:// URL's server, fetched without judging
// it, for a user who wants to decide; "could not connect: ..." when there is no
// TLS or no connection.
Result<CertificateFacts> FetchCertificate(const Url& url);

} // namespace ornbrook
