// The hot path as the event tap sees it: one tapped event of the target mouse
// through the router, the device scope and a pipeline, on the calling thread
// (the tap thread in the program). Posting runs later on the pipelines' queues
// and is not part of it. In the first cases the queues run on virtual time and
// are emptied between batches, outside the measurement; the last case runs the
// scroll pipeline on its serial queue as deployed, with detents paced in real
// time, so that the hand-off to the queue's thread is part of what is timed.
//
// Besides the benchmark's own mean, each run reports the median and the tail
// of the single-event times (p50, p99, p99.9 and the maximum, in nanoseconds)
// and the heap allocations per event made on the calling thread.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "Core/ButtonRouter.hpp"
#include "Core/PointerSettings.hpp"
#include "Core/ScrollSettings.hpp"
#include "Core/ScrollTransformer.hpp"
#include "HIDPlusPlus/HIDPPDeviceMatch.hpp"
#include "Platform/MonotonicClock.hpp"
#include "Platform/Thread.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"
#include "Platform/Simulated/SimulatedDevice.hpp"
#include "Platform/Simulated/SimulatedEventSystem.hpp"
#include "Platform/Simulated/SimulatedPrivateHIDEventSystem.hpp"
#include "RavoletEngine/EventPath/ButtonPipeline.hpp"
#include "RavoletEngine/EventPath/DeviceScope.hpp"
#include "RavoletEngine/EventPath/InputRouter.hpp"
#include "RavoletEngine/EventPath/MacroExecutor.hpp"
#include "RavoletEngine/EventPath/PointerPipeline.hpp"
#include "RavoletEngine/EventPath/PrivateSPI.hpp"
#include "RavoletEngine/EventPath/ScrollPipeline.hpp"

// Heap allocations are counted at malloc, which every operator new of the
// process ends in, so the count holds whichever operator new the executable
// links: per thread (the tap thread's own) and for the whole process.
// Sanitizer builds bring their own malloc: there nothing is counted.
namespace {
thread_local std::uint64_t threadAllocationCount = 0;
std::atomic<std::uint64_t> processAllocationCount{0};
} // namespace
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define RAVOLET_COUNTS_ALLOCATIONS 1
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* malloc(std::size_t size) noexcept {
    ++threadAllocationCount;
    processAllocationCount.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
#else
#define RAVOLET_COUNTS_ALLOCATIONS 0
#endif

namespace ravolet {
namespace {

namespace Types = platform::EventTypes;
namespace Fields = platform::EventFields;

class DiscardingPoster final : public EventPosting {
public:
    void postScrollStep(ScrollAxis, std::int64_t, ScrollPhase, ModifierFlags) override {}
    void postKey(std::uint16_t, bool, ModifierFlags) override {}
    void postMouseButton(std::int64_t, bool) override {}
};

class DiscardingSideEffects final : public MacroSideEffects {
public:
    void requestDPI(std::int64_t) override {}
    void launchApp(const std::string&) override {}
    void runShortcut(const std::string&) override {}
};

struct HotPath {
    std::shared_ptr<platform::ManualScheduler> queue = std::make_shared<platform::ManualScheduler>(1'000'000'000);
    // Where the scroll pipeline posts: the virtual-time queue, or (empty) its
    // own serial queue as deployed.
    std::shared_ptr<platform::Scheduler> scrollQueue = queue;
    std::shared_ptr<platform::SimulatedPrivateHIDEventSystem> hid =
        std::make_shared<platform::SimulatedPrivateHIDEventSystem>();
    platform::SimulatedDevice mouse = platform::SimulatedDevice::targetMouse();
    std::shared_ptr<DeviceScope> scope;
    std::shared_ptr<ScrollPipeline> scroll;
    std::shared_ptr<PointerPipeline> pointer;
    std::shared_ptr<InputRouter> router;

    HotPath() : HotPath(true) {}
    explicit HotPath(bool scrollOnVirtualTime) {
        if (!scrollOnVirtualTime) scrollQueue = nullptr;
        hid->attach(mouse);
        hid->attach(platform::SimulatedDevice::trackpad());
        hid->attach(platform::SimulatedDevice::otherMouse());
        scope = DeviceScope::create({HIDPPDeviceMatch::g502X}, std::make_shared<PrivateSPI>(hid), queue);
        queue->runUntilIdle();

        ScrollSettings smoothing;
        smoothing.isEnabled = true;
        auto poster = std::make_shared<DiscardingPoster>();
        scroll = ScrollPipeline::create(smoothing, poster, scrollQueue);
        auto executor = MacroExecutor::create(poster, std::make_shared<DiscardingSideEffects>(), queue);
        auto buttons = std::make_shared<ButtonPipeline>(ButtonRouter({}, 1600), executor);
        pointer = std::make_shared<PointerPipeline>(PointerSettings{true, 1600, PointerCurve::desktop}, false);
        router = std::make_shared<InputRouter>(scope, scroll, buttons, pointer);
    }

    platform::Event hardwareEvent(platform::Event event) const {
        event.setHIDSenderID(mouse.registryID);
        return event;
    }
};

// The single-event times and the calling thread's allocations of one run.
struct Samples {
    std::vector<std::uint64_t> nanos;
    std::uint64_t allocations = 0;
    std::uint64_t events = 0;

    explicit Samples(std::size_t capacity) { nanos.reserve(capacity); }

    // Routes the event once, timed.
    void route(HotPath& path, platform::Event& event) {
        const auto before = threadAllocationCount;
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(path.router->route(event.type(), event));
        const auto end = std::chrono::steady_clock::now();
        allocations += threadAllocationCount - before;
        if (nanos.size() < nanos.capacity()) {
            nanos.push_back(static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count()));
        }
        ++events;
    }

    void report(benchmark::State& state) {
        std::ranges::sort(nanos);
        const auto at = [&](double q) {
            return nanos.empty() ? 0.0 : static_cast<double>(nanos[std::min(nanos.size() - 1, static_cast<std::size_t>(q * static_cast<double>(nanos.size())))]);
        };
        state.counters["p50_ns"] = at(0.5);
        state.counters["p99_ns"] = at(0.99);
        state.counters["p999_ns"] = at(0.999);
        state.counters["max_ns"] = nanos.empty() ? 0.0 : static_cast<double>(nanos.back());
        if (RAVOLET_COUNTS_ALLOCATIONS) {
            state.counters["allocs_per_event"] = events ? static_cast<double>(allocations) / static_cast<double>(events) : 0.0;
        }
    }
};

// Times `route` once per iteration and reports the distribution.
template <class Prepare, class Between>
void measure(benchmark::State& state, HotPath& path, platform::Event& event, Prepare prepare, Between between) {
    Samples samples(1 << 20);
    for (auto _ : state) {
        prepare(event, samples.events);
        samples.route(path, event);
        if (samples.events % 64 == 0) {
            state.PauseTiming();
            between();
            state.ResumeTiming();
        }
    }
    samples.report(state);
}

void BM_TargetMouseMotionEvent(benchmark::State& state) {
    HotPath path;
    auto event = path.hardwareEvent(platform::SimulatedEventSystem::motionEvent(3, 4));
    measure(
        state, path, event,
        [](platform::Event& e, std::uint64_t n) {
            // 1000 Hz reports; the router rewrote the deltas of the last one.
            e.setTimestamp(2'000'000'000 + n * 1'000'000);
            e.setIntegerValueField(Fields::mouseEventDeltaX, 3);
            e.setIntegerValueField(Fields::mouseEventDeltaY, 4);
        },
        [] {});
}
BENCHMARK(BM_TargetMouseMotionEvent);

void BM_TargetMouseWheelDetent(benchmark::State& state) {
    HotPath path;
    auto event = path.hardwareEvent(platform::SimulatedEventSystem::wheelEvent(1));
    measure(
        state, path, event,
        [&](platform::Event& e, std::uint64_t n) {
            // A detent every 50 ms: each one folds the running glide into its own.
            e.setTimestamp(path.queue->nowNanos() + n * 50'000'000);
        },
        [&] {
            // Let the glides run out so that the queue does not grow.
            path.queue->advance(std::chrono::seconds(10));
            path.scroll->reset();
            path.queue->runUntilIdle();
        });
}
BENCHMARK(BM_TargetMouseWheelDetent);

// A detent on the tap thread with the scroll pipeline on its serial queue, as
// deployed, while the queue's thread posts the glides' steps. The thread sleeps
// `range(0)` µs before each timed call, as the tap thread waits for events
// (2 ms: a wheel spinning freely; 50 ms: quick flicks), so the call meets
// caches that others used meanwhile. Calls alternate between a detent through
// the router (every detent supersedes the glide before it) and, as the
// baseline of the same run, the scroll transformer alone on a transformer of
// its own fed the same detents: the part of a detent that is the core
// transform, in the same conditions (`transform_p50_ns`, `transform_p99_ns`).
// Reports the tap thread's time and allocations per detent, and the
// allocations of the whole process (the queue's thread included) per detent.
void BM_TargetMouseWheelDetentOnTheScrollQueue(benchmark::State& state) {
    // This thread plays the tap thread, with its priority.
    platform::setCurrentThreadPriority(platform::ThreadPriority::userInteractive);
    HotPath path(false);
    auto event = path.hardwareEvent(platform::SimulatedEventSystem::wheelEvent(1));
    ScrollSettings smoothing;
    smoothing.isEnabled = true;
    ScrollTransformer reference(smoothing);
    std::vector<std::uint64_t> transformNanos;
    transformNanos.reserve(1 << 16);
    const auto pace = std::chrono::microseconds(state.range(0));
    Samples samples(1 << 16);
    std::uint64_t processAllocations = 0;
    auto next = std::chrono::steady_clock::now();
    bool routeNext = true;
    for (auto _ : state) {
        next += pace;
        std::this_thread::sleep_until(next);
        const std::uint64_t now = platform::MonotonicClock::nowNanos();
        if (routeNext) {
            event.setTimestamp(now);
            const auto before = processAllocationCount.load(std::memory_order_relaxed);
            samples.route(path, event);
            processAllocations += processAllocationCount.load(std::memory_order_relaxed) - before;
        } else {
            const ScrollInput input{1, ScrollAxis::vertical, {}, static_cast<double>(now) / 1e6, DeviceID{1}};
            const auto start = std::chrono::steady_clock::now();
            benchmark::DoNotOptimize(reference.transform(input, std::nullopt));
            const auto end = std::chrono::steady_clock::now();
            transformNanos.push_back(static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count()));
        }
        routeNext = !routeNext;
    }
    path.scroll->reset();
    path.scroll->drain();
    samples.report(state);
    std::ranges::sort(transformNanos);
    if (!transformNanos.empty()) {
        state.counters["transform_p50_ns"] = static_cast<double>(transformNanos[transformNanos.size() / 2]);
        state.counters["transform_p99_ns"] = static_cast<double>(transformNanos[transformNanos.size() * 99 / 100]);
    }
    if (RAVOLET_COUNTS_ALLOCATIONS && samples.events) {
        state.counters["process_allocs_per_event"] =
            static_cast<double>(processAllocations) / static_cast<double>(samples.events);
    }
    platform::setCurrentThreadPriority(platform::ThreadPriority::defaultPriority);
}
BENCHMARK(BM_TargetMouseWheelDetentOnTheScrollQueue)->Arg(2000)->Iterations(4000)->UseRealTime();
BENCHMARK(BM_TargetMouseWheelDetentOnTheScrollQueue)->Arg(50000)->Iterations(400)->UseRealTime();

} // namespace
} // namespace ravolet
