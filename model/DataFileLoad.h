#pragma once

#include "model/DataFileFormat.h"

#include <functional>
#include <string>

namespace ornbrook {

// Loading maindata.dat, for the watch list and for the command line's --list,
// which reads it without keeping it: the file is streamed frame by frame and
// checked as it goes (DataFileFormat), and whatever loads it first sees to it:
// - the temporary files of saves that a killed process left beside it go;
// - a missing file is created empty, owner-only;
// - a mode wider than owner-only is narrowed to 0600 (the file holds passwords);
// - a file that does not check out entirely is kept aside, byte for byte, as
//   "maindata.dat.damaged-YYYYMMDD-HHMMSS" (KeepDamagedCopy) before anything
//   can be written over it; one copy per damaged file, so a second load of the
//   same damage finds its copy and makes none.
struct DataFileLoad {
    FramesRead Frames;
    // The copy this load made of a damaged file; empty when the file checked
    // out or an identical copy was there already (the user was told then).
    std::string KeptAs;
};

// Loads fileName, handing every usable record to take. Throws FileError when
// the file cannot be read, or a damaged file cannot be kept aside.
DataFileLoad LoadDataFile(const std::string& fileName, const std::function<void(UrlRecord&)>& take);

// The one message that tells the user of a damaged file whose copy this load
// made; empty when there is nothing to tell.
std::string DamageNotice(const DataFileLoad& load);

} // namespace ornbrook
