#pragma once

#include <string>

namespace ornbrook {

// Whether the desktop is told about new files: one line in notify.dat, "1" or
// "0", written by the Options dialog. On unless the line says 0, so a missing
// or damaged file keeps the default. Reading creates no file: the command line
// leaves the window's files alone.
std::string NotifyFileName();
bool ReadNotifyNewFiles();
void WriteNotifyNewFiles(bool on);

} // namespace ornbrook
