#pragma once

// A value that tells its observers when it changes, for models that the
// engine and the user interface watch. Standard library only.
//
// Single-threaded: an Observable and its connections belong to the one
// executor that owns the model (the main thread); observers run synchronously
// inside set().

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace ravolet {

// Ends an observation when it is destroyed (or disconnect() is called). It may
// outlive the Observable; disconnecting then does nothing.
class [[nodiscard]] ObserverConnection {
public:
    ObserverConnection() = default;
    explicit ObserverConnection(std::function<void()> disconnect) : disconnect_(std::move(disconnect)) {}
    ObserverConnection(ObserverConnection&& other) noexcept : disconnect_(std::exchange(other.disconnect_, {})) {}
    ObserverConnection& operator=(ObserverConnection&& other) noexcept {
        if (this != &other) {
            disconnect();
            disconnect_ = std::exchange(other.disconnect_, {});
        }
        return *this;
    }
    ObserverConnection(const ObserverConnection&) = delete;
    ObserverConnection& operator=(const ObserverConnection&) = delete;
    ~ObserverConnection() { disconnect(); }

    void disconnect() {
        if (auto fn = std::exchange(disconnect_, {})) fn();
    }
    bool isConnected() const { return static_cast<bool>(disconnect_); }

private:
    std::function<void()> disconnect_;
};

template <class T>
class Observable {
public:
    using Observer = std::function<void(const T&)>;

    Observable() : state_(std::make_shared<State>()) {}
    explicit Observable(T initial) : state_(std::make_shared<State>(std::move(initial))) {}
    Observable(const Observable&) = delete;
    Observable& operator=(const Observable&) = delete;

    const T& value() const { return state_->value; }

    // Stores the value and notifies every observer, unless it equals the
    // current one. Returns whether it changed.
    //
    // An observer may set the value again, connect or disconnect anyone
    // (itself included) and even destroy the Observable. A value set from
    // inside a notification is delivered after the running one, and observers
    // not yet reached skip the outdated value: each observer sees values in
    // the order they were set, always ending with the latest.
    bool set(T newValue) {
        if (state_->value == newValue) return false;
        state_->value = std::move(newValue);
        ++state_->version;
        notify(state_); // a copy of the pointer: `this` may be gone afterwards
        return true;
    }

    // Calls `observer` with every later change (not with the current value).
    // Const, so that a model can hand out a read-only view of its value
    // (`const Observable<T>&`) that views still observe.
    ObserverConnection observe(Observer observer) const {
        auto slot = std::make_shared<Slot>(Slot{std::move(observer), state_->version, true});
        state_->slots.push_back(slot);
        return ObserverConnection([weakState = std::weak_ptr<State>(state_), weakSlot = std::weak_ptr<Slot>(slot)] {
            const auto slot = weakSlot.lock();
            if (!slot) return;
            slot->active = false;
            if (const auto state = weakState.lock()) std::erase(state->slots, slot);
        });
    }

    std::size_t observerCount() const { return state_->slots.size(); }

private:
    struct Slot {
        Observer fn;
        std::uint64_t delivered = 0;
        bool active = true;
    };
    struct State {
        State() = default;
        explicit State(T initial) : value(std::move(initial)) {}
        T value{};
        std::uint64_t version = 0;
        std::vector<std::shared_ptr<Slot>> slots;
        bool notifying = false;
    };

    // Works on the shared state only, so that an observer may destroy the Observable.
    static void notify(std::shared_ptr<State> state) {
        if (state->notifying) return; // the running round picks the new value up
        state->notifying = true;
        struct Reset {
            State& s;
            ~Reset() { s.notifying = false; }
        } reset{*state};
        for (;;) {
            const std::uint64_t version = state->version;
            const T current = state->value;
            const auto slots = state->slots;
            for (const auto& slot : slots) {
                if (state->version != version) break;
                if (!slot->active || slot->delivered >= version) continue;
                slot->delivered = version;
                slot->fn(current);
            }
            if (state->version == version) return;
        }
    }

    std::shared_ptr<State> state_;
};

} // namespace ravolet
