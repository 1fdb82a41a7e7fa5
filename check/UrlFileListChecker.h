#pragma once

#include "base/Event.h"
#include "check/CheckJob.h"
#include "diag/Debug_Modul.h"

#include <cstdint>
#include <memory>
#include <string>

namespace ornbrook {

class CheckPool;

// One check of one watched URL, as its owner sees it: log in, change to its
// directory, collect every entry there, log out; then Ended with the whole
// outcome: the listing with each entry's facts, or the failure whose message
// is "could not connect", "could not change dir" or "could not list dir" and
// the reason after ": ", with a refused certificate or host key. A thin face
// over a CheckJob: it starts the job and hands the outcome over in one call;
// it keeps nothing of it.
//
// Without a pool the check runs on the calling thread and Ended is raised
// before CheckURL returns. With a pool, CheckURL only queues the check: Started
// is raised when its network part begins and Ended when it has ended, each
// from the pool's Deliver on the owner's thread; Cancel stops it at once and
// no event follows.
class UrlFileListChecker final {
public:
    explicit UrlFileListChecker(std::weak_ptr<CheckPool> pool = {});
    ~UrlFileListChecker();
    UrlFileListChecker(const UrlFileListChecker&) = delete;
    UrlFileListChecker& operator=(const UrlFileListChecker&) = delete;

    std::string GetURL() const { return url_.Text(); }
    void CheckURL(const Url& theURL);
    void Cancel();
    // The caller knows entries for this URL: an empty listing is then confirmed by
    // a listing by another command in the same session before it is believed.
    void SetConfirmEmptyListing(bool confirm) { confirmEmptyListing_ = confirm; }
    // Subfolders listed below the URL's folder, down to this many levels.
    void SetDepth(int depth) { depth_ = depth; }
    // How an FTP server's data connections are made.
    void SetDataMode(DataMode mode) { mode_ = mode; }

    Event<> Started;
    // The design's Ready (a listing) and Error (a failure) in one: the handler
    // may take the outcome over.
    Event<CheckOutcome&> Ended;

private:
    LiveObject live_{"UrlFileListChecker"};
    std::weak_ptr<CheckPool> pool_;
    std::uint64_t job_ = 0;
    Url url_;
    bool confirmEmptyListing_ = false;
    int depth_ = 0;
    DataMode mode_ = DataMode::Auto;
};

} // namespace ornbrook
