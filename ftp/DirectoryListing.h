#pragma once

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
};

// Logs in to the URL's server, changes to its directory, collects every name
// there and logs out, within the overall check time. With confirmEmpty (the
// caller knows entries for this URL) an empty listing is confirmed by a second
// one in the same session before it is believed. stop (may be null) ends the
// check at once from another thread. Blocking; safe on any thread.
ListingOutcome ListDirectory(const std::string& url, bool confirmEmpty, const StopSignal* stop);

} // namespace ornbrook
