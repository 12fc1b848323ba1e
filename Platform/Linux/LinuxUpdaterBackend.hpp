#pragma once

#include "Platform/UpdaterBackend.hpp"

namespace ravolet::platform {

// On Linux the program never updates itself: the copy that Ravolet's Debian
// package installed is updated by the package manager, when a newer package
// is installed over it, and a build from source by building it again. This
// machinery never can check, has no feed and no date of a last check, and
// starting it does nothing. The automatic-check switch is kept, so that it
// reads back what was set.
class LinuxUpdaterBackend final : public UpdaterBackend {
public:
    void setDelegate(std::weak_ptr<UpdaterBackendDelegate>) override {}
    void startUpdater() override {}
    bool automaticallyChecksForUpdates() const override { return automaticChecks_; }
    void setAutomaticallyChecksForUpdates(bool on) override { automaticChecks_ = on; }
    bool canCheckForUpdates() const override { return false; }
    void checkForUpdates() override {}
    bool updatesItself() const override { return false; }
    std::optional<std::chrono::system_clock::time_point> lastUpdateCheckDate() const override { return std::nullopt; }
    std::optional<std::string> feedURL() const override { return std::nullopt; }

private:
    bool automaticChecks_ = false;
};

} // namespace ravolet::platform
