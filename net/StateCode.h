#pragma once

#include <cstdint>

namespace ornbrook {

// The four-value socket state code (1 closed, 2 listening, 3 connecting,
// 4 connected) of a WinsockControl state; 0 for a value the control never has.
std::int32_t StateCode(std::int32_t controlState);

} // namespace ornbrook
