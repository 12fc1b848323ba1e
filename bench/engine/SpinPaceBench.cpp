// How the page follows a spinning wheel on real threads: the scroll pipeline
// on its serial queue as deployed, at the factory glide (250 ms in frames of
// 8 ms, at most 4,000 pixels in flight), given `range(0)` detents
// `range(1)` ms apart at their real times on this thread (the tap thread in
// the program), with acceleration on when `range(2)` is 1. Each iteration is
// one spin, its glides run out before the next.
//
// Reports the pace, not the count of frames:
// - `share_by_last_detent`, `share_a_frame_later`: of the pixels the spin
//   posted in all, the share out by its last detent and one frame after it
//   (mean over the spins, and the least, `_min`);
// - `posted_px` against `turned_px`: the pixels posted (the least of the
//   spins) against those the wheel turned (with acceleration, what each
//   detent's travel adds up to unbounded; the in-flight bound may cut it);
// - `largest_after_px` and `largest_during_px`: the largest step after the
//   last detent and of the spin's last 50 ms, and `lurch_max`, the largest
//   of their ratios over the spins (1.5 at most: no lurch when the wheel
//   stops).
// Nothing here is a timing; the figures move with how the machine schedules
// the threads.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

#include "Core/ScrollSettings.hpp"
#include "Core/ScrollTransformer.hpp"
#include "Platform/MonotonicClock.hpp"
#include "Platform/Thread.hpp"
#include "RavoletEngine/EventPath/ScrollPipeline.hpp"
#include "tests/engine/SpinPace.hpp"

namespace ravolet {
namespace {

using platform::MonotonicClock;

void BM_GlidePaceOfASpin(benchmark::State& state) {
    const auto detents = static_cast<int>(state.range(0));
    const auto apart = std::chrono::microseconds(state.range(1) * 1000);
    ScrollSettings settings;
    settings.isEnabled = true;
    settings.accelerationEnabled = state.range(2) == 1;
    constexpr std::uint64_t frame = 8'000'000;

    // What the wheel turned: every detent's travel, nothing delivered, no bound.
    ScrollSettings unbounded = settings;
    unbounded.maxInFlightPixels = 1'000'000;

    auto poster = std::make_shared<testing::StepTimingPoster>([] { return MonotonicClock::nowNanos(); });
    auto pipeline = ScrollPipeline::create(settings, poster);
    const DeviceID mouse{0xC0990001};
    platform::setCurrentThreadPriority(platform::ThreadPriority::userInteractive);

    double shares = 0, laterShares = 0, leastShare = 1, leastLaterShare = 1, lurch = 0;
    std::int64_t leastPosted = 0, turned = 0, largestAfter = 0, largestDuring = 0;
    std::int64_t spins = 0;
    for (auto _ : state) {
        ScrollTransformer reference(unbounded);
        auto next = std::chrono::steady_clock::now();
        std::uint64_t last = 0;
        for (int i = 0; i < detents; ++i) {
            if (i > 0) {
                next += apart;
                std::this_thread::sleep_until(next);
            }
            last = MonotonicClock::nowNanos();
            const ScrollInput input{1, ScrollAxis::vertical, {}, static_cast<double>(last) / 1e6, mouse};
            pipeline->handle(input);
            const ScrollOutcome outcome = reference.transform(input, 0);
            if (const ScrollPlan* plan = outcome.plan()) turned = plan->totalPixelDelta;
        }
        // The last glide runs out; then the next spin starts from rest.
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        pipeline->drain();
        const testing::SpinPace pace = testing::paceOf(poster->take(), last, frame);

        shares += pace.shareByLastDetent;
        laterShares += pace.shareAFrameLater;
        leastShare = std::min(leastShare, pace.shareByLastDetent);
        leastLaterShare = std::min(leastLaterShare, pace.shareAFrameLater);
        leastPosted = spins == 0 ? pace.posted : std::min(leastPosted, pace.posted);
        if (pace.largestDuring > 0) {
            const double ratio = static_cast<double>(pace.largestAfter) / static_cast<double>(pace.largestDuring);
            if (ratio >= lurch) {
                lurch = ratio;
                largestAfter = pace.largestAfter;
                largestDuring = pace.largestDuring;
            }
        }
        ++spins;
    }
    platform::setCurrentThreadPriority(platform::ThreadPriority::defaultPriority);
    if (spins == 0) return;
    const auto n = static_cast<double>(spins);
    state.counters["share_by_last_detent"] = shares / n;
    state.counters["share_by_last_detent_min"] = leastShare;
    state.counters["share_a_frame_later"] = laterShares / n;
    state.counters["share_a_frame_later_min"] = leastLaterShare;
    state.counters["posted_px"] = static_cast<double>(leastPosted);
    state.counters["turned_px"] = static_cast<double>(turned);
    state.counters["largest_after_px"] = static_cast<double>(largestAfter);
    state.counters["largest_during_px"] = static_cast<double>(largestDuring);
    state.counters["lurch_max"] = lurch;
}
BENCHMARK(BM_GlidePaceOfASpin)
    ->Args({250, 2, 0})
    ->Args({60, 2, 0})
    ->Args({250, 2, 1})
    ->Args({40, 50, 0})
    ->ArgNames({"detents", "apart_ms", "accelerated"})
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace ravolet
