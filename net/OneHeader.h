#pragma once

#include "diag/Debug_Modul.h"

#include <string>

namespace ornbrook {

// A name and value pair, both empty at first.
class OneHeader final {
    LiveObject live_{"OneHeader"};

public:
    OneHeader() = default;
    OneHeader(const OneHeader&) = delete;
    OneHeader& operator=(const OneHeader&) = delete;

    std::string TheName;
    std::string TheValue;
};

} // namespace ornbrook
