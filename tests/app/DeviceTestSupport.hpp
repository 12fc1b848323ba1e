#pragma once

// The application's device services over the real HID++ device and the
// simulated G502 X on a simulated bus. In virtual time one manual scheduler is
// the HID I/O thread, every queue and the user interface's executor, so every
// step is deterministic; with threads the real HID I/O thread and serial
// queues run it, as in the program.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "HIDPlusPlus/HIDPPRunLoop.hpp"
#include "Platform/SerialQueue.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"
#include "Platform/Simulated/SimulatedClock.hpp"
#include "Platform/Simulated/SimulatedHIDBus.hpp"
#include "Platform/Simulated/SimulatedMouse.hpp"
#include "RavoletApp/Model/DeviceMonitor.hpp"

namespace ravolet::testing {

struct MouseRig {
    explicit MouseRig(bool threads = false, bool plugged = true) {
        if (!threads) loop = std::make_shared<platform::ManualScheduler>();
        if (plugged) mouse->plugIn(bus);
        const auto queue = [loop = loop](const char* label) -> std::shared_ptr<platform::Scheduler> {
            if (loop) return loop;
            return std::make_shared<platform::SerialQueue>(label, platform::QueuePriority::userInitiated);
        };
        std::shared_ptr<platform::Scheduler> io = loop;
        if (!io) io = HIDPPRunLoop::shared().runLoop();
        HIDPPEnvironment environment{bus, io, [queue] { return queue("ai.ravolet.hidpp.send"); }};
        device = HIDPPDevice::create(HIDPPDeviceMatch::g502X, environment, queue("ai.ravolet.hidpp.device"));
        ui = queue("ui");
    }

    ~MouseRig() {
        device.reset();
        if (loop) loop->runUntilIdle();
    }

    // Virtual time only: lets everything set in motion run, time-outs included.
    void settle() { loop->advance(std::chrono::seconds(5)); }

    // The requests of the mouse's settings writes, in order: "rate" and "wheel".
    std::vector<std::string> writes() const {
        std::vector<std::string> names;
        for (const auto& request : mouse->receivedRequests()) {
            if (request.function != 2) continue;
            if (request.featureID == platform::SimulatedMouse::reportRateFeature) names.push_back("rate");
            if (request.featureID == platform::SimulatedMouse::hiResWheelFeature) names.push_back("wheel");
        }
        return names;
    }

    std::shared_ptr<platform::ManualScheduler> loop; // virtual time only
    std::shared_ptr<platform::SimulatedHIDBus> bus = platform::SimulatedHIDBus::make();
    std::shared_ptr<platform::SimulatedMouse> mouse = platform::SimulatedMouse::make();
    std::shared_ptr<platform::SimulatedClock> clock = std::make_shared<platform::SimulatedClock>();
    std::shared_ptr<HIDPPDevice> device;
    std::shared_ptr<platform::Scheduler> ui;
};

} // namespace ravolet::testing
