// The device on the process's own HID system and HID I/O thread. Kept apart
// so that code which injects its own environment does not pull in the real
// thread and queue.

#include "HIDPlusPlus/HIDPPDevice.hpp"
#include "Platform/SerialQueue.hpp"

namespace ravolet {

std::shared_ptr<HIDPPDevice> HIDPPDevice::create(HIDPPDeviceMatch match) {
    return create(match, HIDPPEnvironment::standard(),
                  std::make_shared<platform::SerialQueue>("ai.ravolet.hidpp.device", platform::QueuePriority::userInitiated));
}

} // namespace ravolet
