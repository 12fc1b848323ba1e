#include "RavoletEngine/EventPath/RavoletEventTag.hpp"

namespace ravolet::RavoletEventTag {

std::shared_ptr<platform::EventSource> makeSource(platform::EventSystem& system) {
    auto source = system.createSource(platform::EventSourceStateID::privateState);
    if (!source) return nullptr;
    source->setUserData(value);
    source->setLocalEventsFilterDuringSuppressionState(platform::EventFilterMask::permitAllEvents,
                                                       platform::EventSuppressionState::suppressionInterval);
    return source;
}

} // namespace ravolet::RavoletEventTag
