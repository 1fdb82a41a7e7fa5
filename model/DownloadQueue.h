#pragma once

#include "base/Event.h"
#include "check/DownloadJob.h"
#include "diag/Debug_Modul.h"
#include "model/FileEntry.h"
#include "model/FileStore.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ornbrook {

class CheckPool;

// What the owner hears of one download, on the watch list's thread.
struct DownloadNews {
    enum class Stage {
        // Begun on a worker (again, for a pending one).
        Started,
        // Length bytes are in the partial file.
        Progress,
        // Whole and renamed: SavedAs is where it went.
        Saved,
        // Not fetched: done before (the store's word), or a local file of the
        // name has the listed size and time; SavedAs names it.
        AlreadyThere,
        // Failed for now (Message says why); it stays pending and the URL's
        // next check tries again.
        Failed,
        // The name cannot be written below the folder (Message says why);
        // never tried.
        Refused,
    };
    Stage What = Stage::Started;
    std::string Url;
    // The remote path below the URL's directory.
    std::string Name;
    std::optional<std::uint64_t> Size;
    std::uint64_t Length = 0;
    std::string SavedAs;
    std::string Message;
};

// The downloads of the watch list: each file one job of the check engine, each
// recorded in the store as pending until it has succeeded, so that it is tried
// again after a failure, a stop or a restart, at the URL's next check, for as
// long as the file is listed with the same facts. Lives on the watch list's
// thread; records reach the store through the watch list's writer (storeWork
// runs a piece of work on the store there, in order, or not at all once the
// store has gone).
class DownloadQueue final {
public:
    // storeName gives the name by which the store knows a URL.
    using StoreWork = std::function<void(std::function<Result<void>(FileStore&)>)>;
    DownloadQueue(std::shared_ptr<CheckPool> pool, StoreWork storeWork,
                  std::function<std::string(const std::string&)> storeName);
    // Stops every download; partial files stay for the next run.
    ~DownloadQueue();
    // How the data connections of a URL's downloads are made (its mode= setting).
    void SetDataModes(std::function<DataMode(const std::string& url)> modeOf) {
        modeOf_ = std::move(modeOf);
    }
    DownloadQueue(const DownloadQueue&) = delete;
    DownloadQueue& operator=(const DownloadQueue&) = delete;

    // Takes the downloads the store kept (by URL name) for these URLs
    // (pending ones wait for their URL's next check).
    void Load(const std::vector<std::string>& urls,
              std::map<std::string, std::vector<StoredDownload>> stored);

    // Downloads these entries of url into folder (made if missing), subfolders
    // of a name with "/" as relative paths. Folders and links are passed over;
    // a file downloaded before into that folder with the same size and time is
    // not fetched again. Returns how many downloads were started or queued.
    std::size_t Download(const Url& url, const std::vector<FileEntry>& files,
                         const std::string& folder);
    // After a check of url: its pending downloads start again where the
    // listing still shows the file (resuming only where the facts are as they
    // were); those whose file went are forgotten. One held back (the server
    // sent more than it listed) stays failed with its reason until the file
    // is listed with another size or time.
    void ResumePending(const Url& url, const std::vector<FileEntry>& listed);
    // Stops url's downloads; their partial files stay. With forget the pending
    // and done records go as well (the URL was deleted, or downloading switched off).
    void Stop(const std::string& url, bool forget);
    // The user called these downloads of url off: stopped and forgotten, so no
    // later check takes them up again; their partial files stay.
    void Cancel(const std::string& url, const std::vector<std::string>& names);
    // Downloads queued or running.
    std::size_t Outstanding() const { return running_.size(); }
    // The pending downloads of url, as recorded.
    std::vector<StoredDownload> Pending(const std::string& url) const;

    Event<const DownloadNews&> News;

private:
    struct Running {
        Url Watched;
        StoredDownload Record;
    };
    void Start(const Url& url, const StoredDownload& record, bool resume);
    void Record(const std::string& url, const StoredDownload& record);
    void Forget(const std::string& url, const std::optional<std::string>& name);
    void Finished(std::uint64_t id, Result<SavedFile> result);

    LiveObject live_{"DownloadQueue"};
    std::shared_ptr<CheckPool> pool_;
    StoreWork storeWork_;
    std::function<std::string(const std::string&)> storeName_;
    std::function<DataMode(const std::string&)> modeOf_;
    // Every recorded download, by URL and name.
    std::map<std::string, std::map<std::string, StoredDownload>> records_;
    std::map<std::uint64_t, Running> running_;
};

} // namespace ornbrook
