#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>

namespace ravolet {

// One kind of value handed from the callers' threads to a work queue, so
// that the work hears only the last word, once: a value said while an
// earlier one still waits for the queue takes that one's place (joined with
// it), and the operation already handed over carries it, instead of a
// second operation queueing behind the first. Any thread.
//
// `joinsBehindOthers`: a waiting value takes in a later one even after other
// operations were handed over behind it (the user's switch: only where it
// was left counts); otherwise only while it is the last thing handed over,
// so that a later value never overtakes work handed over before it.
template <class Value>
class LastWord {
public:
    explicit LastWord(bool joinsBehindOthers) : joinsBehindOthers_(joinsBehindOthers) {}

    // `value`, said when `handedOver` operations have been handed over so
    // far; `join(waiting, value)` is what the two leave together. Whether an
    // operation must be handed over now (the next, number handedOver + 1)
    // to carry it.
    template <class Join>
    bool say(const Value& value, std::uint64_t handedOver, Join&& join) {
        std::lock_guard guard(lock_);
        if (waiting_ && (joinsBehindOthers_ || ticket_ == handedOver)) {
            value_ = std::forward<Join>(join)(value_, value);
            return false;
        }
        value_ = value;
        waiting_ = true;
        ticket_ = handedOver + 1;
        return true;
    }

    // What an operation handed over for it takes as it runs: the last word
    // said (again, for an operation handed over behind the one that took it).
    Value take() {
        std::lock_guard guard(lock_);
        waiting_ = false;
        return value_;
    }

    // The word said and not yet taken.
    std::optional<Value> waiting() const {
        std::lock_guard guard(lock_);
        return waiting_ ? std::optional<Value>(value_) : std::nullopt;
    }

private:
    const bool joinsBehindOthers_;
    mutable std::mutex lock_;
    Value value_{};
    bool waiting_ = false;
    std::uint64_t ticket_ = 0;
};

} // namespace ravolet
