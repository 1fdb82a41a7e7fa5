#pragma once

#include "base/ProgramGlobals.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace ornbrook::test {

// A fresh, empty program directory for one test; ProgramDir points into it
// for the test's life and the directory is removed afterwards.
class TempProgramDir {
public:
    TempProgramDir();
    ~TempProgramDir();
    TempProgramDir(const TempProgramDir&) = delete;
    TempProgramDir& operator=(const TempProgramDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + name; }
    // New and changed files are reported at once, without waiting for their
    // upload to settle (settle.dat holds 0).
    void ReportAtOnce() const;

private:
    std::string path_;
    std::string previousProgramDir_;
};

std::string ReadBytes(const std::string& fileName);
void WriteBytes(const std::string& fileName, const std::string& bytes);

} // namespace ornbrook::test
