// Cross-thread hand-off latency of the runtime's executors (from the call on
// the benchmark thread to the first instruction of the block on the target
// thread), and how late deadline blocks run. Each figure is reported as
// percentiles over every hand-off of the run, in microseconds.
//
// The hand-off benchmarks carry their own baseline: a bare condition-variable
// hand-off to a sleeping std::thread, measured in the same iterations,
// alternating with the executor's own hand-off, so that both see the same load
// on the machine. `ratio_p50` and `ratio_p99` compare the two.
//
// Where the woken thread runs decides most of a hand-off's cost: on the
// caller's own CPU it is a context switch; on another, idle CPU it also pays
// for waking that CPU (an inter-processor interrupt, which is dear in a
// virtual machine). Left to the kernel, the executor's thread and the
// baseline's may land differently, so each hand-off benchmark runs three ways:
// placed by the kernel (placement:0), both threads pinned to the caller's CPU
// (placement:1), and both pinned to one other CPU (placement:2). The pinned
// ratios are what compares the executors with the floor; the kernel-placed
// case shows where the kernel happened to put the threads in that run, and
// its ratio says as much about that as about the executor (its label says so).

#include <benchmark/benchmark.h>

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <semaphore>
#include <thread>
#include <vector>

#include "HIDPlusPlus/HIDPPRunLoop.hpp"
#include "Platform/MonotonicClock.hpp"
#include "Platform/RunLoopThread.hpp"
#include "Platform/SerialQueue.hpp"
#include "Platform/Task.hpp"

namespace {

using ravolet::platform::MonotonicClock;
using ravolet::platform::Task;

double percentile(std::vector<std::uint64_t>& nanos, double q) {
    if (nanos.empty()) return 0;
    std::sort(nanos.begin(), nanos.end());
    const auto index = static_cast<std::size_t>(q * static_cast<double>(nanos.size() - 1));
    return static_cast<double>(nanos[index]) / 1000.0;
}

void reportPercentiles(benchmark::State& state, std::vector<std::uint64_t>& nanos, const std::string& prefix = "") {
    if (nanos.empty()) return;
    state.counters[prefix + "p50_us"] = percentile(nanos, 0.50);
    state.counters[prefix + "p90_us"] = percentile(nanos, 0.90);
    state.counters[prefix + "p99_us"] = percentile(nanos, 0.99);
    state.counters[prefix + "max_us"] = static_cast<double>(nanos.back()) / 1000.0;
}

// The floor: one thread asleep on a condition variable, one slot, the notify
// after the unlock. Nothing of ours is involved but the priority hint, which
// it takes from the executor it is compared with (it changes how the kernel
// schedules the thread).
class BareHandOff {
public:
    explicit BareHandOff(ravolet::platform::ThreadPriority priority)
        : thread_([this, priority] {
              ravolet::platform::setCurrentThreadPriority(priority);
              run();
          }) {}
    ~BareHandOff() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_one();
        thread_.join();
    }
    void post(Task task) {
        {
            std::lock_guard lock(mutex_);
            slot_ = std::move(task);
        }
        changed_.notify_one();
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return slot_.has_value() || stopping_; });
            if (stopping_) return;
            Task task = std::move(*slot_);
            slot_.reset();
            lock.unlock();
            task();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Task> slot_;
    bool stopping_ = false;
    std::thread thread_;
};

// Pins the calling thread to one CPU, or lets it run anywhere again.
void pinCurrentThread(std::optional<int> cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    const int count = static_cast<int>(std::thread::hardware_concurrency());
    for (int i = 0; i < count; ++i)
        if (!cpu || *cpu == i) CPU_SET(i, &set);
    pthread_setaffinity_np(pthread_self(), sizeof(set), &set);
}

// One timed hand-off: returns the nanoseconds from the submit to the block's
// first instruction, once the block has run.
template <typename Submit>
std::uint64_t handOff(Submit& submit, std::binary_semaphore& done) {
    std::uint64_t latency = 0;
    const std::uint64_t start = MonotonicClock::nowNanos();
    submit([&latency, &done, start] {
        latency = MonotonicClock::nowNanos() - start;
        done.release();
    });
    done.acquire();
    return latency;
}

// One hand-off at a time, the next once the previous block has run; each
// iteration makes one through the executor and one through the baseline.
template <typename Submit>
void measureAgainstBaseline(benchmark::State& state, ravolet::platform::ThreadPriority priority, Submit submit) {
    BareHandOff bare(priority);
    auto submitBare = [&bare](Task task) { bare.post(std::move(task)); };
    std::vector<std::uint64_t> ours;
    std::vector<std::uint64_t> baseline;
    ours.reserve(1 << 16);
    baseline.reserve(1 << 16);
    std::binary_semaphore done{0};
    auto pinTargets = [&](std::optional<int> cpu) {
        submit([&done, cpu] {
            pinCurrentThread(cpu);
            done.release();
        });
        done.acquire();
        submitBare([&done, cpu] {
            pinCurrentThread(cpu);
            done.release();
        });
        done.acquire();
    };
    const auto placement = state.range(0);
    state.SetLabel(placement == 0   ? "threads placed by the kernel (not comparable; see the pinned runs)"
                   : placement == 1 ? "pinned: both threads on the caller's CPU"
                                    : "pinned: both threads on one other CPU");
    if (placement != 0) {
        const int here = sched_getcpu();
        const int count = static_cast<int>(std::thread::hardware_concurrency());
        pinCurrentThread(here);
        pinTargets(placement == 1 ? here : (here + 1) % count);
    }
    bool baselineFirst = false;
    for (auto _ : state) {
        // Alternating which goes first keeps any after-effect of one hand-off
        // from landing on the same side every time.
        baselineFirst = !baselineFirst;
        if (baselineFirst) baseline.push_back(handOff(submitBare, done));
        ours.push_back(handOff(submit, done));
        if (!baselineFirst) baseline.push_back(handOff(submitBare, done));
    }
    if (placement != 0) {
        pinTargets(std::nullopt);
        pinCurrentThread(std::nullopt);
    }
    reportPercentiles(state, ours);
    reportPercentiles(state, baseline, "bare_");
    const double bare50 = percentile(baseline, 0.50);
    const double bare99 = percentile(baseline, 0.99);
    if (bare50 > 0) state.counters["ratio_p50"] = percentile(ours, 0.50) / bare50;
    if (bare99 > 0) state.counters["ratio_p99"] = percentile(ours, 0.99) / bare99;
}

void RunLoopPerform(benchmark::State& state) {
    ravolet::platform::RunLoopThread thread("bench.runloop", ravolet::platform::ThreadPriority::userInteractive, 0);
    thread.start();
    auto loop = thread.runLoop();
    measureAgainstBaseline(state, ravolet::platform::ThreadPriority::userInteractive,
                           [&](Task block) { loop->perform(std::move(block)); });
}
BENCHMARK(RunLoopPerform)->DenseRange(0, 2)->ArgName("placement")->UseRealTime();

void HIDPPRunLoopPerform(benchmark::State& state) {
    auto& hid = ravolet::HIDPPRunLoop::shared();
    measureAgainstBaseline(state, ravolet::platform::ThreadPriority::userInitiated,
                           [&](Task block) { hid.perform(std::move(block)); });
}
BENCHMARK(HIDPPRunLoopPerform)->DenseRange(0, 2)->ArgName("placement")->UseRealTime();

void SerialQueueAsync(benchmark::State& state) {
    ravolet::platform::SerialQueue queue("bench.queue", ravolet::platform::QueuePriority::userInteractive);
    measureAgainstBaseline(state, ravolet::platform::QueuePriority::userInteractive,
                           [&](Task block) { queue.async(std::move(block)); });
}
BENCHMARK(SerialQueueAsync)->DenseRange(0, 2)->ArgName("placement")->UseRealTime();

// The same hand-off while the queue also holds a deadline far ahead (a glide's
// later step, a request's time-out): the worker sleeps on a timed wait.
void SerialQueueAsyncWithTimerPending(benchmark::State& state) {
    ravolet::platform::SerialQueue queue("bench.queue", ravolet::platform::QueuePriority::userInteractive);
    auto far = queue.asyncAfter(MonotonicClock::nowNanos() + 3'600'000'000'000ULL, [] {});
    measureAgainstBaseline(state, ravolet::platform::QueuePriority::userInteractive,
                           [&](Task block) { queue.async(std::move(block)); });
    far.cancel();
}
BENCHMARK(SerialQueueAsyncWithTimerPending)->DenseRange(0, 2)->ArgName("placement")->UseRealTime();

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
    measureLateness(state, [&](std::uint64_t deadline, Task block) { queue.asyncAfter(deadline, std::move(block)); });
}
BENCHMARK(SerialQueueAsyncAfterLateness)->Arg(1000)->Arg(100)->Iterations(1000)->UseRealTime();

void RunLoopTimerLateness(benchmark::State& state) {
    ravolet::platform::RunLoopThread thread("bench.timer", ravolet::platform::ThreadPriority::userInteractive, 0);
    thread.start();
    auto loop = thread.runLoop();
    measureLateness(state, [&](std::uint64_t deadline, Task block) { loop->postAt(deadline, std::move(block)); });
}
BENCHMARK(RunLoopTimerLateness)->Arg(1000)->Iterations(1000)->UseRealTime();

} // namespace
