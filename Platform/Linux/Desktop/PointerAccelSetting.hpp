#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ravolet::platform {

// A desktop's acceleration setting for one pointer device, as libinput and
// the X server have it: a profile and, for libinput's profiles, a speed from
// -1 to 1. Pointer tuning moves it around as one 64-bit number, so that the
// value it captured goes back exactly as it was found; code() and
// fromCode() are that number.
//
// The number is laid out so that the flat profile at speed 0, the setting
// that turns the desktop's acceleration off, is -65536, and every flat
// setting is negative while every other one is not. The speed is kept in
// steps of 2^-40, which holds a single-precision speed (the X server's and
// sway's) exactly.
struct PointerAccelSetting {
    enum class Profile {
        flat,
        adaptive,
        custom,
        // GNOME's "default": whatever libinput picks for the device.
        desktopDefault,
        // One of the X server's own acceleration profiles (the evdev
        // driver's "Device Accel Profile", 0 and up).
        xServer,
    };

    Profile profile = Profile::adaptive;
    // libinput's speed for flat, adaptive and custom; none for the others.
    std::optional<double> speed = 0.0;
    // The X server's profile number, for Profile::xServer.
    std::int32_t xServerProfile = 0;

    static PointerAccelSetting flat(double speed) { return {Profile::flat, speed, 0}; }
    static PointerAccelSetting adaptive(double speed) { return {Profile::adaptive, speed, 0}; }
    // What turning acceleration off means: flat at speed 0.
    static constexpr std::int64_t offCode = -65536;

    std::int64_t code() const;
    // None for a number no setting has.
    static std::optional<PointerAccelSetting> fromCode(std::int64_t code);

    // "flat, speed 0.00", "adaptive, speed 0.35", "the desktop's default",
    // "X server profile 2": what the page shows.
    std::string description() const;

    friend bool operator==(const PointerAccelSetting&, const PointerAccelSetting&) = default;
};

} // namespace ravolet::platform
