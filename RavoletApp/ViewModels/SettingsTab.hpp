#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace ravolet {

// The settings window's pages, in the order of its tab strip; a tab's
// position is its page's index.
enum class SettingsTab { scroll, buttons, pointer, profiles, device, updates };

inline constexpr std::array<SettingsTab, 6> allSettingsTabs{SettingsTab::scroll,   SettingsTab::buttons,
                                                            SettingsTab::pointer,  SettingsTab::profiles,
                                                            SettingsTab::device,   SettingsTab::updates};

// The tab label, tooltip, accessible name and page title of a tab.
std::string_view title(SettingsTab tab);
// The settings window's title while the tab is shown: the tab's title and the
// program's name, so that a window switcher tells which program it is
// ("Scroll — Ravolet").
std::string windowTitle(SettingsTab tab);
// The symbol drawn above the tab's title.
std::string_view symbolName(SettingsTab tab);
int position(SettingsTab tab);
// The tab at a position from 0 to 5; none outside.
std::optional<SettingsTab> settingsTabAt(int position);
// The tab `steps` places after this one (before it when negative), going
// round from the last to the first and back, as Ctrl+Tab and Ctrl+PgDn do.
SettingsTab tabAfter(SettingsTab tab, int steps);

} // namespace ravolet
