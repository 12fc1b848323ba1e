#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Platform/Executor.hpp"
#include "Platform/SessionWatcher.hpp"
#include "RavoletApp/Model/AppModel.hpp"
#include "Support/Observable.hpp"

namespace ravolet {

// The model `ravolet` runs on this computer (without --simulated-mouse): the
// HID++ client on the kernel's hidraw nodes of the G502 X, the engine on the
// kernel's event system (evdev and uinput), and every other service in its
// Linux form as AppModel::Dependencies completes them. Made once per
// process, since it installs the process's HID system and makes the event
// system's virtual devices; `ui` is the executor the model runs on.
struct LinuxProgram {
    std::shared_ptr<AppModel> model;
    // Why the virtual pointer and keyboard could not be made (yet), if so.
    std::optional<std::string> outputError;
    // Keeps the event system counting wheel ticks to detents as the mouse
    // last said it reports them, and as it is taken to while that is not
    // known; disconnect before the model goes.
    ObserverConnection wheelResolution;
};

// `session`: the login session to follow; none: this process's logind session.
LinuxProgram makeLinuxProgram(std::shared_ptr<platform::Scheduler> ui,
                              std::shared_ptr<platform::SessionWatcher> session = nullptr);

} // namespace ravolet
