#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Platform/Linux/Desktop/DesktopPointerSettings.hpp"

namespace ravolet::platform {

// The X server's pointer devices and their acceleration properties, through
// the XInput extension. Under xf86-input-libinput a device's setting is its
// "libinput Accel Profile Enabled" (one byte per profile: adaptive, flat and,
// with libinput 1.23 and later, custom; counted, never assumed) with "libinput
// Accel Speed"; under the evdev driver its "Device Accel Profile", where -1
// is no acceleration. The server keeps these per device and forgets them when
// the device goes, so a device added again starts from the server's
// configuration: observePointersAdded follows the input hierarchy for that.
class X11PointerSettings final : public DesktopPointerSettings {
public:
    static constexpr const char* libinputProfileKey = "libinput Accel Profile Enabled";
    static constexpr const char* evdevProfileKey = "Device Accel Profile";

    // `display` as DISPLAY names it; none: the environment's. Null when the
    // server cannot be reached or has no XInput 2.
    static std::unique_ptr<X11PointerSettings> connect(std::optional<std::string> display = std::nullopt);
    ~X11PointerSettings() override;

    Desktop desktop() const override { return Desktop::x11; }
    bool canWrite() const override { return true; }
    bool keepsSettingsByIdentity() const override { return false; }
    // The slave and floating pointers, their handle the device id in decimal.
    std::vector<DesktopPointer> pointers() override;
    std::optional<std::string> accelerationKey(const DesktopPointer& pointer) override;
    std::optional<std::int64_t> readAcceleration(const DesktopPointer& pointer, std::string_view key) override;
    bool writeAcceleration(const DesktopPointer& pointer, std::string_view key, std::int64_t code) override;
    Subscription observePointersAdded(std::function<void()> added) override;
    // Through the devices' property events.
    Subscription observeSettingsChanged(std::function<void()> changed) override;

    struct State;
    explicit X11PointerSettings(std::unique_ptr<State> state);

private:
    std::unique_ptr<State> state_;
};

} // namespace ravolet::platform
