#pragma once

#include "platform/MessageWindows.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace ornbrook {

class ATimer;

// The timer service behind ATimer: one window-less system timer per running
// ATimer, found again by its number at each tick. User-interface thread only.

// The error number written when a Timer handler throws anything but a
// std::system_error, whose own code is written instead; chosen apart from the
// errno values such a code usually holds.
constexpr std::int32_t TimerHandlerError = 440;
// The error number written when a tick's number has no registered timer.
constexpr std::int32_t TimerNotFoundError = 441;

// Puts BusyTimers in its starting form; start-up calls it once.
void InitTimers();

// Starts a system timer of `delay` ms for the timer and keeps a reference to it
// under the timer's number. Returns the number, or 0 when no system timer could
// be made (then nothing is registered). `resolution` is not used.
std::int32_t RegisterTimer(std::shared_ptr<ATimer> timer, std::int32_t delay,
                           std::int32_t resolution);
// Kills the system timer and drops the reference.
void UnregisterTimer(std::int32_t number);

// Called at each tick. Drops the tick while the same timer's event is still being
// handled; otherwise times and raises the event. A handler that throws has its
// system timer killed and the error written to the process info file as
// "Fehler " + number + ": " + description; the timer still counts as running.
void TimerCallback(HWND hwnd, UINT uMsg, UINT_PTR idEvent, std::uint32_t time);

// The busy guard: "|" followed by the number and "|" of every open event.
bool IsTimerBusy(std::int32_t number);
void MarkTimerBusy(std::int32_t number);
void UnmarkTimerBusy(std::int32_t number);
const std::string& BusyTimers();

// The running timers by number.
const std::map<std::int32_t, std::shared_ptr<ATimer>>& Timers();

} // namespace ornbrook
