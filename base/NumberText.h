#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ornbrook {

// The number text of settings and diagnostics files, independent of the process
// locale: "." as decimal point, at most 15 significant digits, no zero before the
// point (0.5 is ".5"), exponent form below 1E-4 and from 1E+15 ("1E-05").
std::string NumberToText(double value);

// The longest leading decimal number of the text, after leading blanks, tabs and
// line breaks: sign, digits, point, digits, exponent. 0 when there is none.
double TextToNumber(const std::string& text);

// Rounds halves to the even neighbour (2.5 to 2, 3.5 to 4).
double RoundHalfEven(double value);

// Whole numbers from text, rounded half-even; nullopt when the value does not
// fit the width (the caller chooses what an overflow means).
std::optional<std::int32_t> ToInt32(double value);
std::optional<std::int16_t> ToInt16(double value);

// Text to a rounded 32-bit number, 0 when it does not fit.
std::int32_t TextToInt32(const std::string& text);

// Decimal text of a whole number, no blanks.
std::string IntToText(std::int64_t value);

} // namespace ornbrook
