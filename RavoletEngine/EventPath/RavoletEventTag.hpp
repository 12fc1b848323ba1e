#pragma once

#include <cstdint>
#include <memory>

#include "Platform/Event.hpp"
#include "Platform/EventSystem.hpp"

namespace ravolet {

// The mark on every event the program injects, so that it is recognised when
// it comes back through the program's own tap: "RAVOLET" in ASCII read as a
// big-endian number, in field 42 (the source's user data).
namespace RavoletEventTag {

inline constexpr std::int64_t value = 0x5241564F4C4554;

// A new private-state source whose events carry the tag, letting local mouse,
// keyboard and system-defined events through during the suppression interval;
// nullptr when the system refuses.
std::shared_ptr<platform::EventSource> makeSource(platform::EventSystem& system);

} // namespace RavoletEventTag

// Sets field 42 to the tag.
inline void tagAsRavoletEmitted(platform::Event& event) {
    event.setIntegerValueField(platform::EventFields::eventSourceUserData, RavoletEventTag::value);
}

// Whether field 42 holds the tag.
inline bool isRavoletEmitted(const platform::Event& event) {
    return event.integerValueField(platform::EventFields::eventSourceUserData) == RavoletEventTag::value;
}

} // namespace ravolet
