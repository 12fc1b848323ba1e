#include "RavoletEngine/EventPath/EventFlagMapping.hpp"

#include <array>
#include <utility>

namespace ravolet {

namespace {
constexpr std::array<std::pair<ModifierFlags, platform::EventFlags>, 6> flagTable{{
    {ModifierFlags::capsLock, platform::EventFlagBits::alphaShift},
    {ModifierFlags::shift, platform::EventFlagBits::shift},
    {ModifierFlags::control, platform::EventFlagBits::control},
    {ModifierFlags::option, platform::EventFlagBits::alternate},
    {ModifierFlags::command, platform::EventFlagBits::command},
    {ModifierFlags::function, platform::EventFlagBits::secondaryFn},
}};
} // namespace

ModifierFlags modifierFlags(platform::EventFlags eventFlags) {
    ModifierFlags result;
    for (const auto& [modifier, flag] : flagTable)
        if (eventFlags & flag) result.formUnion(modifier);
    return result;
}

platform::EventFlags eventFlags(ModifierFlags modifiers) {
    platform::EventFlags result = 0;
    for (const auto& [modifier, flag] : flagTable)
        if (modifiers.contains(modifier)) result |= flag;
    return result;
}

} // namespace ravolet
