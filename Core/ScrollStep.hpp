#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>

#include "Support/ValueSupport.hpp"
#include "Core/ModifierFlags.hpp"
#include "Core/ScrollPhase.hpp"

namespace ravolet {

// One timed pixel step of a glide.
struct ScrollStep {
    // Time of the step after the plan's start.
    double offsetMillis = 0;
    std::int64_t pixelDelta = 0;
    bool isContinuous = true;
    ScrollPhase phase = ScrollPhase::changed;
    // Present only on the step that closes the previous gesture, carrying that
    // gesture's modifiers.
    std::optional<ModifierFlags> modifiers = std::nullopt;

    friend bool operator==(const ScrollStep&, const ScrollStep&) = default;
};

std::ostream& operator<<(std::ostream& os, const ScrollStep& step);

} // namespace ravolet

template <>
struct std::hash<ravolet::ScrollStep> {
    std::size_t operator()(const ravolet::ScrollStep& s) const noexcept {
        return ravolet::hashFields(s.offsetMillis, s.pixelDelta, s.isContinuous, s.phase, s.modifiers);
    }
};
