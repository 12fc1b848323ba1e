#pragma once

// The program's engine on the Linux event system, inside the kernel test VM:
// the real kernel's nodes, the engine's own real-time queues, and the calling
// thread's run loop as the engine's executor, run while a test waits. Shared
// by the input path's kernel tests and its benchmark.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Core/Config.hpp"
#include "Platform/Linux/Input/EvdevPrivateHIDEventSystem.hpp"
#include "Platform/Linux/Input/LinuxEventSystem.hpp"
#include "Platform/RunLoop.hpp"
#include "Platform/Simulated/InMemoryFileSystem.hpp"
#include "Platform/Simulated/InMemoryKeyValueStore.hpp"
#include "Platform/Simulated/SimulatedClock.hpp"
#include "Platform/Simulated/SimulatedDisplays.hpp"
#include "Platform/Simulated/SimulatedPermissionProbe.hpp"
#include "Platform/Simulated/SimulatedProcessLauncher.hpp"
#include "Platform/Simulated/SimulatedWorkspace.hpp"
#include "RavoletEngine/Coordination/FakePointerPropertyBackend.hpp"
#include "RavoletEngine/Coordination/RavoletEngine.hpp"
#include "RavoletEngine/EventPath/CGEventPoster.hpp"

namespace ravolet::testing {

// A document of one profile, the default one.
inline Config oneProfile(ScrollSettings scroll, PointerSettings pointer = {}, std::vector<ButtonBinding> buttons = {}) {
    return Config(Config::currentSchemaVersion, true,
                  {Profile(std::string(Profile::defaultProfileID), "Default", scroll, pointer, std::move(buttons))},
                  RuleSet({}, std::string(Profile::defaultProfileID)));
}

class EngineOnKernel {
public:
    EngineOnKernel() : events(std::make_shared<platform::LinuxEventSystem>(platform::LinuxEventSystem::Options{})) {
        // The wheel in its standard mode, as the device monitor reads it once
        // the mouse answers; the program's own tests say when it does not.
        events->setWheelTicksPerDetent(1);
        probe->setAccessibilityTrusted(true);
        probe->setCanListenToEvents(true);
        probe->setHIDListenAccess(platform::HIDAccessType::granted);
    }
    ~EngineOnKernel() { stop(); }
    EngineOnKernel(const EngineOnKernel&) = delete;
    EngineOnKernel& operator=(const EngineOnKernel&) = delete;

    // Makes an engine for the document and starts it; the error is the tap's.
    // `tuning`: the pointer tuner to give it; none: one over an in-memory backend.
    std::expected<void, std::string> start(Config config, std::shared_ptr<PointerHardwareTuning> tuning = nullptr) {
        stop();
        EventTapController::Configuration tap;
        tap.eventsOfInterest = EventTapController::defaultEventMask;
        RavoletEngine::Options options{{HIDPPDeviceMatch::g502X}, tap,
                                       std::make_shared<CGEventPoster>(events, platform::EventTapLocation::session),
                                       nullptr, false, false, false, std::nullopt, std::nullopt, false, false};
        if (!tuning) tuning = std::make_shared<PointerHardwareTuning>(
            std::make_shared<FakePointerPropertyBackend>(), std::make_shared<platform::InMemoryKeyValueStore>(),
            std::nullopt, std::vector{HIDPPDeviceMatch::g502X}, std::make_shared<platform::SimulatedClock>(),
            std::make_shared<platform::InMemoryFileSystem>());
        engine = RavoletEngine::create(
            std::move(config), std::move(options),
            {.ui = ui, .events = events, .privateHID = std::make_shared<platform::EvdevPrivateHIDEventSystem>(),
             .displays = std::make_shared<platform::SimulatedDisplays>(), .workspace = platform::SimulatedWorkspace::make(),
             .permissions = probe, .launcher = std::make_shared<platform::SimulatedProcessLauncher>(),
             .pointerTuning = tuning, .makeDevice = nullptr,
             // The engine's own queues, on real time.
             .scrollQueue = nullptr, .macroQueue = nullptr, .scopeRefreshQueue = nullptr, .applierExecutor = nullptr,
             .scopeTicks = nullptr});
        if (auto started = engine->start(); !started)
            return std::unexpected(std::string(EventTapController::description(started.error())));
        return {};
    }
    void stop() {
        if (!engine) return;
        engine->stop();
        pump(std::chrono::milliseconds(20));
        engine.reset();
    }

    // Runs the engine's executor until `done` or the limit; whether done.
    bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= end) return false;
            ui->runFor(0.005);
        }
        return true;
    }
    void pump(std::chrono::milliseconds time) {
        pumpUntil([] { return false; }, time);
    }
    // Until the device scope knows every node of the target there is now, as
    // it would once the HID++ side reports the mouse attached.
    bool waitForTarget() {
        std::vector<std::uint64_t> nodes;
        for (const auto& node : platform::listEventNodes({}))
            if (node.vendorID == 0x046D && node.productID == 0xC099 && !node.isVirtual)
                nodes.push_back(platform::EvdevPrivateHIDEventSystem::registryID(node).value_or(0));
        engine->scope()->refresh(true);
        return pumpUntil([&] {
            engine->scope()->refresh(false);
            std::vector<std::uint64_t> known;
            for (const auto& device : engine->scope()->targetDevices()) known.push_back(device.registryID);
            return std::ranges::is_permutation(known, nodes);
        });
    }

    std::shared_ptr<platform::RunLoop> ui = platform::RunLoop::current();
    std::shared_ptr<platform::SimulatedPermissionProbe> probe = std::make_shared<platform::SimulatedPermissionProbe>();
    std::shared_ptr<platform::LinuxEventSystem> events;
    std::shared_ptr<RavoletEngine> engine;
};

} // namespace ravolet::testing
