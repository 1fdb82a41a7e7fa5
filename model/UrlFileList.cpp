#include "model/UrlFileList.h"

#include "base/Clock.h"
#include "check/CheckPool.h"
#include "check/UrlFileListChecker.h"
#include "model/DataFileFormat.h"
#include "model/ListingMerge.h"

#include <algorithm>
#include <ctime>
#include <stdexcept>
#include <unordered_map>

namespace ornbrook {

UrlFileList::UrlFileList() : lastAsked_(timeGetTime()) {}
UrlFileList::~UrlFileList() = default;

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
    // Held here as well: without a pool the outcome releases myChecker while
    // CheckURL runs.
    const auto checker = std::make_shared<UrlFileListChecker>(owner_.Pool);
    myChecker = checker;
    checkerEvents_.CancelAll();
    checkerEvents_ += checker->Started.Connect([this] { myChecker_Started(); });
    // The outcome goes to the owner in one piece; it merges, saves and tells.
    checkerEvents_ += checker->Ended.Connect([this](CheckOutcome& outcome) {
        if (owner_.Ended)
            owner_.Ended(*this, std::move(outcome));
        else
            TakeOutcome(std::move(outcome));
    });
    // A listing that comes back empty is confirmed before every known entry goes.
    checker->SetConfirmEmptyListing(GetFilesCount() > 0);
    checker->SetDepth(settings_.Depth);
    checker->SetDataMode(settings_.Mode);
    walkedDepth_ = settings_.Depth;
    checker->CheckURL(url_);
}

void UrlFileList::myChecker_Started() {
    checkStarted_ = true;
    if (owner_.Begun)
        owner_.Begun(*this);
}

UrlFileList::CheckReport UrlFileList::TakeOutcome(CheckOutcome outcome) {
    if (myChecker) {
        myChecker->Cancel();
        myChecker.reset();
    }
    checkStarted_ = false;
    lastChecked_ = static_cast<std::int64_t>(std::time(nullptr));
    if (outcome.Listed)
        return myChecker_Ready(std::move(*outcome.Listed));
    rejected_ = std::move(outcome.Certificate);
    rejectedKey_ = std::move(outcome.HostKey);
    return myChecker_Error(outcome.Listed.error());
}

UrlFileList::CheckReport UrlFileList::myChecker_Ready(Listing&& listing) {
    rejected_.reset();
    rejectedKey_.reset();
    for (const std::string& refusal : listing.Refused) {
        if (std::find(refused_.begin(), refused_.end(), refusal) == refused_.end())
            WriteLog(url_.Masked() + ": " + refusal);
    }
    refused_ = std::move(listing.Refused);
    return MergeFreshListing(std::move(listing));
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

UrlFileList::CheckReport UrlFileList::MergeFreshListing(Listing&& listing) {
    MergeRules rules;
    rules.Now = static_cast<std::int64_t>(std::time(nullptr));
    rules.SettleSeconds = owner_.SettleSeconds ? owner_.SettleSeconds() : 0;
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
    const std::int32_t before = GetFilesCount();
    MergeNews news;
    CheckReport report;
    if (RecordFits(bound)) {
        news = MergeListing(Entries, std::move(listing), rules);
    } else {
        std::vector<FileEntry> merged = Entries;
        news = MergeListing(merged, std::move(listing), rules);
        if (!RecordFits(RecordBytes(url_.Text(), message, merged))) {
            report.Changed = SetFailure(Error{ErrorKind::LocalFile, TooLargeMessage});
            return report;
        }
        Entries = std::move(merged);
    }
    // Which rows changed: those dropped, those appended, and those whose kept
    // facts or marks the merge changed, where they are now (each dropped one
    // before them moved them up).
    EntryChanges& rows = report.Entries;
    rows.Removed = std::move(news.DroppedAt);
    std::sort(rows.Removed.begin(), rows.Removed.end());
    const std::int32_t kept = before - static_cast<std::int32_t>(rows.Removed.size());
    rows.Added = GetFilesCount() - kept;
    std::sort(news.ChangedAt.begin(), news.ChangedAt.end());
    rows.Changed.reserve(news.ChangedAt.size());
    std::size_t below = 0;
    for (const std::int32_t k : news.ChangedAt) {
        while (below < rows.Removed.size() && rows.Removed[below] < k)
            ++below;
        rows.Changed.push_back(k - static_cast<std::int32_t>(below));
    }
    lastNews_.NewFiles = news.NewFiles;
    lastNews_.ChangedFiles = news.ChangedFiles;
    lastNews_.CameIntoView = news.CameIntoView;
    if (!startingPoint_) {
        lastNews_.Reported = std::move(news.Reported);
        lastNews_.Gone = std::move(news.Gone);
    }
    for (std::string& name : news.Dropped)
        unstoredNames_.push_back(std::move(name));
    // The first listing that came is the starting point; what follows is news.
    if (startingPoint_) {
        startingPoint_ = false;
        startingPointUnstored_ = true;
    }
    report.Changed = SetFailure(std::move(cut)) || news.DataChanged;
    report.News = lastNews_;
    return report;
}

bool UrlFileList::SetFailure(std::optional<Error> failure) {
    const bool changed = GetErrorMsg() != (failure ? failure->Message : std::string());
    failure_ = std::move(failure);
    return changed;
}

UrlFileList::CheckReport UrlFileList::myChecker_Error(const Error& failure) {
    lastNews_ = {};
    CheckReport report;
    report.Changed = SetFailure(failure);
    return report;
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
}

void UrlFileList::Cancel() {
    Clear();
    if (myChecker)
        myChecker->Cancel();
}

void UrlFileList::Clear() {
    Entries.assign(1, FileEntry{});
    forgetStored_ = true;
    unstoredNames_.clear();
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
        Clear();
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

EntryChanges UrlFileList::SetSettings(const UrlSettings& settings) {
    EntryChanges changes;
    const UrlSettings earlier = std::exchange(settings_, settings);
    if (earlier.SameView(settings_))
        return changes;
    earlierViews_.push_back(earlier);
    // What went out of view is forgotten: it did not go from the server. The
    // rest keep their order.
    const UrlView view(settings_);
    std::size_t kept = 1;
    for (std::size_t k = 1; k < Entries.size(); ++k) {
        if (!view.Shows(Entries[k].Name, Entries[k].Facts.Type == EntryType::Folder)) {
            ++hidden_;
            changes.Removed.push_back(static_cast<std::int32_t>(k));
            unstoredNames_.push_back(std::move(Entries[k].Name));
            continue;
        }
        if (kept != k)
            Entries[kept] = std::move(Entries[k]);
        ++kept;
    }
    Entries.resize(kept);
    return changes;
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
