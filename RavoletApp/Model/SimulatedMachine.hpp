#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

#include "HIDPlusPlus/HIDPPDevice.hpp"
#include "Platform/Simulated/InMemoryFileSystem.hpp"
#include "Platform/Simulated/SimulatedApplicationCatalogue.hpp"
#include "Platform/Simulated/InMemoryKeyValueStore.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"
#include "Platform/Simulated/SimulatedApplicationActivator.hpp"
#include "Platform/Simulated/SimulatedClock.hpp"
#include "Platform/Simulated/SimulatedDevice.hpp"
#include "Platform/Simulated/SimulatedDisplays.hpp"
#include "Platform/Simulated/SimulatedEventSystem.hpp"
#include "Platform/Simulated/SimulatedHIDBus.hpp"
#include "Platform/Simulated/SimulatedLoginItemService.hpp"
#include "Platform/Simulated/SimulatedMouse.hpp"
#include "Platform/Simulated/SimulatedNotifier.hpp"
#include "Platform/Simulated/SimulatedPermissionProbe.hpp"
#include "Platform/Simulated/SimulatedPrivateHIDEventSystem.hpp"
#include "Platform/Simulated/SimulatedProcessLauncher.hpp"
#include "Platform/Simulated/SimulatedUpdaterBackend.hpp"
#include "Platform/Simulated/SimulatedWorkspace.hpp"
#include "RavoletApp/Model/AppModel.hpp"
#include "RavoletApp/Model/MouseFeed.hpp"
#include "RavoletEngine/Coordination/FakePointerPropertyBackend.hpp"
#include "RavoletEngine/Coordination/PointerHardwareTuning.hpp"

namespace ravolet {

// A whole machine for Ravolet without the hardware: the simulated event
// system, with a G502 X and a trackpad behind the private HID functions; the
// simulated G502 X answering HID++ on a simulated HID bus; a scripted desktop;
// both grants given; a few applications installed; pointer tuning on an in-memory backend. The program runs
// on it with `--simulated-mouse`, and tests build their models on it.
//
// Two timings:
// - real time (make): the HID I/O thread, the device's and the engine's own
//   serial queues and the tap thread, as in the program; the user interface's
//   executor is the caller's;
// - virtual time (makeInVirtualTime): one manual scheduler is the HID I/O
//   thread, every queue and the user interface's clock, whose executor is the
//   thread that made the machine; only the tap thread is real.
class SimulatedMachine {
public:
    // The settings file, the preferences, the login item and the updater:
    // in memory (nothing of this machine's is touched), or this machine's own.
    enum class Storage { inMemory, thisMachine };

    static constexpr std::uint64_t mouseServiceID = 0x100000A51;

    static std::shared_ptr<SimulatedMachine> make(std::shared_ptr<platform::Scheduler> ui, Storage storage);
    static std::shared_ptr<SimulatedMachine> makeInVirtualTime();
    // `virtualTime` null: real time.
    SimulatedMachine(std::shared_ptr<platform::Scheduler> uiExecutor, std::shared_ptr<platform::ManualScheduler> virtualTime,
                     Storage storage);
    ~SimulatedMachine();
    SimulatedMachine(const SimulatedMachine&) = delete;
    SimulatedMachine& operator=(const SimulatedMachine&) = delete;

    // What a model on this machine is made with.
    AppModel::Dependencies dependencies() const;
    std::shared_ptr<AppModel> makeModel() const { return AppModel::create(dependencies()); }

    // Grants or withdraws Accessibility and Input Monitoring; an event tap
    // can be made only while both are granted.
    void grant(bool accessibility, bool inputMonitoring);

    // Virtual time only: runs everything set in motion (the executor, what
    // falls due, the events on their way through the taps) until nothing
    // more happens, without moving the clock.
    void settle();
    // Virtual time only: moves the clock, settling at every step on the way.
    void advance(std::chrono::nanoseconds delta);

    // The user interface's executor and clock.
    const std::shared_ptr<platform::Scheduler> ui;
    // Virtual time only: the clock of everything but the tap thread.
    const std::shared_ptr<platform::ManualScheduler> time;

    const std::shared_ptr<platform::SimulatedEventSystem> events;
    const std::shared_ptr<platform::SimulatedPrivateHIDEventSystem> privateHID;
    const platform::SimulatedDevice mouseService = platform::SimulatedDevice::targetMouse(mouseServiceID);
    const std::shared_ptr<platform::SimulatedHIDBus> bus = platform::SimulatedHIDBus::make();
    const std::shared_ptr<platform::SimulatedMouse> mouse = platform::SimulatedMouse::make();
    const std::shared_ptr<platform::SimulatedWorkspace> workspace = platform::SimulatedWorkspace::make();
    // A few installed applications (in the catalogue and the desktop alike),
    // some of them running, none in front. Models on this machine's own
    // storage find them in front of the real desktop entries.
    const std::shared_ptr<platform::SimulatedApplicationCatalogue> applications =
        std::make_shared<platform::SimulatedApplicationCatalogue>();
    const std::shared_ptr<platform::SimulatedPermissionProbe> probe = std::make_shared<platform::SimulatedPermissionProbe>();
    const std::shared_ptr<platform::SimulatedDisplays> displays = std::make_shared<platform::SimulatedDisplays>();
    const std::shared_ptr<platform::SimulatedProcessLauncher> launcher = std::make_shared<platform::SimulatedProcessLauncher>();
    // What the desktop would have shown as notifications.
    const std::shared_ptr<platform::SimulatedNotifier> notifier = std::make_shared<platform::SimulatedNotifier>();
    const std::shared_ptr<FakePointerPropertyBackend> pointerBackend;
    const std::shared_ptr<PointerHardwareTuning> pointerTuning;
    // The HID++ device the application's device monitor owns.
    const std::shared_ptr<HIDPPDevice> device;
    // The mouse as the "Try It" panel drives it: its wheel and buttons enter
    // `events` as the mouse's own, and the scrolling delivered comes back.
    std::shared_ptr<MouseFeed> mouseFeed;

    // In memory only (null with Storage::thisMachine).
    const std::shared_ptr<platform::InMemoryFileSystem> files;
    const std::shared_ptr<platform::InMemoryKeyValueStore> defaults;
    const std::shared_ptr<platform::SimulatedClock> clock;
    const std::shared_ptr<platform::SimulatedLoginItemService> loginItems;
    const std::shared_ptr<platform::SimulatedUpdaterBackend> updater;
    const std::shared_ptr<platform::SimulatedApplicationActivator> activator;
    // On this machine's storage a person runs the program at a real desktop,
    // which says what is in front (where one of its sources can tell): the
    // model and the engine follow it instead of the scripted `workspace`.
    const std::shared_ptr<platform::Workspace> desktop;
};

} // namespace ravolet
