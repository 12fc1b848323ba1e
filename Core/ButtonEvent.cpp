#include "Core/ButtonEvent.hpp"

#include <ostream>

#include <fmt/format.h>

#include "Support/ValueSupport.hpp"

namespace ravolet {

std::ostream& operator<<(std::ostream& os, const ButtonEvent& event) {
    return os << fmt::format("ButtonEvent(button: {}, isDown: {}, modifiers: {}, timestampMillis: {})", event.button,
                             event.isDown, event.modifiers.rawValue, event.timestampMillis);
}

} // namespace ravolet

std::size_t std::hash<ravolet::ButtonEvent>::operator()(const ravolet::ButtonEvent& event) const noexcept {
    return ravolet::hashFields(event.button, event.isDown, event.modifiers, event.timestampMillis);
}
