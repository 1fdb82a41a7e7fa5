#pragma once

#include "model/MainInterface.h"
#include "model/UrlFileList.h"

#include <cstdint>
#include <utility>

namespace ornbrook {

// What tests do to a watch list by the routes it keeps to itself.
struct MainInterfaceTestAccess {
    // Ends a check of the URL at index with this listing, as a check's outcome
    // arrives from the pool: merged, saved, acted on, told.
    static void Ended(MainInterface& watchList, std::int32_t index, Listing listing) {
        CheckOutcome outcome;
        outcome.Listed = std::move(listing);
        watchList.CheckFinished(*watchList.GetURL(index), std::move(outcome));
    }
    // Tells that anything may have changed (as after changes made behind the
    // watch list's back).
    static void Changed(MainInterface& watchList) { watchList.RaiseEvent_Change({}); }
};

} // namespace ornbrook
