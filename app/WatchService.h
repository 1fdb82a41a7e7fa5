#pragma once

#include <string>
#include <vector>

namespace ornbrook {

// Whether the arguments ask for the service (--watch, switches before or after it).
bool WantsWatch(const std::vector<std::string>& args);

// ornbrook --watch: the window's schedule without a window, on the same files
// (global and per-URL intervals, arriving files looked at again when they
// settle, downloads and programs, saves coalesced as the window's are). It
// holds the program directory as the window does and takes the commands of
// command-line runs over the command channel. One line per event on standard
// output; it sleeps until something is due. Ends with status 0 on SIGTERM or
// SIGINT, saving first; 1 when another window or service holds the directory.
// Tells systemd when it is ready and when it stops, where NOTIFY_SOCKET is set.
int RunWatch(int& argc, char** argv, const std::vector<std::string>& args);

} // namespace ornbrook
