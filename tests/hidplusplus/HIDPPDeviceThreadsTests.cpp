// The threaded set-up of the device tests: the real HID I/O thread and serial queues.

#include "HIDPPDeviceTestSupport.hpp"
#include "HIDPlusPlus/HIDPPRunLoop.hpp"
#include "Platform/SerialQueue.hpp"

namespace ravolet::testing {

HIDPPEnvironment threadedEnvironment(std::shared_ptr<platform::HIDSystem> hid) {
    return HIDPPEnvironment{std::move(hid), HIDPPRunLoop::shared().runLoop(), [] {
                                return std::make_shared<platform::SerialQueue>("ai.ravolet.hidpp.send",
                                                                               platform::QueuePriority::userInitiated);
                            }};
}

std::shared_ptr<platform::Scheduler> makeSerialQueue(const char* label) {
    return std::make_shared<platform::SerialQueue>(label, platform::QueuePriority::userInitiated);
}

} // namespace ravolet::testing
