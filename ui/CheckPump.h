#pragma once

#include <memory>

namespace ornbrook {

class MainInterface;

// Brings the watch list's check results to the thread of the Qt event loop: a
// worker that has news only posts one delivery, which merges whatever has
// arrived by the time it runs. Start-up installs it once; it ends when the
// watch list is destroyed (DestroyMainInterface).
void InstallCheckPump(const std::shared_ptr<MainInterface>& watchList);

} // namespace ornbrook
