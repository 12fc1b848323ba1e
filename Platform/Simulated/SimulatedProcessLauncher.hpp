#pragma once

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Platform/ProcessLauncher.hpp"

namespace ravolet::platform {

// Records every launch instead of starting anything. A launch succeeds when
// its executable has been installed.
class SimulatedProcessLauncher final : public ProcessLauncher {
public:
    struct Launch {
        std::string executable;
        std::vector<std::string> arguments;
        bool started = false;
        friend bool operator==(const Launch&, const Launch&) = default;
    };

    void installProgram(std::string executable) {
        std::lock_guard lock(mutex_);
        programs_.insert(std::move(executable));
    }

    // Every launch asked for, oldest first, with whether it started.
    std::vector<Launch> launches() const {
        std::lock_guard lock(mutex_);
        return launches_;
    }

    bool launchDetached(const std::string& executable, const std::vector<std::string>& arguments) override {
        std::lock_guard lock(mutex_);
        const bool started = programs_.contains(executable);
        launches_.push_back({executable, arguments, started});
        return started;
    }

private:
    mutable std::mutex mutex_;
    std::set<std::string> programs_;
    std::vector<Launch> launches_;
};

} // namespace ravolet::platform
