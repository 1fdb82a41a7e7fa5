#pragma once

#include <memory>

namespace ornbrook {

class MainInterface;

// The one watch list of the program, from start-up to shutdown.
extern std::shared_ptr<MainInterface> TheMainInterface;

// Creates the watch list, which loads maindata.dat.
void CreateMainInterface();
// Cancels the watch list without saving and lets go of it.
void DestroyMainInterface();

} // namespace ornbrook
