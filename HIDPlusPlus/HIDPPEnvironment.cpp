#include "HIDPlusPlus/HIDPPEnvironment.hpp"

#include "HIDPlusPlus/HIDPPRunLoop.hpp"
#include "Platform/SerialQueue.hpp"

namespace ravolet {

HIDPPEnvironment HIDPPEnvironment::standard() {
    return HIDPPEnvironment{
        platform::HIDSystem::shared(),
        HIDPPRunLoop::shared().runLoop(),
        [] { return std::make_shared<platform::SerialQueue>("ai.ravolet.hidpp.send", platform::QueuePriority::userInitiated); },
    };
}

} // namespace ravolet
