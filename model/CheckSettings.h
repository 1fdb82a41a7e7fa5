#pragma once

#include <cstdint>
#include <string>

namespace ornbrook {

// How many URLs are checked at the same time: one line in checksatonce.dat,
// written by the Options dialog. Missing, not a number or outside 1 to 16 reads
// as the nearest sensible value (4 when there is no number at all).
std::string ChecksAtOnceFileName();
std::int32_t ReadChecksAtOnce();

} // namespace ornbrook
