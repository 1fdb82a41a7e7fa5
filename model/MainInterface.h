#pragma once

#include "base/Event.h"
#include "diag/Debug_Modul.h"
#include "model/DiskWriter.h"
#include "model/FileStore.h"
#include "model/ListChange.h"
#include "model/Preferences.h"
#include "model/RetryBackoff.h"
#include "model/UrlFileList.h"
#include "model/UrlNames.h"
#include "model/UrlSettings.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ornbrook {

class CheckPool;
class DownloadQueue;
class FileActions;
class FileStore;
struct HistoryEvent;
struct StoreChange;

// The watch list: the watched URLs in order, each with its UrlFileList. Loads
// maindata.dat when created and rewrites it after every change. URL indexes run
// from 1 to GetURLsCount; URLs are compared exactly.
//
// Saves scale with changes: a command (add, remove, refresh, an edit) writes
// the file once; the results of checks only mark the list unsaved and are
// written together when no check is pending any more (the run has ended), or
// when the owner calls SaveIfChanged earlier (a window does within seconds of a
// merge, so that runs following each other cannot hold merges back, and at
// close). A run that changes nothing writes nothing. A crash loses at most the
// merges not yet written, which the next check finds again.
//
// The writing itself runs on the watch list's DiskWriter (see its thread
// contract): a save takes what is to be written (the data file's bytes, the
// settings, the store's changes) as it stands and hands it over; the files
// are written one save after another, in order, while the owner goes on. A
// save's failure comes back on the owner's thread (DeliverCheckResults,
// FinishSaves) and throws there. The watch list waits for its writer when it
// goes, so no save asked for is lost.
//
// Checks run in the background, several at once, in the watch list's own check
// pool; their results are merged on the thread that owns the watch list, when it
// calls DeliverCheckResults (an event loop does so when woken by the pool; a
// caller without one waits with WaitForChecks). Each outcome comes to the watch
// list in one call: the URL's list merges it and reports what it did, and the
// watch list saves (coalesced as above), acts on what was reported (downloads,
// programs), raises Change once naming the URL and the rows that changed, and
// then CheckEnded.
class MainInterface final {
public:
    MainInterface();
    ~MainInterface();
    MainInterface(const MainInterface&) = delete;
    MainInterface& operator=(const MainInterface&) = delete;

    // Adds a URL not in the list yet and starts its check; returns its index
    // either way.
    std::int32_t AddURL(const std::string& theURL);
    std::int32_t GetURLsCount() const;
    // Index 0 gives none; outside 0..count throws std::out_of_range.
    std::shared_ptr<UrlFileList> GetURL(std::int32_t Index) const;
    // 0 when the URL is not in the list.
    std::int32_t GetURLIndex(const std::string& theURL) const;
    // The URL that text names, as a user names it (the window's duplicates, the
    // command line): the exact text first, else the first URL whose comparable
    // form (ComparableURL: scheme in lower case, "/" for an empty path) is the
    // text's. 0 when none is.
    std::int32_t FindURL(const std::string& text) const;
    void RemoveURL(const std::string& theURL);
    // Gives the URL at index (1 to count) a new text, saves, and checks it.
    void ChangeURL(std::int32_t index, const std::string& newURL);
    // Puts a URL back at index (1 to count + 1) from its data-file record, with
    // its entries, states and message, and saves; an undo of RemoveURL. A URL
    // that is in the list already stays where it is. Returns its index.
    std::int32_t RestoreURL(std::int32_t index, std::string_view record);
    // Acknowledges all changes.
    void Refresh();
    void Cancel();
    void Clear();
    // Starts a check of every URL that has none pending, in list order; with
    // skipPaused, not of paused ones (the command line's --check).
    void CheckFiles(bool skipPaused = false);
    // The periodic run: starts a check of every URL that is due and not
    // paused and has none pending: those without an interval of their own
    // when globalRunDue, those with one when that many seconds have passed
    // since their last check was asked for (base/Clock.h's clock).
    // After a URL's check failed, its periodic checks back off (see
    // RetryBackoff); a check asked for otherwise is never held back.
    void CheckDueFiles(bool globalRunDue);
    // When the periodic schedule will try a URL whose checks failed next
    // (seconds since the epoch); none when it is not held back.
    std::optional<std::int64_t> NextTry(const UrlFileList& list) const;
    // A URL's own settings (index 1 to count); changing them saves at once
    // (see UrlFileList::SetSettings for what changes in view).
    const UrlSettings& GetURLSettings(std::int32_t index) const;
    void SetURLSettings(std::int32_t index, const UrlSettings& settings);
    // The file of the URLs' settings, beside the data file.
    static std::string SettingsFileName();
    // Rewrites maindata.dat (on the writer); never leaves the user without
    // one. While saves are deferred it only marks the list unsaved.
    void SaveData();
    // The save point: rewrites maindata.dat when the list has changed since it
    // was last written, or when the file on disk is not the one this watch list
    // last wrote or read (removed, replaced); writes nothing otherwise.
    void SaveIfChanged();
    bool HasUnsavedChanges() const { return unsaved_; }
    // From now on every save waits for the owner's SaveIfChanged: a command-line
    // run writes the file once, at its end.
    void DeferSaves();
    // Waits until every save asked for is written; throws the first failure
    // not yet told (FileError, as a save always did).
    void FinishSaves();
    // Whether saves asked for are still being written.
    bool IsSaving() const { return writer_.Pending() > 0; }
    // What the user must be told about the data file as it was loaded (it was
    // damaged and has been kept aside); empty when all is well or it was taken.
    std::string TakeDamageNotice();

    // What a URL shows changed: once per ended check (naming its URL and the
    // rows that changed), a change of its settings, a Refresh (naming none).
    Event<const ListChange&> Change;
    // A URL's check has begun: it shows as being checked while the check runs.
    Event<const UrlFileList&> CheckBegins;
    // A URL's check has ended and its result is in (after its Change).
    Event<const UrlFileList&> CheckEnded;
    // What a URL shows has changed outside a check: its text, or its entries
    // by a Refresh.
    Event<const UrlFileList&> EntryChanged;
    // A URL was added, removed or put back.
    Event<> ListChanged;

    // The downloads of the URLs' files, run in the same pool as the checks: a
    // URL's pending downloads are tried again after each of its checks,
    // stopped when it is deleted or edited, and stopped (partial files kept)
    // when the watch list goes.
    DownloadQueue& Downloads() { return *downloads_; }
    // What the URLs' settings have done with the files reported: programs run.
    FileActions& Actions() { return *actions_; }

    // The program's own settings, loaded with the watch list.
    Preferences& Prefs() { return prefs_; }

    // The pool the URLs' checks run in.
    std::weak_ptr<CheckPool> Checks() const { return pool_; }
    // How many checks may run at once (1 to 16; 1 checks strictly in list order).
    void SetChecksAtOnce(int count);
    // How long a new or changed file's size and time must hold still before it
    // is reported (seconds; 0 reports at once). From the preferences when the
    // watch list is made.
    void SetSettleSeconds(std::int64_t seconds) { settleSeconds_ = seconds; }
    std::int64_t SettleSeconds() const { return settleSeconds_; }
    // Checks once more, outside the periodic schedule, every URL whose arriving
    // files have held still long enough by now (seconds since the epoch), unless
    // a check since they were due failed.
    void CheckSettling(std::int64_t now);
    // How many milliseconds from now (seconds since the epoch, and the
    // millisecond clock) until CheckDueFiles or CheckSettling has a URL of
    // its own to check: a URL's own interval, or arriving files that settle;
    // none when nothing but the global run is to come. 0 when one is due.
    std::optional<std::int64_t> MillisecondsToNextDue(std::int64_t now, std::uint32_t clock) const;
    // Called on a worker thread when results wait; it must only post to the
    // watch list's thread, which then calls DeliverCheckResults.
    void SetCheckWakeUp(std::function<void()> wakeUp);
    // Merges the results that arrived, on the watch list's thread, and throws
    // the failure of a save that has failed meanwhile.
    void DeliverCheckResults();
    // Merges results as they arrive until no check is pending, and waits
    // until what they saved is written; for callers without an event loop.
    void WaitForChecks();
    // Ends the programs run for files and runs none from now on.
    void StopPrograms();
    // Why the program of url's run= setting could not be started; empty when fine.
    std::string ProgramProblem(const std::string& url) const;
    // "checking 3 of 20" while checks are pending, empty otherwise.
    std::string CheckProgressText() const;

    // What happened (new, changed, gone, saved, refused, program ended, check
    // failed) is raised here as it happens, on the owner's thread, and kept in
    // the store's history for HistoryDays days (older events go at the start).
    Event<const HistoryEvent&> Happened;
    static constexpr std::int64_t HistoryDays = 90;
    // The events since a time (seconds since the epoch), oldest first: of the
    // URL named (its name, UrlNames), or of all when url is empty. Waits for
    // the writer; empty when there is no store.
    std::vector<HistoryEvent> History(const std::string& url, std::int64_t since);
    // The name by which the store and the files beside the data file know a
    // URL: masked, with its tag (UrlNames).
    std::string NameOf(const std::string& url) const { return names_->Of(url); }

    // The full name of the data file in the program directory.
    static std::string DataFileName();
    // The store beside it (ornbrook.sqlite).
    static std::string StoreFileName();
    // The key of the names by which the store and the settings file know a
    // URL (urlkey.dat, see UrlNames).
    static std::string KeyFileName();

    // Work on the store, run on the writer in order with the saves; none once
    // the store has failed.
    using StoreWork = std::function<Result<void>(FileStore&)>;
    void OnStore(StoreWork work);

    // The timing statistics' process of a file's replacements ("replace NAME").
    static std::string ReplacementProzess(const std::string& fileName);

private:
    friend struct MainInterfaceTestAccess;

    // What each list is given of its watch list.
    UrlFileList::Owner ListOwner();
    // A check's whole outcome, on the watch list's thread.
    void CheckFinished(UrlFileList& list, CheckOutcome outcome);
    void RaiseEvent_Change(const ListChange& change);
    void RaiseEvent_CheckBegins(const UrlFileList& list);
    void LoadData();
    void LoadSettings();
    // A URL's time between periodic checks, on the millisecond clock.
    std::uint32_t Period(const UrlFileList& list) const;
    SettingsByUrl CurrentSettings() const;
    void OpenStore();
    void SaveStore();
    void Forget(const std::string& name);
    void CollectStoreChanges();
    std::vector<StoreChange> TakeStoreChanges();
    void DeliverSaves();
    void Record(const std::string& url, const char* what, const std::string& name,
                const std::string& detail);
    void RecordCheck(const UrlFileList& list);
    void SaveHistory();
    // When a URL's arriving files are to be looked at again (seconds since the
    // epoch); none when not, or when a check made for them failed.
    std::optional<std::int64_t> SettleCheckAt(const UrlFileList& list) const;
    void SaveFailed();
    void Tell(const std::string& notice);
    std::vector<std::string> Urls() const;

    bool DataFileIsOurs() const;
    void NoteDataFile(const std::string& file);

    LiveObject live_{"MainInterface"};
    Preferences prefs_;
    // Before the lists: their checkers cancel into it as they go.
    std::shared_ptr<CheckPool> pool_;
    std::unique_ptr<DownloadQueue> downloads_;
    // After the downloads: it hears of them.
    std::unique_ptr<FileActions> actions_;
    std::int64_t settleSeconds_ = 0;
    RetryBackoff backoff_;
    // What the store holds of servers, by server.
    std::map<std::string, StoredServer> storedServers_;
    // When the URLs whose checks the schedule started asked for them.
    std::map<std::string, std::uint32_t> periodicAsked_;
    // Slot 0 is always present and empty.
    std::vector<std::shared_ptr<UrlFileList>> Lists{nullptr};
    bool unsaved_ = false;
    // Saves held back: by DeferSaves for good, by Refresh while it runs.
    int saveHolds_ = 0;
    std::string damageNotice_;
    // Made before anything is loaded: every file but the data file knows a URL
    // by its name.
    std::optional<UrlNames> names_;
    // The store of what the data file cannot hold; none when it could not be
    // opened or failed (the watch list goes on without it). The owner's while
    // the watch list is made, the writer's tasks' (OnStore) from then on.
    std::unique_ptr<FileStore> store_;
    // What the store is to hear at the next save, in the order it happened:
    // URL names whose rows it must forget, and the lists' changes taken so far.
    std::vector<StoreChange> storeChanges_;
    // Identity of the data file as last written or read: device, inode, size,
    // time. Noted by the writer, compared by the owner.
    struct FileIdentity {
        unsigned long long Device = 0, Inode = 0, Size = 0;
        long long Seconds = 0, Nanoseconds = 0;
        bool operator==(const FileIdentity&) const = default;
    };
    mutable std::mutex dataFileMutex_;
    std::optional<FileIdentity> dataFile_;
    // Saves of the data file handed to the writer and not yet noted.
    std::atomic<int> dataSaves_ = 0;
    // urlsettings.json must be written at the next save.
    bool settingsUnsaved_ = false;
    // The settings of URLs removed in this run, for an undo to bring back;
    // never written: a URL deleted for good takes its settings along.
    std::map<std::string, UrlSettings> removedSettings_;
    // Events not yet handed to the store, and the failure last recorded of
    // each URL (a URL that keeps failing alike is recorded once).
    std::vector<HistoryEvent> history_;
    std::map<std::string, std::string> recordedFailures_;
    Subscriptions newsEvents_;
    // Last: it goes first, after running what it was given, while everything
    // its tasks use is still there.
    DiskWriter writer_;
};

} // namespace ornbrook
