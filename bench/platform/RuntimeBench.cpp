// Cross-thread hand-off latency of the runtime's executors (from the call on
// the benchmark thread to the first instruction of the block on the target
// thread), and how late deadline blocks run. Each figure is reported as
// percentiles over every hand-off of the run, in microseconds.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <semaphore>
#include <vector>

#include "HIDPlusPlus/HIDPPRunLoop.hpp"
#include "Platform/MonotonicClock.hpp"
#include "Platform/RunLoopThread.hpp"
#include "Platform/SerialQueue.hpp"

namespace {

using ravolet::platform::MonotonicClock;

void reportPercentiles(benchmark::State& state, std::vector<std::uint64_t>& nanos) {
    if (nanos.empty()) return;
    std::sort(nanos.begin(), nanos.end());
    auto at = [&](double q) {
        const auto index = static_cast<std::size_t>(q * static_cast<double>(nanos.size() - 1));
        return static_cast<double>(nanos[index]) / 1000.0;
    };
    state.counters["p50_us"] = at(0.50);
    state.counters["p90_us"] = at(0.90);
    state.counters["p99_us"] = at(0.99);
    state.counters["p999_us"] = at(0.999);
    state.counters["max_us"] = static_cast<double>(nanos.back()) / 1000.0;
}

// One hand-off at a time: the next starts once the previous block has run.
template <typename Submit>
void measureHandOffs(benchmark::State& state, Submit submit) {
    std::vector<std::uint64_t> latencies;
    latencies.reserve(1 << 16);
    std::binary_semaphore done{0};
    for (auto _ : state) {
        std::uint64_t latency = 0;
        const std::uint64_t start = MonotonicClock::nowNanos();
        submit([&latency, &done, start] {
            latency = MonotonicClock::nowNanos() - start;
            done.release();
        });
        done.acquire();
        latencies.push_back(latency);
    }
    reportPercentiles(state, latencies);
}

void RunLoopPerform(benchmark::State& state) {
    ravolet::platform::RunLoopThread thread("bench.runloop", ravolet::platform::ThreadPriority::userInteractive, 0);
    thread.start();
    auto loop = thread.runLoop();
    measureHandOffs(state, [&](auto block) { loop->perform(std::move(block)); });
}
BENCHMARK(RunLoopPerform)->UseRealTime();

void HIDPPRunLoopPerform(benchmark::State& state) {
    auto& hid = ravolet::HIDPPRunLoop::shared();
    measureHandOffs(state, [&](auto block) { hid.perform(std::move(block)); });
}
BENCHMARK(HIDPPRunLoopPerform)->UseRealTime();

void SerialQueueAsync(benchmark::State& state) {
    ravolet::platform::SerialQueue queue("bench.queue", ravolet::platform::QueuePriority::userInteractive);
    measureHandOffs(state, [&](auto block) { queue.async(std::move(block)); });
}
BENCHMARK(SerialQueueAsync)->UseRealTime();

// How long after its deadline a block scheduled `delay` ahead starts.
template <typename Schedule>
void measureLateness(benchmark::State& state, Schedule schedule) {
    const auto delay = static_cast<std::uint64_t>(state.range(0)) * 1000; // µs → ns
    std::vector<std::uint64_t> lateness;
    std::binary_semaphore done{0};
    bool early = false;
    for (auto _ : state) {
        std::uint64_t late = 0;
        const std::uint64_t deadline = MonotonicClock::nowNanos() + delay;
        schedule(deadline, [&late, &early, &done, deadline] {
            const std::uint64_t now = MonotonicClock::nowNanos();
            if (now < deadline) early = true;
            late = now >= deadline ? now - deadline : 0;
            done.release();
        });
        done.acquire();
        lateness.push_back(late);
    }
    if (early) state.SkipWithError("a block ran before its deadline");
    reportPercentiles(state, lateness);
}

void SerialQueueAsyncAfterLateness(benchmark::State& state) {
    ravolet::platform::SerialQueue queue("bench.after", ravolet::platform::QueuePriority::userInteractive);
    measureLateness(state, [&](std::uint64_t deadline, auto block) { queue.asyncAfter(deadline, std::move(block)); });
}
BENCHMARK(SerialQueueAsyncAfterLateness)->Arg(1000)->Arg(100)->Iterations(1000)->UseRealTime();

void RunLoopTimerLateness(benchmark::State& state) {
    ravolet::platform::RunLoopThread thread("bench.timer", ravolet::platform::ThreadPriority::userInteractive, 0);
    thread.start();
    auto loop = thread.runLoop();
    measureLateness(state, [&](std::uint64_t deadline, auto block) { loop->postAt(deadline, std::move(block)); });
}
BENCHMARK(RunLoopTimerLateness)->Arg(1000)->Iterations(1000)->UseRealTime();

} // namespace
