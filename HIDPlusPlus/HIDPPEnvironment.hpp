#pragma once

#include <functional>
#include <memory>

#include "Platform/Executor.hpp"
#include "Platform/HIDSystem.hpp"

namespace ravolet {

// Where the HID++ transport finds the host: the HID system, the HID I/O
// thread's run loop (devices, notification sources, timers and every
// callback live there) and a maker of each link's own serial send queue.
// Tests put a simulated bus and a virtual-time scheduler here.
struct HIDPPEnvironment {
    std::shared_ptr<platform::HIDSystem> hid;
    std::shared_ptr<platform::Scheduler> io;
    std::function<std::shared_ptr<platform::Executor>()> makeSendQueue;

    // The process's HID system, the shared HID I/O thread and a serial queue
    // "ai.ravolet.hidpp.send" at user-initiated priority per link.
    static HIDPPEnvironment standard();
};

} // namespace ravolet
