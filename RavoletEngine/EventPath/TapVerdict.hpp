#pragma once

#include <ostream>
#include <string_view>

namespace ravolet {

// What the tap handler (and the input router) answers for one event: let it
// go on, with any changes made to it in place, or swallow it.
enum class TapVerdict { pass, suppress };

constexpr std::string_view toString(TapVerdict v) { return v == TapVerdict::pass ? "pass" : "suppress"; }
inline std::ostream& operator<<(std::ostream& os, TapVerdict v) { return os << toString(v); }

} // namespace ravolet
