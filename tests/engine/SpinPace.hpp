#pragma once

// How a spin of the wheel comes out on the page: a poster that notes each
// scroll step with the time it reached it, the reading of those steps against
// the spin's detents, and the pace limit to hold it against. Shared by the
// pipeline's tests (virtual time) and its benchmark (real threads).

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "Core/ScrollTransformer.hpp"
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
    // What each frame of the middle half of the spin moved the page (the
    // steps counted to the frame nearest them): its 10th, 50th and 90th
    // percentiles, and the frames that moved it not at all.
    std::int64_t frameP10 = 0;
    std::int64_t frameMedian = 0;
    std::int64_t frameP90 = 0;
    std::int64_t emptyFrames = 0;
};

// The spin's detents came from `firstDetentNanos` to `lastDetentNanos`; the
// page's frames are `frameNanos` apart from a frame after the first one.
inline SpinPace paceOf(const std::vector<TimedStep>& steps, std::uint64_t firstDetentNanos,
                       std::uint64_t lastDetentNanos, std::uint64_t frameNanos) {
    constexpr std::uint64_t lastStretch = 50'000'000;
    SpinPace pace;
    std::int64_t byLast = 0;
    std::int64_t aFrameLater = 0;
    const std::uint64_t spin = lastDetentNanos - firstDetentNanos;
    const std::uint64_t firstFrame = firstDetentNanos + frameNanos;
    const std::uint64_t middleFrom = spin / 4 / frameNanos;
    const std::uint64_t middleTo = spin * 3 / 4 / frameNanos;
    std::vector<std::int64_t> frames(middleTo > middleFrom ? middleTo - middleFrom : 0, 0);
    for (const TimedStep& step : steps) {
        const std::int64_t size = std::abs(step.pixels);
        pace.posted += step.pixels;
        if (step.atNanos <= lastDetentNanos) byLast += step.pixels;
        if (step.atNanos <= lastDetentNanos + frameNanos) aFrameLater += step.pixels;
        if (step.atNanos > lastDetentNanos) pace.largestAfter = std::max(pace.largestAfter, size);
        else if (step.atNanos + lastStretch >= lastDetentNanos) pace.largestDuring = std::max(pace.largestDuring, size);
        if (step.atNanos + frameNanos / 2 < firstFrame) continue;
        const std::uint64_t k = (step.atNanos + frameNanos / 2 - firstFrame) / frameNanos;
        if (k >= middleFrom && k < middleTo) frames[k - middleFrom] += size;
    }
    if (pace.posted != 0) {
        pace.shareByLastDetent = static_cast<double>(byLast) / static_cast<double>(pace.posted);
        pace.shareAFrameLater = static_cast<double>(aFrameLater) / static_cast<double>(pace.posted);
    }
    if (!frames.empty()) {
        pace.emptyFrames = std::ranges::count(frames, 0);
        std::ranges::sort(frames);
        const auto at = [&](double q) { return frames[static_cast<std::size_t>(q * static_cast<double>(frames.size() - 1))]; };
        pace.frameP10 = at(0.1);
        pace.frameMedian = at(0.5);
        pace.frameP90 = at(0.9);
    }
    return pace;
}

// The pace limit of a spin: each detent gliding alone from its own time, as
// if no other had come, the glides added up. The share of all their pixels
// out by the last detent.
inline double superposedShareByLastDetent(const ScrollSettings& settings, const std::vector<double>& detentMillis) {
    if (detentMillis.empty()) return 0;
    std::int64_t all = 0;
    std::int64_t byLast = 0;
    for (const double at : detentMillis) {
        ScrollTransformer alone(settings);
        const ScrollOutcome outcome = alone.transform({1, ScrollAxis::vertical, {}, at, DeviceID{1}});
        if (!outcome.plan()) continue;
        const ScrollPlan& plan = *outcome.plan();
        all += plan.totalPixelDelta;
        byLast += ScrollTransformer::deliveredPixels(plan, detentMillis.back());
    }
    return all == 0 ? 0 : static_cast<double>(byLast) / static_cast<double>(all);
}

} // namespace ravolet::testing
