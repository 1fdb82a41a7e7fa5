#pragma once

#include <atomic>
#include <string>

namespace ornbrook {

// Program-wide values, set once by start-up and read everywhere.
// Texts are byte strings (UTF-8 on this platform), never re-encoded.

// Where the program keeps its files, always ending in "/": the executable's own
// directory, or the user's data directory for an installed program (see
// ProgramDirectory). Every file the program reads or writes is ProgramDir
// followed by a bare name.
extern std::string ProgramDir;
// Carriage return and line feed: the line end of every text file we write.
extern std::string LineBreak;
// ProgramDir + "Ornbrook.v0.1.startcounter".
extern std::string StartCounterFile;

// Diagnostics log only while DebugActive; set at the very start of Main.
extern bool DebugActive;
// Shutdown has begun: the debug window may close and takes no more lines.
// Atomic: worker threads read it (through the statistics switch) while the
// user-interface thread sets it.
extern std::atomic<bool> Unloading;

// The directory that holds the running executable, with a trailing "/".
std::string ExecutableDirectory();

// Appends "/" unless the text already ends in one.
std::string WithTrailingSlash(std::string dir);

// The file whose presence makes an executable in exeDir an installed program:
// exeDir/../share/ornbrook/installed. Only an install puts it there, so a build
// folder or a folder the program was copied into never has it.
std::string InstalledMarkerFor(const std::string& exeDir);

// The directory an installed program keeps its files in: $XDG_DATA_HOME/ornbrook/,
// or home/.local/share/ornbrook/ when XDG_DATA_HOME is unset, empty or relative
// (the XDG base directory rules). Null means unset.
std::string UserDataDirectory(const char* xdgDataHome, const char* home);

// Creates dir and any missing parent, each owner-only (0700); a directory that
// exists is left as it is. True when dir is a directory afterwards.
bool MakeOwnerOnlyDirectory(const std::string& dir);

// ProgramDir for this process: the executable's directory, unless it is an
// installed program, whose own directory is not the user's to write; that one
// uses UserDataDirectory, created owner-only when missing. A directory that
// cannot be created is still returned: the first file written there reports why.
std::string ProgramDirectory();

} // namespace ornbrook
