#pragma once

#include <cstdint>
#include <functional>

namespace ornbrook {

// The millisecond clock: 32 bits, wrapping after about 49.7 days, from a steady
// clock. Compare times only by differences of wrapping values.
std::uint32_t timeGetTime();

// Signed difference later - earlier of two clock values, correct across a wrap
// as long as the two lie less than about 24.8 days apart.
std::int32_t ClockDiff(std::uint32_t later, std::uint32_t earlier);

// Tests replace the clock so that expiry and durations run without waiting.
// An empty function restores the steady clock.
void SetClockForTesting(std::function<std::uint32_t()> clock);

// A hand-moved clock for tests: installs itself, restores the real one on exit.
class ManualClock {
public:
    explicit ManualClock(std::uint32_t start = 0);
    ~ManualClock();
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    void Advance(std::uint32_t ms) { now_ += ms; }
    void Set(std::uint32_t ms) { now_ = ms; }
    std::uint32_t Now() const { return now_; }

private:
    std::uint32_t now_;
};

} // namespace ornbrook
