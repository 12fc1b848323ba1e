#include "Core/Profile.hpp"

#include <ostream>

#include <fmt/format.h>

#include "Support/ValueSupport.hpp"

namespace ravolet {

namespace {

// The factory numbers shared by every built-in profile; only the switches, the
// easing and the bindings differ between them.
Profile factoryProfile(std::string id, std::string name, bool isEnabled, Easing easing, std::vector<ButtonBinding> buttons) {
    ScrollSettings scroll = ScrollSettings::passThrough;
    scroll.isEnabled = isEnabled;
    scroll.easing = easing;
    const PointerSettings pointer{isEnabled, Profile::defaultDPI, PointerCurve::desktop};
    return Profile(std::move(id), std::move(name), scroll, pointer, std::move(buttons));
}

std::vector<ButtonBinding> sniperBinding() {
    return {ButtonBinding{Profile::sniperButton, ModifierFlags::none, Action::dpiShift(400), true}};
}

} // namespace

Profile::Profile(std::string id, std::string name, ScrollSettings scroll, PointerSettings pointer,
                 std::vector<ButtonBinding> buttons)
    : id(std::move(id)), name(std::move(name)), scroll(scroll), pointer(pointer), buttons(std::move(buttons)) {}

Profile Profile::defaultProfile() {
    static const Profile profile = factoryProfile(std::string(defaultProfileID), "Default", true, Easing::easeOut, sniperBinding());
    return profile;
}

Profile Profile::canvasApp(std::string id, std::string name) {
    return factoryProfile(std::move(id), std::move(name), true, Easing::easeInOut, sniperBinding());
}

Profile Profile::untouched() {
    static const Profile profile = factoryProfile("passthrough", "Pass Through", false, Easing::easeOut, {});
    return profile;
}

ButtonRouter Profile::makeRouter() const { return ButtonRouter(buttons, pointer.dpi); }

ScrollTransformer Profile::makeScrollTransformer() const { return ScrollTransformer(scroll); }

Json Profile::toJson() const {
    Json list = Json::array();
    for (const ButtonBinding& binding : buttons) list.push_back(binding.toJson());
    return Json{
        {"id", id}, {"name", name}, {"scroll", scroll.toJson()}, {"pointer", pointer.toJson()}, {"buttons", std::move(list)},
    };
}

Profile Profile::fromJson(const JsonValue& v) {
    std::vector<ButtonBinding> buttons;
    for (const JsonValue& item : v["buttons"].asArray()) buttons.push_back(ButtonBinding::fromJson(item));
    return Profile(v["id"].asString(), v["name"].asString(), ScrollSettings::fromJson(v["scroll"]),
                   PointerSettings::fromJson(v["pointer"]), std::move(buttons));
}

std::ostream& operator<<(std::ostream& os, const Profile& p) {
    os << "Profile(id: \"" << p.id << "\", name: \"" << p.name << "\", scroll: " << p.scroll << ", pointer: " << p.pointer
       << ", buttons: [";
    for (std::size_t i = 0; i < p.buttons.size(); ++i) os << (i == 0 ? "" : ", ") << p.buttons[i];
    return os << "])";
}

} // namespace ravolet

std::size_t std::hash<ravolet::Profile>::operator()(const ravolet::Profile& p) const noexcept {
    std::size_t seed = ravolet::hashFields(p.id, p.name, p.scroll, p.pointer);
    for (const ravolet::ButtonBinding& binding : p.buttons) {
        seed = ravolet::hashCombine(seed, std::hash<ravolet::ButtonBinding>{}(binding));
    }
    return seed;
}
