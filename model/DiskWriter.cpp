#include "model/DiskWriter.h"

namespace ornbrook {

DiskWriter::DiskWriter() : thread_([this] { Work(); }) {}

DiskWriter::~DiskWriter() {
    {
        const std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    thread_.join();
    // Nobody is left to be told on the owner's thread but the log.
    for (News& news : news_.TakeAll()) {
        if (!news.Notice.empty()) {
            WriteLog(news.Notice);
            continue;
        }
        try {
            std::rethrow_exception(news.Failure);
        } catch (const std::exception& error) {
            WriteLog(error.what());
        } catch (...) {
            WriteLog("a save failed");
        }
    }
}

void DiskWriter::Post(Task task) {
    {
        const std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    changed_.notify_all();
}

std::size_t DiskWriter::Pending() const {
    const std::lock_guard lock(mutex_);
    return tasks_.size() + running_;
}

void DiskWriter::Finish() {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return tasks_.empty() && running_ == 0; });
    }
    Deliver();
}

void DiskWriter::Deliver() {
    std::exception_ptr first;
    for (News& news : news_.TakeAll()) {
        if (!news.Notice.empty() && noticeTaker_)
            noticeTaker_(news.Notice);
        if (news.Failure && !first)
            first = news.Failure;
    }
    if (first)
        std::rethrow_exception(first);
}

void DiskWriter::Tell(std::string notice) {
    news_.Post(News{nullptr, std::move(notice)});
}

void DiskWriter::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return closing_ || !tasks_.empty(); });
        if (tasks_.empty())
            return; // closing, with nothing left to write
        Task task = std::move(tasks_.front());
        tasks_.pop_front();
        ++running_;
        lock.unlock();
        try {
            task();
        } catch (...) {
            news_.Post(News{std::current_exception(), {}});
        }
        task = nullptr;
        lock.lock();
        --running_;
        changed_.notify_all();
    }
}

} // namespace ornbrook
