#pragma once

#include "Platform/UpdaterBackend.hpp"

namespace ravolet::platform {

// On Linux the program is updated through the system's package manager, not
// by itself: this machinery never can check, has no feed and no date of a
// last check, and starting it does nothing. The automatic-check switch is
// kept, so that it reads back what was set.
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
