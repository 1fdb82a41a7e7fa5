#pragma once

#include "base/ProgramGlobals.h"
#include "diag/Debug_Modul.h"
#include "model/MainInterface.h"

#include <cstdint>

namespace ornbrook::test {

// Counts the replacements of maindata.dat as the file layer reports them to the
// timing statistics, which it switches on for its own life.
class SaveCount final {
public:
    SaveCount() {
        DebugActive = true;
        Unloading = false;
        InitDebug();
        ShowDebugForm();
    }
    ~SaveCount() {
        InitDebug();
        DebugActive = false;
    }
    SaveCount(const SaveCount&) = delete;
    SaveCount& operator=(const SaveCount&) = delete;

    // Replacements of the data file since the counter was made, once the
    // watch list's saves asked for so far are written.
    std::int64_t Saves(MainInterface& watchList) const {
        watchList.FinishSaves();
        return Saves();
    }
    std::int64_t Saves() const {
        const std::string name = MainInterface::ReplacementProzess(MainInterface::DataFileName());
        for (const ProzessInfo& p : Prozesse()) {
            if (p.Name == name)
                return p.Anzahl;
        }
        return 0;
    }
};

} // namespace ornbrook::test
