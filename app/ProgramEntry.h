#pragma once

namespace ornbrook {

// The whole program: runs start-up, the event loop and the exit. Returns the
// process exit status.
int RunProgram(int argc, char** argv);

} // namespace ornbrook
