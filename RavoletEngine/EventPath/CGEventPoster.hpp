#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "Core/ModifierFlags.hpp"
#include "Core/ScrollAxis.hpp"
#include "Core/ScrollPhase.hpp"
#include "Platform/EventSystem.hpp"
#include "RavoletEngine/EventPath/EventPosting.hpp"
#include "RavoletEngine/EventPath/KeyboardEventPoster.hpp"

namespace ravolet {

// A tagged, pixel-unit, continuous scroll-wheel event for one step on the
// axis; none when the system refuses a source or the event. The wheel value is
// the pixel count clamped to 32 bits; the point delta carries it unclamped.
// A glide's remaining pixels, when known (not 0), ride in a field of our own.
std::optional<platform::Event> makeScrollEvent(platform::EventSystem& system, ScrollAxis axis, std::int64_t pixelDelta,
                                               ScrollPhase phase, ModifierFlags modifiers,
                                               std::int64_t glideRemainingPixels = 0);

// The scroll-phase field's value of a phase: began 1, changed 2, ended 4.
constexpr std::int64_t scrollPhaseFieldValue(ScrollPhase phase) {
    switch (phase) {
    case ScrollPhase::began: return 1;
    case ScrollPhase::changed: return 2;
    case ScrollPhase::ended: return 4;
    }
    return 0;
}

// The live poster: makes tagged events and posts them into the system's event
// stream at postLocation. Copies share one keyboard poster. Scroll steps and
// mouse buttons each use a fresh source; any thread may post at once.
class CGEventPoster final : public EventPosting {
public:
    CGEventPoster(std::shared_ptr<platform::EventSystem> system, platform::EventTapLocation postLocation);

    platform::EventTapLocation postLocation() const { return postLocation_; }
    const std::shared_ptr<KeyboardEventPoster>& keyboard() const { return keyboard_; }

    void postScrollStep(ScrollAxis axis, std::int64_t pixelDelta, ScrollPhase phase, ModifierFlags modifiers,
                        std::int64_t glideRemainingPixels) override;
    void postKey(std::uint16_t code, bool isDown, ModifierFlags modifiers) override;
    void postMouseButton(std::int64_t number, bool isDown) override;

private:
    std::shared_ptr<platform::EventSystem> system_;
    platform::EventTapLocation postLocation_;
    std::shared_ptr<KeyboardEventPoster> keyboard_;
};

} // namespace ravolet
