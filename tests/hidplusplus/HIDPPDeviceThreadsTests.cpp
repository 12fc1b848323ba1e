// The threaded set-up of the device tests: the real HID I/O thread and serial queues.

#include "HIDPPDeviceTestSupport.hpp"

namespace ravolet::testing {

HIDPPEnvironment threadedEnvironment(std::shared_ptr<platform::HIDSystem>) {
    ADD_FAILURE() << "threaded runs are not available";
    return {};
}

std::shared_ptr<platform::Scheduler> makeSerialQueue(const char*) {
    ADD_FAILURE() << "threaded runs are not available";
    return nullptr;
}

} // namespace ravolet::testing
