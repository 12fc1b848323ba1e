#pragma once

#include <ctime>
#include <memory>

#include "Platform/Clock.hpp"

namespace ravolet::platform {

// The system's real-time clock.
class SystemClock final : public Clock {
public:
    std::chrono::system_clock::time_point now() const override { return std::chrono::system_clock::now(); }
    // From the C library's idea of the local time zone ($TZ, else /etc/localtime).
    std::chrono::seconds localTimeOffset(std::chrono::system_clock::time_point at) const override {
        const std::time_t time = std::chrono::system_clock::to_time_t(at);
        std::tm local{};
        if (!::localtime_r(&time, &local)) return std::chrono::seconds(0);
        return std::chrono::seconds(local.tm_gmtoff);
    }

    static std::shared_ptr<SystemClock> shared() {
        static const auto clock = std::make_shared<SystemClock>();
        return clock;
    }
};

} // namespace ravolet::platform
