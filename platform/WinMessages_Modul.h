#pragma once

#include "platform/MessageWindows.h"

#include <memory>

namespace ornbrook {

class WinMessages;

// Window hooks behind WinMessages: the watched window's procedure is replaced by
// HookWindowProc, which lets the replaced procedure answer first and then tells
// the watching object. One watcher per window. User-interface thread only.

// Hooks the object's window. False, and nothing changed, when the window does
// not exist or is already hooked.
bool AddHook(std::shared_ptr<WinMessages> object);
// Puts the replaced procedure back and drops the object. Nothing when the
// object's window is not hooked by it.
void RemoveHook(const WinMessages& object);
// The replacement procedure. The watcher cannot change the result; an error it
// raises is ignored.
LRESULT HookWindowProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

} // namespace ornbrook
