#pragma once

#include "diag/Debug_Modul.h"
#include "ftp/DirectoryListing.h"
#include "ftp/FtpModule.h"

#include <string>

namespace ornbrook {

class StopSignal;

// The logins a worker keeps between the checks it runs, for the next check of
// the same server and login.
struct KeptLogins {
    KeptLogin Ftp;
};

// One check of one watched URL, from the moment it is asked for to its outcome:
// it owns the URL split into its parts (split once, here) and what it needs to
// know of the watch list (whether entries are known), so that it can run on any
// thread without touching the watch list, and it ends by handing back its whole
// outcome, the listing or the failure with its reason, by value.
class CheckJob final {
public:
    // confirmEmpty: entries are known, so an empty listing is confirmed by
    // another listing command before it is believed.
    CheckJob(std::string url, bool confirmEmpty);

    const std::string& Url() const { return url_; }
    // Checks of one server share its limit: host (not case-sensitive) and port.
    const std::string& Server() const { return server_; }
    // Which kept login can serve this check (see LoginKey).
    const std::string& Login() const { return login_; }

    // The network part: blocking, safe on any thread; stop (may be null) ends it
    // at once from another one.
    ListingOutcome Run(const StopSignal* stop, KeptLogins& kept) const;

private:
    LiveObject live_{"CheckJob"};
    std::string url_;
    FtpURL target_;
    bool confirmEmpty_;
    std::string server_;
    std::string login_;
};

} // namespace ornbrook
