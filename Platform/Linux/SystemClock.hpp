#pragma once

#include <memory>

#include "Platform/Clock.hpp"

namespace ravolet::platform {

// The system's real-time clock.
class SystemClock final : public Clock {
public:
    std::chrono::system_clock::time_point now() const override { return std::chrono::system_clock::now(); }

    static std::shared_ptr<SystemClock> shared() {
        static const auto clock = std::make_shared<SystemClock>();
        return clock;
    }
};

} // namespace ravolet::platform
