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

// How long a new or changed file's size and time must hold still before it is
// reported, in seconds: one line in settle.dat, written by the Options dialog.
// Missing, or anything but a whole number, reads as the default; 0 reports at
// once.
constexpr std::int32_t DefaultSettleSeconds = 15;
constexpr std::int32_t MaxSettleSeconds = 86400;
std::string SettleFileName();
std::int32_t ReadSettleSeconds();

} // namespace ornbrook
