#include "base/Clock.h"

#include <atomic>
#include <chrono>
#include <mutex>

namespace ornbrook {

namespace {
std::mutex clockMutex;
std::function<std::uint32_t()>& ClockOverride() {
    static std::function<std::uint32_t()> clock;
    return clock;
}
std::atomic<bool> overridden{false};
} // namespace

std::uint32_t timeGetTime() {
    if (overridden.load(std::memory_order_acquire)) {
        std::lock_guard lock(clockMutex);
        if (ClockOverride())
            return ClockOverride()();
    }
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    return static_cast<std::uint32_t>(ms);
}

std::int32_t ClockDiff(std::uint32_t later, std::uint32_t earlier) {
    return static_cast<std::int32_t>(later - earlier);
}

void SetClockForTesting(std::function<std::uint32_t()> clock) {
    std::lock_guard lock(clockMutex);
    overridden.store(static_cast<bool>(clock), std::memory_order_release);
    ClockOverride() = std::move(clock);
}

ManualClock::ManualClock(std::uint32_t start) : now_(start) {
    SetClockForTesting([this] { return now_; });
}

ManualClock::~ManualClock() {
    SetClockForTesting({});
}

} // namespace ornbrook
