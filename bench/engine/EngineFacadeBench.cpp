// The engine facade on the simulated machine, with the real queues and the
// real tap thread: a profile switch (a changed document, until the tap thread
// has swapped it in) and a whole start + stop cycle. The benchmark's thread
// is the UI executor (its run loop).

#include <benchmark/benchmark.h>

#include <memory>

#include "Platform/RunLoop.hpp"
#include "Platform/Simulated/InMemoryFileSystem.hpp"
#include "Platform/Simulated/InMemoryKeyValueStore.hpp"
#include "Platform/Simulated/SimulatedClock.hpp"
#include "Platform/Simulated/SimulatedDisplays.hpp"
#include "Platform/Simulated/SimulatedEventSystem.hpp"
#include "Platform/Simulated/SimulatedPermissionProbe.hpp"
#include "Platform/Simulated/SimulatedPrivateHIDEventSystem.hpp"
#include "Platform/Simulated/SimulatedProcessLauncher.hpp"
#include "Platform/Simulated/SimulatedWorkspace.hpp"
#include "RavoletEngine/Coordination/FakePointerPropertyBackend.hpp"
#include "RavoletEngine/Coordination/RavoletEngine.hpp"
#include "RavoletEngine/EventPath/CGEventPoster.hpp"

namespace {

using namespace ravolet;
using namespace ravolet::platform;

Config document(std::int64_t pixelsPerDetent) {
    Profile profile = Profile::defaultProfile();
    profile.scroll.pixelsPerDetent = static_cast<double>(pixelsPerDetent);
    return Config(Config::currentSchemaVersion, true, {profile}, RuleSet({}, profile.id));
}

struct Machine {
    std::shared_ptr<RunLoop> ui = RunLoop::current();
    std::shared_ptr<SimulatedEventSystem> events = std::make_shared<SimulatedEventSystem>();
    std::shared_ptr<SimulatedPrivateHIDEventSystem> hid = std::make_shared<SimulatedPrivateHIDEventSystem>();
    std::shared_ptr<SimulatedPermissionProbe> probe = std::make_shared<SimulatedPermissionProbe>();
    std::shared_ptr<RavoletEngine> engine;

    Machine() {
        hid->attach(SimulatedDevice::targetMouse());
        probe->setAccessibilityTrusted(true);
        probe->setCanListenToEvents(true);
        auto backend = std::make_shared<FakePointerPropertyBackend>(
            std::vector{PointerServiceIdentity{SimulatedDevice::targetMouse().registryID, 0x046D, 0xC099, "G502 X", 1, 2}});
        RavoletEngine::Environment environment;
        environment.ui = ui;
        environment.events = events;
        environment.privateHID = hid;
        environment.displays = std::make_shared<SimulatedDisplays>();
        environment.workspace = SimulatedWorkspace::make();
        environment.permissions = probe;
        environment.launcher = std::make_shared<SimulatedProcessLauncher>();
        environment.pointerTuning = std::make_shared<PointerHardwareTuning>(
            backend, std::make_shared<InMemoryKeyValueStore>(), std::nullopt, std::vector{HIDPPDeviceMatch::g502X},
            std::make_shared<SimulatedClock>(), std::make_shared<InMemoryFileSystem>());
        environment.makeDevice = [](HIDPPDeviceMatch) -> std::shared_ptr<HIDPPDevice> { return nullptr; };
        EventTapController::Configuration tap;
        tap.eventsOfInterest = EventTapController::defaultEventMask;
        RavoletEngine::Options options{{HIDPPDeviceMatch::g502X},
                                       tap,
                                       std::make_shared<CGEventPoster>(events, EventTapLocation::session),
                                       nullptr,
                                       false,
                                       true,
                                       true,
                                       std::nullopt,
                                       std::nullopt,
                                       false,
                                       false};
        engine = RavoletEngine::create(document(50), std::move(options), std::move(environment));
    }
    ~Machine() {
        engine->stop();
        ui->runFor(0);
    }
};

void BM_ProfileSwitch(benchmark::State& state) {
    Machine m;
    if (!m.engine->start()) return state.SkipWithError("the tap did not start");
    std::int64_t pixels = 50;
    for (auto _ : state) {
        pixels = pixels == 50 ? 60 : 50;
        m.engine->update(document(pixels));
        // The watcher's handler hops to the UI executor; the swap then runs on the tap thread.
        while (m.engine->scrollPipeline()->settings().pixelsPerDetent != static_cast<double>(pixels)) m.ui->runFor(0);
    }
}
BENCHMARK(BM_ProfileSwitch)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_StartStopCycle(benchmark::State& state) {
    Machine m;
    for (auto _ : state) {
        if (!m.engine->start()) return state.SkipWithError("the tap did not start");
        m.engine->stop();
        m.ui->runFor(0);
    }
}
BENCHMARK(BM_StartStopCycle)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace
