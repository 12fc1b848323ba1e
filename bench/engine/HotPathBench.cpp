// The hot path as the event tap sees it: one tapped event of the target mouse
// through the tap's callback (with its budget timing), the router, the device
// scope and a pipeline. Posting runs later on the pipelines' queues and is not
// part of it. In the first cases the callback is called on the benchmark's
// thread (the tap thread in the program) and the queues run on virtual time,
// emptied between batches outside the measurement. The cases "OnRealThreads"
// and the last one run the scroll pipeline on its serial queue as deployed:
// the first hands detents to the callback on the benchmark's thread at their
// real times, the last injects them through the event system into a running
// tap, so that the tap thread's wake-up and the hand-off to the queue's
// thread are part of what is timed.
//
// Besides the benchmark's own mean, each run reports the median and the tail
// of the single-event times (p50, p99, p99.9 and the maximum, in nanoseconds)
// and the heap allocations per event made on the calling thread.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <vector>

#include "Core/ButtonRouter.hpp"
#include "Core/PointerSettings.hpp"
#include "Core/ScrollSettings.hpp"
#include "Core/ScrollTransformer.hpp"
#include "HIDPlusPlus/HIDPPDeviceMatch.hpp"
#include "Platform/MonotonicClock.hpp"
#include "Platform/RunLoop.hpp"
#include "Platform/Thread.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"
#include "Platform/Simulated/SimulatedDevice.hpp"
#include "Platform/Simulated/SimulatedEventSystem.hpp"
#include "Platform/Simulated/SimulatedPrivateHIDEventSystem.hpp"
#include "RavoletEngine/EventPath/ButtonPipeline.hpp"
#include "RavoletEngine/EventPath/DeviceScope.hpp"
#include "RavoletEngine/EventPath/EventTapController.hpp"
#include "RavoletEngine/EventPath/InputRouter.hpp"
#include "RavoletEngine/EventPath/MacroExecutor.hpp"
#include "RavoletEngine/EventPath/PipelineQueue.hpp"
#include "RavoletEngine/EventPath/PointerPipeline.hpp"
#include "RavoletEngine/EventPath/PrivateSPI.hpp"
#include "RavoletEngine/EventPath/ScrollPipeline.hpp"

// Heap allocations are counted at malloc, which every operator new of the
// process ends in, so the count holds whichever operator new the executable
// links: per thread (the tap thread's own) and for the whole process.
// Sanitizer builds bring their own malloc: there nothing is counted.
namespace {
thread_local std::uint64_t threadAllocationCount = 0;
thread_local std::uint64_t threadAllocatedBytes = 0;
std::atomic<std::uint64_t> processAllocationCount{0};
} // namespace
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define RAVOLET_COUNTS_ALLOCATIONS 1
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* malloc(std::size_t size) noexcept {
    ++threadAllocationCount;
    threadAllocatedBytes += size;
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
    void postScrollStep(ScrollAxis, std::int64_t, ScrollPhase, ModifierFlags, std::int64_t) override {
        scrollSteps.fetch_add(1, std::memory_order_relaxed);
    }
    void postKey(std::uint16_t, bool, ModifierFlags) override {}
    void postMouseButton(std::int64_t, bool) override {}

    std::atomic<std::uint64_t> scrollSteps{0};
};

// The scroll pipeline's queue, counting how often the pipeline's alarm runs
// there: each run is a wake-up of the queue for glide steps.
class WakeCountingQueue final : public platform::Scheduler {
public:
    explicit WakeCountingQueue(std::shared_ptr<platform::Scheduler> queue) : queue_(std::move(queue)) {}
    void post(platform::Task task) override { queue_->post(std::move(task)); }
    bool isCurrent() const override { return queue_->isCurrent(); }
    std::uint64_t nowNanos() const override { return queue_->nowNanos(); }
    platform::TaskHandle postAt(std::uint64_t deadline, platform::Task task) override {
        return queue_->postAt(deadline, std::move(task));
    }
    std::unique_ptr<platform::Alarm> makeAlarm(platform::Alarm::Handler handler) override {
        return queue_->makeAlarm([this, handler = std::move(handler)]() mutable {
            wakeUps.fetch_add(1, std::memory_order_relaxed);
            handler();
        });
    }

    std::atomic<std::uint64_t> wakeUps{0};

private:
    const std::shared_ptr<platform::Scheduler> queue_;
};

class DiscardingSideEffects final : public MacroSideEffects {
public:
    void requestDPI(std::int64_t) override {}
    void launchApp(const std::string&) override {}
    void runShortcut(const std::string&) override {}
};

// The event path as the engine builds it. Its tap controller is not started
// unless a case asks for it: the cases that call its callback directly play
// the tap thread on the benchmark's thread.
struct HotPath {
    std::shared_ptr<platform::ManualScheduler> queue = std::make_shared<platform::ManualScheduler>(1'000'000'000);
    // Where the scroll pipeline posts: the virtual-time queue, or its own
    // serial queue as deployed.
    std::shared_ptr<WakeCountingQueue> scrollQueue;
    std::shared_ptr<DiscardingPoster> poster = std::make_shared<DiscardingPoster>();
    std::shared_ptr<platform::SimulatedEventSystem> events = std::make_shared<platform::SimulatedEventSystem>();
    std::shared_ptr<platform::SimulatedPrivateHIDEventSystem> hid =
        std::make_shared<platform::SimulatedPrivateHIDEventSystem>();
    platform::SimulatedDevice mouse = platform::SimulatedDevice::targetMouse();
    std::shared_ptr<DeviceScope> scope;
    std::shared_ptr<ScrollPipeline> scroll;
    std::shared_ptr<PointerPipeline> pointer;
    std::shared_ptr<InputRouter> router;
    std::shared_ptr<EventTapController> tap;

    HotPath() : HotPath(true) {}
    explicit HotPath(bool scrollOnVirtualTime, ScrollSettings smoothing = defaultSmoothing(),
                     EventTapController::Handler handler = nullptr) {
        scrollQueue = std::make_shared<WakeCountingQueue>(
            scrollOnVirtualTime ? std::shared_ptr<platform::Scheduler>(queue) : makePipelineQueue(ScrollPipeline::queueLabel));
        hid->attach(mouse);
        hid->attach(platform::SimulatedDevice::trackpad());
        hid->attach(platform::SimulatedDevice::otherMouse());
        scope = DeviceScope::create({HIDPPDeviceMatch::g502X}, std::make_shared<PrivateSPI>(hid), queue);
        queue->runUntilIdle();

        scroll = ScrollPipeline::create(smoothing, poster, scrollQueue);
        auto executor = MacroExecutor::create(poster, std::make_shared<DiscardingSideEffects>(), queue);
        auto buttons = std::make_shared<ButtonPipeline>(ButtonRouter({}, 1600), executor);
        pointer = std::make_shared<PointerPipeline>(PointerSettings{true, 1600, PointerCurve::desktop}, false);
        router = std::make_shared<InputRouter>(scope, scroll, buttons, pointer);
        if (!handler) handler = [r = router](platform::EventType type, platform::Event& event) { return r->route(type, event); };
        tap = EventTapController::create(events, {EventTapController::defaultEventMask, platform::EventTapOptions::defaultTap,
                                                  platform::EventTapLocation::session,
                                                  platform::EventTapPlacement::headInsert, 2.0},
                                         nullptr, std::move(handler));
    }

    static ScrollSettings defaultSmoothing() {
        ScrollSettings smoothing;
        smoothing.isEnabled = true;
        return smoothing;
    }

    platform::Event hardwareEvent(platform::Event event) const {
        event.setHIDSenderID(mouse.registryID);
        return event;
    }

    // The queue's wake-ups for glide steps per step posted: at most 1 when
    // steps due together share a wake-up and nothing else wakes it.
    void reportWakeUps(benchmark::State& state, std::uint64_t detents) const {
        const auto steps = static_cast<double>(poster->scrollSteps.load());
        const auto wakeUps = static_cast<double>(scrollQueue->wakeUps.load());
        if (detents == 0 || steps == 0) return;
        state.counters["steps_per_detent"] = steps / static_cast<double>(detents);
        state.counters["wakeups_per_step"] = wakeUps / steps;
    }

    // The tap's callback, as the system calls it on the tap thread.
    platform::Event* tapped(platform::Event& event) const {
        return EventTapController::callback(nullptr, event.type(), &event, tap.get());
    }
};

// How often a thread of this process named `name` (as the kernel keeps it)
// has gone to sleep: every wake-up follows one.
std::uint64_t sleepsOfThread(std::string_view name) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string line;
        if (!std::getline(comm, line) || line != name) continue;
        std::ifstream status(task.path() / "status");
        while (std::getline(status, line))
            if (line.starts_with("voluntary_ctxt_switches:")) return std::stoull(line.substr(line.find(':') + 1));
    }
    return 0;
}

std::uint64_t nanosSince(std::chrono::steady_clock::time_point start) {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
}

// The value at quantile `q` of the sorted samples.
double at(const std::vector<std::uint64_t>& sorted, double q) {
    if (sorted.empty()) return 0;
    return static_cast<double>(sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(q * static_cast<double>(sorted.size())))]);
}

// The single-event times and the calling thread's allocations of one run.
struct Samples {
    std::vector<std::uint64_t> nanos;
    std::uint64_t allocations = 0;
    std::uint64_t allocatedBytes = 0;
    std::uint64_t events = 0;

    explicit Samples(std::size_t capacity) { nanos.reserve(capacity); }

    // Hands the event to the tap's callback once, timed when `timed` (the
    // two clock readings cost as much as a quarter of a motion event).
    void tap(const HotPath& path, platform::Event& event, bool timed = true) {
        const auto allocationsBefore = threadAllocationCount;
        const auto bytesBefore = threadAllocatedBytes;
        if (timed) {
            const auto start = std::chrono::steady_clock::now();
            benchmark::DoNotOptimize(path.tapped(event));
            const auto elapsed = nanosSince(start);
            if (nanos.size() < nanos.capacity()) nanos.push_back(elapsed);
        } else {
            benchmark::DoNotOptimize(path.tapped(event));
        }
        allocations += threadAllocationCount - allocationsBefore;
        allocatedBytes += threadAllocatedBytes - bytesBefore;
        ++events;
    }

    void report(benchmark::State& state, const std::string& prefix = "") {
        std::ranges::sort(nanos);
        state.counters[prefix + "p50_ns"] = at(nanos, 0.5);
        state.counters[prefix + "p99_ns"] = at(nanos, 0.99);
        state.counters[prefix + "p999_ns"] = at(nanos, 0.999);
        state.counters[prefix + "max_ns"] = nanos.empty() ? 0.0 : static_cast<double>(nanos.back());
        if (RAVOLET_COUNTS_ALLOCATIONS && events) {
            state.counters[prefix + "allocs_per_event"] = static_cast<double>(allocations) / static_cast<double>(events);
            state.counters[prefix + "bytes_per_event"] = static_cast<double>(allocatedBytes) / static_cast<double>(events);
        }
    }
};

// Hands one event to the callback per iteration: the benchmark's time is
// the mean over all of them. The distribution is that of every 16th event,
// timed on its own, so that the clock readings stay out of the mean. Every
// 64 events, `between` runs with the timer paused (pausing costs the timer
// something too, so a case with nothing to do between does not pause).
template <class Prepare, class Between = std::nullptr_t>
void measure(benchmark::State& state, HotPath& path, platform::Event& event, Prepare prepare,
             Between between = nullptr) {
    Samples samples(1 << 20);
    for (auto _ : state) {
        prepare(event, samples.events);
        samples.tap(path, event, samples.events % 16 == 0);
        if constexpr (!std::is_null_pointer_v<Between>) {
            if (samples.events % 64 == 0) {
                state.PauseTiming();
                between();
                state.ResumeTiming();
            }
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
        });
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

// A detent's cost by the length of its glide, warm, on the thread that plays
// the tap thread: `range(0)` ms of glide cut into frames of `range(1)` ms,
// detents `range(2)` ms apart on the wheel's clock (6000: each glide has
// ended before the next detent; 50: a fast streak, where every detent folds
// the running glide into an accelerated one). Beside it, in the same
// iterations, the baseline: a detent with the factory glide (250 ms, 8 ms
// frames) on a path of its own, paced alike (`base_` counters, and
// `ratio_p50`). Reports the time and the bytes allocated per detent.
void BM_WheelDetentByGlideLength(benchmark::State& state) {
    ScrollSettings smoothing = HotPath::defaultSmoothing();
    smoothing.durationMillis = static_cast<double>(state.range(0));
    smoothing.frameIntervalMillis = static_cast<double>(state.range(1));
    const auto pace = static_cast<std::uint64_t>(state.range(2)) * 1'000'000;
    HotPath path(true, smoothing);
    HotPath base(true);
    auto event = path.hardwareEvent(platform::SimulatedEventSystem::wheelEvent(1));
    auto baseEvent = base.hardwareEvent(platform::SimulatedEventSystem::wheelEvent(1));
    Samples samples(1 << 20);
    Samples baseline(1 << 20);
    const auto settle = [](HotPath& p) {
        p.queue->advance(std::chrono::seconds(10));
        p.scroll->reset();
        p.queue->runUntilIdle();
    };
    for (auto _ : state) {
        event.setTimestamp(path.queue->nowNanos());
        samples.tap(path, event);
        state.PauseTiming();
        baseEvent.setTimestamp(base.queue->nowNanos());
        baseline.tap(base, baseEvent);
        // The glides' time is the queue's: it goes on to the next detent.
        path.queue->advance(std::chrono::nanoseconds(pace));
        base.queue->advance(std::chrono::nanoseconds(pace));
        // Glides run out now and then, so that the queues do not grow; the
        // next detent starts a streak afresh.
        if (samples.events % 64 == 0) {
            settle(path);
            settle(base);
        }
        state.ResumeTiming();
    }
    samples.report(state);
    baseline.report(state, "base_");
    path.reportWakeUps(state, samples.events);
    if (state.counters["base_p50_ns"] > 0)
        state.counters["ratio_p50"] = state.counters["p50_ns"] / state.counters["base_p50_ns"];
}
BENCHMARK(BM_WheelDetentByGlideLength)
    ->Args({250, 8, 6000})
    ->Args({5000, 8, 6000})
    ->Args({5000, 1, 6000})
    ->Args({5000, 1, 50})
    ->ArgNames({"glide_ms", "frame_ms", "apart_ms"});

// The same detents on real threads: the scroll pipeline on its serial queue
// as deployed, whose thread posts the glides' steps meanwhile, and the
// detents handed to the tap's callback on this thread (the tap thread in the
// program) at their real times, `range(2)` ms apart, so that what a detent
// costs there includes moving the queue's alarm and waking its thread where
// it must. Its figures (`p50_ns`... per detent, `allocs_per_event` on this
// thread) are the tap thread's real cost; the virtual-time case above has no
// other thread and no wake-up, and says only how the cost grows with the
// glide.
//
// Beside them (`passthrough_p50_ns`...), on a run of its own after the
// detents', paced alike: the same detent through the same path with smooth
// scrolling off, so that it passes through untouched. What a detent costs
// beyond that is the glide's own work. A thread that slept 50 ms meets its
// code and data cold, and then most of what a gliding detent costs is what
// the passing one costs too; 2 ms apart both stay warm.
void BM_WheelDetentByGlideLengthOnRealThreads(benchmark::State& state) {
    ScrollSettings smoothing = HotPath::defaultSmoothing();
    smoothing.durationMillis = static_cast<double>(state.range(0));
    smoothing.frameIntervalMillis = static_cast<double>(state.range(1));
    const auto pace = std::chrono::microseconds(state.range(2) * 1000);
    HotPath path(false, smoothing);
    ScrollSettings off = smoothing;
    off.isEnabled = false;
    HotPath passing(false, off);
    auto event = path.hardwareEvent(platform::SimulatedEventSystem::wheelEvent(1));
    auto passingEvent = passing.hardwareEvent(platform::SimulatedEventSystem::wheelEvent(1));
    platform::setCurrentThreadPriority(platform::ThreadPriority::userInteractive);
    Samples samples(1 << 16);
    Samples passed(1 << 16);
    auto next = std::chrono::steady_clock::now();
    for (auto _ : state) {
        next += pace;
        std::this_thread::sleep_until(next);
        event.setTimestamp(platform::MonotonicClock::nowNanos());
        samples.tap(path, event);
    }
    for (std::uint64_t i = 0; i < samples.events; ++i) {
        next = std::max(next, std::chrono::steady_clock::now()) + pace;
        std::this_thread::sleep_until(next);
        passingEvent.setTimestamp(platform::MonotonicClock::nowNanos());
        passed.tap(passing, passingEvent);
    }
    platform::setCurrentThreadPriority(platform::ThreadPriority::defaultPriority);
    path.scroll->reset();
    path.scroll->drain();
    samples.report(state);
    passed.report(state, "passthrough_");
    path.reportWakeUps(state, samples.events);
}
BENCHMARK(BM_WheelDetentByGlideLengthOnRealThreads)
    ->Args({250, 8, 2})
    ->Args({5000, 1, 2})
    ->ArgNames({"glide_ms", "frame_ms", "apart_ms"})
    ->Iterations(2000)
    ->UseRealTime();
BENCHMARK(BM_WheelDetentByGlideLengthOnRealThreads)
    ->Args({250, 8, 50})
    ->Args({5000, 1, 50})
    ->ArgNames({"glide_ms", "frame_ms", "apart_ms"})
    ->Iterations(200)
    ->UseRealTime();

// A wheel detent as it really arrives: injected through the event system into
// the running tap (the event system hands it to the tap thread's run loop, as
// a reader of the device would), routed by the tap's callback on the tap
// thread with the scroll pipeline on its serial queue as deployed, while the
// queue's thread posts the glides' steps. The benchmark's thread sleeps
// `range(0)` µs before each detent (2 ms: a wheel spinning freely; 50 ms:
// quick flicks), so that the tap thread wakes for each one and meets caches
// that others used meanwhile; every detent supersedes the glide before it.
// The glides last `range(1)` ms in frames of `range(2)` ms (250 and 8 are
// the factory's; 5000 and 1 the longest and finest the settings file takes).
//
// Reports, per detent: from the injection to the end of the tap's handler
// (`p50_ns`...), to its start (`wake_p50_ns`...: the tap thread's wake-up) and
// the handler itself (`handler_p50_ns`...), with the tap thread's allocations.
// The baseline (`transform_p50_ns`, `transform_p99_ns`) is the part of a
// detent that is the core transform: the scroll transformer alone on the
// benchmark's thread, fed the same detents after the same sleeps, on a run of
// its own after the detents' (so that nothing of the detents' run warms it).
// Beside them, the scroll queue's runs for glide steps, per second and per
// step posted (`wakeups_per_step`: at most 1 when no run is wasted), how
// often its thread woke at all (`thread_wakeups_per_step`), and the steps
// posted per second against the frame grid's rate (`grid_ratio`: about 1
// when every frame carries a step, also while detents come faster than the
// frames).
void BM_WheelDetentThroughTheTap(benchmark::State& state) {
    // Per detent, on the tap thread: when the handler began and ended, and
    // what it allocated there.
    struct Probe {
        std::atomic<std::uint64_t> begin{0};
        std::atomic<std::uint64_t> end{0};
        std::uint64_t allocations = 0;
        std::uint64_t bytes = 0;
    };
    auto probe = std::make_shared<Probe>();
    auto router = std::make_shared<std::shared_ptr<InputRouter>>();
    ScrollSettings smoothing = HotPath::defaultSmoothing();
    smoothing.durationMillis = static_cast<double>(state.range(1));
    smoothing.frameIntervalMillis = static_cast<double>(state.range(2));
    HotPath path(false, smoothing,
                 [probe, router](platform::EventType type, platform::Event& event) {
                     const std::uint64_t begin = platform::MonotonicClock::nowNanos();
                     const auto allocations = threadAllocationCount;
                     const auto bytes = threadAllocatedBytes;
                     const TapVerdict verdict = (*router)->route(type, event);
                     probe->allocations += threadAllocationCount - allocations;
                     probe->bytes += threadAllocatedBytes - bytes;
                     probe->begin.store(begin, std::memory_order_relaxed);
                     probe->end.store(platform::MonotonicClock::nowNanos(), std::memory_order_release);
                     return verdict;
                 });
    *router = path.router;
    if (!path.tap->start()) return state.SkipWithError("the tap did not start");
    // This thread plays the source of the events.
    platform::setCurrentThreadPriority(platform::ThreadPriority::userInteractive);
    const auto pace = std::chrono::microseconds(state.range(0));
    std::vector<std::uint64_t> latency;
    std::vector<std::uint64_t> wake;
    std::vector<std::uint64_t> handler;
    latency.reserve(1 << 16);
    wake.reserve(1 << 16);
    handler.reserve(1 << 16);
    // The scroll queue's thread, as the kernel names it.
    const std::string queueThread = std::string(ScrollPipeline::queueLabel).substr(0, platform::kernelThreadNameLimit);
    const std::uint64_t sleepsBefore = sleepsOfThread(queueThread);
    auto next = std::chrono::steady_clock::now();
    const auto began = next;
    std::uint64_t detents = 0;
    bool lost = false;
    for (auto _ : state) {
        next += pace;
        std::this_thread::sleep_until(next);
        probe->end.store(0, std::memory_order_relaxed);
        const std::uint64_t injected = platform::MonotonicClock::nowNanos();
        path.events->inject(path.mouse, platform::SimulatedEventSystem::wheelEvent(1));
        if (!path.events->waitUntilIdle()) lost = true;
        const std::uint64_t end = probe->end.load(std::memory_order_acquire);
        if (end == 0) {
            lost = true;
            continue;
        }
        const std::uint64_t begin = probe->begin.load(std::memory_order_relaxed);
        latency.push_back(end - injected);
        wake.push_back(begin - injected);
        handler.push_back(end - begin);
        ++detents;
        if (detents % 256 == 0) path.events->clearLogs();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const auto wakeUps = static_cast<double>(path.scrollQueue->wakeUps.load());
    const auto steps = static_cast<double>(path.poster->scrollSteps.load());
    const auto sleeps = static_cast<double>(sleepsOfThread(queueThread) - sleepsBefore);
    path.tap->stop();
    path.scroll->reset();
    path.scroll->drain();
    if (lost) state.SkipWithError("a detent did not reach the tap's handler");
    state.counters["wakeups_per_s"] = wakeUps / seconds;
    state.counters["steps_per_s"] = steps / seconds;
    // Against the frame grid's own rate: about 1 while detents come faster
    // than the frames and every frame carries a step.
    state.counters["grid_ratio"] = steps / seconds * static_cast<double>(state.range(2)) / 1000.0;
    if (steps > 0) state.counters["wakeups_per_step"] = wakeUps / steps;
    if (steps > 0) state.counters["thread_wakeups_per_step"] = sleeps / steps;

    // The baseline's own run, after the same sleeps.
    ScrollTransformer reference(smoothing);
    std::vector<std::uint64_t> transform;
    transform.reserve(latency.size());
    next = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < latency.size(); ++i) {
        next += pace;
        std::this_thread::sleep_until(next);
        const ScrollInput input{1, ScrollAxis::vertical, {}, platform::MonotonicClock::now(), DeviceID{1}};
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(reference.transform(input, std::nullopt));
        transform.push_back(nanosSince(start));
    }
    platform::setCurrentThreadPriority(platform::ThreadPriority::defaultPriority);

    for (auto* samples : {&latency, &wake, &handler, &transform}) std::ranges::sort(*samples);
    state.counters["p50_ns"] = at(latency, 0.5);
    state.counters["p99_ns"] = at(latency, 0.99);
    state.counters["wake_p50_ns"] = at(wake, 0.5);
    state.counters["wake_p99_ns"] = at(wake, 0.99);
    state.counters["handler_p50_ns"] = at(handler, 0.5);
    state.counters["handler_p99_ns"] = at(handler, 0.99);
    state.counters["transform_p50_ns"] = at(transform, 0.5);
    state.counters["transform_p99_ns"] = at(transform, 0.99);
    if (RAVOLET_COUNTS_ALLOCATIONS && detents) {
        state.counters["tap_allocs_per_event"] = static_cast<double>(probe->allocations) / static_cast<double>(detents);
        state.counters["tap_bytes_per_event"] = static_cast<double>(probe->bytes) / static_cast<double>(detents);
    }
}
BENCHMARK(BM_WheelDetentThroughTheTap)
    ->Args({2000, 250, 8})
    ->ArgNames({"apart_us", "glide_ms", "frame_ms"})
    ->Iterations(4000)
    ->UseRealTime();
BENCHMARK(BM_WheelDetentThroughTheTap)
    ->Args({50000, 250, 8})
    ->Args({50000, 5000, 1})
    ->ArgNames({"apart_us", "glide_ms", "frame_ms"})
    ->Iterations(400)
    ->UseRealTime();

} // namespace
} // namespace ravolet
