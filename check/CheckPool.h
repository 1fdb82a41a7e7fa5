#pragma once

#include "base/HandOff.h"
#include "check/CheckJob.h"
#include "check/DownloadJob.h"
#include "diag/Debug_Modul.h"
#include "ftp/DirectoryListing.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ornbrook {

class StopSignal;

// Runs the network part of checks on worker threads, several at once: at most
// AtOnce in all and PerServer against one server (host and port), started in the
// order they were asked for as far as those limits allow (with one at once,
// strictly in order). Logins are the pool's: a check or download of a server
// and login takes one kept idle from an earlier one when there is one, so that
// URLs of one server and login need no more logins than PerServer, whichever
// worker runs them; a login idle longer than KeptIdleLimit is closed. What a check's owner hears of
// it (that it started, its outcome) is handed back on the owner's thread: a worker only queues the
// news and wakes the owner, who calls Deliver. A check never touches the owner's objects; it works
// on its own copy of the URL.
class CheckPool final {
public:
    using Id = std::uint64_t;
    struct Callbacks {
        std::function<void()> Started;
        std::function<void(CheckOutcome)> Finished;
    };
    // A download hears its progress (the local file's length) as well.
    struct DownloadCallbacks {
        std::function<void()> Started;
        std::function<void(std::uint64_t length)> Progress;
        std::function<void(Result<SavedFile>)> Finished;
    };

    static constexpr int DefaultAtOnce = 4;
    static constexpr int MaxAtOnce = 16;
    static constexpr int DefaultPerServer = 2;
    // Servers close idle logins after minutes (vsftpd 300 s); ours go first.
    static constexpr std::chrono::seconds KeptIdleLimit{60};

    CheckPool();
    // Stops every check and waits for the workers; no callback runs any more.
    ~CheckPool();
    CheckPool(const CheckPool&) = delete;
    CheckPool& operator=(const CheckPool&) = delete;

    // Takes effect for the checks that start from now on.
    void SetLimits(int atOnce, int perServer = DefaultPerServer);
    int AtOnce() const;

    // Queues a check.
    Id Start(std::shared_ptr<const CheckJob> check, Callbacks callbacks);
    // Queues a download: it shares the limits with checks (at once, per
    // server) and is stopped by Cancel like a check, its partial file kept.
    Id StartDownload(std::shared_ptr<const DownloadJob> download, DownloadCallbacks callbacks);

    // Checks asked for while a Batch lives are handed to the workers together
    // when it goes, so that they are shared out over the servers as a whole
    // (one login per server, each server's checks one after another on it)
    // rather than to whichever worker wakes first.
    class Batch final {
    public:
        explicit Batch(CheckPool& pool);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        CheckPool& pool_;
    };
    // Stops the check at once (a running one has its connection closed) and
    // drops it: none of its callbacks runs after this. Unknown ids are ignored.
    void Cancel(Id id);
    void CancelAll();

    // Called on a worker thread whenever news waits for Deliver; it must only
    // post to the owner's thread. Once SetWakeUp has returned, the previous
    // function is not running and will not be called again.
    void SetWakeUp(std::function<void()> wakeUp);
    // Runs the callbacks of the news so far, in the order it happened. On the
    // owner's thread; callbacks may start and cancel checks.
    void Deliver();
    // For owners without an event loop: waits until news is there or the time
    // is up; true when there is news.
    bool WaitForNews(std::chrono::milliseconds timeout);
    // Checks queued, running, or finished and not yet delivered.
    std::size_t Outstanding() const;
    // The same for downloads.
    std::size_t OutstandingDownloads() const;

    // How far the checks asked for since the pool was last idle have got, as the
    // owner has heard it: Started of Total have begun (or ended).
    struct Progress {
        std::size_t Started = 0;
        std::size_t Total = 0;
    };
    Progress CurrentProgress() const;

private:
    struct Job;
    enum class NewsKind { Started, Progressed, Finished };
    struct News {
        Id JobId;
        NewsKind Kind;
        CheckOutcome Outcome;
        std::int64_t Milliseconds = 0;
        Result<SavedFile> Downloaded;
        std::uint64_t Length = 0;
    };

    // A login kept idle between checks, for the next check of its server and login.
    struct IdleLogin {
        std::string Server;
        KeptLogins Logins;
        std::chrono::steady_clock::time_point Since;
    };

    void AddWorkersAsNeeded();
    void Work();
    std::shared_ptr<Job> TakeStartable();
    bool HoldsIdle(const std::string& login) const;
    // The idle login job can use (none: it logs in afresh), after making room
    // for it within the server's limit; logins that must go are put in closing.
    KeptLogins TakeIdle(const Job& job, std::vector<KeptLogins>& closing);
    // Moves the logins idle past their limit to closing; when the next one is due.
    std::optional<std::chrono::steady_clock::time_point>
    ExpireIdle(std::vector<KeptLogins>& closing);
    void Queue(const std::shared_ptr<Job>& job);
    void DeliverDownload(News& news);

    LiveObject live_{"CheckPool"};
    mutable std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::deque<std::shared_ptr<Job>> queue_;
    std::map<Id, std::shared_ptr<Job>> running_;
    std::map<std::string, int> runningPerServer_;
    // Oldest first.
    std::deque<IdleLogin> idle_;
    // Posted under mutex_, so that no news of a job comes after its Cancel.
    HandOff<News> news_;
    // Owner's thread only: the checks not yet delivered or cancelled, and which
    // of them the owner has heard start.
    std::map<Id, Callbacks> callbacks_;
    std::map<Id, DownloadCallbacks> downloads_;
    std::map<Id, bool> startedSeen_;
    Progress progress_;
    std::vector<std::thread> workers_;
    int atOnce_ = DefaultAtOnce;
    int perServer_ = DefaultPerServer;
    int batches_ = 0;
    Id lastId_ = 0;
    bool shuttingDown_ = false;
};

} // namespace ornbrook
