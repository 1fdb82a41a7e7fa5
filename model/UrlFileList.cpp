#include "model/UrlFileList.h"

#include "base/Clock.h"
#include "check/CheckPool.h"
#include "check/UrlFileListChecker.h"
#include "model/DataFileFormat.h"
#include "model/ListingMerge.h"
#include "model/MainInterface.h"

#include <algorithm>
#include <ctime>
#include <stdexcept>
#include <unordered_map>

namespace ornbrook {

UrlFileList::UrlFileList() : lastAsked_(timeGetTime()) {}
UrlFileList::~UrlFileList() = default;

void UrlFileList::SetParent(MainInterface* theParent) {
    Parent = theParent;
}

bool UrlFileList::IsChecking() const {
    return myChecker != nullptr && checkStarted_;
}

bool UrlFileList::IsCheckPending() const {
    return myChecker != nullptr;
}

const std::string& UrlFileList::GetErrorMsg() const {
    static const std::string none;
    return failure_ ? failure_->Message : none;
}

std::int32_t UrlFileList::GetFilesCount() const {
    return static_cast<std::int32_t>(Entries.size() - 1);
}

bool UrlFileList::IsChanged() const {
    for (std::size_t k = 1; k < Entries.size(); ++k) {
        const FileMark mark = MarkOf(Entries[k]);
        if (mark != FileMark::Old && mark != FileMark::Arriving)
            return true;
    }
    return false;
}

std::int32_t UrlFileList::CountState(std::int32_t state) const {
    std::int32_t count = 0;
    for (std::size_t k = 1; k < Entries.size(); ++k)
        count += Entries[k].State == state ? 1 : 0;
    return count;
}

std::int32_t UrlFileList::CountMark(FileMark mark) const {
    std::int32_t count = 0;
    for (std::size_t k = 1; k < Entries.size(); ++k)
        count += MarkOf(Entries[k]) == mark ? 1 : 0;
    return count;
}

FileMark UrlFileList::GetFileMark(std::int32_t Index) const {
    return MarkOf(Entry(Index));
}

const FileEntry& UrlFileList::GetEntry(std::int32_t Index) const {
    return Entry(Index);
}

std::optional<std::int64_t> UrlFileList::SettlesAt(std::int64_t settleSeconds) const {
    std::optional<std::int64_t> earliest;
    for (std::size_t k = 1; k < Entries.size(); ++k) {
        if (Entries[k].Arriving && (!earliest || Entries[k].SteadySince < *earliest))
            earliest = Entries[k].SteadySince;
    }
    if (earliest)
        *earliest += settleSeconds;
    return earliest;
}

const FileEntry& UrlFileList::Entry(std::int32_t Index) const {
    if (Index < 0 || Index > GetFilesCount())
        throw std::out_of_range("UrlFileList: no entry " + std::to_string(Index));
    return Entries[static_cast<std::size_t>(Index)];
}

const std::string& UrlFileList::GetFileName(std::int32_t Index) const {
    return Entry(Index).Name;
}

std::int32_t UrlFileList::GetFileState(std::int32_t Index) const {
    return Entry(Index).State;
}

std::int32_t UrlFileList::AddFile(std::string name, std::int32_t state) {
    Entries.push_back(FileEntry{std::move(name), state});
    return GetFilesCount();
}

void UrlFileList::CheckFiles() {
    // A check still under way is for a URL as it was: it is stopped and its
    // result never arrives.
    if (myChecker) {
        myChecker->Cancel();
        myChecker.reset();
    }
    checkStarted_ = false;
    lastAsked_ = timeGetTime();
    // Held here as well: without a pool the handlers release myChecker while
    // CheckURL runs.
    const auto checker = std::make_shared<UrlFileListChecker>(Parent ? Parent->Checks()
                                                                     : std::weak_ptr<CheckPool>());
    myChecker = checker;
    checkerEvents_.CancelAll();
    checkerEvents_ += checker->Started.Connect([this] { myChecker_Started(); });
    checkerEvents_ += checker->Ready.Connect([this] { myChecker_Ready(); });
    checkerEvents_ +=
        checker->Error.Connect([this](const Error& failure) { myChecker_Error(failure); });
    // A listing that comes back empty is confirmed before every known entry goes.
    checker->SetConfirmEmptyListing(GetFilesCount() > 0);
    checker->SetDepth(settings_.Depth);
    walkedDepth_ = settings_.Depth;
    checker->CheckURL(url_);
}

void UrlFileList::myChecker_Started() {
    checkStarted_ = true;
    if (Parent)
        Parent->RaiseEvent_CheckBegins(*this);
}

void UrlFileList::myChecker_Ready() {
    rejected_.reset();
    rejectedKey_.reset();
    Listing listing = myChecker->TakeListing();
    for (const std::string& refusal : listing.Refused) {
        if (std::find(refused_.begin(), refused_.end(), refusal) == refused_.end())
            WriteLog(url_.Masked() + ": " + refusal);
    }
    refused_ = std::move(listing.Refused);
    const bool changed = MergeFreshListing(std::move(listing));
    CheckEnded(changed);
}

// Both outcomes end alike: the checker goes, the data file is brought up to date
// and the listener hears of the change, and once more that the check is over.
void UrlFileList::CheckEnded(bool changed) {
    myChecker->Cancel();
    myChecker.reset();
    checkStarted_ = false;
    lastChecked_ = static_cast<std::int64_t>(std::time(nullptr));
    if (!Parent)
        return;
    Parent->CheckResultMerged(changed);
    // Change comes twice for every completed check, as the design has it: once
    // for the merge (raised from the checker's Ready or Error handler) and once
    // for the end of the check (raised when CheckFiles ends). Its listeners take
    // both alike: the window refills the selected URL's files and its status
    // line, the desktop presence its title and tray (once per turn of the event
    // loop). Who needs to know which URL ended listens to CheckEnded: the URL
    // rows, the notifications, the certificate question, the command line.
    Parent->RaiseEvent_Change();
    Parent->RaiseEvent_Change();
    Parent->RaiseEvent_CheckEnded(*this);
}

bool UrlFileList::MergeFreshListing(const std::vector<std::string>& names, ListingExtent extent) {
    lastNews_ = {};
    // A cut listing is shown as a failure until a complete one comes: the user
    // must know that the directory holds more than we could see.
    std::optional<Error> cut;
    if (extent == ListingExtent::Partial)
        cut = Error{ErrorKind::Cut,
                    "listing cut by the server at " + std::to_string(names.size()) + " names"};
    const std::string message = cut ? cut->Message : std::string();
    // A record longer than its 3-byte length cannot be saved. When the merged
    // entries might not fit, merge a copy first and keep it only if it fits;
    // otherwise the check fails and the entries stay as they were.
    std::size_t bound = RecordBytes(url_.Text(), message, Entries);
    for (const auto& name : names)
        bound += EntryBytes(name);
    bool changed = false;
    if (RecordFits(bound)) {
        changed = MergeListing(Entries, names, extent);
    } else {
        std::vector<FileEntry> merged = Entries;
        changed = MergeListing(merged, names, extent);
        if (!RecordFits(RecordBytes(url_.Text(), message, merged)))
            return SetFailure(Error{ErrorKind::LocalFile, TooLargeMessage});
        Entries = std::move(merged);
    }
    return SetFailure(std::move(cut)) || changed;
}

bool UrlFileList::MergeFreshListing(Listing&& listing) {
    MergeRules rules;
    rules.Now = static_cast<std::int64_t>(std::time(nullptr));
    rules.SettleSeconds = Parent ? Parent->SettleSeconds() : 0;
    rules.StartingPoint = startingPoint_;
    if (!earlierViews_.empty()) {
        std::vector<UrlView> views(earlierViews_.begin(), earlierViews_.end());
        rules.ComesIntoView = [views = std::move(views)](const FileEntry& entry) {
            return std::any_of(views.begin(), views.end(), [&](const UrlView& view) {
                return !view.Shows(entry.Name, entry.Facts.Type == EntryType::Folder);
            });
        };
        // A check that began before the settings changed walked the old depth:
        // what the new one brings into view comes with a later listing.
        if (walkedDepth_.value_or(settings_.Depth) >= settings_.Depth)
            earlierViews_.clear();
    }
    walkedDepth_.reset();
    lastNews_ = CheckNews{0, 0, startingPoint_, {}};
    std::optional<Error> cut;
    if (listing.Cut)
        cut = Error{ErrorKind::Cut, "listing cut by the server at " +
                                        std::to_string(listing.Entries.size()) + " names"};
    const std::string message = cut ? cut->Message : std::string();
    // Files that do not count are neither shown, kept nor told of.
    hidden_ = 0;
    if (!settings_.IsDefault())
        hidden_ = static_cast<std::int32_t>(
            std::erase_if(listing.Entries, [view = UrlView(settings_)](const ListedEntry& e) {
                return !view.Shows(e.Name, e.Type == EntryType::Folder);
            }));
    // As with names alone: a merge that might not fit the data file is tried
    // on a copy first.
    std::size_t bound = RecordBytes(url_.Text(), message, Entries);
    for (const auto& entry : listing.Entries)
        bound += EntryBytes(entry.Name);
    MergeNews news;
    if (RecordFits(bound)) {
        news = MergeListing(Entries, std::move(listing), rules);
    } else {
        std::vector<FileEntry> merged = Entries;
        news = MergeListing(merged, std::move(listing), rules);
        if (!RecordFits(RecordBytes(url_.Text(), message, merged)))
            return SetFailure(Error{ErrorKind::LocalFile, TooLargeMessage});
        Entries = std::move(merged);
    }
    lastNews_.NewFiles = news.NewFiles;
    lastNews_.ChangedFiles = news.ChangedFiles;
    lastNews_.CameIntoView = news.CameIntoView;
    if (!startingPoint_)
        lastNews_.Reported = std::move(news.Reported);
    for (std::string& name : news.Dropped)
        unstoredNames_.push_back(std::move(name));
    // The first listing that came is the starting point; what follows is news.
    if (startingPoint_) {
        startingPoint_ = false;
        startingPointUnstored_ = true;
    }
    return SetFailure(std::move(cut)) || news.DataChanged;
}

bool UrlFileList::SetFailure(std::optional<Error> failure) {
    const bool changed = GetErrorMsg() != (failure ? failure->Message : std::string());
    failure_ = std::move(failure);
    return changed;
}

void UrlFileList::myChecker_Error(const Error& failure) {
    rejected_ = myChecker->RejectedCertificate();
    rejectedKey_ = myChecker->RejectedHostKey();
    lastNews_ = {};
    CheckEnded(SetFailure(failure));
}

void UrlFileList::RefreshList() {
    std::size_t i = 1;
    while (i < Entries.size()) {
        FileEntry& entry = Entries[i];
        // A file still arriving has not been reported: nothing to acknowledge.
        if (!entry.Settled) {
            ++i;
            continue;
        }
        if (entry.Changed || entry.State != FileStateOld)
            entry.Unstored = true;
        entry.Changed = false;
        if (entry.State == FileStateNew) {
            entry.State = FileStateOld;
        } else if (entry.State == FileStateGone) {
            unstoredNames_.push_back(std::move(entry.Name));
            // The last entry takes the removed entry's place and is looked at next.
            Entries[i] = std::move(Entries.back());
            Entries.pop_back();
            continue;
        }
        ++i;
    }
    if (Parent)
        Parent->SaveData();
}

void UrlFileList::Cancel() {
    Clear(false);
    if (myChecker)
        myChecker->Cancel();
}

void UrlFileList::Clear(bool SaveIt) {
    Entries.assign(1, FileEntry{});
    forgetStored_ = true;
    unstoredNames_.clear();
    if (SaveIt && Parent)
        Parent->SaveData();
}

std::string UrlFileList::GetDataToSave() const {
    return EncodeRecord(url_.Text(), GetErrorMsg(), Entries);
}

void UrlFileList::AppendFrameTo(std::string& out) const {
    const std::size_t omitted = AppendFrame(out, url_.Text(), GetErrorMsg(), Entries);
    if (omitted > 0)
        WriteLog("maindata.dat: " + std::to_string(omitted) + " entries of " + url_.Masked() +
                 " left out, the record is full");
}

void UrlFileList::SetBySavedData(std::string_view Data, bool ClearMe) {
    if (ClearMe)
        Clear(false);
    UrlRecord record;
    record.Entries = std::move(Entries);
    DecodeRecordInto(Data, record);
    SetByRecord(std::move(record));
}

void UrlFileList::SetByRecord(UrlRecord record) {
    url_ = Url(std::move(record.URL));
    failure_.reset();
    if (!record.ErrorMsg.empty())
        failure_ = Error{ErrorKind::Earlier, std::move(record.ErrorMsg)};
    Entries = std::move(record.Entries);
    if (Entries.empty())
        Entries.emplace_back();
}

void UrlFileList::SetSettings(const UrlSettings& settings) {
    const UrlSettings earlier = std::exchange(settings_, settings);
    if (earlier.SameView(settings_))
        return;
    earlierViews_.push_back(earlier);
    // What went out of view is forgotten: it did not go from the server.
    const UrlView view(settings_);
    const auto out = std::remove_if(Entries.begin() + 1, Entries.end(), [&](FileEntry& e) {
        if (view.Shows(e.Name, e.Facts.Type == EntryType::Folder))
            return false;
        ++hidden_;
        unstoredNames_.push_back(e.Name);
        return true;
    });
    Entries.erase(out, Entries.end());
}

void UrlFileList::SetStartingPoint() {
    startingPoint_ = true;
    startingPointUnstored_ = true;
}

void UrlFileList::MarkAllUnstored() {
    forgetStored_ = true;
    for (std::size_t k = 1; k < Entries.size(); ++k)
        Entries[k].Unstored = true;
    startingPointUnstored_ = true;
}

bool UrlFileList::HasStoreChanges() const {
    if (forgetStored_ || startingPointUnstored_ || !unstoredNames_.empty())
        return true;
    return std::any_of(Entries.begin() + 1, Entries.end(),
                       [](const FileEntry& e) { return e.Unstored; });
}

StoreChange UrlFileList::TakeStoreChange() {
    StoreChange change;
    change.Url = url_.Text();
    change.RemoveAll = std::exchange(forgetStored_, false);
    change.Remove = std::exchange(unstoredNames_, {});
    if (std::exchange(startingPointUnstored_, false))
        change.StartingPoint = startingPoint_;
    for (std::size_t k = 1; k < Entries.size(); ++k) {
        FileEntry& e = Entries[k];
        if (!e.Unstored)
            continue;
        e.Unstored = false;
        change.Put.push_back(StoredFile{e.Name, e.Facts, e.Changed, e.Arriving, e.Settled,
                                        e.SteadySince, e.BeforeGone,
                                        e.Settled ? e.State : std::int32_t{-1}});
    }
    return change;
}

void UrlFileList::ApplyStored(std::vector<StoredFile>& rows, bool startingPoint) {
    startingPoint_ = startingPoint;
    std::unordered_map<std::string_view, std::size_t> at;
    at.reserve(Entries.size());
    for (std::size_t k = Entries.size() - 1; k >= 1; --k)
        at[Entries[k].Name] = k;
    for (StoredFile& row : rows) {
        const auto found = at.find(row.Name);
        if (found == at.end()) {
            // A file that arrived and has not settled is in no data file.
            if (row.DataState == -1 && row.Arriving && !row.Settled) {
                FileEntry& entry = Entries.emplace_back(std::move(row.Name), FileStateNew);
                entry.Facts = row.Facts;
                entry.Arriving = true;
                entry.Settled = false;
                entry.SteadySince = row.SteadySince;
            } else {
                unstoredNames_.push_back(std::move(row.Name));
            }
            continue;
        }
        FileEntry& entry = Entries[found->second];
        entry.Facts = row.Facts;
        // The marks hold only where the store was written with the data file
        // as it is: a crash between the two saves leaves the design's state,
        // and the next check finds the rest again.
        if (row.DataState == entry.State && row.Settled) {
            entry.Changed = row.Changed;
            entry.Arriving = row.Arriving;
            entry.SteadySince = row.SteadySince;
            entry.BeforeGone = row.BeforeGone;
        } else {
            entry.Unstored = true;
        }
    }
}

} // namespace ornbrook
