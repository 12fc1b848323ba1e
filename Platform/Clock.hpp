#pragma once

#include <chrono>

namespace ravolet::platform {

// The wall clock: the date and time of day, for records that carry a date
// (never for measuring intervals, which use MonotonicClock).
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::chrono::system_clock::time_point now() const = 0;
    // How far the user's local time is ahead of UTC at that moment (daylight
    // saving time included), for dates written in local time.
    virtual std::chrono::seconds localTimeOffset(std::chrono::system_clock::time_point at) const = 0;
};

} // namespace ravolet::platform
