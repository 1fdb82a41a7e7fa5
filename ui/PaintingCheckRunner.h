#pragma once

#include "ftp/CheckRunner.h"

namespace ornbrook {

// The window's way of waiting for the blocking part of a check: the work runs on
// a worker thread while this thread waits in a local event loop that paints and
// runs timers but holds user input back until the work has ended. The call
// returns when the work has ended, so a check stays synchronous for its caller;
// an exception of the work is raised again here.
void RunKeepingWindowPainted(const BlockingWork& work);

} // namespace ornbrook
