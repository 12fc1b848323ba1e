#include "RavoletApp/ViewModels/SettingNames.hpp"

#include <algorithm>
#include <string_view>

#include "RavoletApp/ViewModels/ScrollPageRules.hpp"

namespace ravolet {

namespace {

struct Named {
    std::vector<std::string_view> keys;
    std::string_view name;
};

std::string_view slider(ScrollSlider which) { return scrollSlider(which).title; }

// A profile's settings by the keys inside it, as its pages title them. The
// longest entry that leads the setting's keys names it, so a part of a value
// (one of the curve's figures) has its own name and the rest its whole's.
const std::vector<Named>& profileSettings() {
    static const std::vector<Named> names{
        {{"name"}, "The name"},
        {{"scroll"}, "Scrolling"},
        {{"scroll", "isEnabled"}, "Smooth the scroll wheel"},
        {{"scroll", "enabledAxes"}, "Which directions"},
        {{"scroll", "activationModifiers"}, "Smooth scrolling applies"},
        {{"scroll", "pixelsPerDetent"}, slider(ScrollSlider::distance)},
        {{"scroll", "durationMillis"}, slider(ScrollSlider::glideLength)},
        {{"scroll", "easing"}, "Glide shape"},
        {{"scroll", "isInverted"}, "Reverse the direction"},
        {{"scroll", "accelerationEnabled"}, "Speed up when you spin the wheel quickly"},
        {{"scroll", "accelerationGain"}, slider(ScrollSlider::gain)},
        {{"scroll", "maxAccelerationMultiplier"}, slider(ScrollSlider::speedLimit)},
        {{"scroll", "frameIntervalMillis"}, slider(ScrollSlider::frameInterval)},
        {{"scroll", "maxInFlightPixels"}, slider(ScrollSlider::maxInFlight)},
        {{"pointer"}, "Pointer movement"},
        {{"pointer", "isEnabled"}, "Let Ravolet reshape pointer movement"},
        {{"pointer", "dpi"}, "DPI"},
        {{"pointer", "curve", "sensitivity"}, "Pointer speed"},
        {{"pointer", "curve", "acceleration"}, "Speed up when I move quickly"},
        {{"pointer", "curve", "acceleration", "curve", "thresholdCountsPerSecond"}, "Starts speeding up above"},
        {{"pointer", "curve", "acceleration", "curve", "exponent"}, "How sharply it speeds up"},
        {{"pointer", "curve", "acceleration", "curve", "maxGain"}, "Never more than"},
        {{"buttons"}, "Button bindings"},
    };
    return names;
}

const std::vector<Named>& ruleSettings() {
    static const std::vector<Named> names{
        {{"pattern"}, "The app"},
        {{"profileID"}, "The profile"},
        {{"priority"}, "Priority"},
        {{"isEnabled"}, "On or off"},
    };
    return names;
}

const std::vector<Named>& documentSettings() {
    static const std::vector<Named> names{
        {{"isEnabled"}, "Ravolet on or off"},
        {{"ruleSet", "defaultProfileID"}, "The profile for every other app"},
    };
    return names;
}

std::string_view nameOf(const std::vector<Named>& table, const std::vector<std::string>& keys) {
    const Named* best = nullptr;
    for (const Named& entry : table) {
        if (entry.keys.size() > keys.size() || (best && best->keys.size() >= entry.keys.size())) continue;
        if (std::equal(entry.keys.begin(), entry.keys.end(), keys.begin())) best = &entry;
    }
    return best ? best->name : std::string_view("A setting");
}

// "profiles" → "profile".
std::string elementKind(const std::string& listKey) {
    return listKey.ends_with('s') ? listKey.substr(0, listKey.size() - 1) : listKey;
}

} // namespace

std::string settingName(const SettingPath& path) {
    const auto element = std::find_if(path.rbegin(), path.rend(), [](const SettingStep& s) { return s.element.has_value(); });
    std::vector<std::string> keys;
    for (auto step = element.base(); step != path.end(); ++step) keys.push_back(step->key);
    if (element == path.rend()) return std::string(nameOf(documentSettings(), keys));
    const std::string kind = elementKind(element->key);
    const std::string owner = "the " + kind + " \u201C" + *element->element + "\u201D";
    if (keys.empty()) return owner;
    const std::vector<Named>& table = kind == "profile" ? profileSettings() : ruleSettings();
    return std::string(nameOf(table, keys)) + " in " + owner;
}

std::string settingOrderName(const SettingPath& path) {
    return path.empty() ? "the order" : "the order of the " + path.back().key;
}

} // namespace ravolet
