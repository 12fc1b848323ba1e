#include "Core/ScrollSettings.hpp"
#include "Platform/Linux/Desktop/DesktopPointerSettings.hpp"
#include "Platform/Linux/Input/EvdevPrivateHIDEventSystem.hpp"
#include "Platform/Linux/Input/LinuxEventSystem.hpp"
#include "Platform/Linux/JsonFileKeyValueStore.hpp"
#include "Platform/Linux/LinuxFileSystem.hpp"
#include "Platform/Linux/LinuxPermissionProbe.hpp"
#include "Platform/Linux/LinuxProcessLauncher.hpp"
#include "Platform/Linux/SystemClock.hpp"
#include "Platform/RunLoop.hpp"
#include "Platform/SerialQueue.hpp"
#include "Platform/Simulated/SimulatedDisplays.hpp"
#include "Platform/Simulated/SimulatedWorkspace.hpp"
#include "RavoletEngine/Coordination/DesktopPointerPropertyBackend.hpp"
#include "RavoletEngine/Coordination/RavoletEngine.hpp"

namespace ravolet {

namespace {

// The Linux event system scales one detent's glide at the default scroll
// distance to one detent of the virtual wheel.
static_assert(platform::LinuxEventSystem::defaultPixelsPerDetent == ScrollSettings::passThrough.pixelsPerDetent);

// The services Linux has no form of yet (the displays, the desktop's
// applications): one empty simulated machine per process. Made on first use
// and never destroyed.
struct StandIns {
    std::shared_ptr<platform::Displays> displays = std::make_shared<platform::SimulatedDisplays>();
    std::shared_ptr<platform::Workspace> workspace = platform::SimulatedWorkspace::make();
};

const StandIns& standIns() {
    static const StandIns* const standIns = new StandIns();
    return *standIns;
}

} // namespace

RavoletEngine::Environment RavoletEngine::Environment::standard() { return Environment{}.completed(); }

RavoletEngine::Environment RavoletEngine::Environment::completed() const {
    // Each default is made only when the field is empty: the process's tuner,
    // for one, writes back what an earlier run left as soon as it exists.
    Environment e = *this;
    if (!e.ui) e.ui = platform::RunLoop::current();
    if (!e.events) e.events = platform::LinuxEventSystem::shared();
    if (!e.privateHID) e.privateHID = std::make_shared<platform::EvdevPrivateHIDEventSystem>();
    if (!e.displays) e.displays = standIns().displays;
    if (!e.workspace) e.workspace = standIns().workspace;
    if (!e.permissions) {
        e.permissions = std::make_shared<platform::LinuxPermissionProbe>(HIDPPDeviceMatch::g502X.vendorID,
                                                                         HIDPPDeviceMatch::g502X.productID);
    }
    if (!e.launcher) e.launcher = std::make_shared<platform::LinuxProcessLauncher>();
    if (!e.pointerTuning) e.pointerTuning = standardPointerTuning();
    if (!e.makeDevice) e.makeDevice = [](HIDPPDeviceMatch match) { return HIDPPDevice::create(match); };
    return e;
}

std::shared_ptr<PointerHardwareTuning> RavoletEngine::Environment::standardPointerTuning(
    std::shared_ptr<platform::Scheduler> interface) {
    return PointerHardwareTuning::shared([&interface] {
        auto backend = std::make_shared<DesktopPointerPropertyBackend>(
            std::shared_ptr(platform::DesktopPointerSettings::forThisSession()));
        auto defaults = platform::JsonFileKeyValueStore::standard();
        std::vector matches{HIDPPDeviceMatch::g502X};
        const auto clock = platform::SystemClock::shared();
        const auto files = platform::LinuxFileSystem::shared();
        if (!interface)
            return std::make_shared<PointerHardwareTuning>(std::move(backend), std::move(defaults), std::nullopt,
                                                           std::move(matches), clock, files);
        return PointerHardwareTuning::queued(
            {std::make_shared<platform::SerialQueue>(PointerHardwareTuning::queueLabel, platform::QueuePriority::utility),
             std::move(interface)},
            std::move(backend), std::move(defaults), std::nullopt, std::move(matches), clock, files);
    });
}

} // namespace ravolet
