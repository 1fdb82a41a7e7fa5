#pragma once

#include <memory>

namespace ornbrook {

class MainInterface;

// The one watch list of the program, from start-up to shutdown.
extern std::shared_ptr<MainInterface> TheMainInterface;

// Creates the watch list, which loads maindata.dat.
void CreateMainInterface();
// Merges the check results that have arrived, writes what is unsaved, cancels
// the checks still under way and lets go of the watch list.
void DestroyMainInterface();

} // namespace ornbrook
