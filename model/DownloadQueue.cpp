#include "model/DownloadQueue.h"

#include "check/CheckPool.h"
#include "check/DownloadTarget.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include <sys/stat.h>

namespace ornbrook {

namespace {

std::vector<std::string> Segments(const std::string& name) {
    std::vector<std::string> segments;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = name.find('/', start);
        segments.push_back(name.substr(start, slash - start));
        if (slash == std::string::npos)
            return segments;
        start = slash + 1;
    }
}

bool SameFacts(const StoredDownload& record, const FileFacts& facts) {
    return record.Size == facts.Size && record.Modified == facts.Modified;
}

Result<void> MakeFolder(const std::string& folder) {
    std::string path;
    for (const std::string& segment : Segments(folder)) {
        path += segment;
        if (!path.empty() && ::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
            return Error{ErrorKind::LocalFile,
                         "cannot make the folder " + path + ": " + std::strerror(errno)};
        path += "/";
    }
    return {};
}

} // namespace

DownloadQueue::DownloadQueue(std::shared_ptr<CheckPool> pool, StoreWork storeWork,
                             std::function<std::string(const std::string&)> storeName)
    : pool_(std::move(pool)), storeWork_(std::move(storeWork)), storeName_(std::move(storeName)) {}

DownloadQueue::~DownloadQueue() {
    for (const auto& [id, running] : running_)
        pool_->Cancel(id);
}

void DownloadQueue::Load(const std::vector<std::string>& urls,
                         std::map<std::string, std::vector<StoredDownload>> stored) {
    for (const std::string& url : urls) {
        for (StoredDownload& download : stored[storeName_(url)])
            records_[url][download.Name] = std::move(download);
    }
}

void DownloadQueue::Record(const std::string& url, const StoredDownload& record) {
    records_[url][record.Name] = record;
    storeWork_([name = storeName_(url), record](FileStore& store) {
        return store.PutDownload(name, record);
    });
}

void DownloadQueue::Forget(const std::string& url, const std::optional<std::string>& name) {
    if (const auto it = records_.find(url); it != records_.end()) {
        if (name)
            it->second.erase(*name);
        if (!name || it->second.empty())
            records_.erase(it);
    }
    storeWork_([url = storeName_(url), name](FileStore& store) {
        return store.RemoveDownload(url, name);
    });
}

std::size_t DownloadQueue::Download(const Url& watched, const std::vector<FileEntry>& files,
                                    const std::string& folder) {
    const std::string& url = watched.Text();
    if (auto made = MakeFolder(folder); !made) {
        for (const FileEntry& file : files)
            News.Raise(DownloadNews{DownloadNews::Stage::Failed,
                                    url,
                                    file.Name,
                                    file.Facts.Size,
                                    0,
                                    {},
                                    made.error().Message});
        return 0;
    }
    std::size_t started = 0;
    for (const FileEntry& file : files) {
        if (file.Facts.Type == EntryType::Folder || file.Facts.Type == EntryType::Link ||
            file.Facts.Type == EntryType::Other)
            continue;
        StoredDownload record{file.Name, folder, file.Facts.Size, file.Facts.Modified};
        const auto known = records_.find(url);
        const StoredDownload* before = nullptr;
        if (known != records_.end()) {
            if (const auto it = known->second.find(file.Name); it != known->second.end())
                before = &it->second;
        }
        // The same file fetched into the same folder before, and still there.
        if (before && before->Done && before->Folder == folder && SameFacts(*before, file.Facts) &&
            LocalFileFacts(before->SavedAs)) {
            News.Raise(DownloadNews{DownloadNews::Stage::AlreadyThere,
                                    url,
                                    file.Name,
                                    file.Facts.Size,
                                    file.Facts.Size.value_or(0),
                                    before->SavedAs,
                                    {}});
            continue;
        }
        const bool resume =
            before && !before->Done && before->Folder == folder && SameFacts(*before, file.Facts);
        const bool inFlight = std::any_of(running_.begin(), running_.end(), [&](const auto& r) {
            return r.second.Watched.Text() == url && r.second.Record.Name == file.Name;
        });
        if (inFlight)
            continue;
        Record(url, record);
        Start(watched, record, resume);
        ++started;
    }
    return started;
}

void DownloadQueue::Start(const Url& watched, const StoredDownload& record, bool resume) {
    const std::string& url = watched.Text();
    DownloadRequest request{watched,         Segments(record.Name), record.Size,
                            record.Modified, record.Folder,         resume};
    if (modeOf_)
        request.Mode = modeOf_(url);
    auto job = std::make_shared<const DownloadJob>(std::move(request));
    const std::string name = record.Name;
    const std::optional<std::uint64_t> size = record.Size;
    std::uint64_t id = 0;
    CheckPool::DownloadCallbacks callbacks;
    callbacks.Started = [this, url, name, size] {
        News.Raise(DownloadNews{DownloadNews::Stage::Started, url, name, size});
    };
    callbacks.Progress = [this, url, name, size](std::uint64_t length) {
        News.Raise(DownloadNews{DownloadNews::Stage::Progress, url, name, size, length});
    };
    // The id is known once Start returns; the callback runs later, on this thread.
    auto idHolder = std::make_shared<std::uint64_t>(0);
    callbacks.Finished = [this, idHolder](Result<SavedFile> result) {
        Finished(*idHolder, std::move(result));
    };
    id = pool_->StartDownload(std::move(job), std::move(callbacks));
    *idHolder = id;
    running_[id] = Running{watched, record};
}

void DownloadQueue::Finished(std::uint64_t id, Result<SavedFile> result) {
    const auto it = running_.find(id);
    if (it == running_.end())
        return;
    const Running done = std::move(it->second);
    running_.erase(it);
    const std::string& url = done.Watched.Text();
    DownloadNews news{DownloadNews::Stage::Failed, url, done.Record.Name, done.Record.Size};
    if (result) {
        news.What =
            result->AlreadyThere ? DownloadNews::Stage::AlreadyThere : DownloadNews::Stage::Saved;
        news.Length = result->Length;
        news.SavedAs = result->SavedAs;
        StoredDownload record = done.Record;
        record.Done = true;
        record.SavedAs = result->SavedAs;
        Record(url, record);
    } else {
        news.Message = result.error().Message;
        if (result.error().Kind == ErrorKind::Invalid) {
            news.What = DownloadNews::Stage::Refused;
            WriteLog(done.Watched.Masked() + ": " + news.Message);
            Forget(url, done.Record.Name);
        } else if (result.error().Kind == ErrorKind::Overrun) {
            StoredDownload record = done.Record;
            record.Failure = news.Message;
            Record(url, record);
        }
    }
    News.Raise(news);
}

void DownloadQueue::ResumePending(const Url& watched, const std::vector<FileEntry>& listed) {
    const std::string& url = watched.Text();
    const auto known = records_.find(url);
    if (known == records_.end())
        return;
    // Looked up, not scanned for: a large folder may hold many pending files.
    std::unordered_map<std::string_view, const FileEntry*> present;
    for (const FileEntry& entry : listed)
        if (entry.State != FileStateGone)
            present.emplace(entry.Name, &entry);
    std::unordered_set<std::string_view> inFlight;
    for (const auto& [id, running] : running_)
        if (running.Watched.Text() == url)
            inFlight.insert(running.Record.Name);
    std::vector<std::string> gone;
    std::vector<std::pair<StoredDownload, bool>> again;
    std::vector<DownloadNews> held;
    for (const auto& [name, record] : known->second) {
        if (record.Done)
            continue;
        const auto found = present.find(name);
        if (found == present.end()) {
            gone.push_back(name);
            continue;
        }
        if (inFlight.count(name) > 0)
            continue;
        const FileEntry* file = found->second;
        const bool same = SameFacts(record, file->Facts);
        // The same file from a server that sent more than it listed would
        // only do so again.
        if (same && !record.Failure.empty()) {
            held.push_back(DownloadNews{DownloadNews::Stage::Failed,
                                        url,
                                        name,
                                        record.Size,
                                        record.Size.value_or(0),
                                        {},
                                        record.Failure});
            continue;
        }
        StoredDownload now = record;
        now.Size = file->Facts.Size;
        now.Modified = file->Facts.Modified;
        now.Failure.clear();
        again.emplace_back(now, same);
    }
    for (const std::string& name : gone)
        Forget(url, name);
    for (const DownloadNews& news : held)
        News.Raise(news);
    for (const auto& [record, resume] : again) {
        if (!resume)
            Record(url, record);
        Start(watched, record, resume);
    }
}

void DownloadQueue::Stop(const std::string& url, bool forget) {
    for (auto it = running_.begin(); it != running_.end();) {
        if (it->second.Watched.Text() == url) {
            pool_->Cancel(it->first);
            it = running_.erase(it);
        } else {
            ++it;
        }
    }
    if (forget)
        Forget(url, std::nullopt);
}

void DownloadQueue::Cancel(const std::string& url, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        for (auto it = running_.begin(); it != running_.end();) {
            if (it->second.Watched.Text() == url && it->second.Record.Name == name) {
                pool_->Cancel(it->first);
                it = running_.erase(it);
            } else {
                ++it;
            }
        }
        if (const auto found = records_.find(url);
            found != records_.end() && found->second.count(name) && !found->second.at(name).Done)
            Forget(url, name);
    }
}

std::vector<StoredDownload> DownloadQueue::Pending(const std::string& url) const {
    std::vector<StoredDownload> pending;
    if (const auto it = records_.find(url); it != records_.end()) {
        for (const auto& [name, record] : it->second) {
            if (!record.Done)
                pending.push_back(record);
        }
    }
    return pending;
}

} // namespace ornbrook
