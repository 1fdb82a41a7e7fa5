#pragma once

#include "ftp/CertificateFacts.h"

#include <optional>
#include <string>
#include <vector>

namespace ornbrook {

class StopSignal;

// The outcome of one check's network part.
struct ListingOutcome {
    bool Ok = false;
    // The server said it cut the listing short: Names is only part of the directory.
    bool Cut = false;
    // In server order, as listed.
    std::vector<std::string> Names;
    // Why it failed: "could not connect", "could not change dir" or "could not
    // list dir", then ": " and the reason.
    std::string Message;
    // The server's certificate, when the check failed because it could not be
    // trusted: what the user needs to decide whether to trust it.
    std::optional<CertificateFacts> Certificate;
};

// Logs in to the URL's server, changes to its directory, collects every name
// there and logs out, within the overall check time. With confirmEmpty (the
// caller knows entries for this URL) an empty listing is confirmed by a second
// one in the same session before it is believed. stop (may be null) ends the
// check at once from another thread. Blocking; safe on any thread.
ListingOutcome ListDirectory(const std::string& url, bool confirmEmpty, const StopSignal* stop);

// The certificate of an ftpes:// or ftps:// URL's server, fetched without judging
// it, for a user who wants to decide. None, with the reason ("could not connect:
// ..."), when there is no TLS or no connection.
std::optional<CertificateFacts> FetchCertificate(const std::string& url, std::string& problem);

} // namespace ornbrook
