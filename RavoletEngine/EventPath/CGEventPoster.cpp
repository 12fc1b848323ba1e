#include "RavoletEngine/EventPath/CGEventPoster.hpp"

#include <limits>

#include "Core/Clamp.hpp"
#include "RavoletEngine/EventPath/EventFlagMapping.hpp"
#include "RavoletEngine/EventPath/RavoletEventTag.hpp"

namespace ravolet {

namespace F = platform::EventFields;

std::optional<platform::Event> makeScrollEvent(platform::EventSystem& system, ScrollAxis axis, std::int64_t pixelDelta,
                                               ScrollPhase phase, ModifierFlags modifiers,
                                               std::int64_t glideRemainingPixels) {
    const auto source = RavoletEventTag::makeSource(system);
    if (!source) return std::nullopt;
    const auto clamped = static_cast<std::int32_t>(clamp<std::int64_t>(
        pixelDelta, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
    const bool vertical = axis == ScrollAxis::vertical;
    auto event = system.createScrollWheelEvent(source.get(), platform::ScrollEventUnit::pixel, 2, vertical ? clamped : 0,
                                               vertical ? 0 : clamped, 0);
    if (!event) return std::nullopt;
    event->setIntegerValueField(F::scrollWheelEventIsContinuous, 1);
    event->setIntegerValueField(F::scrollWheelEventDeltaAxis1, 0);
    event->setIntegerValueField(F::scrollWheelEventDeltaAxis2, 0);
    event->setIntegerValueField(F::scrollWheelEventPointDeltaAxis1, vertical ? pixelDelta : 0);
    event->setIntegerValueField(F::scrollWheelEventPointDeltaAxis2, vertical ? 0 : pixelDelta);
    event->setDoubleValueField(F::scrollWheelEventFixedPtDeltaAxis1, vertical ? static_cast<double>(pixelDelta) : 0.0);
    event->setDoubleValueField(F::scrollWheelEventFixedPtDeltaAxis2, vertical ? 0.0 : static_cast<double>(pixelDelta));
    event->setIntegerValueField(F::scrollWheelEventScrollPhase, scrollPhaseFieldValue(phase));
    event->setIntegerValueField(F::scrollWheelEventMomentumPhase, 0);
    if (glideRemainingPixels != 0) event->setIntegerValueField(F::ravoletGlideRemainingPixels, glideRemainingPixels);
    event->setFlags(eventFlags(modifiers));
    tagAsRavoletEmitted(*event);
    return event;
}

CGEventPoster::CGEventPoster(std::shared_ptr<platform::EventSystem> system, platform::EventTapLocation postLocation)
    : system_(std::move(system)), postLocation_(postLocation),
      keyboard_(std::make_shared<KeyboardEventPoster>(system_)) {}

void CGEventPoster::postScrollStep(ScrollAxis axis, std::int64_t pixelDelta, ScrollPhase phase, ModifierFlags modifiers,
                                   std::int64_t glideRemainingPixels) {
    if (auto event = makeScrollEvent(*system_, axis, pixelDelta, phase, modifiers, glideRemainingPixels))
        system_->post(postLocation_, *event);
}

void CGEventPoster::postKey(std::uint16_t code, bool isDown, ModifierFlags modifiers) {
    keyboard_->post(code, isDown, modifiers, postLocation_);
}

void CGEventPoster::postMouseButton(std::int64_t number, bool isDown) {
    const auto source = RavoletEventTag::makeSource(*system_);
    if (!source) return;
    const auto probe = system_->createEvent(nullptr);
    const platform::Point position = probe ? probe->location() : platform::Point{};

    namespace E = platform::EventTypes;
    platform::EventType type = 0;
    platform::MouseButton button = 0;
    if (number == 0) {
        type = isDown ? E::leftMouseDown : E::leftMouseUp;
        button = 0;
    } else if (number == 1) {
        type = isDown ? E::rightMouseDown : E::rightMouseUp;
        button = 1;
    } else {
        type = isDown ? E::otherMouseDown : E::otherMouseUp;
        // Button numbers beyond 32 bits are cut to the low 32 bits, as the system's button type holds them.
        button = static_cast<platform::MouseButton>(number);
    }
    auto event = system_->createMouseEvent(source.get(), type, position, button);
    if (!event) return;
    event->setIntegerValueField(F::mouseEventButtonNumber, number);
    tagAsRavoletEmitted(*event);
    system_->post(postLocation_, *event);
}

} // namespace ravolet
