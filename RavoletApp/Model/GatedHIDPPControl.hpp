#pragma once

#include <memory>
#include <mutex>

#include "HIDPlusPlus/HIDPPDevice.hpp"
#include "RavoletEngine/Coordination/HIDPPControlling.hpp"
#include "RavoletEngine/Coordination/LiveHIDPPControl.hpp"

namespace ravolet {

// The application's way to change the mouse's settings: writes reach the
// device only while the user lets Ravolet manage them (the gate is open).
// With the gate closed every write is skipped and answered as if it had been
// made, so no error reaches the engine or the device monitor. Reading the DPI
// is never gated.
//
// Shared by the main thread and the engine's settings applier. The gate is
// the only mutable state, under its own lock, held for nothing else; each
// operation samples it once, at its start, so a call already on its way is
// not stopped by closing the gate. Completions come exactly once on the
// executor the caller names (none: the device's queue).
class GatedHIDPPControl final : public HIDPPControlling {
public:
    GatedHIDPPControl(std::shared_ptr<HIDPPDevice> device, bool enabled);

    const std::shared_ptr<HIDPPDevice> device;

    bool isEnabled() const;
    void setEnabled(bool enabled);

    // Closed: answers with `dpi`. Open: the DPI the device reports after the write.
    void setDPI(std::int64_t dpi, HIDPPExecutor executor, HIDPPCompletion<std::int64_t> completion) override;
    // Open: only rates that divide 1000 Hz exactly reach the device; any other
    // fails with "unsupported report rate <hertz> Hz" before any traffic.
    void setReportRate(std::int64_t hertz, HIDPPExecutor executor, HIDPPCompletion<void> completion) override;
    // Closed: answers with `on`. Open: whether the wheel is now in high resolution.
    void setWheelHighResolution(bool on, HIDPPExecutor executor, HIDPPCompletion<bool> completion) override;
    void readDPI(HIDPPExecutor executor, HIDPPCompletion<std::int64_t> completion) override;

private:
    // Answers a skipped write on the caller's executor.
    template <class T>
    void skip(HIDPPExecutor executor, HIDPPCompletion<T> completion, HIDPPResult<T> answer);

    LiveHIDPPControl live_;
    mutable std::mutex lock_;
    bool enabled_; // guarded by lock_
};

} // namespace ravolet
