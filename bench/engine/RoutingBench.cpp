// The cost of one tapped event on the event path: the tap callback (with its
// budget timing), the router and the device scope. Each case reports the
// median and tail of the per-event time and the heap allocations per event.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "Platform/MonotonicClock.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"
#include "Platform/Simulated/SimulatedEventSystem.hpp"
#include "Platform/Simulated/SimulatedPrivateHIDEventSystem.hpp"
#include "RavoletEngine/EventPath/EventTapController.hpp"
#include "RavoletEngine/EventPath/InputRouter.hpp"
#include "RavoletEngine/EventPath/PointerPipeline.hpp"
#include "RavoletEngine/EventPath/RavoletEventTag.hpp"

namespace {
std::atomic<std::uint64_t> allocations{0};
}

// Every heap allocation of the process is counted. (The compiler cannot see
// that these operators pair malloc with free themselves.)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace ravolet;
using namespace ravolet::platform;

struct NoScroll final : ScrollTarget {
    ScrollDisposition handle(const ScrollInput&) override { return ScrollDisposition::passThrough; }
    void reset() override {}
};
struct NoButtons final : ButtonTarget {
    ButtonDisposition handle(const ButtonEvent&) override { return ButtonDisposition::passThrough; }
    void reset() override {}
};

// The event path as the engine builds it, without the tap thread: the
// callback is called directly, as the system would on that thread.
struct Path {
    std::shared_ptr<SimulatedEventSystem> system = std::make_shared<SimulatedEventSystem>();
    std::shared_ptr<SimulatedPrivateHIDEventSystem> hid = std::make_shared<SimulatedPrivateHIDEventSystem>();
    std::shared_ptr<ManualScheduler> queue = std::make_shared<ManualScheduler>();
    SimulatedDevice target = SimulatedDevice::targetMouse();
    SimulatedDevice other = SimulatedDevice::otherMouse();
    std::shared_ptr<DeviceScope> scope;
    std::shared_ptr<InputRouter> router;
    std::shared_ptr<EventTapController> tap;

    Path() {
        hid->attach(target);
        hid->attach(other);
        scope = DeviceScope::create({HIDPPDeviceMatch::g502X}, std::make_shared<PrivateSPI>(hid), queue);
        queue->runUntilIdle();
        PointerSettings pointerSettings;
        pointerSettings.isEnabled = true;
        router = std::make_shared<InputRouter>(scope, std::make_shared<NoScroll>(), std::make_shared<NoButtons>(),
                                               std::make_shared<PointerPipeline>(pointerSettings, false));
        tap = EventTapController::create(
            system,
            {EventTapController::defaultEventMask, EventTapOptions::defaultTap, EventTapLocation::session,
             EventTapPlacement::headInsert, 2.0},
            nullptr, [r = router](EventType type, Event& event) { return r->route(type, event); });
    }
};

void run(benchmark::State& state, Event event) {
    Path path;
    std::vector<double> nanos;
    nanos.reserve(1 << 22);
    std::uint64_t timestamp = MonotonicClock::nowNanos();
    const auto before = allocations.load();
    std::int64_t events = 0;
    for (auto _ : state) {
        timestamp += 1'000'000; // one event per millisecond of event time
        event.setTimestamp(timestamp);
        const auto start = MonotonicClock::ticks();
        Event* out = EventTapController::callback(nullptr, event.type(), &event, path.tap.get());
        const auto end = MonotonicClock::ticks();
        benchmark::DoNotOptimize(out);
        if (nanos.size() < nanos.capacity()) nanos.push_back(MonotonicClock::nanoseconds(end - start));
        ++events;
    }
    const auto allocs = allocations.load() - before;
    std::sort(nanos.begin(), nanos.end());
    const auto at = [&](double q) { return nanos.empty() ? 0.0 : nanos[static_cast<std::size_t>(q * (nanos.size() - 1))]; };
    state.counters["p50_ns"] = at(0.5);
    state.counters["p99_ns"] = at(0.99);
    state.counters["p999_ns"] = at(0.999);
    state.counters["allocs_per_event"] = events ? static_cast<double>(allocs) / static_cast<double>(events) : 0.0;
}

Event hardware(const SimulatedDevice& device, Event event) {
    event.setHIDSenderID(device.registryID);
    return event;
}

void BM_RouteForeignDeviceWheel(benchmark::State& state) {
    run(state, hardware(SimulatedDevice::otherMouse(), SimulatedEventSystem::wheelEvent(1)));
}
BENCHMARK(BM_RouteForeignDeviceWheel);

void BM_RouteTargetMotion(benchmark::State& state) {
    run(state, hardware(SimulatedDevice::targetMouse(), SimulatedEventSystem::motionEvent(3, -2)));
}
BENCHMARK(BM_RouteTargetMotion);

void BM_RouteTaggedEvent(benchmark::State& state) {
    Event own = SimulatedEventSystem::continuousWheelEvent(-12);
    tagAsRavoletEmitted(own);
    run(state, own);
}
BENCHMARK(BM_RouteTaggedEvent);

} // namespace
