#pragma once

// How a spin of the wheel comes out on the page: a poster that notes each
// scroll step with the time it reached it, and the reading of those steps
// against the spin's last detent. Shared by the pipeline's tests (virtual
// time) and its benchmark (real threads).

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "RavoletEngine/EventPath/EventPosting.hpp"

namespace ravolet::testing {

struct TimedStep {
    std::uint64_t atNanos = 0;
    std::int64_t pixels = 0;
};

// Notes every scroll step on the clock it is given, from any thread.
class StepTimingPoster final : public EventPosting {
public:
    explicit StepTimingPoster(std::function<std::uint64_t()> clock) : clock_(std::move(clock)) {}

    void postScrollStep(ScrollAxis, std::int64_t pixelDelta, ScrollPhase, ModifierFlags, std::int64_t) override {
        const std::uint64_t now = clock_();
        std::lock_guard guard(lock_);
        steps_.push_back({now, pixelDelta});
    }
    void postKey(std::uint16_t, bool, ModifierFlags) override {}
    void postMouseButton(std::int64_t, bool) override {}

    std::vector<TimedStep> take() {
        std::lock_guard guard(lock_);
        return std::exchange(steps_, {});
    }

private:
    const std::function<std::uint64_t()> clock_;
    std::mutex lock_;
    std::vector<TimedStep> steps_;
};

// What the page did during a spin and after it.
struct SpinPace {
    // Pixels posted in all, the spin's glides run out.
    std::int64_t posted = 0;
    // Shares of those out by the last detent, and one frame after it.
    double shareByLastDetent = 0;
    double shareAFrameLater = 0;
    // The largest step after the last detent, and of the spin's last 50 ms.
    std::int64_t largestAfter = 0;
    std::int64_t largestDuring = 0;
};

inline SpinPace paceOf(const std::vector<TimedStep>& steps, std::uint64_t lastDetentNanos, std::uint64_t frameNanos) {
    constexpr std::uint64_t lastStretch = 50'000'000;
    SpinPace pace;
    std::int64_t byLast = 0;
    std::int64_t aFrameLater = 0;
    for (const TimedStep& step : steps) {
        const std::int64_t size = std::abs(step.pixels);
        pace.posted += step.pixels;
        if (step.atNanos <= lastDetentNanos) byLast += step.pixels;
        if (step.atNanos <= lastDetentNanos + frameNanos) aFrameLater += step.pixels;
        if (step.atNanos > lastDetentNanos) pace.largestAfter = std::max(pace.largestAfter, size);
        else if (step.atNanos + lastStretch >= lastDetentNanos) pace.largestDuring = std::max(pace.largestDuring, size);
    }
    if (pace.posted != 0) {
        pace.shareByLastDetent = static_cast<double>(byLast) / static_cast<double>(pace.posted);
        pace.shareAFrameLater = static_cast<double>(aFrameLater) / static_cast<double>(pace.posted);
    }
    return pace;
}

} // namespace ravolet::testing
