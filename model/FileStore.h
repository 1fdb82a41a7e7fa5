#pragma once

#include "base/Result.h"
#include "diag/Debug_Modul.h"
#include "model/FileEntry.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ornbrook {

// What the store keeps of one entry of one URL: everything maindata.dat cannot
// hold, and the design state the entry had in maindata.dat when it was written,
// so that a loader can tell whether the two were saved together.
struct StoredFile {
    std::string Name;
    FileFacts Facts;
    bool Changed = false;
    bool Arriving = false;
    bool Settled = true;
    std::int64_t SteadySince = 0;
    FileMark BeforeGone = FileMark::Old;
    // The entry's state in maindata.dat (0, 1, 2) when this row was written; -1
    // when it was in no data file (a file first seen while arriving).
    std::int32_t DataState = -1;

    bool operator==(const StoredFile&) const = default;
};

// What one save changes for one URL: rows written anew, rows that go, or the
// whole URL forgotten (deleted, or edited to another directory). RemoveAll
// applies first, then Remove, then Put: a change may forget a URL and fill it
// afresh, and a name both removed and put is kept as put.
struct StoreChange {
    std::string Url;
    std::vector<StoredFile> Put;
    std::vector<std::string> Remove;
    bool RemoveAll = false;
    // Whether the URL's next successful check is its starting point; none
    // leaves it as it is.
    std::optional<bool> StartingPoint;
};

// A download of one file of one URL into a local folder, pending until it
// succeeds and done after: the listed size and time it was for, so that the same
// file is not fetched twice and a partial file is resumed only for the same file.
struct StoredDownload {
    // The remote path below the URL's directory, segments joined by "/".
    std::string Name;
    std::string Folder;
    std::optional<std::uint64_t> Size;
    ListedTime Modified;
    bool Done = false;
    // Where a done download went.
    std::string SavedAs;
    // Why a pending download is not tried again until its file is listed
    // with another size or time (the server sent more than it listed).
    std::string Failure;

    bool operator==(const StoredDownload&) const = default;
};

// One thing that happened to a watched URL, kept for the history.
struct HistoryEvent {
    // Seconds since the epoch.
    std::int64_t Time = 0;
    // The URL's name (model/UrlNames): no password.
    std::string Url;
    // "new", "changed", "gone", "saved", "refused", "program ended", "check failed".
    std::string What;
    // The file's path below the URL; empty for a check.
    std::string Name;
    // What more there is to say: where it was saved, why it was refused or
    // failed, how the program ended.
    std::string Detail;

    bool operator==(const HistoryEvent&) const = default;
};

// What was learnt of one server (host and port), kept across runs.
struct StoredServer {
    // Its active data connections never arrived: passive mode only.
    bool Passive = false;
    // Its LIST times' offset from UTC, in minutes.
    std::optional<std::int32_t> UtcOffsetMinutes;

    bool operator==(const StoredServer&) const = default;
};

// ornbrook.sqlite: what the design's data file cannot hold, in an embedded
// SQLite database beside it (owner-only, WAL), updated by what changed, one
// transaction per save. It is advisory: if it is lost, damaged or of a newer
// version, the program says so once and starts it afresh, and loses only marks
// the next check restores. One thread at a time may use a store. A store that
// fails while in use (the disk is full, the file was damaged under us) says so
// as a LocalFile error, and the caller starts a new one.
//
// A URL is known here by its name (model/UrlNames), never by its text: the
// store holds no password. Where this class says "url", it means that name.
class FileStore final {
public:
    // The version this program writes; a store of a later one is set aside.
    // Version 2 added downloads; version 3 keeps URLs by their names and why a
    // download is held back; version 4 keeps the history and what was learnt
    // of servers. A store of an earlier version is brought up to it.
    static constexpr int SchemaVersion = 4;

    // A URL's name, for bringing up a store of a version that kept URLs by
    // their text.
    using UrlNaming = std::function<std::string(const std::string& url)>;

    // Opens the store at path, or creates it (owner-only) when it is missing,
    // which is silent. A file that is not a store of ours, cannot be read, or is
    // of a newer version is set aside (SetAside, never deleted) and a
    // new one made; notice then says so in one sentence for the user, naming
    // where the old one went, and is emptied otherwise. A store that kept URLs
    // by their text has them named by nameOf, and is rewritten with its log so
    // that no old text stays in the files. Fails only
    // when no store can be made at all (the directory cannot be written, or the
    // file cannot be used for a cause other than its content: a lock held past
    // the bounded wait, a failing disk), and never sets a store aside then.
    static Result<std::unique_ptr<FileStore>> Open(const std::string& path, std::string& notice,
                                                   const UrlNaming& nameOf);
    ~FileStore();
    FileStore(const FileStore&) = delete;
    FileStore& operator=(const FileStore&) = delete;

    // Every row, by URL (exact bytes), in no particular order within a URL.
    Result<std::map<std::string, std::vector<StoredFile>>> LoadAll();
    // Every URL the store knows, with rows or without.
    Result<std::vector<std::string>> Urls();
    // Gives URLs new names (old to new), in one transaction; a new name must
    // not be in the store yet.
    Result<void> RenameUrls(const std::map<std::string, std::string>& renamed);
    // How many entries of each URL carry a mark beyond the design's states, by
    // the state they have in the data file: what --list needs without loading
    // every row.
    struct MarkCounts {
        std::int32_t ChangedNew = 0;
        // Arriving, by data-file state: none (first seen arriving), old, new.
        std::int32_t ArrivingUnsettled = 0;
        std::int32_t ArrivingOld = 0;
        std::int32_t ArrivingNew = 0;
    };
    Result<std::map<std::string, MarkCounts>> CountMarks();
    // The URLs whose next successful check is their starting point.
    Result<std::set<std::string>> StartingPoints();
    // Writes the changes in one transaction: all or nothing.
    Result<void> Save(const std::vector<StoreChange>& changes);
    // The downloads of every URL (exact bytes), in no particular order within one.
    Result<std::map<std::string, std::vector<StoredDownload>>> LoadDownloads();
    // Records a download (pending or done), replacing one of the same URL and name.
    Result<void> PutDownload(const std::string& url, const StoredDownload& download);
    // Forgets one download of a URL, or all of them (name none): the file
    // went, or downloading was switched off. Forgetting a URL in Save forgets
    // its downloads as well.
    Result<void> RemoveDownload(const std::string& url, const std::optional<std::string>& name);

    // Adds events to the history, in one transaction.
    Result<void> AddHistory(const std::vector<HistoryEvent>& events);
    // The events since a time (seconds since the epoch), oldest first; of one
    // URL name, or of all when url is empty.
    Result<std::vector<HistoryEvent>> History(const std::string& url, std::int64_t since);
    // Removes the events before a time; returns how many went.
    Result<std::int64_t> PruneHistory(std::int64_t before);
    // What was learnt of servers, by server (host:port, host in lower case).
    Result<std::map<std::string, StoredServer>> LoadServers();
    Result<void> PutServer(const std::string& server, const StoredServer& facts);

    // Statements run so far, for tests and benchmarks that check a save writes
    // what changed rather than everything.
    std::uint64_t StatementsRun() const;

private:
    struct Database;
    explicit FileStore(std::unique_ptr<Database> database);

    LiveObject live_{"FileStore"};
    std::unique_ptr<Database> db_;
};

} // namespace ornbrook
