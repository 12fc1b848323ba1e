#include "Platform/MonotonicClock.hpp"

#include <time.h>

namespace ravolet::platform {

std::uint64_t MonotonicClock::ticks() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000'000ull + static_cast<std::uint64_t>(ts.tv_nsec);
}

MonotonicClock::TimeBase MonotonicClock::timeBase() {
    // Ticks of CLOCK_MONOTONIC are nanoseconds already; kept as a time base so
    // that every conversion goes through one place, read once.
    static const TimeBase base = [] {
        TimeBase b;
        b.numerator = 1;
        b.denominator = 1;
        return b;
    }();
    return base;
}

double MonotonicClock::nanoseconds(std::uint64_t fromTicks) {
    const TimeBase base = timeBase();
    return static_cast<double>(fromTicks) * static_cast<double>(base.numerator) / static_cast<double>(base.denominator);
}

double MonotonicClock::milliseconds(std::uint64_t fromTicks) { return nanoseconds(fromTicks) / 1e6; }

double MonotonicClock::now() { return milliseconds(ticks()); }

std::uint64_t MonotonicClock::nowNanos() {
    const TimeBase base = timeBase();
    const std::uint64_t t = ticks();
    if (base.numerator == base.denominator) return t;
    return static_cast<std::uint64_t>(static_cast<unsigned __int128>(t) * base.numerator / base.denominator);
}

} // namespace ravolet::platform
