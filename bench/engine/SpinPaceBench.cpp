// How the page follows a spinning wheel on real threads: the scroll pipeline
// on its serial queue as deployed, at the factory glide (250 ms in frames of
// 8 ms, at most 4,000 pixels in flight), given `range(0)` detents
// `range(1)` ms apart at their real times on this thread (the tap thread in
// the program), with acceleration on when `range(2)` is 1. Each iteration is
// one spin, its glides run out before the next.
//
// Reports the pace and the evenness, not the count of frames:
// - `share_by_last_detent`, `share_a_frame_later`: of the pixels the spin
//   posted in all, the share out by its last detent and one frame after it
//   (mean over the spins, and the least, `_min`), beside `superposed_share`,
//   the pace limit: every detent gliding alone from its own time, the glides
//   added up (without acceleration);
// - `frame_p10_px`, `frame_p50_px`, `frame_p90_px`: what each frame of the
//   middle half of the spin moved the page (the median over the spins),
//   `frame_ratio_max`, the largest p90/p10 of the spins, and
//   `empty_frames_max`, the most frames there that moved it not at all;
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
#include <limits>
#include <memory>
#include <thread>
#include <vector>

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

    double shares = 0, laterShares = 0, leastShare = 1, leastLaterShare = 1, lurch = 0, superposed = 0;
    double frameRatio = 0;
    std::int64_t leastPosted = 0, turned = 0, largestAfter = 0, largestDuring = 0, emptyFrames = 0;
    std::vector<std::int64_t> p10s, medians, p90s;
    std::int64_t spins = 0;
    for (auto _ : state) {
        ScrollTransformer reference(unbounded);
        std::vector<double> times;
        auto next = std::chrono::steady_clock::now();
        std::uint64_t first = 0, last = 0;
        for (int i = 0; i < detents; ++i) {
            if (i > 0) {
                next += apart;
                std::this_thread::sleep_until(next);
            }
            last = MonotonicClock::nowNanos();
            if (i == 0) first = last;
            const ScrollInput input{1, ScrollAxis::vertical, {}, static_cast<double>(last) / 1e6, mouse};
            pipeline->handle(input);
            times.push_back(input.timestampMillis);
            const ScrollOutcome outcome = reference.transform(input, GlideDelivery{0, input.timestampMillis});
            if (const ScrollPlan* plan = outcome.plan()) turned = plan->totalPixelDelta;
        }
        // The last glide runs out; then the next spin starts from rest.
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        pipeline->drain();
        const testing::SpinPace pace = testing::paceOf(poster->take(), first, last, frame);
        superposed += testing::superposedShareByLastDetent(settings, times);
        p10s.push_back(pace.frameP10);
        medians.push_back(pace.frameMedian);
        p90s.push_back(pace.frameP90);
        if (pace.frameP10 > 0)
            frameRatio = std::max(frameRatio, static_cast<double>(pace.frameP90) / static_cast<double>(pace.frameP10));
        else if (pace.frameP90 > 0)
            frameRatio = std::numeric_limits<double>::infinity();
        emptyFrames = std::max(emptyFrames, pace.emptyFrames);

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
    state.counters["superposed_share"] = superposed / n;
    state.counters["share_a_frame_later"] = laterShares / n;
    state.counters["share_a_frame_later_min"] = leastLaterShare;
    state.counters["posted_px"] = static_cast<double>(leastPosted);
    state.counters["turned_px"] = static_cast<double>(turned);
    state.counters["largest_after_px"] = static_cast<double>(largestAfter);
    state.counters["largest_during_px"] = static_cast<double>(largestDuring);
    state.counters["lurch_max"] = lurch;
    const auto median = [](std::vector<std::int64_t>& v) {
        std::ranges::sort(v);
        return static_cast<double>(v[v.size() / 2]);
    };
    state.counters["frame_p10_px"] = median(p10s);
    state.counters["frame_p50_px"] = median(medians);
    state.counters["frame_p90_px"] = median(p90s);
    state.counters["frame_ratio_max"] = frameRatio;
    state.counters["empty_frames_max"] = static_cast<double>(emptyFrames);
}
BENCHMARK(BM_GlidePaceOfASpin)
    ->Args({250, 2, 0})
    ->Args({60, 2, 0})
    ->Args({250, 2, 1})
    ->Args({100, 4, 0})
    ->Args({100, 10, 0})
    ->Args({100, 12, 0})
    ->Args({100, 16, 0})
    ->Args({40, 50, 0})
    ->ArgNames({"detents", "apart_ms", "accelerated"})
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace ravolet
