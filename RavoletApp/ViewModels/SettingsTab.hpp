#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace ravolet {

// The settings window's pages, in the order of its tab strip; a tab's
// position is its page's index.
enum class SettingsTab { scroll, buttons, pointer, profiles, device, updates };

inline constexpr std::array<SettingsTab, 6> allSettingsTabs{SettingsTab::scroll,   SettingsTab::buttons,
                                                            SettingsTab::pointer,  SettingsTab::profiles,
                                                            SettingsTab::device,   SettingsTab::updates};

// The window title, tab label, tooltip and accessible name of a tab.
std::string_view title(SettingsTab tab);
// The symbol drawn above the tab's title.
std::string_view symbolName(SettingsTab tab);
int position(SettingsTab tab);
// The tab at a position from 0 to 5; none outside.
std::optional<SettingsTab> settingsTabAt(int position);

} // namespace ravolet
