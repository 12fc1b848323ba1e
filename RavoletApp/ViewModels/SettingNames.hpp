#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace ravolet {

// One step of the way to a setting in the settings document's JSON form: a
// key, or an element of one of its lists of profiles or rules, given by the
// list's key and the element's name (else its identifier).
struct SettingStep {
    std::string key;
    std::optional<std::string> element = std::nullopt;

    friend bool operator==(const SettingStep&, const SettingStep&) = default;
    friend std::ostream& operator<<(std::ostream& os, const SettingStep& step) {
        return os << step.key << (step.element ? " “" + *step.element + "”" : "");
    }
};
using SettingPath = std::vector<SettingStep>;

// The setting as the pages name it, with the profile or rule it belongs to:
// "Distance per wheel click in the profile “Default”", "the profile “Canvas”".
std::string settingName(const SettingPath& path);
// The order of the list at `path`: "the order of the profiles".
std::string settingOrderName(const SettingPath& path);

} // namespace ravolet
