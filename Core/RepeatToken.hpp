#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>

#include "Core/MacroStep.hpp"

namespace ravolet {

// A repetition that runs for as long as a button is held. Exists only in memory.
struct RepeatToken {
    // Identity of the repetition; the router uses the number of the button
    // that started it.
    std::int64_t id = 0;
    // The step performed at each repetition.
    MacroStep step;
    // Time between repetitions; the router never makes a token with less than 1.
    double intervalMillis = 0;
    // Time stamp of the press that started the repetition.
    double startedAtMillis = 0;

    friend bool operator==(const RepeatToken&, const RepeatToken&) = default;
};

std::ostream& operator<<(std::ostream&, const RepeatToken&);

} // namespace ravolet

template <>
struct std::hash<ravolet::RepeatToken> {
    std::size_t operator()(const ravolet::RepeatToken& token) const noexcept;
};
