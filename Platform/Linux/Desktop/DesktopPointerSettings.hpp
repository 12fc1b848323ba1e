#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Subscription.hpp"

namespace ravolet::platform {

// One pointer device as the desktop of this session knows it.
struct DesktopPointer {
    // What the desktop calls it: the X server's device id, sway's input
    // identifier, KWin's "event5", the kernel's event node for GNOME.
    std::string handle;
    std::string name;
    std::int64_t vendorID = 0;
    std::int64_t productID = 0;
    // Its event node ("/dev/input/event5") where the desktop says which; empty else.
    std::string eventNode;
    friend bool operator==(const DesktopPointer&, const DesktopPointer&) = default;
};

// The acceleration settings the desktop of this session keeps for its pointer
// devices, read and written through the desktop's own interface: the X
// server's device properties, sway's IPC, KWin's input devices on D-Bus,
// GNOME's settings. Settings travel as PointerAccelSetting codes. Used from
// one thread at a time (pointer tuning's work queue); only the
// subscriptions may be made from another.
class DesktopPointerSettings {
public:
    enum class Desktop { none, x11, sway, kwin, gnome };

    virtual ~DesktopPointerSettings() = default;

    virtual Desktop desktop() const = 0;
    // Whether this desktop's settings can be changed from here at all.
    virtual bool canWrite() const = 0;
    // Whether the desktop keeps a device's settings under its identity
    // (vendor, product and name), so that they outlive the device and apply
    // to every device of that identity; else they belong to one device and go
    // with it (the X server).
    virtual bool keepsSettingsByIdentity() const = 0;
    // The pointer devices the desktop lists now.
    virtual std::vector<DesktopPointer> pointers() = 0;
    // The name of the device's acceleration setting; none when it has none.
    virtual std::optional<std::string> accelerationKey(const DesktopPointer& pointer) = 0;
    // The setting under that key, as a PointerAccelSetting code.
    virtual std::optional<std::int64_t> readAcceleration(const DesktopPointer& pointer, std::string_view key) = 0;
    // Writes the setting and reads it back: whether the device now holds it
    // (where settings are kept by identity, every device of that identity).
    virtual bool writeAcceleration(const DesktopPointer& pointer, std::string_view key, std::int64_t code) = 0;
    // `added` is called, on a thread of the source's own, whenever the
    // desktop adds a pointer device. Only where settings go with the device
    // (the X server forgets them at a re-plug); elsewhere nothing is watched.
    virtual Subscription observePointersAdded(std::function<void()> added);
    // `changed` is called, on a thread of the source's own (or, for GNOME,
    // on the thread that iterates the default main context), soon after the
    // desktop's pointer settings may have changed: set in its own settings,
    // reloaded, or written by Ravolet itself. Where the desktop tells nothing,
    // nothing is watched.
    virtual Subscription observeSettingsChanged(std::function<void()> changed);

    // The desktop of this session, found from the environment: GNOME where
    // XDG_CURRENT_DESKTOP names it, sway where SWAYSOCK is set, KWin in a
    // Plasma Wayland session, the X server where DISPLAY is set without
    // Wayland, and otherwise one that reads and writes nothing.
    static std::unique_ptr<DesktopPointerSettings> forThisSession();
};

// Reads and writes nothing: a desktop Ravolet has no way into.
class NoDesktopPointerSettings final : public DesktopPointerSettings {
public:
    Desktop desktop() const override { return Desktop::none; }
    bool canWrite() const override { return false; }
    bool keepsSettingsByIdentity() const override { return false; }
    std::vector<DesktopPointer> pointers() override { return {}; }
    std::optional<std::string> accelerationKey(const DesktopPointer&) override { return std::nullopt; }
    std::optional<std::int64_t> readAcceleration(const DesktopPointer&, std::string_view) override { return std::nullopt; }
    bool writeAcceleration(const DesktopPointer&, std::string_view, std::int64_t) override { return false; }
};

} // namespace ravolet::platform
