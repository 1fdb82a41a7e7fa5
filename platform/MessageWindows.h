#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace ornbrook {

// Hidden message windows and system timers on the Qt event loop: the small part
// of the Windows user interface API that timers, window hooks and the socket
// library are written against.
//
// Threads: everything runs on the thread of the QCoreApplication (the
// user-interface thread) and needs that application to exist. PostMessage and
// IsWindow may be called from any thread; the other calls, made elsewhere, do
// nothing and report failure (0, false or an empty procedure). Messages and
// ticks are delivered by that thread's event loop, one after another.
//
// Exceptions thrown by a window or timer procedure are not caught here: from
// SendMessage they reach its caller, from the event loop the application's
// notify().

using HWND = std::int32_t;     // window handle; 0 is no window
using UINT = std::uint32_t;    // message number
using WPARAM = std::uintptr_t; // first message parameter
using LPARAM = std::intptr_t;  // second message parameter
using LRESULT = std::intptr_t; // message result
using UINT_PTR = std::uintptr_t;

// A window procedure. An empty procedure answers every message with 0.
using WndProc = std::function<LRESULT(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)>;
// The procedure of a window-less timer: no window, WM_TIMER, the timer's number
// and the clock (timeGetTime) at the tick.
using TimerProc = std::function<void(HWND hwnd, UINT uMsg, UINT_PTR idEvent, std::uint32_t time)>;

constexpr int GWL_WNDPROC = -4;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;

// Shortest and longest timer interval; shorter or longer requests are clamped,
// so an interval of 0 cannot spin the event loop.
constexpr UINT USER_TIMER_MINIMUM = 10;
constexpr UINT USER_TIMER_MAXIMUM = 0x7FFFFFFF;

// A new hidden window that is never shown, with DefWindowProcA as its procedure.
// Class name and title are kept for diagnostics only. Handles count up from 1 and
// are not reused while the window lives. 0 when there is no application or the
// caller is not on its thread.
HWND CreateWindowExA(const std::string& className, const std::string& windowName);

// Destroys the window with its window timers; messages posted to it and not yet
// delivered are dropped. Safe inside the window's own procedure. False for a
// window that does not exist.
bool DestroyWindow(HWND hwnd);

bool IsWindow(HWND hwnd);

// The default procedure of every new window: handles nothing, answers 0.
LRESULT DefWindowProcA(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// Replaces the window's procedure and returns the previous one. Only GWL_WNDPROC
// is supported; another index, or a window that does not exist, changes nothing
// and returns an empty procedure.
WndProc SetWindowLongA(HWND hwnd, int index, WndProc newProc);

// Calls proc with the four values; an empty proc answers 0.
LRESULT CallWindowProcA(const WndProc& proc, HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// Calls the window's procedure at once and returns its result; 0 for a window
// that does not exist. A procedure may send, post and destroy windows, its own too.
LRESULT SendMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// Queues the message for the window and returns at once; the event loop delivers
// it later, messages to one window in the order posted. False for a window that
// does not exist. Any thread.
bool PostMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// Window timer: every `elapse` milliseconds the window's procedure receives
// WM_TIMER with idEvent in wParam and 0 in lParam. Setting an existing
// (window, idEvent) again restarts it with the new interval. Returns idEvent;
// 0 on failure (no such window, idEvent 0, not on the user-interface thread).
UINT_PTR SetTimer(HWND hwnd, UINT_PTR idEvent, UINT elapse);

// Window-less timer: every `elapse` milliseconds proc is called. Returns the
// timer's number, chosen here, never 0 and below 2^31, not reused until the
// numbers wrap; 0 on failure (empty proc, no application, wrong thread).
UINT_PTR SetTimer(TimerProc proc, UINT elapse);

// Stops a window timer, or with hwnd 0 the window-less timer of that number.
// Safe inside the timer's own tick. False when there was no such timer.
// Ticks missed while the event loop was busy are not made up, and no tick of a
// killed timer arrives afterwards.
bool KillTimer(HWND hwnd, UINT_PTR idEvent);

} // namespace ornbrook
