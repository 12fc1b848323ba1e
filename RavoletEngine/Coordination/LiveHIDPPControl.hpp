#pragma once

#include <memory>

#include "HIDPlusPlus/HIDPPDevice.hpp"
#include "RavoletEngine/Coordination/HIDPPControlling.hpp"

namespace ravolet {

// Changes the mouse's settings through an HIDPPDevice, on sensor 0, passing
// the device's errors through unchanged. Holds no state of its own.
class LiveHIDPPControl final : public HIDPPControlling {
public:
    explicit LiveHIDPPControl(std::shared_ptr<HIDPPDevice> device) : device(std::move(device)) {}

    const std::shared_ptr<HIDPPDevice> device;

    void setDPI(std::int64_t dpi, HIDPPExecutor executor, HIDPPCompletion<std::int64_t> completion) override;
    // Only rates that divide 1000 Hz exactly (1, 2, 4, 5, 8, 10, 20, 25, 40, 50,
    // 100, 125, 200, 250, 500, 1000) reach the device; any other fails with
    // "unsupported report rate <hertz> Hz" before any traffic.
    void setReportRate(std::int64_t hertz, HIDPPExecutor executor, HIDPPCompletion<void> completion) override;
    void setWheelHighResolution(bool on, HIDPPExecutor executor, HIDPPCompletion<bool> completion) override;
    void readDPI(HIDPPExecutor executor, HIDPPCompletion<std::int64_t> completion) override;
};

} // namespace ravolet
