#include "RavoletApp/Model/SimulatedMachine.hpp"

#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

#include "HIDPlusPlus/HIDPPEnvironment.hpp"
#include "Platform/Linux/Desktop/LinuxWorkspace.hpp"
#include "Platform/Linux/DesktopEntryCatalogue.hpp"
#include "Platform/Linux/LinuxFileSystem.hpp"
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

// The machine's G502 X as the "Try It" panel drives it: turns and presses
// enter the event system as the mouse's own, and every scroll that reaches
// the system goes to the watchers on their executors.
class MachineMouseFeed final : public MouseFeed, public std::enable_shared_from_this<MachineMouseFeed> {
public:
    MachineMouseFeed(std::shared_ptr<platform::SimulatedEventSystem> events, platform::SimulatedDevice mouse)
        : events_(std::move(events)), mouse_(std::move(mouse)) {}

    void turnWheel(std::int32_t vertical, std::int32_t horizontal) override {
        events_->inject(mouse_, platform::SimulatedEventSystem::wheelEvent(vertical, horizontal));
    }

    void pressButton(std::int64_t button, bool down) override {
        namespace types = platform::EventTypes;
        if (button < 0) return;
        const platform::EventType type = button == 0   ? (down ? types::leftMouseDown : types::leftMouseUp)
                                         : button == 1 ? (down ? types::rightMouseDown : types::rightMouseUp)
                                                       : (down ? types::otherMouseDown : types::otherMouseUp);
        events_->inject(mouse_, platform::SimulatedEventSystem::buttonEvent(
                                    type, static_cast<platform::MouseButton>(button)));
    }

    platform::Subscription watchScrolling(std::shared_ptr<platform::Executor> executor,
                                          std::function<void(const Scroll&)> handler) override {
        auto watcher = std::make_shared<Watcher>(std::move(executor), std::move(handler));
        {
            std::lock_guard guard(lock_);
            watchers_.push_back(watcher);
        }
        return platform::Subscription([weak = weak_from_this(), watcher] {
            // Cancelled on the watcher's executor: nothing queued runs after this.
            watcher->alive = false;
            if (const auto self = weak.lock()) {
                std::lock_guard guard(self->lock_);
                std::erase(self->watchers_, watcher);
            }
        });
    }

    // On the event system's dispatching thread.
    void delivered(const platform::Event& event) {
        namespace fields = platform::EventFields;
        if (event.type() != platform::EventTypes::scrollWheel) return;
        Scroll scroll;
        scroll.isContinuous = event.integerValueField(fields::scrollWheelEventIsContinuous) != 0;
        scroll.vertical = event.integerValueField(scroll.isContinuous ? fields::scrollWheelEventPointDeltaAxis1
                                                                      : fields::scrollWheelEventDeltaAxis1);
        scroll.horizontal = event.integerValueField(scroll.isContinuous ? fields::scrollWheelEventPointDeltaAxis2
                                                                        : fields::scrollWheelEventDeltaAxis2);
        std::vector<std::shared_ptr<Watcher>> watchers;
        {
            std::lock_guard guard(lock_);
            watchers = watchers_;
        }
        for (const auto& watcher : watchers) {
            watcher->executor->post([watcher, scroll] {
                if (watcher->alive) watcher->handler(scroll);
            });
        }
    }

private:
    struct Watcher {
        Watcher(std::shared_ptr<platform::Executor> executor, std::function<void(const Scroll&)> handler)
            : executor(std::move(executor)), handler(std::move(handler)) {}
        const std::shared_ptr<platform::Executor> executor;
        const std::function<void(const Scroll&)> handler;
        std::atomic<bool> alive{true};
    };

    const std::shared_ptr<platform::SimulatedEventSystem> events_;
    const platform::SimulatedDevice mouse_;
    std::mutex lock_;
    std::vector<std::shared_ptr<Watcher>> watchers_;
};

// The scripted applications in front of this machine's own desktop entries:
// what the simulated desktop runs is installed as well, so that the running
// list, the chooser, the icons and the names all come from this one catalogue.
class LayeredCatalogue final : public platform::ApplicationCatalogue {
public:
    LayeredCatalogue(std::shared_ptr<platform::ApplicationCatalogue> front,
                     std::shared_ptr<platform::ApplicationCatalogue> back)
        : front_(std::move(front)), back_(std::move(back)) {}

    std::optional<platform::DesktopApplication> application(const std::string& bundleID) const override {
        if (auto found = front_->application(bundleID)) return found;
        return back_->application(bundleID);
    }
    std::optional<std::string> bundleIDOfFile(const std::filesystem::path& file) const override {
        if (auto found = front_->bundleIDOfFile(file)) return found;
        return back_->bundleIDOfFile(file);
    }
    std::filesystem::path applicationsFolder() const override { return back_->applicationsFolder(); }
    std::vector<platform::DesktopApplication> installedApplications() const override {
        std::vector<platform::DesktopApplication> all = front_->installedApplications();
        for (platform::DesktopApplication& application : back_->installedApplications()) {
            if (!front_->application(application.bundleID)) all.push_back(std::move(application));
        }
        return all;
    }

private:
    const std::shared_ptr<platform::ApplicationCatalogue> front_;
    const std::shared_ptr<platform::ApplicationCatalogue> back_;
};

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
      activator(inMemory<platform::SimulatedApplicationActivator>(storage)),
      desktop(storage == Storage::thisMachine ? std::shared_ptr<platform::Workspace>(platform::LinuxWorkspace::standard())
                                              : std::shared_ptr<platform::Workspace>(workspace)) {
    auto feed = std::make_shared<MachineMouseFeed>(events, mouseService);
    events->setDeliveryObserver([weak = std::weak_ptr(feed)](const platform::Event& event) {
        if (const auto self = weak.lock()) self->delivered(event);
    });
    mouseFeed = std::move(feed);
        privateHID->attach(mouseService);
    privateHID->attach(platform::SimulatedDevice::trackpad());
    // The pointer properties as the system leaves them: 400 counts per inch, accelerated.
    // As a desktop's X server shows the pointer: libinput's default counts per
    // inch and its adaptive profile at speed 0.
    pointerBackend->seed(mouseServiceID, {{"HIDPointerResolution", 1000 * 65536}, {"libinput Accel Profile Enabled", 0}},
                         {{"HIDPointerAccelerationType", "libinput Accel Profile Enabled"}});
    pointerBackend->setKeysReadOnly({"HIDPointerResolution"});
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
        .workspace = desktop,
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
    d.workspace = desktop;
    // On this machine's storage the program runs for a person, who picks
    // applications from the real desktop entries as well.
    d.applications = files ? std::shared_ptr<platform::ApplicationCatalogue>(applications)
                           : std::make_shared<LayeredCatalogue>(
                                 applications, platform::DesktopEntryCatalogue::standard(platform::LinuxFileSystem::shared()));
    d.permissions = probe;
    d.device = device;
    d.tryItMouse = mouseFeed;
    // On this machine's storage a person runs the program, who is told on the desktop.
    if (files) d.notifier = notifier;
    // And is told, where Ravolet's state is shown, that the mouse is not real.
    d.simulatedMouse = !files;
    d.engineMovesCursor = true;
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
