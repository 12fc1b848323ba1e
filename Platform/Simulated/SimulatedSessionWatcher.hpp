#pragma once

#include <atomic>

#include "Platform/SessionWatcher.hpp"

namespace ravolet::platform {

// A session that tests switch to and from; in front until told otherwise.
class SimulatedSessionWatcher final : public SessionWatcher {
public:
    bool isActive() const override { return active_.load(); }

    // Subscribers hear of it when it differs from what was.
    void setActive(bool active) {
        if (active_.exchange(active) != active) tell(active);
    }

private:
    std::atomic<bool> active_{true};
};

} // namespace ravolet::platform
