#pragma once

#include <functional>
#include <memory>

#include "Platform/Executor.hpp"
#include "Platform/HIDSystem.hpp"

namespace ravolet {

// Where the HID++ transport finds the host: the HID system, the HID I/O
// thread's run loop (devices, notification sources, timers and every
// callback live there) and a maker of each link's own serial send queue, or
// none: the link then writes each report on the HID I/O thread itself.
// Tests put a simulated bus and a virtual-time scheduler here.
struct HIDPPEnvironment {
    std::shared_ptr<platform::HIDSystem> hid;
    std::shared_ptr<platform::Scheduler> io;
    std::function<std::shared_ptr<platform::Executor>()> makeSendQueue;

    // The process's HID system and the shared HID I/O thread, which writes
    // the reports itself: a write to a hidraw node is one short transfer, and
    // a request's answer cannot be read before its write is done anyway,
    // while handing the write to a thread of its own costs that thread's
    // wake-up on every request.
    static HIDPPEnvironment standard();
};

} // namespace ravolet
