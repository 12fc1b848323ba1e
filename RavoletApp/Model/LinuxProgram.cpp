#include "RavoletApp/Model/LinuxProgram.hpp"

#include "HIDPlusPlus/HIDPPDeviceMatch.hpp"
#include "Platform/Linux/Desktop/LinuxWorkspace.hpp"
#include "Platform/Linux/Desktop/LogindSessionWatcher.hpp"
#include "Platform/Linux/Desktop/RealtimeKit.hpp"
#include "Platform/Linux/HID/LinuxHIDSystem.hpp"
#include "Platform/Linux/Input/LinuxEventSystem.hpp"
#include "Platform/Thread.hpp"

namespace ravolet {

LinuxProgram makeLinuxProgram(std::shared_ptr<platform::Scheduler> ui,
                              std::shared_ptr<platform::SessionWatcher> session) {
    LinuxProgram program;
    // The tap thread asks the desktop for the urgency an ordinary user's
    // process may not give itself.
    platform::setNiceBroker(&platform::RealtimeKit::makeThreadHighPriority);
    // The mouse's HID++ interface through the kernel's hidraw nodes.
    const platform::HIDMatching mouse{HIDPPDeviceMatch::g502X.vendorID, HIDPPDeviceMatch::g502X.productID};
    platform::HIDSystem::setShared(platform::LinuxHIDSystem::make(mouse));
    // The engine's standard event system is the kernel's; its virtual
    // devices are made now, before anything starts.
    const auto events = platform::LinuxEventSystem::shared();
    program.outputError = events->outputError();
    if (!session) session = std::make_shared<platform::LogindSessionWatcher>();
    AppModel::Dependencies dependencies;
    dependencies.ui = ui;
    // Pointer tuning reaches the desktop on a queue of its own: a slow or
    // stopped compositor holds up that queue, never the window.
    dependencies.engine.pointerTuning = RavoletEngine::Environment::standardPointerTuning(ui);
    dependencies.workspace = platform::LinuxWorkspace::standard();
    dependencies.session = session;
    program.model = AppModel::create(std::move(dependencies));
    // The virtual devices go while another user's login session is in
    // front, as the model lets go of the mouse. Followed after the model,
    // whose subscription is told first: the engine stops, and puts the
    // desktop's setting back through Ravolet's pointer, before the pointer
    // goes. Coming back, the engine's start makes the devices again itself.
    events->followSession(session, std::move(ui));
    // What the wheel's mode is taken to be goes first: it changes only as
    // the mouse is read, and the taps may count by it at once.
    const DeviceMonitor& monitor = program.model->deviceMonitor();
    events->setAssumedWheelTicksPerDetent(monitor.assumedWheelReportsPerDetent().value());
    program.wheelResolution = monitor.wheelReportsPerDetent().observe([events, &monitor](const std::optional<int>& reports) {
        events->setAssumedWheelTicksPerDetent(monitor.assumedWheelReportsPerDetent().value());
        events->setWheelTicksPerDetent(reports);
    });
    return program;
}

} // namespace ravolet
