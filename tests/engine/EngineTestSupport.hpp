#pragma once

// The engine on a simulated machine: the simulated event system with the
// target mouse and a trackpad behind the private HID functions, a simulated
// G502 X on a simulated HID bus, a scripted desktop and grants, and pointer
// tuning on its in-memory backend. The test's thread is the UI executor; the
// pipelines' queues, the device scope, the settings applier and the HID++
// device run on one virtual-time scheduler; the tap thread is real.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "HIDPlusPlus/HIDPPDevice.hpp"
#include "Platform/Simulated/InMemoryFileSystem.hpp"
#include "Platform/Simulated/InMemoryKeyValueStore.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"
#include "Platform/Simulated/SimulatedClock.hpp"
#include "Platform/Simulated/SimulatedDevice.hpp"
#include "Platform/Simulated/SimulatedDisplays.hpp"
#include "Platform/Simulated/SimulatedEventSystem.hpp"
#include "Platform/Simulated/SimulatedHIDBus.hpp"
#include "Platform/Simulated/SimulatedMouse.hpp"
#include "Platform/Simulated/SimulatedPermissionProbe.hpp"
#include "Platform/Simulated/SimulatedPrivateHIDEventSystem.hpp"
#include "Platform/Simulated/SimulatedProcessLauncher.hpp"
#include "Platform/Simulated/SimulatedWorkspace.hpp"
#include "RavoletEngine/Coordination/FakePointerPropertyBackend.hpp"
#include "RavoletEngine/Coordination/LiveHIDPPControl.hpp"
#include "RavoletEngine/Coordination/RavoletEngine.hpp"
#include "RavoletEngine/EventPath/CGEventPoster.hpp"

namespace ravolet::testing {

// The UI executor: the test's own thread, whose posted blocks run when the
// test lets them (runUntilIdle), in the order they were posted.
class MainThread final : public platform::Executor {
public:
    void post(platform::Task task) override {
        std::lock_guard guard(lock_);
        tasks_.push_back(std::move(task));
    }
    bool isCurrent() const override { return std::this_thread::get_id() == owner_; }
    // Runs what is posted, also what that posts; returns how many blocks ran.
    std::size_t runUntilIdle() {
        std::size_t ran = 0;
        for (;;) {
            platform::Task task;
            {
                std::lock_guard guard(lock_);
                if (tasks_.empty()) return ran;
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
            ++ran;
        }
    }

private:
    const std::thread::id owner_ = std::this_thread::get_id();
    std::mutex lock_;
    std::deque<platform::Task> tasks_;
};

// Every call reaching the mouse ("setDPI(800)", "readDPI()"), passed on to the real control.
class LoggingControl final : public HIDPPControlling {
public:
    explicit LoggingControl(std::shared_ptr<HIDPPControlling> inner) : inner_(std::move(inner)) {}
    void setDPI(std::int64_t dpi, HIDPPExecutor e, HIDPPCompletion<std::int64_t> done) override {
        note(fmt::format("setDPI({})", dpi)), inner_->setDPI(dpi, std::move(e), std::move(done));
    }
    void setReportRate(std::int64_t hertz, HIDPPExecutor e, HIDPPCompletion<void> done) override {
        note(fmt::format("setReportRate({})", hertz)), inner_->setReportRate(hertz, std::move(e), std::move(done));
    }
    void setWheelHighResolution(bool on, HIDPPExecutor e, HIDPPCompletion<bool> done) override {
        note(fmt::format("setWheelHighResolution({})", on)), inner_->setWheelHighResolution(on, std::move(e), std::move(done));
    }
    void readDPI(HIDPPExecutor e, HIDPPCompletion<std::int64_t> done) override {
        note("readDPI()"), inner_->readDPI(std::move(e), std::move(done));
    }
    // The calls since the last time they were taken.
    std::vector<std::string> take() {
        std::lock_guard guard(lock_);
        return std::exchange(calls_, {});
    }

private:
    void note(std::string call) {
        std::lock_guard guard(lock_);
        calls_.push_back(std::move(call));
    }
    const std::shared_ptr<HIDPPControlling> inner_;
    std::mutex lock_;
    std::vector<std::string> calls_;
};

inline constexpr std::uint64_t pointerServiceID = 0x100000A51;
inline constexpr std::int64_t originalResolution = 400 * 65536;

// A profile with the given DPI, scroll smoothing on or off, pointer curve on or off.
inline Profile makeProfile(std::string id, std::int64_t dpi, bool smoothScroll, bool pointerCurve,
                           std::vector<ButtonBinding> buttons = {}) {
    Profile profile = Profile::defaultProfile();
    profile.id = id;
    profile.name = "Profile " + id;
    if (!smoothScroll) profile.scroll = ScrollSettings::passThrough;
    profile.pointer.isEnabled = pointerCurve;
    profile.pointer.dpi = dpi;
    profile.buttons = std::move(buttons);
    return profile;
}

inline ButtonBinding bindButton(std::int64_t button, Action action) {
    return ButtonBinding{button, {}, std::move(action), true};
}

// An enabled document of the profiles (the first is the default), each
// further profile chosen by the application of the same identifier.
inline Config makeDocument(std::vector<Profile> profiles, bool enabled = true) {
    std::vector<Rule> rules;
    for (std::size_t i = 1; i < profiles.size(); ++i)
        rules.emplace_back("rule-" + profiles[i].id, BundleIDPattern::exact(profiles[i].id), profiles[i].id, 0, true);
    const std::string defaultID = profiles.empty() ? std::string(Profile::defaultProfileID) : profiles.front().id;
    return Config(Config::currentSchemaVersion, enabled, std::move(profiles), RuleSet(std::move(rules), defaultID));
}

struct EngineMachine {
    std::shared_ptr<MainThread> main = std::make_shared<MainThread>();
    std::shared_ptr<platform::ManualScheduler> clock = std::make_shared<platform::ManualScheduler>(10'000'000'000);
    std::shared_ptr<platform::SimulatedEventSystem> events =
        std::make_shared<platform::SimulatedEventSystem>([clock = clock] { return clock->nowNanos(); });
    std::shared_ptr<platform::SimulatedPrivateHIDEventSystem> hid = std::make_shared<platform::SimulatedPrivateHIDEventSystem>();
    platform::SimulatedDevice mouseDevice = platform::SimulatedDevice::targetMouse(pointerServiceID);
    std::shared_ptr<platform::SimulatedHIDBus> bus = platform::SimulatedHIDBus::make();
    std::shared_ptr<platform::SimulatedMouse> mouse = platform::SimulatedMouse::make();
    std::shared_ptr<platform::SimulatedWorkspace> workspace = platform::SimulatedWorkspace::make();
    std::shared_ptr<platform::SimulatedPermissionProbe> probe = std::make_shared<platform::SimulatedPermissionProbe>();
    std::shared_ptr<FakePointerPropertyBackend> pointerBackend = std::make_shared<FakePointerPropertyBackend>(
        std::vector{PointerServiceIdentity{pointerServiceID, 0x046D, 0xC099, "G502 X", 1, 2}});
    std::shared_ptr<PointerHardwareTuning> tuning = std::make_shared<PointerHardwareTuning>(
        pointerBackend, std::make_shared<platform::InMemoryKeyValueStore>(), std::nullopt,
        std::vector{HIDPPDeviceMatch::g502X}, std::make_shared<platform::SimulatedClock>(),
        std::make_shared<platform::InMemoryFileSystem>());
    std::shared_ptr<EventPosting> poster = std::make_shared<CGEventPoster>(events, platform::EventTapLocation::session);
    // The devices the engine made through its factory.
    std::vector<std::shared_ptr<HIDPPDevice>> madeDevices;
    std::vector<std::shared_ptr<RavoletEngine>> engines;

    EngineMachine() {
        hid->attach(mouseDevice);
        hid->attach(platform::SimulatedDevice::trackpad());
        probe->setAccessibilityTrusted(true);
        probe->setCanListenToEvents(true);
        probe->setHIDListenAccess(platform::HIDAccessType::granted);
        pointerBackend->seed(pointerServiceID, {{"HIDPointerResolution", originalResolution}, {"HIDMouseAcceleration", 45056}});
        mouse->plugIn(bus);
    }
    ~EngineMachine() {
        // A test that ended early leaves no tap thread behind; the test's
        // own handlers are gone by now.
        for (const auto& engine : engines) {
            engine->setOnStatusChange(nullptr);
            engine->stop();
        }
        engines.clear();
        madeDevices.clear();
        clock->runUntilIdle();
    }

    std::shared_ptr<HIDPPDevice> makeDevice(HIDPPDeviceMatch match = HIDPPDeviceMatch::g502X) const {
        return HIDPPDevice::create(match, HIDPPEnvironment{bus, clock, [clock = clock] { return std::shared_ptr<platform::Executor>(clock); }},
                                   clock);
    }
    // What the application passes, without a control of its own.
    RavoletEngine::Options options() const {
        EventTapController::Configuration tap;
        tap.eventsOfInterest = EventTapController::defaultEventMask;
        return {{HIDPPDeviceMatch::g502X}, tap, poster, nullptr, false, true, true, std::nullopt, std::nullopt, false, false};
    }
    std::shared_ptr<RavoletEngine> makeEngine(Config config, RavoletEngine::Options options) {
        auto engine = RavoletEngine::create(
            std::move(config), std::move(options),
            {.ui = main, .events = events, .privateHID = hid, .displays = std::make_shared<platform::SimulatedDisplays>(),
             .workspace = workspace, .permissions = probe, .launcher = std::make_shared<platform::SimulatedProcessLauncher>(),
             .pointerTuning = tuning,
             .makeDevice = [this](HIDPPDeviceMatch match) { return madeDevices.emplace_back(makeDevice(match)); },
             .scrollQueue = clock, .macroQueue = clock, .scopeRefreshQueue = clock, .applierExecutor = clock,
             .scopeTicks = [clock = clock] { return clock->nowNanos(); }});
        engines.push_back(engine);
        settle();
        return engine;
    }
    std::shared_ptr<RavoletEngine> makeEngine(Config config) { return makeEngine(std::move(config), options()); }

    // Runs everything set in motion (the UI executor, what is due on the
    // virtual clock, the event stream) until nothing more happens.
    void settle() {
        std::size_t ran = 0;
        do {
            ASSERT_TRUE(events->waitUntilIdle(std::chrono::seconds(20)));
            ran = main->runUntilIdle() + clock->runUntilIdle();
        } while (ran > 0);
    }
    void inject(platform::Event event) {
        events->inject(mouseDevice, std::move(event));
        settle();
    }
    void inject(platform::EventType type, platform::MouseButton button) {
        inject(platform::SimulatedEventSystem::buttonEvent(type, button));
    }
    // Key codes of the key events programs posted with that direction, oldest first.
    std::vector<std::int64_t> postedKeys(platform::EventType type) const {
        std::vector<std::int64_t> keys;
        for (const auto& e : events->posted())
            if (e.type() == type) keys.push_back(e.integerValueField(platform::EventFields::keyboardEventKeycode));
        return keys;
    }
};

} // namespace ravolet::testing
