#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

namespace ornbrook {

// The one way news travels from worker threads to the thread that owns it (the
// check pool's results, the programs' ends, the disk writer's failures): a
// worker posts and the owner is woken; the owner takes the news in the order it
// was posted, on its own thread, and acts on it there. Nothing else of the
// owner is touched by a worker.
//
// Thread contract: Post, from any thread; SetWakeUp, TakeAll, Drop, Clear and
// the waits, from any thread too (they lock), but only the owner acts on news.
// The wake-up runs on the posting thread and must only post to the owner's
// thread (an event loop's queue); once SetWakeUp has returned, the previous
// function is not running and will not be called again.
template <typename News> class HandOff final {
public:
    HandOff() = default;
    HandOff(const HandOff&) = delete;
    HandOff& operator=(const HandOff&) = delete;

    void SetWakeUp(std::function<void()> wakeUp) {
        const std::lock_guard lock(wakeMutex_);
        wakeUp_ = std::move(wakeUp);
    }

    void Post(News news) {
        {
            const std::lock_guard lock(mutex_);
            news_.push_back(std::move(news));
        }
        available_.notify_all();
        const std::lock_guard lock(wakeMutex_);
        if (wakeUp_)
            wakeUp_();
    }

    // Everything posted so far, oldest first.
    std::deque<News> TakeAll() {
        std::deque<News> taken;
        const std::lock_guard lock(mutex_);
        taken.swap(news_);
        return taken;
    }

    // Forgets the news that drop(news) says is no longer wanted.
    template <typename Predicate> void Drop(Predicate drop) {
        const std::lock_guard lock(mutex_);
        std::erase_if(news_, drop);
    }
    void Clear() {
        const std::lock_guard lock(mutex_);
        news_.clear();
    }

    // For owners without an event loop: whether news is there by the time given.
    bool WaitUntil(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        return available_.wait_until(lock, deadline, [this] { return !news_.empty(); });
    }
    bool WaitFor(std::chrono::milliseconds timeout) {
        return WaitUntil(std::chrono::steady_clock::now() + timeout);
    }

private:
    std::mutex mutex_;
    std::condition_variable available_;
    std::deque<News> news_;
    std::mutex wakeMutex_;
    std::function<void()> wakeUp_;
};

} // namespace ornbrook
