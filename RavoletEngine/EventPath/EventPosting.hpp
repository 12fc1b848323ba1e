#pragma once

#include <cstdint>

#include "Core/ModifierFlags.hpp"
#include "Core/ScrollAxis.hpp"

namespace ravolet {

// began, changed, ended: the phase of a posted scroll step.
enum class ScrollPhase;

// Where the pipelines send the events they synthesise. Every event posted
// through it carries the program's tag. Implementations accept calls from any
// thread; posting has no result and never fails.
class EventPosting {
public:
    virtual ~EventPosting() = default;

    // One pixel-unit, continuous scroll step on the axis, with its phase.
    // glideRemainingPixels: what this step and the rest of its glide post (0
    // for a step that closes a gesture), for an event system that shapes how
    // a glide starts.
    virtual void postScrollStep(ScrollAxis axis, std::int64_t pixelDelta, ScrollPhase phase, ModifierFlags modifiers,
                                std::int64_t glideRemainingPixels) = 0;
    // A key going down or up (virtual key code), with the modifiers it needs.
    virtual void postKey(std::uint16_t code, bool isDown, ModifierFlags modifiers) = 0;
    // A mouse button: 0 left, 1 right, 2 and up the other buttons.
    virtual void postMouseButton(std::int64_t number, bool isDown) = 0;
};

} // namespace ravolet
