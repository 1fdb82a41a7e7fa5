#include "model/MainInterface.h"

#include "base/Clock.h"
#include "base/FileIO_Code.h"
#include "base/FileReplacement.h"
#include "base/ProgramGlobals.h"
#include "check/CheckPool.h"
#include "ftp/FtpSettings.h"
#include "ftp/ServerMemory.h"
#include "model/DamagedFile.h"
#include "model/DataFileFormat.h"
#include "model/DataFileLoad.h"
#include "model/DiskWriter.h"
#include "model/DownloadQueue.h"
#include "model/FileActions.h"
#include "model/FileStore.h"
#include "model/TrustedCertificates.h"
#include "model/UrlFileList.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <map>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <unordered_map>
#include <utility>

namespace ornbrook {

MainInterface::MainInterface()
    : prefs_(Preferences::Load()), pool_(std::make_shared<CheckPool>()),
      settleSeconds_(prefs_.SettleSeconds()) {
    // Checks of this watch list trust what the user trusted beside its data file.
    SetCertificateTrustFile(TrustedCertificatesFileName());
    SetHostKeyTrustFile(KnownHostsFileName());
    std::string notice;
    names_.emplace(UrlNames::Load(KeyFileName(), notice));
    Tell(notice);
    Tell(KeepDamagedTrustFiles());
    LoadData();
    OpenStore();
    const auto nameOf = [this](const std::string& url) { return names_->Of(url); };
    downloads_ = std::make_unique<DownloadQueue>(
        pool_, [this](StoreWork work) { OnStore(std::move(work)); }, nameOf);
    downloads_->SetDataModes([this](const std::string& url) {
        const std::int32_t i = GetURLIndex(url);
        return i != 0 ? Lists[static_cast<std::size_t>(i)]->Settings().Mode : DataMode::Auto;
    });
    if (store_) {
        if (auto stored = store_->LoadDownloads())
            downloads_->Load(Urls(), std::move(*stored));
        else
            WriteLog("downloads not loaded: " + stored.error().Message);
    }
    writer_.SetNoticeTaker([this](const std::string& told) { Tell(told); });
    actions_ = std::make_unique<FileActions>(*downloads_, [this](const std::string& url) {
        const std::int32_t index = GetURLIndex(url);
        return index != 0 ? &Lists[static_cast<std::size_t>(index)]->Settings() : nullptr;
    });
    // What downloads and programs did goes into the history as it is heard.
    newsEvents_ += downloads_->News.Connect([this](const DownloadNews& news) {
        if (news.What == DownloadNews::Stage::Saved)
            Record(news.Url, "saved", news.Name, news.SavedAs);
        else if (news.What == DownloadNews::Stage::Refused)
            Record(news.Url, "refused", news.Name, news.Message);
    });
    newsEvents_ += actions_->Ended.Connect([this](const ProgramNews& news) {
        Record(news.Url, "program ended", news.Name, news.Outcome.Describe());
    });
}

void MainInterface::Record(const std::string& url, const char* what, const std::string& name,
                           const std::string& detail) {
    HistoryEvent& event = history_.emplace_back();
    event.Time = static_cast<std::int64_t>(std::time(nullptr));
    event.Url = names_->Of(url);
    event.What = what;
    event.Name = name;
    event.Detail = detail;
    Happened.Raise(event);
}

void MainInterface::RecordCheck(const UrlFileList& list) {
    if (list.IsError()) {
        // A URL that keeps failing for the same reason is one event, not one a period.
        std::string& last = recordedFailures_[list.URL()];
        if (last != list.GetErrorMsg()) {
            last = list.GetErrorMsg();
            Record(list.URL(), "check failed", {}, last);
        }
        return;
    }
    recordedFailures_.erase(list.URL());
    const UrlFileList::CheckNews& news = list.LastCheckNews();
    if (!news.Reported.empty()) {
        std::unordered_map<std::string_view, FileMark> marks;
        for (std::int32_t i = 1; i <= list.GetFilesCount(); ++i)
            marks.emplace(list.GetFileName(i), list.GetFileMark(i));
        for (const std::string& name : news.Reported) {
            const auto found = marks.find(name);
            const bool changed = found != marks.end() && found->second == FileMark::Changed;
            Record(list.URL(), changed ? "changed" : "new", name, {});
        }
    }
    for (const std::string& name : news.Gone)
        Record(list.URL(), "gone", name, {});
}

void MainInterface::SaveHistory() {
    if (history_.empty())
        return;
    OnStore([events = std::exchange(history_, {})](FileStore& store) {
        return store.AddHistory(events);
    });
}

std::vector<HistoryEvent> MainInterface::History(const std::string& url, std::int64_t since) {
    SaveHistory();
    auto found = std::make_shared<std::vector<HistoryEvent>>();
    OnStore([found, url, since](FileStore& store) -> Result<void> {
        auto events = store.History(url, since);
        if (!events)
            return std::move(events).error();
        *found = std::move(*events);
        return {};
    });
    FinishSaves();
    return std::move(*found);
}

std::string MainInterface::StoreFileName() {
    return ProgramDir + "ornbrook.sqlite";
}

std::string MainInterface::KeyFileName() {
    return ProgramDir + "urlkey.dat";
}

std::vector<std::string> MainInterface::Urls() const {
    std::vector<std::string> urls;
    for (std::size_t i = 1; i < Lists.size(); ++i)
        urls.push_back(Lists[i]->URL());
    return urls;
}

void MainInterface::Tell(const std::string& notice) {
    if (notice.empty())
        return;
    WriteLog(notice);
    damageNotice_ += (damageNotice_.empty() ? "" : "\n") + notice;
}

void MainInterface::OpenStore() {
    std::string notice;
    const Result<void> loaded = [&]() -> Result<void> {
        auto opened = FileStore::Open(StoreFileName(), notice,
                                      [this](const std::string& url) { return names_->Of(url); });
        if (!opened)
            return std::move(opened).error();
        store_ = std::move(*opened);
        // Rows whose names no URL has any more follow their URL where that is
        // unambiguous (a new key, a password changed outside the program).
        const auto urls = store_->Urls();
        if (!urls)
            return urls.error();
        if (const auto matches = names_->Rematch(*urls, Urls()); !matches.Renamed.empty())
            if (auto renamed = store_->RenameUrls(matches.Renamed); !renamed)
                return renamed;
        // What earlier runs learnt of servers holds in this one.
        auto servers = store_->LoadServers();
        if (!servers)
            return servers.error();
        storedServers_ = std::move(*servers);
        for (const auto& [server, facts] : storedServers_) {
            if (facts.Passive)
                RememberPassive(server);
        }
        auto loadedRows = store_->LoadAll();
        const auto loadedStarting = store_->StartingPoints();
        if (!loadedRows || !loadedStarting)
            return loadedRows ? loadedStarting.error() : loadedRows.error();
        // The history keeps what happened in the last HistoryDays days.
        if (auto pruned = store_->PruneHistory(static_cast<std::int64_t>(std::time(nullptr)) -
                                               HistoryDays * 86400);
            !pruned)
            return std::move(pruned).error();
        else if (*pruned > 0)
            WriteLog("history: " + std::to_string(*pruned) + " events older than " +
                     std::to_string(HistoryDays) + " days removed");
        std::map<std::string, std::vector<StoredFile>>& rows = *loadedRows;
        const std::set<std::string>& starting = *loadedStarting;
        std::set<std::string> watched;
        for (std::size_t i = 1; i < Lists.size(); ++i) {
            const std::string name = names_->Of(Lists[i]->URL());
            watched.insert(name);
            std::vector<StoredFile> none;
            const auto found = rows.find(name);
            Lists[i]->ApplyStored(found == rows.end() ? none : found->second,
                                  starting.count(name) > 0);
            if (found != rows.end())
                rows.erase(found);
        }
        // What the store kept of URLs no longer watched goes at the next save.
        for (const auto& [name, files] : rows)
            Forget(name);
        for (const std::string& name : starting) {
            if (watched.count(name) == 0 && rows.count(name) == 0)
                Forget(name);
        }
        return {};
    }();
    if (!loaded) {
        store_.reset();
        notice = loaded.error().Message +
                 "; file sizes, times and the changed and arriving marks are not kept this time.";
    }
    Tell(notice);
}

void MainInterface::Forget(const std::string& name) {
    StoreChange& change = storeChanges_.emplace_back();
    change.Url = name;
    change.RemoveAll = true;
    change.StartingPoint = false;
}

void MainInterface::CollectStoreChanges() {
    for (std::size_t i = 1; i < Lists.size(); ++i) {
        if (Lists[i]->HasStoreChanges()) {
            storeChanges_.push_back(Lists[i]->TakeStoreChange());
            storeChanges_.back().Url = names_->Of(storeChanges_.back().Url);
        }
    }
}

std::vector<StoreChange> MainInterface::TakeStoreChanges() {
    CollectStoreChanges();
    return std::exchange(storeChanges_, {});
}

void MainInterface::OnStore(StoreWork work) {
    // From here on the store is the writer's: only its tasks touch it.
    writer_.Post([this, work = std::move(work)] {
        if (!store_)
            return;
        if (const Result<void> done = work(*store_); !done) {
            // Advisory: the watch list goes on without it; the next start
            // begins it afresh.
            store_.reset();
            writer_.Tell(done.error().Message + "; file sizes, times and the changed and "
                                                "arriving marks are not kept this time.");
        }
    });
}

void MainInterface::SaveStore() {
    std::vector<StoreChange> changes = TakeStoreChanges();
    if (!changes.empty())
        OnStore([changes = std::move(changes)](FileStore& store) { return store.Save(changes); });
    // A server found passive in this run stays so in the next ones.
    for (const std::string& server : PassiveServers()) {
        StoredServer& stored = storedServers_[server];
        if (stored.Passive)
            continue;
        stored.Passive = true;
        OnStore([server, stored](FileStore& store) { return store.PutServer(server, stored); });
    }
}

MainInterface::~MainInterface() {
    // The lists' checks are stopped before the pool waits for its workers.
    Clear();
    // Written by the writer as it goes, after what was asked before.
    SaveHistory();
}

std::string MainInterface::DataFileName() {
    return ProgramDir + "maindata.dat";
}

std::int32_t MainInterface::AddURL(const std::string& theURL) {
    if (const std::int32_t i = GetURLIndex(theURL); i != 0)
        return i;
    auto list = std::make_shared<UrlFileList>();
    Lists.push_back(list);
    list->SetOwner(ListOwner());
    list->SetURL(theURL);
    // What it finds first was there before: no news.
    list->SetStartingPoint();
    list->CheckFiles();
    SaveData();
    const std::int32_t n = GetURLsCount();
    ListChanged.Raise();
    return n;
}

std::int32_t MainInterface::GetURLsCount() const {
    return static_cast<std::int32_t>(Lists.size() - 1);
}

std::shared_ptr<UrlFileList> MainInterface::GetURL(std::int32_t Index) const {
    if (Index < 0 || Index > GetURLsCount())
        throw std::out_of_range("MainInterface: no URL " + std::to_string(Index));
    return Lists[static_cast<std::size_t>(Index)];
}

std::int32_t MainInterface::GetURLIndex(const std::string& theURL) const {
    for (std::size_t i = 1; i < Lists.size(); ++i) {
        if (Lists[i]->URL() == theURL)
            return static_cast<std::int32_t>(i);
    }
    return 0;
}

std::int32_t MainInterface::FindURL(const std::string& text) const {
    if (const std::int32_t exact = GetURLIndex(text); exact != 0)
        return exact;
    const std::string wanted = ComparableURL(text);
    for (std::size_t i = 1; i < Lists.size(); ++i) {
        if (ComparableURL(Lists[i]->URL()) == wanted)
            return static_cast<std::int32_t>(i);
    }
    return 0;
}

void MainInterface::RemoveURL(const std::string& theURL) {
    if (const std::int32_t i = GetURLIndex(theURL); i != 0) {
        if (const UrlSettings& settings = Lists[static_cast<std::size_t>(i)]->Settings();
            !settings.IsDefault()) {
            removedSettings_[theURL] = settings;
            settingsUnsaved_ = true;
        }
        Lists[static_cast<std::size_t>(i)]->Cancel();
        downloads_->Stop(theURL, true);
        Lists.erase(Lists.begin() + i);
        Forget(names_->Of(theURL));
    }
    SaveData();
    ListChanged.Raise();
}

std::int32_t MainInterface::RestoreURL(std::int32_t index, std::string_view record) {
    auto list = std::make_shared<UrlFileList>();
    list->SetOwner(ListOwner());
    list->SetBySavedData(record, true);
    if (const std::int32_t existing = GetURLIndex(list->URL()); existing != 0)
        return existing;
    if (const auto removed = removedSettings_.find(list->URL());
        removed != removedSettings_.end()) {
        list->LoadSettings(removed->second);
        removedSettings_.erase(removed);
        settingsUnsaved_ = true;
    }
    index = std::clamp(index, 1, GetURLsCount() + 1);
    Lists.insert(Lists.begin() + index, list);
    SaveData();
    ListChanged.Raise();
    return index;
}

void MainInterface::Refresh() {
    // Each list asks for a save; the file is written once, for all of them.
    ++saveHolds_;
    for (std::size_t i = 1; i < Lists.size(); ++i) {
        const bool changed = Lists[i]->IsChanged();
        Lists[i]->RefreshList();
        if (changed)
            EntryChanged.Raise(*Lists[i]);
    }
    --saveHolds_;
    SaveData();
    RaiseEvent_Change({});
}

void MainInterface::ChangeURL(std::int32_t index, const std::string& newURL) {
    const std::shared_ptr<UrlFileList> list = GetURL(index);
    if (!list)
        return;
    // Another directory starts afresh: nothing of the old one is shown as
    // gone, and what the new one holds is its starting point.
    if (!list->ParsedURL().SameDirectory(Url(newURL))) {
        list->Clear();
        list->SetStartingPoint();
    }
    // The store keeps rows by URL name: the old name's go, the new name's come.
    if (newURL != list->URL()) {
        downloads_->Stop(list->URL(), true);
        Forget(names_->Of(list->URL()));
        list->MarkAllUnstored();
        // The settings go with the list, kept under its new text.
        settingsUnsaved_ = settingsUnsaved_ || !list->Settings().IsDefault();
    }
    list->SetURL(newURL);
    // Saved at once: the new URL must not depend on its check ending.
    SaveData();
    EntryChanged.Raise(*list);
    list->CheckFiles();
}

void MainInterface::Cancel() {
    Clear();
}

void MainInterface::Clear() {
    for (std::size_t i = 1; i < Lists.size(); ++i)
        Lists[i]->Cancel();
    Lists.assign(1, nullptr);
}

void MainInterface::CheckFiles(bool skipPaused) {
    const CheckPool::Batch batch(*pool_);
    for (std::size_t i = 1; i < Lists.size(); ++i) {
        if (!Lists[i]->IsCheckPending() && !(skipPaused && Lists[i]->Settings().Paused))
            Lists[i]->CheckFiles();
    }
}

std::uint32_t MainInterface::Period(const UrlFileList& list) const {
    // The global run comes every interval + 1 seconds.
    const std::int64_t seconds =
        list.Settings().Interval != 0 ? list.Settings().Interval : prefs_.Interval() + 1;
    return static_cast<std::uint32_t>(seconds * 1000);
}

void MainInterface::CheckDueFiles(bool globalRunDue) {
    const CheckPool::Batch batch(*pool_);
    const std::uint32_t now = timeGetTime();
    for (std::size_t i = 1; i < Lists.size(); ++i) {
        UrlFileList& list = *Lists[i];
        const UrlSettings& settings = list.Settings();
        if (settings.Paused || list.IsCheckPending())
            continue;
        const std::uint32_t period = Period(list);
        bool due = settings.Interval == 0
                       ? globalRunDue
                       : ClockDiff(now, list.LastCheckAsked()) >= static_cast<std::int32_t>(period);
        // After failures the schedule backs off; the global run's ticks come
        // a period apart, so half of one is leeway for their jitter.
        if (const auto next = backoff_.NextTry(list.URL(), period))
            due = due && ClockDiff(now, *next) >=
                             (settings.Interval == 0 ? -static_cast<std::int32_t>(period / 2) : 0);
        if (due) {
            list.CheckFiles();
            periodicAsked_[list.URL()] = list.LastCheckAsked();
        }
    }
}

std::optional<std::int64_t> MainInterface::NextTry(const UrlFileList& list) const {
    if (list.Settings().Paused || (list.Settings().Interval == 0 && prefs_.Interval() == 0))
        return std::nullopt;
    const auto next = backoff_.NextTry(list.URL(), Period(list));
    if (!next)
        return std::nullopt;
    const std::int64_t in = std::max(ClockDiff(*next, timeGetTime()), 0);
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
               .count() +
           (in + 999) / 1000;
}

const UrlSettings& MainInterface::GetURLSettings(std::int32_t index) const {
    const std::shared_ptr<UrlFileList> list = GetURL(index);
    if (!list)
        throw std::out_of_range("MainInterface: no URL 0");
    return list->Settings();
}

void MainInterface::SetURLSettings(std::int32_t index, const UrlSettings& settings) {
    const std::shared_ptr<UrlFileList> list = GetURL(index);
    if (!list || list->Settings() == settings)
        return;
    EntryChanges changes = list->SetSettings(settings);
    settingsUnsaved_ = true;
    SaveData();
    EntryChanged.Raise(*list);
    RaiseEvent_Change({list.get(), std::move(changes)});
}

std::string MainInterface::SettingsFileName() {
    return ProgramDir + "urlsettings.json";
}

std::optional<std::int64_t> MainInterface::SettleCheckAt(const UrlFileList& list) const {
    const auto due = list.SettlesAt(settleSeconds_);
    // When the check made for them failed, the server is not asked again
    // and again: the periodic check tries next.
    const auto last = list.LastChecked();
    const bool failedSince = list.IsError() && last && *last >= due.value_or(0);
    if (!due || failedSince || list.IsCheckPending() || list.Settings().Paused)
        return std::nullopt;
    return due;
}

void MainInterface::CheckSettling(std::int64_t now) {
    for (std::size_t i = 1; i < Lists.size(); ++i) {
        if (const auto due = SettleCheckAt(*Lists[i]); due && *due <= now)
            Lists[i]->CheckFiles();
    }
}

std::optional<std::int64_t> MainInterface::MillisecondsToNextDue(std::int64_t now,
                                                                 std::uint32_t clock) const {
    std::optional<std::int64_t> next;
    const auto consider = [&next](std::int64_t in) {
        next = std::min(next.value_or(in), std::max<std::int64_t>(in, 0));
    };
    for (std::size_t i = 1; i < Lists.size(); ++i) {
        const UrlFileList& list = *Lists[i];
        if (const auto due = SettleCheckAt(list))
            consider((*due - now) * 1000);
        if (list.Settings().Interval != 0 && !list.Settings().Paused && !list.IsCheckPending())
            consider(list.Settings().Interval * 1000 -
                     static_cast<std::int64_t>(ClockDiff(clock, list.LastCheckAsked())));
    }
    return next;
}

void MainInterface::SetChecksAtOnce(int count) {
    pool_->SetLimits(count);
}

void MainInterface::SetCheckWakeUp(std::function<void()> wakeUp) {
    actions_->SetWakeUp(wakeUp);
    writer_.SetWakeUp(wakeUp);
    pool_->SetWakeUp(std::move(wakeUp));
}

void MainInterface::DeliverCheckResults() {
    pool_->Deliver();
    actions_->Deliver();
    // What a delivery brought is kept together, in one transaction.
    SaveHistory();
    DeliverSaves();
}

void MainInterface::WaitForChecks() {
    // Programs run for files are waited for too (each within its time limit).
    while (pool_->Outstanding() > 0 || downloads_->Outstanding() > 0 ||
           actions_->Outstanding() > 0) {
        if (pool_->Outstanding() > 0 || downloads_->Outstanding() > 0)
            pool_->WaitForNews(std::chrono::milliseconds(200));
        else
            actions_->WaitForNews(std::chrono::milliseconds(200));
        DeliverCheckResults();
    }
    FinishSaves();
}

void MainInterface::StopPrograms() {
    actions_->Close();
}

std::string MainInterface::ProgramProblem(const std::string& url) const {
    return actions_ ? actions_->ProgramProblem(url) : std::string();
}

std::string MainInterface::CheckProgressText() const {
    const CheckPool::Progress progress = pool_->CurrentProgress();
    if (progress.Total == 0)
        return {};
    return "checking " + std::to_string(std::max<std::size_t>(progress.Started, 1)) + " of " +
           std::to_string(progress.Total);
}

void MainInterface::SaveData() {
    // Unsaved until written: a save that fails is tried again at the next save point.
    unsaved_ = true;
    if (saveHolds_ > 0)
        return;
    // The writer gets what is to be written as it is now: the data file's
    // bytes (a piece per URL, never copied into one), the settings, the
    // store's changes.
    std::vector<std::string> bytes(Lists.size() - 1);
    for (std::size_t i = 1; i < Lists.size(); ++i)
        Lists[i]->AppendFrameTo(bytes[i - 1]);
    std::optional<SettingsByUrl> settings;
    if (std::exchange(settingsUnsaved_, false))
        settings = CurrentSettings();
    ++dataSaves_;
    writer_.Post([this, file = DataFileName(), bytes = std::move(bytes),
                  settingsFile = SettingsFileName(), settings = std::move(settings)] {
        struct Done {
            std::atomic<int>& Count;
            ~Done() { --Count; }
        } done{dataSaves_};
        const auto begun = std::chrono::steady_clock::now();
        FileReplacement replacement(file);
        for (const std::string& piece : bytes)
            replacement.Write(piece);
        replacement.Commit();
        RecordProzessRun(ReplacementProzess(file),
                         std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - begun)
                             .count());
        NoteDataFile(file);
        if (settings)
            SaveUrlSettings(settingsFile, *settings);
    });
    unsaved_ = false;
    // After the data file: a crash between the two leaves the store behind,
    // and what it says of an entry is taken only where the two agree.
    SaveStore();
}

std::string MainInterface::ReplacementProzess(const std::string& fileName) {
    return "replace " + fileName.substr(fileName.rfind('/') + 1);
}

void MainInterface::SaveIfChanged() {
    if (!unsaved_ && DataFileIsOurs()) {
        SaveStore();
        return;
    }
    const int holds = std::exchange(saveHolds_, 0);
    SaveData();
    saveHolds_ = holds;
}

void MainInterface::FinishSaves() {
    SaveHistory();
    try {
        writer_.Finish();
    } catch (...) {
        SaveFailed();
        throw;
    }
}

void MainInterface::DeliverSaves() {
    try {
        writer_.Deliver();
    } catch (...) {
        SaveFailed();
        throw;
    }
}

void MainInterface::SaveFailed() {
    // Written again at the next save point, settings and all.
    unsaved_ = true;
    settingsUnsaved_ = true;
}

void MainInterface::DeferSaves() {
    ++saveHolds_;
}

UrlFileList::Owner MainInterface::ListOwner() {
    UrlFileList::Owner owner;
    owner.Pool = pool_;
    owner.SettleSeconds = [this] { return settleSeconds_; };
    owner.Begun = [this](UrlFileList& list) { RaiseEvent_CheckBegins(list); };
    owner.Ended = [this](UrlFileList& list, CheckOutcome outcome) {
        CheckFinished(list, std::move(outcome));
    };
    return owner;
}

void MainInterface::CheckFinished(UrlFileList& list, CheckOutcome outcome) {
    UrlFileList::CheckReport report = list.TakeOutcome(std::move(outcome));
    // Only what the schedule started backs off further; Enter, Check now,
    // --check and an edited URL start afresh.
    const auto periodic = periodicAsked_.find(list.URL());
    const bool wasPeriodic =
        periodic != periodicAsked_.end() && periodic->second == list.LastCheckAsked();
    if (periodic != periodicAsked_.end())
        periodicAsked_.erase(periodic);
    backoff_.Ended(list.URL(), list.LastCheckAsked(), wasPeriodic, list.LastFailure());
    unsaved_ = unsaved_ || report.Changed;
    // Taken as each result comes, in the order things happened, so that the
    // save at the run's end does not take a whole run's rows at once.
    CollectStoreChanges();
    if (saveHolds_ == 0 && pool_->Outstanding() == 0)
        SaveIfChanged();
    // A pending download goes on while its file is listed: only a whole
    // listing says that a file went.
    if (downloads_ && !list.IsError() && !downloads_->Pending(list.URL()).empty()) {
        std::vector<FileEntry> entries;
        for (std::int32_t i = 1; i <= list.GetFilesCount(); ++i)
            entries.push_back(list.GetEntry(i));
        downloads_->ResumePending(list.ParsedURL(), entries);
    }
    // What the check reported is acted on, also when the server cut the
    // listing: those files are told as new, and are not new again later.
    if (actions_)
        actions_->CheckEnded(list, report.News.Reported);
    RecordCheck(list);
    RaiseEvent_Change({&list, std::move(report.Entries)});
    CheckEnded.Raise(list);
}

std::string MainInterface::TakeDamageNotice() {
    return std::exchange(damageNotice_, std::string());
}

namespace {

std::optional<struct stat> StatOf(const std::string& fileName) {
    struct stat info {};
    if (::stat(fileName.c_str(), &info) != 0)
        return std::nullopt;
    return info;
}

} // namespace

void MainInterface::NoteDataFile(const std::string& file) {
    const auto info = StatOf(file);
    const std::lock_guard lock(dataFileMutex_);
    if (!info) {
        dataFile_.reset();
        return;
    }
    dataFile_ =
        FileIdentity{info->st_dev, info->st_ino, static_cast<unsigned long long>(info->st_size),
                     info->st_mtim.tv_sec, info->st_mtim.tv_nsec};
}

bool MainInterface::DataFileIsOurs() const {
    // A save under way writes what the list holds now.
    if (dataSaves_ > 0)
        return true;
    std::optional<FileIdentity> written;
    {
        const std::lock_guard lock(dataFileMutex_);
        written = dataFile_;
    }
    const auto info = StatOf(DataFileName());
    return written && info &&
           *written == FileIdentity{info->st_dev, info->st_ino,
                                    static_cast<unsigned long long>(info->st_size),
                                    info->st_mtim.tv_sec, info->st_mtim.tv_nsec};
}

void MainInterface::RaiseEvent_Change(const ListChange& change) {
    Change.Raise(change);
}

void MainInterface::RaiseEvent_CheckBegins(const UrlFileList& list) {
    CheckBegins.Raise(list);
}

void MainInterface::LoadData() {
    Clear();
    const DataFileLoad load = LoadDataFile(DataFileName(), [this](UrlRecord& record) {
        auto list = std::make_shared<UrlFileList>();
        Lists.push_back(list);
        list->SetOwner(ListOwner());
        list->SetByRecord(std::move(record));
    });
    NoteDataFile(DataFileName());
    Tell(DamageNotice(load));
    LoadSettings();
}

void MainInterface::LoadSettings() {
    std::string notice;
    SettingsFile file;
    try {
        file = LoadUrlSettings(SettingsFileName(), *names_, notice);
    } catch (const FileError& error) {
        // The URLs are watched all the same, as they are without settings.
        Tell(std::string(error.what()) + "; the URLs' own settings are not used this time");
        return;
    }
    Tell(notice);
    std::vector<std::string> stored;
    for (const auto& entry : file.Settings)
        stored.push_back(entry.first);
    const UrlNames::Matches matches = names_->Rematch(stored, Urls());
    if (!matches.Ambiguous.empty()) {
        // Never guessed: the file as it was stays with the user.
        try {
            const std::string keptAs = KeepDamagedCopy(SettingsFileName());
            // An empty keptAs: the copy was made for its damage, told above or before.
            if (!keptAs.empty() || !notice.empty())
                Tell("the settings of " + std::to_string(matches.Ambiguous.size()) +
                     " URLs that differ from another only in their password could not be told "
                     "apart (urlkey.dat is not the key they were saved with) and are not used; "
                     "urlsettings.json as it was is kept as " +
                     (keptAs.empty() ? std::string("said above") : keptAs) + ".");
        } catch (const FileError& error) {
            Tell(std::string(error.what()) + "; the URLs' own settings are not used this time");
            return;
        }
    }
    for (const auto& [from, to] : matches.Renamed) {
        auto node = file.Settings.extract(from);
        node.key() = to;
        file.Settings.insert(std::move(node));
    }
    for (std::size_t i = 1; i < Lists.size(); ++i) {
        if (const auto found = file.Settings.find(names_->Of(Lists[i]->URL()));
            found != file.Settings.end())
            Lists[i]->LoadSettings(found->second);
    }
    // Written again at once, so that no password of the first version stays
    // in it and no damage is told twice.
    if (!file.Problems.empty() || file.OldEntries > 0 || !matches.Renamed.empty() ||
        !matches.Ambiguous.empty()) {
        try {
            // At start, before any save is asked for: written here, so that a
            // failure is only logged and tried again at the next save.
            SaveUrlSettings(SettingsFileName(), CurrentSettings());
        } catch (const FileError& error) {
            WriteLog(error.what());
            settingsUnsaved_ = true;
            unsaved_ = true;
        }
    }
}

SettingsByUrl MainInterface::CurrentSettings() const {
    SettingsByUrl settings;
    for (std::size_t i = 1; i < Lists.size(); ++i) {
        if (!Lists[i]->Settings().IsDefault())
            settings[names_->Of(Lists[i]->URL())] = Lists[i]->Settings();
    }
    return settings;
}

} // namespace ornbrook
