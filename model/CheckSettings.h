#pragma once

#include <cstdint>
#include <string>

namespace ornbrook {

// How many URLs are checked at the same time: one line in checksatonce.dat,
// written by the Options dialog. Missing, not a number or outside 1 to 16 reads
// as the nearest sensible value (4 when there is no number at all).
std::string ChecksAtOnceFileName();
std::int32_t ReadChecksAtOnce();

// The periodic check's interval in seconds, from the first line of
// interval.dat: its leading number, rounded half-even. 0 means off, and so does
// a line without a number, a negative number or one beyond 32 bits: a periodic
// check never runs back to back.
std::int32_t CheckIntervalOf(const std::string& line);

} // namespace ornbrook
