#pragma once

#include <algorithm>
#include <iterator>
#include <mutex>
#include <vector>

#include "Platform/ApplicationCatalogue.hpp"

namespace ravolet::platform {

// Installed applications that a test lists. A chosen file is an
// application's entry when it is the location of one listed. Safe from any
// thread.
class SimulatedApplicationCatalogue final : public ApplicationCatalogue {
public:
    // Adds the application, or replaces the one with its identifier.
    void install(DesktopApplication application) {
        std::lock_guard lock(mutex_);
        std::erase_if(installed_, [&](const DesktopApplication& a) { return a.bundleID == application.bundleID; });
        installed_.push_back(std::move(application));
    }

    std::optional<DesktopApplication> application(const std::string& bundleID) const override {
        std::lock_guard lock(mutex_);
        const auto found = std::ranges::find(installed_, bundleID, &DesktopApplication::bundleID);
        return found == installed_.end() ? std::nullopt : std::optional(*found);
    }

    std::optional<std::string> bundleIDOfFile(const std::filesystem::path& file) const override {
        std::lock_guard lock(mutex_);
        const auto found = std::ranges::find(installed_, file.lexically_normal(), &DesktopApplication::location);
        return found == installed_.end() ? std::nullopt : std::optional(found->bundleID);
    }

    std::filesystem::path applicationsFolder() const override { return "/usr/share/applications"; }

    std::vector<DesktopApplication> installedApplications() const override {
        std::lock_guard lock(mutex_);
        std::vector<DesktopApplication> shown;
        std::ranges::copy_if(installed_, std::back_inserter(shown), &DesktopApplication::showsInMenus);
        return shown;
    }

private:
    mutable std::mutex mutex_;
    std::vector<DesktopApplication> installed_;
};

} // namespace ravolet::platform
