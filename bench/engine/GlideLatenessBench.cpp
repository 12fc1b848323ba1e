// How late glide steps reach the poster on real threads: `range(0)` scroll
// pipelines, each on its own serial queue as deployed, glide at once, 2,000
// glides in all; every step's lateness is the time it reached the poster
// minus its deadline. A step that comes before its deadline fails the run.
//
// The deadline of a step is its offset in the plan (worked out by a
// transformer of the same settings fed the same detents) after the moment just
// before handle() was called. The pipeline reads its own clock a little later,
// so the figures are an upper bound, by the cost of one detent.
//
// Beside each pipeline, in the same run and at the same moments, the baseline:
// a bare timed wait on the same kind of thread (same priority), sleeping on a
// condition variable until each of the same deadlines in turn, nothing of
// ours in between (`bare_` counters). `ratio_p99` compares the two tails.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <semaphore>
#include <thread>
#include <vector>

#include "Core/ScrollPhase.hpp"
#include "Core/ScrollSettings.hpp"
#include "Core/ScrollTransformer.hpp"
#include "Platform/MonotonicClock.hpp"
#include "Platform/Thread.hpp"
#include "RavoletEngine/EventPath/ScrollPipeline.hpp"

namespace ravolet {
namespace {

using platform::MonotonicClock;

constexpr std::int64_t glidesPerRun = 2000;

ScrollSettings smoothing() {
    ScrollSettings s;
    s.isEnabled = true;
    return s;
}

// Notes when each step arrives; releases `ended` with the glide's last step.
class TimingPoster final : public EventPosting {
public:
    void postScrollStep(ScrollAxis, std::int64_t, ScrollPhase phase, ModifierFlags, std::int64_t) override {
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

// A thread of the pipeline queue's kind that, given a list of deadlines,
// sleeps on a condition variable until each in turn and notes when it woke.
class BareTimedWait {
public:
    BareTimedWait()
        : thread_(platform::Thread::Options{"bench.bare-wait", platform::ThreadPriority::userInteractive, 0},
                  [this] { run(); }) {}
    ~BareTimedWait() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_one();
        thread_.join();
    }

    void start(std::vector<std::uint64_t> deadlines) {
        {
            std::lock_guard lock(mutex_);
            deadlines_ = std::move(deadlines);
            woke_.clear();
            busy_ = true;
        }
        changed_.notify_one();
    }

    // The times it woke for the deadlines, once it has waited for them all.
    std::vector<std::uint64_t> finish() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !busy_; });
        return woke_;
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return busy_ || stopping_; });
            if (stopping_) return;
            for (const std::uint64_t deadline : deadlines_) {
                const std::chrono::steady_clock::time_point until{std::chrono::nanoseconds(deadline)};
                while (MonotonicClock::nowNanos() < deadline) timer_.wait_until(lock, until);
                woke_.push_back(MonotonicClock::nowNanos());
            }
            busy_ = false;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    // Never notified: each wait on it ends at its deadline.
    std::condition_variable timer_;
    std::vector<std::uint64_t> deadlines_;
    std::vector<std::uint64_t> woke_;
    bool busy_ = false;
    bool stopping_ = false;
    platform::Thread thread_;
};

void reportLateness(benchmark::State& state, std::vector<std::uint64_t>& lateness, const std::string& prefix) {
    std::ranges::sort(lateness);
    const auto at = [&](double q) {
        return lateness.empty() ? 0.0
                                : static_cast<double>(lateness[static_cast<std::size_t>(q * static_cast<double>(lateness.size() - 1))]) / 1000.0;
    };
    state.counters[prefix + "steps"] = static_cast<double>(lateness.size());
    state.counters[prefix + "p50_us"] = at(0.50);
    state.counters[prefix + "p90_us"] = at(0.90);
    state.counters[prefix + "p99_us"] = at(0.99);
    state.counters[prefix + "max_us"] = lateness.empty() ? 0.0 : static_cast<double>(lateness.back()) / 1000.0;
}

void BM_GlideStepLateness(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    std::vector<std::shared_ptr<TimingPoster>> posters;
    std::vector<std::shared_ptr<ScrollPipeline>> pipelines;
    std::vector<std::unique_ptr<BareTimedWait>> bare;
    for (std::size_t i = 0; i < count; ++i) {
        posters.push_back(std::make_shared<TimingPoster>());
        pipelines.push_back(ScrollPipeline::create(smoothing(), posters.back()));
        bare.push_back(std::make_unique<BareTimedWait>());
    }
    ScrollTransformer reference(smoothing());
    const DeviceID mouse{0xC0990001};

    std::vector<std::uint64_t> lateness;
    std::vector<std::uint64_t> bareLateness;
    lateness.reserve(1 << 17);
    bareLateness.reserve(1 << 17);
    bool early = false;
    bool mismatched = false;
    std::vector<std::uint64_t> starts(count);
    std::vector<std::uint64_t> deadlines;
    for (auto _ : state) {
        // A glide ends before the next detent, which therefore begins a glide
        // of its own; a short pause lets the threads settle.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const double millis = MonotonicClock::now();
        const ScrollInput input{1, ScrollAxis::vertical, {}, millis, mouse};
        auto outcome = reference.transform(input, std::nullopt);
        const ScrollPlan* plan = outcome.plan();
        if (!plan) {
            state.SkipWithError("the detent gave no glide");
            return;
        }
        const std::vector<ScrollStep> steps = plan->steps.all();
        const auto deadlineAfter = [&](std::uint64_t start, const ScrollStep& step) {
            return start + static_cast<std::uint64_t>(std::max(0.0, step.offsetMillis) * 1e6);
        };
        for (std::size_t i = 0; i < count; ++i) {
            starts[i] = MonotonicClock::nowNanos();
            pipelines[i]->handle(input);
            deadlines.clear();
            for (const ScrollStep& step : steps) deadlines.push_back(deadlineAfter(starts[i], step));
            bare[i]->start(deadlines);
        }
        for (std::size_t i = 0; i < count; ++i) {
            posters[i]->ended.acquire();
            pipelines[i]->drain();
            const auto arrivals = posters[i]->take();
            const auto woke = bare[i]->finish();
            if (arrivals.size() != steps.size()) {
                mismatched = true;
                continue;
            }
            for (std::size_t k = 0; k < arrivals.size(); ++k) {
                const std::uint64_t deadline = deadlineAfter(starts[i], steps[k]);
                if (arrivals[k] < deadline) early = true;
                lateness.push_back(arrivals[k] >= deadline ? arrivals[k] - deadline : 0);
                bareLateness.push_back(woke[k] - deadline);
            }
        }
    }
    if (early) state.SkipWithError("a step reached the poster before its deadline");
    if (mismatched) state.SkipWithError("a glide did not have the reference plan's steps");
    state.counters["glides"] = static_cast<double>(state.iterations() * static_cast<std::int64_t>(count));
    reportLateness(state, lateness, "");
    reportLateness(state, bareLateness, "bare_");
    if (state.counters["bare_p99_us"] > 0)
        state.counters["ratio_p99"] = state.counters["p99_us"] / state.counters["bare_p99_us"];
}
BENCHMARK(BM_GlideStepLateness)
    ->Arg(1)
    ->Iterations(glidesPerRun)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GlideStepLateness)
    ->Arg(4)
    ->Iterations(glidesPerRun / 4)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace ravolet
