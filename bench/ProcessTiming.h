#pragma once

#include <string>
#include <vector>

namespace ornbrook::bench {

// One run of a program to its end.
struct ProcessRun {
    // Wall time in ms; -1 when it could not run or its exit status was above
    // the one allowed.
    double Milliseconds = -1;
    int Status = -1;
    std::string Output;
    std::string Errors;
    // The most memory the process held at once (its peak resident set), in KB.
    long PeakKilobytes = 0;
};

// Runs the program with standard output and error into files beside scratch
// (read back into the result). A status up to allowedStatus counts as run.
ProcessRun RunProcess(std::vector<std::string> args, const std::string& scratch,
                      int allowedStatus = 0);

// Runs the program with its standard output into a file; the wall time in ms,
// or -1 when it could not run or did not exit with 0.
double TimeProcess(std::vector<std::string> args, const std::string& output);
std::string Slurp(const std::string& file);
double Median(std::vector<double> values);

} // namespace ornbrook::bench
