#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace ornbrook {

// A listener's hold on one handler of an Event: the handler runs until the
// subscription goes (or is cancelled), so a listener that keeps its
// subscriptions as members can never be called after it has gone. The event
// may go first; the subscription then holds nothing.
class Subscription final {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    ~Subscription() { Cancel(); }
    Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, {})) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            Cancel();
            cancel_ = std::exchange(other.cancel_, {});
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

    void Cancel() {
        if (auto cancel = std::exchange(cancel_, {}))
            cancel();
    }
    bool IsActive() const { return static_cast<bool>(cancel_); }

private:
    std::function<void()> cancel_;
};

// The subscriptions of one listener, ended together when it goes.
class Subscriptions final {
public:
    Subscriptions& operator+=(Subscription subscription) {
        held_.push_back(std::move(subscription));
        return *this;
    }
    void CancelAll() { held_.clear(); }

private:
    std::vector<Subscription> held_;
};

// An event of an object: listeners connect handlers, the owner raises it.
// Handlers run in the order they were connected, synchronously, on the raising
// thread. A handler may connect or cancel handlers, or release the raising
// object's owner reference; a handler cancelled while the event is being raised
// is not called any more.
template <typename... Args> class Event {
public:
    using Handler = std::function<void(Args...)>;

    Event() = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    // An event moved from, or assigned over, keeps no handler: subscriptions to
    // what it had end.
    Event(Event&& other) noexcept
        : slots_(std::exchange(other.slots_, std::make_shared<Slots>())) {}
    Event& operator=(Event&& other) noexcept {
        if (this != &other)
            slots_ = std::exchange(other.slots_, std::make_shared<Slots>());
        return *this;
    }

    [[nodiscard]] Subscription Connect(Handler handler) {
        auto slot = std::make_shared<Slot>(Slot{std::move(handler), true});
        slots_->push_back(slot);
        std::weak_ptr<Slots> slots = slots_;
        std::weak_ptr<Slot> weakSlot = slot;
        return Subscription([slots, weakSlot] {
            const auto held = weakSlot.lock();
            if (!held)
                return;
            held->Active = false;
            if (const auto list = slots.lock())
                std::erase(*list, held);
        });
    }
    bool IsConnected() const { return !slots_->empty(); }

    void Raise(Args... args) const {
        const Slots slots = *slots_;
        for (const auto& slot : slots) {
            if (slot->Active)
                slot->Run(args...);
        }
    }

private:
    struct Slot {
        Handler Run;
        bool Active;
    };
    using Slots = std::vector<std::shared_ptr<Slot>>;
    std::shared_ptr<Slots> slots_ = std::make_shared<Slots>();
};

} // namespace ornbrook
