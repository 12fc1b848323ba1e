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

private:
    std::atomic<std::chrono::system_clock::rep> now_;
};

} // namespace ravolet::platform
