#include "Core/ButtonBinding.hpp"

#include <ostream>

#include "Support/ValueSupport.hpp"

namespace ravolet {

Json ButtonBinding::toJson() const {
    return Json{{"button", button}, {"modifiers", modifiers.toJson()}, {"action", action.toJson()}, {"isEnabled", isEnabled}};
}

ButtonBinding ButtonBinding::fromJson(const JsonValue& v) {
    return ButtonBinding{
        .button = v["button"].asInteger<std::int64_t>(),
        .modifiers = ModifierFlags::fromJson(v["modifiers"]),
        .action = Action::fromJson(v["action"]),
        .isEnabled = v["isEnabled"].asBool(),
    };
}

std::ostream& operator<<(std::ostream& os, const ButtonBinding& binding) { return os << binding.toJson().dump(); }

} // namespace ravolet

std::size_t std::hash<ravolet::ButtonBinding>::operator()(const ravolet::ButtonBinding& binding) const noexcept {
    return ravolet::hashFields(binding.button, binding.modifiers, binding.action, binding.isEnabled);
}
