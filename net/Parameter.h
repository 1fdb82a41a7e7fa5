#pragma once

#include "diag/Debug_Modul.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ornbrook {

// A list of texts with positions from 1; position 0 is always an empty text.
class Parameter final {
    LiveObject live_{"Parameter"};

public:
    Parameter() = default;
    Parameter(const Parameter&) = delete;
    Parameter& operator=(const Parameter&) = delete;

    // The number of parameters (the highest position; 0 when empty).
    std::int32_t GetAnzahlParameter() const;
    // Stores the text at the next position.
    void AddParameter(const std::string& theParameter);
    // The text at Index; an empty text for 0 and for positions that do not exist.
    std::string GetParameter(std::int32_t Index) const;

private:
    std::vector<std::string> texts_{std::string()};
};

} // namespace ornbrook
