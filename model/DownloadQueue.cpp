#include "model/DownloadQueue.h"

#include "check/CheckPool.h"
#include "check/DownloadTarget.h"
#include "ftp/FtpModule.h"

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

bool MakeFolder(const std::string& folder, std::string& problem) {
    std::string path;
    for (const std::string& segment : Segments(folder)) {
        path += segment;
        if (!path.empty() && ::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
            problem = "cannot make the folder " + path + ": " + std::strerror(errno);
            return false;
        }
        path += "/";
    }
    return true;
}

} // namespace

DownloadQueue::DownloadQueue(std::shared_ptr<CheckPool> pool, std::function<FileStore*()> store,
                             std::function<std::string(const std::string&)> storeName)
    : pool_(std::move(pool)), store_(std::move(store)), storeName_(std::move(storeName)) {}

DownloadQueue::~DownloadQueue() {
    for (const auto& [id, running] : running_)
        pool_->Cancel(id);
}

void DownloadQueue::Load(const std::vector<std::string>& urls) {
    FileStore* store = store_();
    if (!store)
        return;
    try {
        auto stored = store->LoadDownloads();
        for (const std::string& url : urls) {
            for (StoredDownload& download : stored[storeName_(url)])
                records_[url][download.Name] = std::move(download);
        }
    } catch (const StoreError& error) {
        WriteLog(std::string("downloads not loaded: ") + error.what());
    }
}

void DownloadQueue::Record(const std::string& url, const StoredDownload& record) {
    records_[url][record.Name] = record;
    if (FileStore* store = store_()) {
        try {
            store->PutDownload(storeName_(url), record);
        } catch (const StoreError& error) {
            WriteLog(std::string("download not recorded: ") + error.what());
        }
    }
}

void DownloadQueue::Forget(const std::string& url, const std::optional<std::string>& name) {
    if (const auto it = records_.find(url); it != records_.end()) {
        if (name)
            it->second.erase(*name);
        if (!name || it->second.empty())
            records_.erase(it);
    }
    if (FileStore* store = store_()) {
        try {
            store->RemoveDownload(storeName_(url), name);
        } catch (const StoreError& error) {
            WriteLog(std::string("download not forgotten: ") + error.what());
        }
    }
}

std::size_t DownloadQueue::Download(const std::string& url, const std::vector<FileEntry>& files,
                                    const std::string& folder) {
    std::string problem;
    if (!MakeFolder(folder, problem)) {
        for (const FileEntry& file : files)
            News.Raise(DownloadNews{
                DownloadNews::Stage::Failed, url, file.Name, file.Facts.Size, 0, {}, problem});
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
            return r.second.Url == url && r.second.Record.Name == file.Name;
        });
        if (inFlight)
            continue;
        Record(url, record);
        Start(url, record, resume);
        ++started;
    }
    return started;
}

void DownloadQueue::Start(const std::string& url, const StoredDownload& record, bool resume) {
    DownloadRequest request{
        url, Segments(record.Name), record.Size, record.Modified, record.Folder, resume};
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
    callbacks.Finished = [this, idHolder](const DownloadResult& result) {
        Finished(*idHolder, result);
    };
    id = pool_->StartDownload(std::move(job), std::move(callbacks));
    *idHolder = id;
    running_[id] = Running{url, record};
}

void DownloadQueue::Finished(std::uint64_t id, const DownloadResult& result) {
    const auto it = running_.find(id);
    if (it == running_.end())
        return;
    const Running done = std::move(it->second);
    running_.erase(it);
    DownloadNews news{DownloadNews::Stage::Failed,
                      done.Url,
                      done.Record.Name,
                      done.Record.Size,
                      result.Length,
                      result.SavedAs,
                      result.Message};
    if (result.Refused) {
        news.What = DownloadNews::Stage::Refused;
        WriteLog(MaskedURL(done.Url) + ": " + result.Message);
        Forget(done.Url, done.Record.Name);
    } else if (result.Held) {
        StoredDownload record = done.Record;
        record.Failure = result.Message;
        Record(done.Url, record);
    } else if (result.Ok) {
        news.What =
            result.AlreadyThere ? DownloadNews::Stage::AlreadyThere : DownloadNews::Stage::Saved;
        StoredDownload record = done.Record;
        record.Done = true;
        record.SavedAs = result.SavedAs;
        Record(done.Url, record);
    }
    News.Raise(news);
}

void DownloadQueue::ResumePending(const std::string& url, const std::vector<FileEntry>& listed) {
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
        if (running.Url == url)
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
        Start(url, record, resume);
    }
}

void DownloadQueue::Stop(const std::string& url, bool forget) {
    for (auto it = running_.begin(); it != running_.end();) {
        if (it->second.Url == url) {
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
            if (it->second.Url == url && it->second.Record.Name == name) {
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
