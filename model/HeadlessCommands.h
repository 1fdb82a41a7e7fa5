#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace ornbrook {

// The command-line mode for scripts and machines without a desktop: the same
// watch list and data file, no window, plain output. args are the arguments
// after the program name. Returns the exit status: 0 done (every check ok),
// 1 a check failed or the URL is not in the list, 2 a usage error (nothing
// changed), 3 a file could not be read or written.
int RunHeadless(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The usage text that --help prints.
std::string HeadlessUsage();

} // namespace ornbrook
