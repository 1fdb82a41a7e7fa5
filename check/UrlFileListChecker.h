#pragma once

#include "base/Event.h"
#include "check/CheckJob.h"
#include "diag/Debug_Modul.h"
#include "ftp/DirectoryListing.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace ornbrook {

class CheckPool;

// One check of one watched URL, as its owner sees it: log in, change to its
// directory, collect every entry there, log out; then Ready, or Error whose
// message is "could not connect", "could not change dir" or "could not list
// dir" and the reason after ": ". A thin face over a CheckJob: it starts the
// job and raises the event when the job's whole outcome has come back.
//
// Without a pool the check runs on the calling thread and its event is raised
// before CheckURL returns. With a pool, CheckURL only queues the check: Started
// is raised when its network part begins and Ready or Error when it has ended,
// each from the pool's Deliver on the owner's thread; Cancel stops it at once
// and no event follows.
class UrlFileListChecker final {
public:
    explicit UrlFileListChecker(std::weak_ptr<CheckPool> pool = {});
    ~UrlFileListChecker();
    UrlFileListChecker(const UrlFileListChecker&) = delete;
    UrlFileListChecker& operator=(const UrlFileListChecker&) = delete;

    // The names of the listing, 1 to count, in server order.
    std::int32_t GetFilesCount() const;
    // Index 0 gives ""; an index outside 0..count throws std::out_of_range.
    std::string GetFile(std::int32_t Index) const;
    std::string GetURL() const { return url_.Text(); }
    void Clear();
    void CheckURL(const Url& theURL);
    void Cancel();
    // The caller knows entries for this URL: an empty listing is then confirmed by
    // a listing by another command in the same session before it is believed.
    void SetConfirmEmptyListing(bool confirm) { confirmEmptyListing_ = confirm; }
    // Subfolders listed below the URL's folder, down to this many levels.
    void SetDepth(int depth) { depth_ = depth; }
    // How an FTP server's data connections are made.
    void SetDataMode(DataMode mode) { mode_ = mode; }
    // After Ready: the whole listing with each entry's facts, handed over (the
    // checker keeps no copy).
    Listing TakeListing();
    // After Error: the server's certificate or host key, when it was what
    // could not be trusted.
    const std::optional<CertificateFacts>& RejectedCertificate() const { return certificate_; }
    const std::optional<HostKeyFacts>& RejectedHostKey() const { return hostKey_; }

    Event<> Started;
    Event<> Ready;
    Event<const ornbrook::Error&> Error;

private:
    void Finish(CheckOutcome outcome);

    LiveObject live_{"UrlFileListChecker"};
    std::weak_ptr<CheckPool> pool_;
    std::uint64_t job_ = 0;
    Url url_;
    bool confirmEmptyListing_ = false;
    int depth_ = 0;
    DataMode mode_ = DataMode::Auto;
    Listing listing_;
    std::optional<CertificateFacts> certificate_;
    std::optional<HostKeyFacts> hostKey_;
};

} // namespace ornbrook
