#pragma once

#include <string>

namespace ornbrook {

// Program-wide values, set once by start-up and read everywhere.
// Texts are byte strings (UTF-8 on this platform), never re-encoded.

// Directory of the executable, always ending in "/". Every file the program
// reads or writes is ProgramDir followed by a bare name.
extern std::string ProgramDir;
// Carriage return and line feed: the line end of every text file we write.
extern std::string LineBreak;
// ProgramDir + "Ornbrook.v0.1.startcounter".
extern std::string StartCounterFile;

// Diagnostics log only while DebugActive; set at the very start of Main.
extern bool DebugActive;
// Shutdown has begun: the debug window may close and takes no more lines.
extern bool Unloading;

// The directory that holds the running executable, with a trailing "/".
std::string ExecutableDirectory();

// Appends "/" unless the text already ends in one.
std::string WithTrailingSlash(std::string dir);

} // namespace ornbrook
