#pragma once

#include <atomic>
#include <chrono>

#include "Platform/Clock.hpp"

namespace ravolet::platform {

// A wall clock that stands still until a test sets or advances it. Safe from any thread.
class SimulatedClock final : public Clock {
public:
    // 2025-03-01T09:30:00Z unless told otherwise.
    static constexpr std::chrono::sys_seconds defaultStart{std::chrono::sys_days{std::chrono::year{2025} / 3 / 1} +
                                                           std::chrono::hours{9} + std::chrono::minutes{30}};

    explicit SimulatedClock(std::chrono::system_clock::time_point start = defaultStart) : now_(start.time_since_epoch().count()) {}

    std::chrono::system_clock::time_point now() const override {
        return std::chrono::system_clock::time_point(std::chrono::system_clock::duration(now_.load()));
    }
    void set(std::chrono::system_clock::time_point time) { now_.store(time.time_since_epoch().count()); }
    void advance(std::chrono::system_clock::duration by) { now_.fetch_add(by.count()); }

    // One offset at every moment; UTC unless told otherwise.
    std::chrono::seconds localTimeOffset(std::chrono::system_clock::time_point) const override {
        return std::chrono::seconds(offset_.load());
    }
    void setLocalTimeOffset(std::chrono::seconds offset) { offset_.store(offset.count()); }

private:
    std::atomic<std::chrono::system_clock::rep> now_;
    std::atomic<std::chrono::seconds::rep> offset_ = 0;
};

} // namespace ravolet::platform
