#pragma once

#include <cstdint>

namespace ravolet::platform {

// The program's one monotonic time base: a tick counter (CLOCK_MONOTONIC) with
// a time base (numerator/denominator, 1/1 here) that converts ticks to
// nanoseconds. The time base is read once, on first use, and kept. Queue
// deadlines and event timestamps are nanoseconds on this same base.
class MonotonicClock {
public:
    struct TimeBase {
        std::uint32_t numerator = 1;
        std::uint32_t denominator = 1;
    };

    MonotonicClock() = delete;

    // The raw tick counter.
    static std::uint64_t ticks();

    // The time base, read on first use.
    static TimeBase timeBase();

    // ticks × numerator / denominator, multiplied first, in double precision.
    static double nanoseconds(std::uint64_t fromTicks);

    // nanoseconds(fromTicks) / 1e6.
    static double milliseconds(std::uint64_t fromTicks);

    // The current tick counter in milliseconds.
    static double now();

    // The current time in whole nanoseconds (the queues' uptime clock).
    static std::uint64_t nowNanos();
};

} // namespace ravolet::platform
