#include "platform/WinMessages.h"

#include "platform/WinMessages_Modul.h"

namespace ornbrook {

std::shared_ptr<WinMessages> WinMessages::Create() {
    return std::shared_ptr<WinMessages>(new WinMessages);
}

// No Unhook here: while hooked the module holds a reference, so a hooked object
// is only destroyed when the module's own registry goes at exit.
WinMessages::~WinMessages() = default;

bool WinMessages::SetHwnd(HWND hwnd) {
    if (hooked_)
        return false;
    hwnd_ = hwnd;
    return true;
}

void WinMessages::Hook() {
    if (hooked_)
        return;
    hooked_ = AddHook(shared_from_this());
}

void WinMessages::Unhook() {
    if (!hooked_)
        return;
    hooked_ = false;
    RemoveHook(*this);
}

void WinMessages::RaiseEvent_WinMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    WinMessage.Raise(hwnd, uMsg, wParam, lParam);
}

} // namespace ornbrook
