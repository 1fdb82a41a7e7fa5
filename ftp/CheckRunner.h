#pragma once

#include <functional>

namespace ornbrook {

// Runs the blocking network part of a check and returns when it has ended.
// By default it is a plain call. The main window installs a runner that does the
// work on a worker thread while the user-interface thread keeps painting; the
// check stays synchronous for its caller either way, and the checker's events
// are raised on the calling thread after the runner has returned.
using BlockingWork = std::function<void()>;
using CheckRunner = std::function<void(const BlockingWork&)>;

// An empty runner restores the plain call.
void SetCheckRunner(CheckRunner runner);
void RunBlocking(const BlockingWork& work);

} // namespace ornbrook
