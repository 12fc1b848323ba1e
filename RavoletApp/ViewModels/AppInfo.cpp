#include "RavoletApp/ViewModels/AppInfo.hpp"

#include <algorithm>

#include "Core/UnicodeText.hpp"
#include "RavoletApp/Model/AppModel.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

AppInfo AppInfo::lookup(const platform::ApplicationCatalogue& catalogue, const std::string& bundleID) {
    if (auto installed = catalogue.application(bundleID)) return {bundleID, installed->name, installed->location};
    return {bundleID, bundleID, std::nullopt};
}

AppInfo AppInfo::lookup(const AppModel& model, const std::string& bundleID) {
    return lookup(*model.dependencies().applications, bundleID);
}

std::vector<AppInfo> AppInfo::runningApps(const platform::Workspace& workspace,
                                          const platform::ApplicationCatalogue& catalogue) {
    std::vector<AppInfo> apps;
    for (const platform::RunningApplication& running : workspace.runningApplications()) {
        if (!running.isRegular || !running.bundleID) continue;
        if (auto installed = catalogue.application(*running.bundleID)) {
            apps.push_back({*running.bundleID, installed->name, installed->location});
        } else {
            apps.push_back({*running.bundleID, running.localizedName.empty() ? *running.bundleID : running.localizedName,
                            std::nullopt});
        }
    }
    std::ranges::stable_sort(apps, [](const AppInfo& a, const AppInfo& b) {
        return unicode::compareNaturally(a.name, b.name) < 0;
    });
    return apps;
}

std::vector<AppInfo> AppInfo::runningApps(const AppModel& model) {
    return runningApps(*model.dependencies().workspace, *model.dependencies().applications);
}

std::vector<platform::DesktopApplication> installedApplications(const platform::ApplicationCatalogue& catalogue) {
    std::vector<platform::DesktopApplication> applications = catalogue.installedApplications();
    std::ranges::sort(applications, [](const platform::DesktopApplication& a, const platform::DesktopApplication& b) {
        if (const int order = unicode::compareNaturally(a.name, b.name); order != 0) return order < 0;
        return a.bundleID < b.bundleID;
    });
    return applications;
}

ApplicationNameLookup applicationNameLookup(const AppModel& model) {
    return [catalogue = model.dependencies().applications](const std::string& bundleID) -> std::optional<std::string> {
        if (auto installed = catalogue->application(bundleID)) return installed->name;
        return std::nullopt;
    };
}

} // namespace ravolet

std::size_t std::hash<ravolet::AppInfo>::operator()(const ravolet::AppInfo& info) const noexcept {
    return ravolet::hashFields(info.bundleID, info.name, info.url.has_value(),
                               info.url ? info.url->native() : std::string());
}
