#pragma once

#include <string>
#include <vector>

namespace ornbrook::bench {

// Runs the program with its standard output into a file; the wall time in ms,
// or -1 when it could not run or did not exit with 0.
double TimeProcess(std::vector<std::string> args, const std::string& output);
std::string Slurp(const std::string& file);
double Median(std::vector<double> values);

} // namespace ornbrook::bench
