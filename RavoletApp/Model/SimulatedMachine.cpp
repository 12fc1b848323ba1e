#include "RavoletApp/Model/SimulatedMachine.hpp"

#include <utility>
#include <vector>

#include "HIDPlusPlus/HIDPPEnvironment.hpp"
#include "Platform/Linux/SystemClock.hpp"
#include "Platform/SerialQueue.hpp"

namespace ravolet {

namespace {

// The thread that made the machine, as the user interface's executor, on the
// machine's virtual clock: what it posts and schedules runs when the test
// lets the clock run, in one order with everything else.
class ThreadOnVirtualTime final : public platform::Scheduler {
public:
    explicit ThreadOnVirtualTime(std::shared_ptr<platform::ManualScheduler> time) : time_(std::move(time)) {}
    void post(platform::Task task) override { time_->post(std::move(task)); }
    bool isCurrent() const override { return std::this_thread::get_id() == owner_; }
    std::uint64_t nowNanos() const override { return time_->nowNanos(); }
    platform::TaskHandle postAt(std::uint64_t deadline, platform::Task task) override {
        return time_->postAt(deadline, std::move(task));
    }

private:
    const std::shared_ptr<platform::ManualScheduler> time_;
    const std::thread::id owner_ = std::this_thread::get_id();
};

// A device on the machine's bus: in virtual time every step on the clock,
// in real time on the HID I/O thread and queues of its own, as in the program.
std::shared_ptr<HIDPPDevice> deviceOn(const std::shared_ptr<platform::SimulatedHIDBus>& bus,
                                      const std::shared_ptr<platform::ManualScheduler>& time, HIDPPDeviceMatch match) {
    if (time) {
        return HIDPPDevice::create(
            match, HIDPPEnvironment{bus, time, [time] { return std::shared_ptr<platform::Executor>(time); }}, time);
    }
    HIDPPEnvironment environment = HIDPPEnvironment::standard();
    environment.hid = bus;
    return HIDPPDevice::create(match, std::move(environment),
                               std::make_shared<platform::SerialQueue>("ai.ravolet.hidpp.device",
                                                                       platform::QueuePriority::userInitiated));
}

template <class T>
std::shared_ptr<T> inMemory(SimulatedMachine::Storage storage) {
    return storage == SimulatedMachine::Storage::inMemory ? std::make_shared<T>() : nullptr;
}

} // namespace

std::shared_ptr<SimulatedMachine> SimulatedMachine::make(std::shared_ptr<platform::Scheduler> ui, Storage storage) {
    return std::make_shared<SimulatedMachine>(std::move(ui), nullptr, storage);
}

std::shared_ptr<SimulatedMachine> SimulatedMachine::makeInVirtualTime() {
    auto time = std::make_shared<platform::ManualScheduler>(10'000'000'000);
    auto ui = std::make_shared<ThreadOnVirtualTime>(time);
    return std::make_shared<SimulatedMachine>(std::move(ui), std::move(time), Storage::inMemory);
}

SimulatedMachine::SimulatedMachine(std::shared_ptr<platform::Scheduler> uiExecutor,
                                   std::shared_ptr<platform::ManualScheduler> virtualTime, Storage storage)
    : ui(std::move(uiExecutor)),
      time(std::move(virtualTime)),
      events(std::make_shared<platform::SimulatedEventSystem>(
          time ? std::function<std::uint64_t()>([time = time] { return time->nowNanos(); }) : nullptr)),
      privateHID(std::make_shared<platform::SimulatedPrivateHIDEventSystem>()),
      pointerBackend(std::make_shared<FakePointerPropertyBackend>(
          std::vector{PointerServiceIdentity{mouseServiceID, 0x046D, 0xC099, "G502 X", 1, 2}})),
      pointerTuning(std::make_shared<PointerHardwareTuning>(
          pointerBackend, std::make_shared<platform::InMemoryKeyValueStore>(), std::nullopt,
          std::vector{HIDPPDeviceMatch::g502X},
          time ? std::shared_ptr<platform::Clock>(std::make_shared<platform::SimulatedClock>())
               : platform::SystemClock::shared(),
          std::make_shared<platform::InMemoryFileSystem>())),
      device(deviceOn(bus, time, HIDPPDeviceMatch::g502X)),
      files(inMemory<platform::InMemoryFileSystem>(storage)),
      defaults(inMemory<platform::InMemoryKeyValueStore>(storage)),
      clock(time ? std::make_shared<platform::SimulatedClock>() : nullptr),
      loginItems(inMemory<platform::SimulatedLoginItemService>(storage)),
      updater(inMemory<platform::SimulatedUpdaterBackend>(storage)),
      activator(inMemory<platform::SimulatedApplicationActivator>(storage)) {
    privateHID->attach(mouseService);
    privateHID->attach(platform::SimulatedDevice::trackpad());
    // The pointer properties as the system leaves them: 400 counts per inch, accelerated.
    pointerBackend->seed(mouseServiceID, {{"HIDPointerResolution", 400 * 65536}, {"HIDMouseAcceleration", 45056}});
    mouse->plugIn(bus);
    grant(true, true);
    struct Application {
        platform::DesktopApplication entry;
        bool running;
    };
    const Application installed[] = {
        {{"org.mozilla.firefox", "Firefox", "/usr/share/applications/org.mozilla.firefox.desktop", "firefox"}, true},
        {{"org.gimp.GIMP", "GNU Image Manipulation Program", "/usr/share/applications/org.gimp.GIMP.desktop",
          "org.gimp.GIMP"}, true},
        {{"org.inkscape.Inkscape", "Inkscape", "/usr/share/applications/org.inkscape.Inkscape.desktop",
          "org.inkscape.Inkscape"}, false},
        {{"org.gnome.TextEditor", "Text Editor", "/usr/share/applications/org.gnome.TextEditor.desktop",
          "org.gnome.TextEditor"}, true},
    };
    for (const Application& application : installed) {
        const platform::DesktopApplication& entry = application.entry;
        applications->install(entry);
        workspace->install({entry.bundleID, entry.name, entry.location.string()});
        if (application.running) workspace->launch({entry.bundleID, entry.name});
    }
}

SimulatedMachine::~SimulatedMachine() {
    if (time) settle();
}

AppModel::Dependencies SimulatedMachine::dependencies() const {
    AppModel::Dependencies d;
    d.ui = ui;
    d.engine = RavoletEngine::Environment{
        .ui = ui,
        .events = events,
        .privateHID = privateHID,
        .displays = displays,
        .workspace = workspace,
        .permissions = probe,
        .launcher = launcher,
        .pointerTuning = pointerTuning,
        // The application connects the mouse itself; an engine that asked
        // would get one on this machine's bus all the same.
        .makeDevice = [bus = bus, time = time](HIDPPDeviceMatch match) { return deviceOn(bus, time, match); },
        .scrollQueue = time,
        .macroQueue = time,
        .scopeRefreshQueue = time,
        .applierExecutor = time,
        .scopeTicks = time ? std::function<std::uint64_t()>([time = time] { return time->nowNanos(); }) : nullptr,
    };
    d.files = files;
    d.clock = clock;
    d.defaults = defaults;
    d.loginItems = loginItems;
    d.updater = updater;
    d.activator = activator;
    d.workspace = workspace;
    // On this machine's storage the program runs for a person, who picks
    // applications from the real desktop entries.
    if (files) d.applications = applications;
    d.permissions = probe;
    d.device = device;
    return d;
}

void SimulatedMachine::grant(bool accessibility, bool inputMonitoring) {
    probe->setAccessibilityTrusted(accessibility);
    probe->setCanListenToEvents(inputMonitoring);
    probe->setHIDListenAccess(inputMonitoring ? platform::HIDAccessType::granted : platform::HIDAccessType::denied);
    events->setTapsAllowed(accessibility && inputMonitoring);
}

void SimulatedMachine::settle() {
    std::size_t ran = 0;
    do {
        events->waitUntilIdle(std::chrono::seconds(20));
        ran = time->runUntilIdle();
    } while (ran > 0);
}

void SimulatedMachine::advance(std::chrono::nanoseconds delta) {
    const std::uint64_t target = platform::Scheduler::deadlineAfter(time->nowNanos(), delta);
    for (;;) {
        settle();
        const auto next = time->nextDeadline();
        if (!next || *next > target) break;
        time->advanceTo(*next);
    }
    time->advanceTo(target);
    settle();
}

} // namespace ravolet
