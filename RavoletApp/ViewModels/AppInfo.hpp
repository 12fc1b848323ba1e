#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Platform/ApplicationCatalogue.hpp"
#include "Platform/Workspace.hpp"
#include "RavoletApp/ViewModels/ActionSummary.hpp"

namespace ravolet {

class AppModel;

// An application as the pickers show it: its bundle identifier (on Linux, its
// desktop-file identifier), the name shown to the user, and where its entry
// is, when the system knows. Compared over all three fields.
struct AppInfo {
    std::string bundleID;
    std::string name;
    std::optional<std::filesystem::path> url;

    // The installed application with this identifier; one nobody installed is
    // named by its identifier and has no location. Asked afresh every time.
    static AppInfo lookup(const platform::ApplicationCatalogue& catalogue, const std::string& bundleID);
    static AppInfo lookup(const AppModel& model, const std::string& bundleID);

    // The ordinary applications running now that have an identifier, by name
    // as a file manager sorts (case ignored, numbers by value); applications
    // whose names sort together keep the desktop's order. An installed one is
    // named as lookup() names it, so the list, the icon and the name shown
    // once it is chosen agree; others by the name the desktop gives them.
    static std::vector<AppInfo> runningApps(const platform::Workspace& workspace,
                                            const platform::ApplicationCatalogue& catalogue);
    static std::vector<AppInfo> runningApps(const AppModel& model);

    friend bool operator==(const AppInfo&, const AppInfo&) = default;
};

// The installed applications that menus show, by name as a file manager
// sorts them (those whose names sort together by identifier), for the
// application chooser.
std::vector<platform::DesktopApplication> installedApplications(const platform::ApplicationCatalogue& catalogue);

// The display name of an installed application, none for an identifier no
// application has; asks the model's catalogue on every call.
ApplicationNameLookup applicationNameLookup(const AppModel& model);

} // namespace ravolet

template <>
struct std::hash<ravolet::AppInfo> {
    std::size_t operator()(const ravolet::AppInfo& info) const noexcept;
};
