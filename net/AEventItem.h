#pragma once

#include "diag/Debug_Modul.h"

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace ornbrook {

// One argument of a queued event: an error number or a text.
using EventValue = std::variant<std::int32_t, std::string>;

// One queued socket event; the queue is a singly linked chain of them. The
// chain operations walk it in a loop, so a queue without a bound cannot
// exhaust the stack, and neither can letting go of a long chain.
class AEventItem final {
    LiveObject live_{"AEventItem"};

public:
    AEventItem() = default;
    ~AEventItem();
    AEventItem(const AEventItem&) = delete;
    AEventItem& operator=(const AEventItem&) = delete;

    std::shared_ptr<AEventItem> NextItem;
    // Numbered as the socket events: 1 Connect ... 7 ConnectionRequest.
    std::int16_t EventNr = 0;
    // The event's arguments in order (the first argument first).
    std::vector<EventValue> Parameters;

    // Unlinks every item after this one; the chain behind it is released from
    // its end backwards.
    void Cancel();
    // The last item of the chain that starts here.
    AEventItem& GetLastItem();
    // The number of items from this one to the end.
    std::int32_t GetCount() const;
};

} // namespace ornbrook
