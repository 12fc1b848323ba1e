#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/UpdaterBackend.hpp"

namespace ravolet::platform {

// An update machinery that does nothing by itself: it records every call
// that changes something ("startUpdater", "setAutomaticallyChecksForUpdates(true)",
// "checkForUpdates"), reports what the test sets, and calls its delegate
// when the test plays the machinery's part. Main thread only.
class SimulatedUpdaterBackend final : public UpdaterBackend {
public:
    void setDelegate(std::weak_ptr<UpdaterBackendDelegate> delegate) override { delegate_ = std::move(delegate); }
    void startUpdater() override {
        calls_.push_back("startUpdater");
        if (automaticChecksOnStart_) automaticChecks_ = *automaticChecksOnStart_;
    }
    bool automaticallyChecksForUpdates() const override { return automaticChecks_; }
    void setAutomaticallyChecksForUpdates(bool on) override {
        calls_.push_back(on ? "setAutomaticallyChecksForUpdates(true)" : "setAutomaticallyChecksForUpdates(false)");
        automaticChecks_ = on;
    }
    bool canCheckForUpdates() const override { return canCheck_; }
    void checkForUpdates() override { calls_.push_back("checkForUpdates"); }
    std::optional<std::chrono::system_clock::time_point> lastUpdateCheckDate() const override { return lastCheck_; }
    std::optional<std::string> feedURL() const override { return feedURL_; }

    // The machinery's own state, set without a recorded call.
    void presetAutomaticChecks(bool on) { automaticChecks_ = on; }
    // The switch a start leaves, as a machinery that reads its own stored
    // settings when it starts.
    void presetAutomaticChecksOnStart(std::optional<bool> on) { automaticChecksOnStart_ = on; }
    void setCanCheckForUpdates(bool can) { canCheck_ = can; }
    void setLastUpdateCheckDate(std::optional<std::chrono::system_clock::time_point> date) { lastCheck_ = date; }
    void setFeedURL(std::optional<std::string> url) { feedURL_ = std::move(url); }

    // The delegate, while it exists.
    std::shared_ptr<UpdaterBackendDelegate> delegate() const { return delegate_.lock(); }
    const std::vector<std::string>& calls() const { return calls_; }
    void clearCalls() { calls_.clear(); }

private:
    std::weak_ptr<UpdaterBackendDelegate> delegate_;
    bool automaticChecks_ = false;
    std::optional<bool> automaticChecksOnStart_;
    bool canCheck_ = true;
    std::optional<std::chrono::system_clock::time_point> lastCheck_;
    std::optional<std::string> feedURL_;
    std::vector<std::string> calls_;
};

} // namespace ravolet::platform
