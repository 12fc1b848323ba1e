#pragma once

#include "Core/ModifierFlags.hpp"
#include "Platform/Event.hpp"

namespace ravolet {

// Modifier flags to event flags and back: caps lock 0x10000, shift 0x20000,
// control 0x40000, option 0x80000, command 0x100000, function 0x800000; other
// bits are ignored both ways.
ModifierFlags modifierFlags(platform::EventFlags eventFlags);
platform::EventFlags eventFlags(ModifierFlags modifiers);

} // namespace ravolet
