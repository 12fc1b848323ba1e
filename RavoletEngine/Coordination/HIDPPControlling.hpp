#pragma once

#include <cstdint>

#include "HIDPlusPlus/HIDPPDevice.hpp"

namespace ravolet {

// The way to change the mouse's settings. Each operation reports through its
// completion, exactly once, on the executor the caller names, and may fail
// with an HIDPPError. Implementations must be safe to call from any thread
// and from several operations at once.
class HIDPPControlling {
public:
    virtual ~HIDPPControlling() = default;

    // Writes the DPI; yields the DPI the mouse reports after the write.
    virtual void setDPI(std::int64_t dpi, HIDPPExecutor executor, HIDPPCompletion<std::int64_t> completion) = 0;
    // Writes the report rate, given in hertz.
    virtual void setReportRate(std::int64_t hertz, HIDPPExecutor executor, HIDPPCompletion<void> completion) = 0;
    // Switches the wheel's high-resolution mode; yields whether it is now on.
    virtual void setWheelHighResolution(bool on, HIDPPExecutor executor, HIDPPCompletion<bool> completion) = 0;
    // Reads the DPI now in force.
    virtual void readDPI(HIDPPExecutor executor, HIDPPCompletion<std::int64_t> completion) = 0;
};

} // namespace ravolet
