#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "Core/ButtonBinding.hpp"
#include "Core/ButtonRouter.hpp"
#include "Core/Json.hpp"
#include "Core/PointerSettings.hpp"
#include "Core/ScrollSettings.hpp"
#include "Core/ScrollTransformer.hpp"

namespace ravolet {

// A named bundle of scroll settings, pointer settings and button bindings that
// applies while a matching application is frontmost. Rules and the rule set's
// default refer to a profile by its `id`.
struct Profile {
    std::string id;
    std::string name;
    ScrollSettings scroll;
    PointerSettings pointer;
    std::vector<ButtonBinding> buttons;

    Profile(std::string id, std::string name, ScrollSettings scroll, PointerSettings pointer,
            std::vector<ButtonBinding> buttons);

    // The profile that the factory rule set falls back to.
    static constexpr std::string_view defaultProfileID = "default";
    // The pointer DPI of every built-in profile.
    static constexpr std::int64_t defaultDPI = 2000;
    // The button that the default and canvas profiles bind to the DPI shift.
    static constexpr std::int64_t sniperButton = 5;

    // The default profile ("default", "Default"): smooth scrolling with easeOut,
    // the desktop pointer curve at 2000 DPI, button 5 shifting to 400 DPI while
    // held. Built once on first use; every call gets its own copy.
    static Profile defaultProfile();
    // The default profile under another identifier and name, easing easeInOut.
    static Profile canvasApp(std::string id, std::string name);
    // "passthrough": the default numbers with smooth scrolling and the pointer
    // curve off and no button bound, so that it leaves the mouse's events as
    // they come. Built once on first use; every call gets its own copy.
    static Profile untouched();

    // A fresh, idle router over the profile's bindings, with the profile's
    // pointer DPI as its base DPI whether or not the pointer curve is on.
    ButtonRouter makeRouter() const;
    // A fresh, idle transformer with the profile's scroll settings exactly as
    // stored (it sanitizes them itself on every transform).
    ScrollTransformer makeScrollTransformer() const;

    // {"buttons", "id", "name", "pointer", "scroll"}, all required.
    Json toJson() const;
    static Profile fromJson(const JsonValue& v);

    friend bool operator==(const Profile&, const Profile&) = default;
};

std::ostream& operator<<(std::ostream&, const Profile&);

} // namespace ravolet

template <>
struct std::hash<ravolet::Profile> {
    std::size_t operator()(const ravolet::Profile& p) const noexcept;
};
