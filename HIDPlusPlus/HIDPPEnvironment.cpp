#include "HIDPlusPlus/HIDPPEnvironment.hpp"

#include "HIDPlusPlus/HIDPPRunLoop.hpp"

namespace ravolet {

HIDPPEnvironment HIDPPEnvironment::standard() {
    return HIDPPEnvironment{
        platform::HIDSystem::shared(),
        HIDPPRunLoop::shared().runLoop(),
        nullptr,
    };
}

} // namespace ravolet
