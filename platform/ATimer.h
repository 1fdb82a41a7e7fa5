#pragma once

#include "base/Event.h"
#include "diag/Debug_Modul.h"

#include <cstdint>
#include <memory>

namespace ornbrook {

// A periodic Timer event without a window: set Delay, call StartTimer. While it
// runs, the timer service holds a reference, so a running timer outlives its
// owner's reference; the owner stops it before letting go. Made only through
// Create, as the service keeps it by shared pointer.
class ATimer final : public std::enable_shared_from_this<ATimer> {
public:
    static std::shared_ptr<ATimer> Create();
    ATimer(const ATimer&) = delete;
    ATimer& operator=(const ATimer&) = delete;

    // Interval in milliseconds, read when the timer starts.
    std::int32_t Delay() const { return delay_; }
    void SetDelay(std::int32_t delay) { delay_ = delay; }
    // Kept and handed to the registration; it does not change the timing.
    std::int32_t Resolution() const { return resolution_; }
    void SetResolution(std::int32_t resolution) { resolution_ = resolution; }

    // Raises Timer; called by the timer service at each tick.
    void RaiseEvent_Timer();
    // Registers with the timer service unless running. If the system timer cannot
    // be made, the object stays stopped.
    void StartTimer();
    // Unregisters when running; otherwise nothing.
    void StoppTimer();
    bool GetStatus() const { return timerID_ != 0; }
    bool IsRunning() const { return GetStatus(); }

    Event<> Timer;

private:
    ATimer() = default;

    LiveObject live_{"ATimer"};
    std::int32_t delay_ = 0;
    std::int32_t resolution_ = 0;
    std::int32_t timerID_ = 0; // number of the running system timer, 0 while stopped
};

} // namespace ornbrook
