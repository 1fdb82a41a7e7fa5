#include "platform/Timer_Modul.h"

#include "base/NumberText.h"
#include "base/Text_Code.h"
#include "diag/Debug_Modul.h"
#include "platform/ATimer.h"

#include <algorithm>
#include <exception>
#include <system_error>

namespace ornbrook {

namespace {

std::string busyTimers = "|";
std::map<std::int32_t, std::shared_ptr<ATimer>> timers;

const std::string ProzessName = "Event ATimer_Timer";

void HandleTimerError(std::int32_t number, std::int32_t error, const std::string& description) {
    UnmarkTimerBusy(number);
    WriteProzessInfo("Fehler " + IntToText(error) + ": " + description);
    KillTimer(0, static_cast<UINT_PTR>(number));
}

// Runs one step of the tick; what it throws is the tick's run-time error.
template <typename Step> void Guarded(std::int32_t number, Step&& step) {
    try {
        step();
    } catch (const std::system_error& e) {
        HandleTimerError(number, e.code().value(), e.what());
    } catch (const std::exception& e) {
        HandleTimerError(number, TimerHandlerError, e.what());
    } catch (...) {
        HandleTimerError(number, TimerHandlerError, "unknown error");
    }
}

// Lifts the busy mark on every way out, so that a failing trace file cannot
// keep the timer's ticks dropped for good.
class BusyMark final {
public:
    explicit BusyMark(std::int32_t number) : number_(number) { MarkTimerBusy(number_); }
    ~BusyMark() { UnmarkTimerBusy(number_); }
    BusyMark(const BusyMark&) = delete;
    BusyMark& operator=(const BusyMark&) = delete;

private:
    std::int32_t number_;
};

} // namespace

void InitTimers() {
    busyTimers = "|";
}

std::int32_t RegisterTimer(std::shared_ptr<ATimer> timer, std::int32_t delay, std::int32_t) {
    const UINT_PTR made = SetTimer(TimerCallback, static_cast<UINT>(std::max(delay, 0)));
    if (made == 0)
        return 0;
    const auto number = static_cast<std::int32_t>(made);
    // A number still held by a timer whose handler failed must not be shared.
    if (!timers.emplace(number, std::move(timer)).second) {
        KillTimer(0, made);
        return 0;
    }
    return number;
}

void UnregisterTimer(std::int32_t number) {
    KillTimer(0, static_cast<UINT_PTR>(number));
    timers.erase(number);
}

void TimerCallback(HWND, UINT, UINT_PTR idEvent, std::uint32_t) {
    const auto number = static_cast<std::int32_t>(idEvent);
    if (IsTimerBusy(number))
        return;
    BusyMark busy(number);
    StartProzess(ProzessName);
    Guarded(number, [&] { WriteProzessInfo("TimerID = " + IntToText(number)); });
    Guarded(number, [&] {
        const auto it = timers.find(number);
        if (it == timers.end()) {
            HandleTimerError(number, TimerNotFoundError, "timer not registered");
            return;
        }
        // Kept alive here: the handler may stop the timer and its owner let go.
        const std::shared_ptr<ATimer> timer = it->second;
        timer->RaiseEvent_Timer();
    });
    StopProzess(ProzessName);
}

bool IsTimerBusy(std::int32_t number) {
    return busyTimers.find("|" + IntToText(number) + "|") != std::string::npos;
}

void MarkTimerBusy(std::int32_t number) {
    busyTimers += IntToText(number) + "|";
}

void UnmarkTimerBusy(std::int32_t number) {
    busyTimers = ReplaceAll(busyTimers, "|" + IntToText(number) + "|", "|");
}

const std::string& BusyTimers() {
    return busyTimers;
}

const std::map<std::int32_t, std::shared_ptr<ATimer>>& Timers() {
    return timers;
}

} // namespace ornbrook
