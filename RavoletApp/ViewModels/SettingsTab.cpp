#include "RavoletApp/ViewModels/SettingsTab.hpp"

namespace ravolet {

std::string_view title(SettingsTab tab) {
    switch (tab) {
    case SettingsTab::scroll: return "Scroll";
    case SettingsTab::buttons: return "Buttons";
    case SettingsTab::pointer: return "Pointer";
    case SettingsTab::profiles: return "Profiles";
    case SettingsTab::device: return "Device";
    case SettingsTab::updates: return "Updates";
    }
    return "";
}

std::string_view symbolName(SettingsTab tab) {
    switch (tab) {
    case SettingsTab::scroll: return "arrow.up.and.down";
    case SettingsTab::buttons: return "cursorarrow.click";
    case SettingsTab::pointer: return "cursorarrow";
    case SettingsTab::profiles: return "square.stack.3d.up";
    case SettingsTab::device: return "computermouse";
    case SettingsTab::updates: return "arrow.down.circle";
    }
    return "";
}

std::string windowTitle(SettingsTab tab) { return std::string(title(tab)) + " \u2014 Ravolet"; }

int position(SettingsTab tab) { return static_cast<int>(tab); }

std::optional<SettingsTab> settingsTabAt(int position) {
    if (position < 0 || position >= static_cast<int>(allSettingsTabs.size())) return std::nullopt;
    return allSettingsTabs[static_cast<std::size_t>(position)];
}

SettingsTab tabAfter(SettingsTab tab, int steps) {
    const int count = static_cast<int>(allSettingsTabs.size());
    const int wrapped = ((position(tab) + steps) % count + count) % count;
    return allSettingsTabs[static_cast<std::size_t>(wrapped)];
}

} // namespace ravolet
