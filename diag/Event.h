#pragma once

#include <cstddef>
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

    using Connection = std::size_t;

    // Returns what Disconnect needs to drop this handler alone.
    Connection Connect(Handler handler) {
        handlers_.emplace_back(++lastConnection_, std::move(handler));
        return lastConnection_;
    }
    void Disconnect(Connection connection) {
        std::erase_if(handlers_, [connection](const auto& h) { return h.first == connection; });
    }
    void DisconnectAll() { handlers_.clear(); }
    bool IsConnected() const { return !handlers_.empty(); }

    void Raise(Args... args) const {
        const auto handlers = handlers_;
        for (const auto& handler : handlers)
            handler.second(args...);
    }

private:
    std::vector<std::pair<Connection, Handler>> handlers_;
    Connection lastConnection_ = 0;
};

} // namespace ornbrook
