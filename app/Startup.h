#pragma once

#include <string>
#include <vector>

namespace ornbrook {

// Start-up, command line and shutdown of the windowed program.

// Brings the program up in its fixed order and shows the main window; the
// program then lives in the event loop until the main window closes.
void Main();
// LineBreak, ProgramDir and StartCounterFile, in that order.
void InitConstants();
// Applies the switches of the arguments given to the program.
void ParseCommandLine();
// The switches of the given arguments (the shell has split them into tokens).
void ParseCommandLine(const std::vector<std::string>& args);
// The one orderly end: called by the main window's unload handler.
void ShutDown();
// Shows the main window in front of the others, once Main has made it.
void BringMainWindowToFront();

// The arguments after the program name, as the entry received them.
void SetProgramArguments(std::vector<std::string> args);
const std::vector<std::string>& ProgramArguments();

// Counts this start in the start counter file (start-up step 10).
void CountStart();

} // namespace ornbrook
