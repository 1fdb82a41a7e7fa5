#pragma once

#include "base/Event.h"
#include "base/Result.h"
#include "base/Url.h"
#include "check/CheckJob.h"
#include "diag/Debug_Modul.h"
#include "ftp/CertificateFacts.h"
#include "model/DataFileFormat.h"
#include "model/FileEntry.h"
#include "model/FileStore.h"
#include "model/ListChange.h"
#include "model/ListingMerge.h"
#include "model/UrlSettings.h"
#include "sftp/HostKeyTrust.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ornbrook {

class CheckPool;
class UrlFileListChecker;

// Everything known about one watched URL: its entries with their states and the
// message of the last failed check. Checks it, merges each listing, acknowledges
// changes, and turns itself into one record of the data file and back.
// Indexes of entries run from 1 to GetFilesCount. It never calls its owner
// back: a check's outcome goes where the owner said (Owner::Ended), which
// merges it with TakeOutcome and does with the report what it must.
class UrlFileList final {
public:
    UrlFileList();
    ~UrlFileList();
    UrlFileList(const UrlFileList&) = delete;
    UrlFileList& operator=(const UrlFileList&) = delete;

    // The watched URL exactly as entered; setting it starts no check.
    const std::string& URL() const { return url_.Text(); }
    void SetURL(const std::string& theURL) { url_ = Url(theURL); }
    // The same, split into its parts.
    const Url& ParsedURL() const { return url_; }

    // What the list needs of the watch list that owns it: the pool its checks
    // run in, the time uploads must hold still, and where a check's start and
    // whole outcome go (on the owner's thread). A list without an owner checks
    // on the calling thread and merges the outcome itself.
    struct Owner {
        std::weak_ptr<CheckPool> Pool;
        std::function<std::int64_t()> SettleSeconds;
        std::function<void(UrlFileList&)> Begun;
        std::function<void(UrlFileList&, CheckOutcome)> Ended;
    };
    void SetOwner(Owner owner) { owner_ = std::move(owner); }
    // The check's network part is under way (the URL shows as being checked).
    bool IsChecking() const;
    // A check has been asked for and has not ended: queued or under way.
    bool IsCheckPending() const;
    // Whether the last check failed, or gave less than the whole listing (a
    // cut one): the one answer to whether this URL's check succeeded.
    bool IsError() const { return failure_.has_value(); }
    const std::string& GetErrorMsg() const;
    // Why the last check failed, when it did; loaded from the data file it is
    // of kind Earlier.
    const std::optional<Error>& LastFailure() const { return failure_; }
    // The server's certificate when the last check of this run failed because
    // it could not be trusted; not kept in the data file.
    const std::optional<CertificateFacts>& RejectedCertificate() const { return rejected_; }
    // The same for an SFTP server's host key.
    const std::optional<HostKeyFacts>& RejectedHostKey() const { return rejectedKey_; }
    std::int32_t GetFilesCount() const;
    bool IsChanged() const;
    // Index 0 gives "" / 0; outside 0..count throws std::out_of_range.
    const std::string& GetFileName(std::int32_t Index) const;
    std::int32_t GetFileState(std::int32_t Index) const;
    // Starts a check (a pending one is stopped first). With an owner it runs in
    // the owner's check pool and its outcome is handed to the owner later, on
    // the owner's thread. A list without an owner checks and merges at once,
    // before this returns.
    void CheckFiles();
    // Acknowledges all changes: new entries become old, gone entries go. The
    // owner saves.
    void RefreshList();
    void Cancel();
    void Clear();
    std::string GetDataToSave() const;
    // Appends this URL's frame of the data file to out (what SaveData writes).
    void AppendFrameTo(std::string& out) const;
    // Reads a record as the data file holds it; only what checks out is taken
    // (DecodeRecordInto): an entry cut short or with an unknown state is dropped.
    void SetBySavedData(std::string_view Data, bool ClearMe);
    // Takes a record read already: URL, message and entries (slot 0 included).
    void SetByRecord(UrlRecord record);

    // Merges a fresh listing into the entries, as a successful check does, and
    // sets the message to what the listing says: none for a complete one, that
    // it was cut for a partial one. A listing whose merged entries would not fit
    // the data file leaves the entries untouched and sets TooLargeMessage
    // instead. Returns whether entries or message changed.
    bool MergeFreshListing(const std::vector<std::string>& names,
                           ListingExtent extent = ListingExtent::Complete);

    // What the user is shown of an entry (beyond the design's state), and the
    // whole entry with its facts.
    FileMark GetFileMark(std::int32_t Index) const;
    const FileEntry& GetEntry(std::int32_t Index) const;
    std::int32_t CountMark(FileMark mark) const;
    // When the earliest arriving file has held still for settleSeconds, if it
    // keeps still: the time for another check (seconds since the epoch).
    std::optional<std::int64_t> SettlesAt(std::int64_t settleSeconds) const;

    // The next successful check is this URL's starting point: what it finds is
    // taken as it is and is no news (an added URL, or one edited to another
    // directory).
    void SetStartingPoint();
    bool IsStartingPoint() const { return startingPoint_; }
    // What the last merged check reported: files that became new or changed,
    // and whether it was a starting point (then none of it is news).
    struct CheckNews {
        std::int32_t NewFiles = 0;
        std::int32_t ChangedFiles = 0;
        bool StartingPoint = false;
        // The names of the files reported (none for a starting point).
        std::vector<std::string> Reported;
        // The names of the files that went (none for a starting point).
        std::vector<std::string> Gone;
        // Names new to the list because a change of settings brought them
        // into view: shown as old, no news.
        std::int32_t CameIntoView = 0;
    };
    const CheckNews& LastCheckNews() const { return lastNews_; }
    // What one ended check did: whether entries or message changed (the data
    // file is to be written), what it reported (to be acted on), and which
    // entries changed (to be redrawn).
    struct CheckReport {
        bool Changed = false;
        CheckNews News;
        EntryChanges Entries;
    };
    // Ends the pending check with its outcome, taken over: the listing is
    // merged or the failure kept.
    CheckReport TakeOutcome(CheckOutcome outcome);
    // The merge of a listing with facts, by the rules of MergeListing: the
    // owner's settle time, this URL's starting point.
    CheckReport MergeFreshListing(Listing&& listing);
    // What the last successful check left out because the server listed
    // names that cannot stand for an entry ("/" inside, a folder named ".."),
    // each a message naming it; logged once while they keep coming. They
    // fail nothing, and are not kept in the data file.
    const std::vector<std::string>& RefusedNames() const { return refused_; }

    // This URL's own settings (see UrlSettings). SetSettings is the user's
    // change: entries that go out of view are forgotten, not gone (returned as
    // removed), and what comes into view at the next check is no news; the
    // owner saves. LoadSettings takes them as they were kept, with the entries
    // as they stand.
    const UrlSettings& Settings() const { return settings_; }
    EntryChanges SetSettings(const UrlSettings& settings);
    // Entries of the last listing that the settings kept out of view (the
    // filters, the depth); they are neither shown nor kept.
    std::int32_t HiddenBySettings() const { return hidden_; }
    void LoadSettings(const UrlSettings& settings) { settings_ = settings; }
    // When the last check of this URL was asked for, on the millisecond clock
    // (base/Clock.h); when the list was made, before any.
    std::uint32_t LastCheckAsked() const { return lastAsked_; }

    // The store's part (ornbrook.sqlite): takes what the store kept of this URL
    // after the data file was loaded; says what changed since the store last
    // heard of it (and forgets that it has to tell).
    void ApplyStored(std::vector<StoredFile>& rows, bool startingPoint);
    bool HasStoreChanges() const;
    StoreChange TakeStoreChange();
    // Everything is told anew (under a new URL text).
    void MarkAllUnstored();
    // When the last check of this run ended (seconds since the epoch); none
    // before the first.
    std::optional<std::int64_t> LastChecked() const { return lastChecked_; }
    // Number of entries in the given state.
    std::int32_t CountState(std::int32_t state) const;
    // The message of a check whose listing would not fit the data file.
    static constexpr const char* TooLargeMessage = "listing too large to keep";

private:
    void myChecker_Started();
    CheckReport myChecker_Ready(Listing&& listing);
    CheckReport myChecker_Error(const Error& failure);
    std::int32_t AddFile(std::string name, std::int32_t state);
    // Returns whether the message changed.
    bool SetFailure(std::optional<Error> failure);
    const FileEntry& Entry(std::int32_t Index) const;

    LiveObject live_{"UrlFileList"};
    Url url_;
    // The design's ErrorMsg, with its kind.
    std::optional<Error> failure_;
    std::vector<FileEntry> Entries{FileEntry{}};
    Owner owner_;
    std::shared_ptr<UrlFileListChecker> myChecker;
    Subscriptions checkerEvents_;
    bool checkStarted_ = false;
    std::optional<std::int64_t> lastChecked_;
    std::optional<CertificateFacts> rejected_;
    std::optional<HostKeyFacts> rejectedKey_;
    bool startingPoint_ = false;
    CheckNews lastNews_;
    std::vector<std::string> refused_;
    // What the store has not heard of yet beyond the entries' own flags.
    bool forgetStored_ = false;
    bool startingPointUnstored_ = false;
    std::vector<std::string> unstoredNames_;
    UrlSettings settings_;
    // The views of settings changed since the last merged check: a name is
    // news only when each of them showed it.
    std::vector<UrlSettings> earlierViews_;
    // The depth the check under way walks: a listing walked less deep than
    // the settings now ask shows nothing of what the new depth brings into view.
    std::optional<std::int32_t> walkedDepth_;
    std::int32_t hidden_ = 0;
    std::uint32_t lastAsked_;
};

} // namespace ornbrook
