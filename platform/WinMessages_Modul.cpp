#include "platform/WinMessages_Modul.h"

#include "platform/WinMessages.h"

#include <map>

namespace ornbrook {

namespace {

std::map<HWND, std::shared_ptr<WinMessages>> hookedObjects;
std::map<HWND, WndProc> oldWindowProcs;

} // namespace

bool AddHook(std::shared_ptr<WinMessages> object) {
    const HWND hwnd = object->hwnd();
    if (hookedObjects.count(hwnd) != 0 || !IsWindow(hwnd))
        return false;
    WndProc old = SetWindowLongA(hwnd, GWL_WNDPROC, HookWindowProc);
    hookedObjects.emplace(hwnd, std::move(object));
    oldWindowProcs.emplace(hwnd, std::move(old));
    return true;
}

void RemoveHook(const WinMessages& object) {
    const HWND hwnd = object.hwnd();
    const auto hooked = hookedObjects.find(hwnd);
    if (hooked == hookedObjects.end() || hooked->second.get() != &object)
        return;
    const auto old = oldWindowProcs.find(hwnd);
    // Fails harmlessly when the window has been destroyed meanwhile.
    SetWindowLongA(hwnd, GWL_WNDPROC, std::move(old->second));
    oldWindowProcs.erase(old);
    // Last: this may release the object itself.
    const std::shared_ptr<WinMessages> keep = std::move(hooked->second);
    hookedObjects.erase(hooked);
}

LRESULT HookWindowProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    WndProc old;
    if (const auto it = oldWindowProcs.find(hwnd); it != oldWindowProcs.end())
        old = it->second;
    const LRESULT result = CallWindowProcA(old, hwnd, uMsg, wParam, lParam);
    try {
        const auto it = hookedObjects.find(hwnd);
        if (it != hookedObjects.end()) {
            const std::shared_ptr<WinMessages> watcher = it->second;
            watcher->RaiseEvent_WinMessage(hwnd, uMsg, wParam, lParam);
        }
    } catch (...) {
        // The window keeps working whatever its watcher does.
    }
    return result;
}

} // namespace ornbrook
