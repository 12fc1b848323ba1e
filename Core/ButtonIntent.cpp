#include "Core/ButtonIntent.hpp"

#include <ostream>

#include <fmt/format.h>

#include "Support/ValueSupport.hpp"

namespace ravolet {

std::ostream& operator<<(std::ostream& os, const ButtonIntent& intent) {
    using I = ButtonIntent;
    std::visit(Overloaded{
                   [&](const I::PassThroughButton& p) {
                       os << fmt::format("passThroughButton(number: {}, isDown: {})", p.number, p.isDown);
                   },
                   [&](const I::KeyDown& k) { os << fmt::format("keyDown({}, {})", k.code, k.modifiers.rawValue); },
                   [&](const I::KeyUp& k) { os << fmt::format("keyUp({}, {})", k.code, k.modifiers.rawValue); },
                   [&](const I::Delay& d) { os << fmt::format("delay({})", d.millis); },
                   [&](const I::MouseButtonDown& m) { os << fmt::format("mouseButtonDown({})", m.number); },
                   [&](const I::MouseButtonUp& m) { os << fmt::format("mouseButtonUp({})", m.number); },
                   [&](const I::StartRepeat& s) { os << "startRepeat(" << s.token << ")"; },
                   [&](const I::StopRepeat& s) { os << fmt::format("stopRepeat(id: {})", s.id); },
                   [&](const I::SetDPI& s) { os << fmt::format("setDPI({})", s.dpi); },
                   [&](const I::LaunchApp& l) { os << fmt::format("launchApp(bundleID: \"{}\")", l.bundleID); },
                   [&](const I::RunShortcut& r) { os << fmt::format("runShortcut(name: \"{}\")", r.name); },
               },
               intent.value);
    return os;
}

} // namespace ravolet

std::size_t std::hash<ravolet::ButtonIntent>::operator()(const ravolet::ButtonIntent& intent) const noexcept {
    using namespace ravolet;
    using I = ButtonIntent;
    const std::size_t payload =
        std::visit(Overloaded{
                       [](const I::PassThroughButton& p) { return hashFields(p.number, p.isDown); },
                       [](const I::Delay& d) { return hashFields(d.millis); },
                       [](const I::MouseButtonDown& m) { return hashFields(m.number); },
                       [](const I::MouseButtonUp& m) { return hashFields(m.number); },
                       [](const I::StartRepeat& s) { return hashFields(s.token); },
                       [](const I::StopRepeat& s) { return hashFields(s.id); },
                       [](const I::SetDPI& s) { return hashFields(s.dpi); },
                       [](const I::LaunchApp& l) { return hashFields(l.bundleID); },
                       [](const I::RunShortcut& r) { return hashFields(r.name); },
                       [](const auto& k) { return hashFields(k); },
                   },
                   intent.value);
    return hashCombine(intent.value.index(), payload);
}
