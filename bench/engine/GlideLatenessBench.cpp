// How late glide steps reach the poster on real threads: `range(0)` scroll
// pipelines, each on its own serial queue as deployed, glide at once; every
// step's lateness is the time it reached the poster minus its deadline. A
// step that comes before its deadline fails the run.
//
// The deadline of a step is its offset in the plan (worked out by a
// transformer of the same settings fed the same detents) after the moment just
// before handle() was called. The pipeline reads its own clock a little later,
// so the figures are an upper bound, by the cost of one detent.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

#include "Core/ScrollPhase.hpp"
#include "Core/ScrollSettings.hpp"
#include "Core/ScrollTransformer.hpp"
#include "Platform/MonotonicClock.hpp"
#include "RavoletEngine/EventPath/ScrollPipeline.hpp"

namespace ravolet {
namespace {

using platform::MonotonicClock;

ScrollSettings smoothing() {
    ScrollSettings s;
    s.isEnabled = true;
    return s;
}

// Notes when each step arrives; releases `ended` with the glide's last step.
class TimingPoster final : public EventPosting {
public:
    void postScrollStep(ScrollAxis, std::int64_t, ScrollPhase phase, ModifierFlags) override {
        const std::uint64_t now = MonotonicClock::nowNanos();
        {
            std::lock_guard guard(lock_);
            arrivals_.push_back(now);
        }
        if (phase == ScrollPhase::ended) ended.release();
    }
    void postKey(std::uint16_t, bool, ModifierFlags) override {}
    void postMouseButton(std::int64_t, bool) override {}

    std::vector<std::uint64_t> take() {
        std::lock_guard guard(lock_);
        std::vector<std::uint64_t> taken;
        taken.reserve(64);
        taken.swap(arrivals_);
        return taken;
    }

    std::binary_semaphore ended{0};

private:
    std::mutex lock_;
    std::vector<std::uint64_t> arrivals_;
};

void BM_GlideStepLateness(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    std::vector<std::shared_ptr<TimingPoster>> posters;
    std::vector<std::shared_ptr<ScrollPipeline>> pipelines;
    for (std::size_t i = 0; i < count; ++i) {
        posters.push_back(std::make_shared<TimingPoster>());
        pipelines.push_back(ScrollPipeline::create(smoothing(), posters.back()));
    }
    ScrollTransformer reference(smoothing());
    const DeviceID mouse{0xC0990001};

    std::vector<std::uint64_t> lateness;
    lateness.reserve(1 << 16);
    bool early = false;
    bool mismatched = false;
    std::vector<std::uint64_t> starts(count);
    for (auto _ : state) {
        // Far enough apart that every detent begins a glide of its own.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const double millis = MonotonicClock::now();
        const ScrollInput input{1, ScrollAxis::vertical, {}, millis, mouse};
        auto outcome = reference.transform(input, std::nullopt);
        const ScrollPlan* plan = outcome.plan();
        if (!plan) {
            state.SkipWithError("the detent gave no glide");
            return;
        }
        for (std::size_t i = 0; i < count; ++i) {
            starts[i] = MonotonicClock::nowNanos();
            pipelines[i]->handle(input);
        }
        for (std::size_t i = 0; i < count; ++i) {
            posters[i]->ended.acquire();
            pipelines[i]->drain();
            const auto arrivals = posters[i]->take();
            if (arrivals.size() != plan->steps.size()) {
                mismatched = true;
                continue;
            }
            for (std::size_t k = 0; k < arrivals.size(); ++k) {
                const auto offset = std::chrono::nanoseconds(static_cast<std::int64_t>(std::max(0.0, plan->steps[k].offsetMillis) * 1e6));
                const std::uint64_t deadline = starts[i] + static_cast<std::uint64_t>(offset.count());
                if (arrivals[k] < deadline) early = true;
                lateness.push_back(arrivals[k] >= deadline ? arrivals[k] - deadline : 0);
            }
        }
    }
    if (early) state.SkipWithError("a step reached the poster before its deadline");
    if (mismatched) state.SkipWithError("a glide did not have the reference plan's steps");
    std::ranges::sort(lateness);
    const auto at = [&](double q) {
        return lateness.empty() ? 0.0
                                : static_cast<double>(lateness[static_cast<std::size_t>(q * static_cast<double>(lateness.size() - 1))]) / 1000.0;
    };
    state.counters["steps"] = static_cast<double>(lateness.size());
    state.counters["p50_us"] = at(0.50);
    state.counters["p90_us"] = at(0.90);
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = lateness.empty() ? 0.0 : static_cast<double>(lateness.back()) / 1000.0;
}
BENCHMARK(BM_GlideStepLateness)->Arg(1)->Arg(4)->Iterations(60)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace ravolet
