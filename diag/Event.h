#pragma once

#include <functional>
#include <utility>
#include <vector>

namespace ornbrook {

// An event of an object: listeners connect handlers, the owner raises it.
// Handlers run in the order they were connected, synchronously, on the raising
// thread. A handler may connect or drop handlers, or release the raising object's
// owner reference: raising works on a copy of the handler list.
template <typename... Args> class Event {
public:
    using Handler = std::function<void(Args...)>;

    void Connect(Handler handler) { handlers_.push_back(std::move(handler)); }
    void DisconnectAll() { handlers_.clear(); }
    bool IsConnected() const { return !handlers_.empty(); }

    void Raise(Args... args) const {
        const auto handlers = handlers_;
        for (const auto& handler : handlers)
            handler(args...);
    }

private:
    std::vector<Handler> handlers_;
};

} // namespace ornbrook
