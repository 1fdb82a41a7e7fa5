#include "check/CheckPool.h"

#include "base/Text_Code.h"
#include "ftp/FtpModule.h"
#include "ftp/StopSignal.h"

#include <algorithm>
#include <chrono>

namespace ornbrook {

namespace {

// The name under which every check is timed in the debug window.
constexpr const char* CheckProzess = "UrlFileList_CheckFiles";
constexpr const char* DownloadProzess = "FileDownload";
// Progress is handed back no more often than this per download.
constexpr auto ProgressEvery = std::chrono::milliseconds(100);

} // namespace

struct CheckPool::Job {
    Id JobId = 0;
    std::shared_ptr<const CheckJob> Check;
    std::shared_ptr<const DownloadJob> Download;
    StopSignal Stop;

    const std::string& Server() const { return Check ? Check->Server() : Download->Server(); }
    const std::string& Login() const { return Check ? Check->Login() : Download->Login(); }
    bool Cancelled = false;
};

CheckPool::CheckPool() = default;

CheckPool::~CheckPool() {
    {
        std::unique_lock lock(mutex_);
        shuttingDown_ = true;
        queue_.clear();
        for (auto& [id, job] : running_) {
            job->Cancelled = true;
            job->Stop.Stop();
        }
        news_.Clear();
    }
    workAvailable_.notify_all();
    for (auto& worker : workers_)
        worker.join();
}

void CheckPool::SetLimits(int atOnce, int perServer) {
    {
        const std::lock_guard lock(mutex_);
        atOnce_ = std::clamp(atOnce, 1, MaxAtOnce);
        perServer_ = std::max(perServer, 1);
        AddWorkersAsNeeded();
    }
    workAvailable_.notify_all();
}

int CheckPool::AtOnce() const {
    const std::lock_guard lock(mutex_);
    return atOnce_;
}

CheckPool::Id CheckPool::Start(std::shared_ptr<const CheckJob> check, Callbacks callbacks) {
    auto job = std::make_shared<Job>();
    job->Check = std::move(check);
    Queue(job);
    if (callbacks_.empty())
        progress_ = {};
    callbacks_[job->JobId] = std::move(callbacks);
    ++progress_.Total;
    workAvailable_.notify_one();
    return job->JobId;
}

CheckPool::Id CheckPool::StartDownload(std::shared_ptr<const DownloadJob> download,
                                       DownloadCallbacks callbacks) {
    auto job = std::make_shared<Job>();
    job->Download = std::move(download);
    Queue(job);
    downloads_[job->JobId] = std::move(callbacks);
    workAvailable_.notify_one();
    return job->JobId;
}

void CheckPool::Queue(const std::shared_ptr<Job>& job) {
    const std::lock_guard lock(mutex_);
    job->JobId = ++lastId_;
    queue_.push_back(job);
    AddWorkersAsNeeded();
}

CheckPool::Batch::Batch(CheckPool& pool) : pool_(pool) {
    const std::lock_guard lock(pool_.mutex_);
    ++pool_.batches_;
}

CheckPool::Batch::~Batch() {
    {
        const std::lock_guard lock(pool_.mutex_);
        --pool_.batches_;
    }
    pool_.workAvailable_.notify_all();
}

void CheckPool::Cancel(Id id) {
    downloads_.erase(id);
    if (callbacks_.erase(id) > 0) {
        --progress_.Total;
        if (startedSeen_.erase(id) > 0)
            --progress_.Started;
    }
    const std::lock_guard lock(mutex_);
    const auto queued = std::find_if(queue_.begin(), queue_.end(),
                                     [id](const auto& job) { return job->JobId == id; });
    if (queued != queue_.end())
        queue_.erase(queued);
    if (const auto running = running_.find(id); running != running_.end()) {
        running->second->Cancelled = true;
        running->second->Stop.Stop();
    }
    news_.Drop([id](const News& news) { return news.JobId == id; });
}

void CheckPool::CancelAll() {
    std::vector<Id> ids;
    for (const auto& entry : callbacks_)
        ids.push_back(entry.first);
    for (const auto& entry : downloads_)
        ids.push_back(entry.first);
    for (const Id id : ids)
        Cancel(id);
}

void CheckPool::SetWakeUp(std::function<void()> wakeUp) {
    news_.SetWakeUp(std::move(wakeUp));
}

void CheckPool::AddWorkersAsNeeded() {
    // A worker per check that may run at once, made when first needed; workers
    // stay until the pool goes.
    const std::size_t wanted =
        std::min(static_cast<std::size_t>(atOnce_), running_.size() + queue_.size());
    while (workers_.size() < wanted)
        workers_.emplace_back([this] { Work(); });
}

bool CheckPool::HoldsIdle(const std::string& login) const {
    return std::any_of(idle_.begin(), idle_.end(),
                       [&](const IdleLogin& kept) { return kept.Logins.Key() == login; });
}

std::shared_ptr<CheckPool::Job> CheckPool::TakeStartable() {
    // A batch is shared out once it is whole.
    if (batches_ > 0 || static_cast<int>(running_.size()) >= atOnce_)
        return nullptr;
    const auto runningOn = [this](const std::string& server) {
        const auto it = runningPerServer_.find(server);
        return it == runningPerServer_.end() ? 0 : it->second;
    };
    auto chosen = queue_.end();
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        const int load = runningOn((*it)->Server());
        if (load >= perServer_)
            continue;
        // One at a time keeps the list's order strictly.
        if (atOnce_ == 1) {
            chosen = it;
            break;
        }
        // Otherwise a check a kept login can serve goes first (it waits for no
        // login), then the server with the fewest checks running: the servers'
        // answers are awaited side by side.
        if (HoldsIdle((*it)->Login())) {
            chosen = it;
            break;
        }
        if (chosen == queue_.end() || load < runningOn((*chosen)->Server()))
            chosen = it;
    }
    if (chosen == queue_.end())
        return nullptr;
    auto job = *chosen;
    queue_.erase(chosen);
    return job;
}

KeptLogins CheckPool::TakeIdle(const Job& job, std::vector<KeptLogins>& closing) {
    // The most recently used first: it is the likeliest to be alive.
    for (auto it = idle_.rbegin(); it != idle_.rend(); ++it) {
        if (it->Logins.Key() == job.Login()) {
            KeptLogins taken = std::move(it->Logins);
            idle_.erase(std::next(it).base());
            return taken;
        }
    }
    // A fresh login: the server's logins, running and idle, stay within its
    // limit (this job already counts as running).
    int idleOnServer =
        static_cast<int>(std::count_if(idle_.begin(), idle_.end(), [&](const IdleLogin& kept) {
            return kept.Server == job.Server();
        }));
    for (auto it = idle_.begin();
         it != idle_.end() && idleOnServer + runningPerServer_[job.Server()] > perServer_;) {
        if (it->Server != job.Server()) {
            ++it;
            continue;
        }
        closing.push_back(std::move(it->Logins));
        it = idle_.erase(it);
        --idleOnServer;
    }
    return {};
}

std::optional<std::chrono::steady_clock::time_point>
CheckPool::ExpireIdle(std::vector<KeptLogins>& closing) {
    const auto now = std::chrono::steady_clock::now();
    while (!idle_.empty() && (shuttingDown_ || now - idle_.front().Since >= KeptIdleLimit)) {
        closing.push_back(std::move(idle_.front().Logins));
        idle_.pop_front();
    }
    if (idle_.empty())
        return std::nullopt;
    return idle_.front().Since + KeptIdleLimit;
}

void CheckPool::Work() {
    std::unique_lock lock(mutex_);
    while (!shuttingDown_) {
        std::vector<KeptLogins> closing;
        const auto nextExpiry = ExpireIdle(closing);
        const std::shared_ptr<Job> job = TakeStartable();
        KeptLogins kept;
        if (job) {
            running_[job->JobId] = job;
            ++runningPerServer_[job->Server()];
            kept = TakeIdle(*job, closing);
        }
        if (!closing.empty()) {
            // Logging out waits for no answer, but not under the lock.
            lock.unlock();
            closing.clear();
            lock.lock();
        }
        if (!job) {
            if (shuttingDown_)
                break;
            if (nextExpiry)
                workAvailable_.wait_until(lock, *nextExpiry);
            else
                workAvailable_.wait(lock);
            continue;
        }
        news_.Post(News{job->JobId, NewsKind::Started, {}});

        const auto begin = std::chrono::steady_clock::now();
        lock.unlock();
        CheckOutcome outcome;
        Result<SavedFile> downloaded;
        if (job->Check) {
            outcome = job->Check->Run(&job->Stop, kept);
        } else {
            auto lastNews = begin;
            const auto progress = [&](std::uint64_t length) {
                const auto now = std::chrono::steady_clock::now();
                if (now - lastNews < ProgressEvery)
                    return;
                lastNews = now;
                std::unique_lock progressLock(mutex_);
                if (!job->Cancelled && !shuttingDown_) {
                    News news{job->JobId, NewsKind::Progressed, {}};
                    news.Length = length;
                    news_.Post(std::move(news));
                }
            };
            downloaded = job->Download->Run(&job->Stop, kept, progress);
        }
        lock.lock();
        const auto now = std::chrono::steady_clock::now();
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(now - begin);

        running_.erase(job->JobId);
        if (--runningPerServer_[job->Server()] == 0)
            runningPerServer_.erase(job->Server());
        // The login stays for the next check of its server and login; a worker
        // closes it when it has been idle too long.
        KeptLogins leaving;
        if (shuttingDown_)
            leaving = std::move(kept);
        else if (kept.Holds())
            idle_.push_back(IdleLogin{job->Server(), std::move(kept), now});
        // A slot is free: another worker may start the next check.
        workAvailable_.notify_all();
        if (!job->Cancelled && !shuttingDown_) {
            News news{job->JobId, NewsKind::Finished, std::move(outcome), took.count()};
            news.Downloaded = std::move(downloaded);
            news_.Post(std::move(news));
        }
        if (leaving.Holds()) {
            lock.unlock();
            leaving.Drop();
            lock.lock();
        }
    }
}

void CheckPool::Deliver() {
    for (News& item : news_.TakeAll()) {
        if (downloads_.count(item.JobId) > 0) {
            DeliverDownload(item);
            continue;
        }
        // A callback earlier in this batch may have cancelled this check.
        const auto it = callbacks_.find(item.JobId);
        if (it == callbacks_.end())
            continue;
        if (item.Kind != NewsKind::Finished) {
            startedSeen_[item.JobId] = true;
            ++progress_.Started;
            if (const auto started = it->second.Started)
                started();
            continue;
        }
        RecordProzessRun(CheckProzess, item.Milliseconds);
        const auto finished = std::move(it->second.Finished);
        callbacks_.erase(it);
        startedSeen_.erase(item.JobId);
        if (finished)
            finished(std::move(item.Outcome));
    }
}

bool CheckPool::WaitForNews(std::chrono::milliseconds timeout) {
    return news_.WaitFor(timeout);
}

void CheckPool::DeliverDownload(News& item) {
    const auto it = downloads_.find(item.JobId);
    switch (item.Kind) {
    case NewsKind::Started:
        if (const auto started = it->second.Started)
            started();
        return;
    case NewsKind::Progressed:
        if (const auto progress = it->second.Progress)
            progress(item.Length);
        return;
    case NewsKind::Finished:
        break;
    }
    // Timed as checks are: the debug window shows how long downloads take.
    RecordProzessRun(DownloadProzess, item.Milliseconds);
    const auto finished = std::move(it->second.Finished);
    downloads_.erase(it);
    if (finished)
        finished(std::move(item.Downloaded));
}

std::size_t CheckPool::Outstanding() const {
    return callbacks_.size();
}

std::size_t CheckPool::OutstandingDownloads() const {
    return downloads_.size();
}

CheckPool::Progress CheckPool::CurrentProgress() const {
    return callbacks_.empty() ? Progress{} : progress_;
}

} // namespace ornbrook
