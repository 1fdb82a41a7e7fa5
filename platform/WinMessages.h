#pragma once

#include "base/Event.h"
#include "diag/Debug_Modul.h"
#include "platform/MessageWindows.h"

#include <memory>

namespace ornbrook {

// Watches the messages of one window: set hwnd, call Hook, and WinMessage is
// raised for every message the window receives, after its own procedure has
// answered it. While hooked the hook module holds a reference to the object.
// Made only through Create, as the hook module keeps it by shared pointer.
class WinMessages final : public std::enable_shared_from_this<WinMessages> {
public:
    static std::shared_ptr<WinMessages> Create();
    ~WinMessages();
    WinMessages(const WinMessages&) = delete;
    WinMessages& operator=(const WinMessages&) = delete;

    HWND hwnd() const { return hwnd_; }
    // Refused (false, hwnd unchanged) while hooked: the hook belongs to the old window.
    bool SetHwnd(HWND hwnd);

    // Installs the hook unless hooked. Refused when the window does not exist or
    // another object already watches it; IsHooked tells.
    void Hook();
    void Unhook();
    bool IsHooked() const { return hooked_; }

    // Raises WinMessage; called by the shared hook procedure.
    void RaiseEvent_WinMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

    Event<HWND, UINT, WPARAM, LPARAM> WinMessage;

private:
    WinMessages() = default;

    LiveObject live_{"WinMessages"};
    HWND hwnd_ = 0;
    bool hooked_ = false;
};

} // namespace ornbrook
