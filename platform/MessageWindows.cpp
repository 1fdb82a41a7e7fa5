#include "platform/MessageWindows.h"

#include "base/Clock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QThread>
#include <QTimerEvent>

#include <algorithm>
#include <limits>
#include <map>
#include <memory>
#include <mutex>

namespace ornbrook {

namespace {

struct Window {
    std::uint64_t serial = 0; // tells a window from a later one with the same handle
    std::string className;
    std::string windowName;
    WndProc proc;
    std::map<UINT_PTR, int> timers; // idEvent -> Qt timer id
};

// What a Qt timer id stands for: a window timer (hwnd != 0) or a window-less one.
struct TimerTarget {
    HWND hwnd = 0;
    UINT_PTR idEvent = 0;
    TimerProc proc; // window-less timers only
};

const QEvent::Type PostedMessageType = static_cast<QEvent::Type>(QEvent::registerEventType());

class PostedMessage final : public QEvent {
public:
    PostedMessage(HWND hwnd, std::uint64_t serial, UINT uMsg, WPARAM wParam, LPARAM lParam)
        : QEvent(PostedMessageType), hwnd_(hwnd), serial_(serial), uMsg_(uMsg), wParam_(wParam),
          lParam_(lParam) {}

    HWND hwnd_;
    std::uint64_t serial_;
    UINT uMsg_;
    WPARAM wParam_;
    LPARAM lParam_;
};

class Dispatcher;

// Windows and timers of the process. Only the user-interface thread changes them;
// the mutex lets PostMessage and IsWindow read from other threads. No procedure
// is ever called with the mutex held.
struct Registry {
    std::mutex mutex;
    std::map<HWND, std::shared_ptr<Window>> windows;
    std::map<int, TimerTarget> qtTimers;
    std::map<UINT_PTR, int> systemTimers; // number -> Qt timer id
    HWND lastHandle = 0;
    std::uint64_t lastSerial = 0;
    UINT_PTR lastTimerNumber = 0;
    QPointer<Dispatcher> dispatcher;
};

Registry& Reg() {
    static Registry registry;
    return registry;
}

bool OnUiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// Receives the posted messages and the Qt timers of all windows. Owned by the
// application, so it goes when the event loop goes.
class Dispatcher final : public QObject {
public:
    using QObject::QObject;

    ~Dispatcher() override {
        std::lock_guard lock(Reg().mutex);
        Reg().windows.clear();
        Reg().qtTimers.clear();
        Reg().systemTimers.clear();
    }

protected:
    bool event(QEvent* e) override {
        if (e->type() != PostedMessageType)
            return QObject::event(e);
        const auto* m = static_cast<PostedMessage*>(e);
        WndProc proc;
        {
            std::lock_guard lock(Reg().mutex);
            const auto it = Reg().windows.find(m->hwnd_);
            if (it == Reg().windows.end() || it->second->serial != m->serial_)
                return true; // the window was destroyed after the post
            proc = it->second->proc;
        }
        CallWindowProcA(proc, m->hwnd_, m->uMsg_, m->wParam_, m->lParam_);
        return true;
    }

    void timerEvent(QTimerEvent* e) override {
        HWND hwnd = 0;
        UINT_PTR idEvent = 0;
        TimerProc timerProc;
        WndProc windowProc;
        {
            std::lock_guard lock(Reg().mutex);
            const auto it = Reg().qtTimers.find(e->timerId());
            if (it == Reg().qtTimers.end())
                return;
            hwnd = it->second.hwnd;
            idEvent = it->second.idEvent;
            if (hwnd == 0) {
                timerProc = it->second.proc;
            } else {
                const auto w = Reg().windows.find(hwnd);
                if (w == Reg().windows.end())
                    return;
                windowProc = w->second->proc;
            }
        }
        if (hwnd == 0)
            timerProc(0, WM_TIMER, idEvent, timeGetTime());
        else
            CallWindowProcA(windowProc, hwnd, WM_TIMER, idEvent, 0);
    }
};

Dispatcher* GetDispatcher() {
    Registry& r = Reg();
    if (!r.dispatcher && OnUiThread())
        r.dispatcher = new Dispatcher(QCoreApplication::instance());
    return r.dispatcher;
}

int QtInterval(UINT elapse) {
    return static_cast<int>(std::clamp(elapse, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM));
}

} // namespace

HWND CreateWindowExA(const std::string& className, const std::string& windowName) {
    if (!OnUiThread() || !GetDispatcher())
        return 0;
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    auto window = std::make_shared<Window>();
    window->serial = ++r.lastSerial;
    window->className = className;
    window->windowName = windowName;
    window->proc = DefWindowProcA;
    HWND hwnd = r.lastHandle;
    do {
        hwnd = hwnd == std::numeric_limits<HWND>::max() ? 1 : hwnd + 1;
    } while (r.windows.count(hwnd) != 0);
    r.lastHandle = hwnd;
    r.windows.emplace(hwnd, std::move(window));
    return hwnd;
}

bool DestroyWindow(HWND hwnd) {
    if (!OnUiThread())
        return false;
    Registry& r = Reg();
    std::shared_ptr<Window> window;
    {
        std::lock_guard lock(r.mutex);
        const auto it = r.windows.find(hwnd);
        if (it == r.windows.end())
            return false;
        window = std::move(it->second);
        r.windows.erase(it);
        for (const auto& [idEvent, qtTimer] : window->timers) {
            r.qtTimers.erase(qtTimer);
            if (r.dispatcher)
                r.dispatcher->killTimer(qtTimer);
        }
    }
    // The procedure may still be running further up the stack: `window` is
    // released here, but the caller of the procedure holds its own copy.
    return true;
}

bool IsWindow(HWND hwnd) {
    std::lock_guard lock(Reg().mutex);
    return Reg().windows.count(hwnd) != 0;
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

WndProc SetWindowLongA(HWND hwnd, int index, WndProc newProc) {
    if (index != GWL_WNDPROC || !OnUiThread())
        return {};
    std::lock_guard lock(Reg().mutex);
    const auto it = Reg().windows.find(hwnd);
    if (it == Reg().windows.end())
        return {};
    std::swap(it->second->proc, newProc);
    return newProc;
}

LRESULT CallWindowProcA(const WndProc& proc, HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    return proc ? proc(hwnd, uMsg, wParam, lParam) : 0;
}

LRESULT SendMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (!OnUiThread())
        return 0;
    WndProc proc;
    {
        std::lock_guard lock(Reg().mutex);
        const auto it = Reg().windows.find(hwnd);
        if (it == Reg().windows.end())
            return 0;
        proc = it->second->proc;
    }
    return CallWindowProcA(proc, hwnd, uMsg, wParam, lParam);
}

bool PostMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    const auto it = r.windows.find(hwnd);
    if (it == r.windows.end() || !r.dispatcher)
        return false;
    // Held under the lock: the dispatcher cannot go away while the event is queued
    // to it, and Qt keeps events to one receiver in the order they were posted.
    QCoreApplication::postEvent(r.dispatcher,
                                new PostedMessage(hwnd, it->second->serial, uMsg, wParam, lParam));
    return true;
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR idEvent, UINT elapse) {
    if (idEvent == 0 || !OnUiThread())
        return 0;
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    const auto it = r.windows.find(hwnd);
    if (it == r.windows.end() || !r.dispatcher)
        return 0;
    Window& window = *it->second;
    const auto old = window.timers.find(idEvent);
    if (old != window.timers.end()) {
        r.dispatcher->killTimer(old->second);
        r.qtTimers.erase(old->second);
        window.timers.erase(old);
    }
    const int qtTimer = r.dispatcher->startTimer(QtInterval(elapse));
    if (qtTimer == 0)
        return 0;
    window.timers.emplace(idEvent, qtTimer);
    r.qtTimers.emplace(qtTimer, TimerTarget{hwnd, idEvent, {}});
    return idEvent;
}

UINT_PTR SetTimer(TimerProc proc, UINT elapse) {
    if (!proc || !OnUiThread())
        return 0;
    Dispatcher* dispatcher = GetDispatcher();
    if (!dispatcher)
        return 0;
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    constexpr UINT_PTR maxNumber = std::numeric_limits<std::int32_t>::max();
    UINT_PTR number = r.lastTimerNumber;
    do {
        number = number >= maxNumber ? 1 : number + 1;
    } while (r.systemTimers.count(number) != 0);
    const int qtTimer = dispatcher->startTimer(QtInterval(elapse));
    if (qtTimer == 0)
        return 0;
    r.lastTimerNumber = number;
    r.systemTimers.emplace(number, qtTimer);
    r.qtTimers.emplace(qtTimer, TimerTarget{0, number, std::move(proc)});
    return number;
}

bool KillTimer(HWND hwnd, UINT_PTR idEvent) {
    if (!OnUiThread())
        return false;
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    int qtTimer = 0;
    if (hwnd == 0) {
        const auto it = r.systemTimers.find(idEvent);
        if (it == r.systemTimers.end())
            return false;
        qtTimer = it->second;
        r.systemTimers.erase(it);
    } else {
        const auto w = r.windows.find(hwnd);
        if (w == r.windows.end())
            return false;
        const auto it = w->second->timers.find(idEvent);
        if (it == w->second->timers.end())
            return false;
        qtTimer = it->second;
        w->second->timers.erase(it);
    }
    r.qtTimers.erase(qtTimer);
    if (r.dispatcher)
        r.dispatcher->killTimer(qtTimer);
    return true;
}

} // namespace ornbrook
