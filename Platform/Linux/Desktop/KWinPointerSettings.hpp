#pragma once

#include <filesystem>
#include <memory>

#include "Platform/Linux/Desktop/DBusSession.hpp"
#include "Platform/Linux/Desktop/DesktopPointerSettings.hpp"

namespace ravolet::platform {

// KWin's (Plasma on Wayland) pointer devices over D-Bus: the objects
// /org/kde/KWin/InputDevice/<sysName> of org.kde.KWin, interface
// org.kde.KWin.InputDevice, whose pointerAccelerationProfileFlat (or …Adaptive)
// and pointerAcceleration are the setting. KWin stores what is set in
// kcminputrc under the device's vendor, product and name, so it lasts and
// applies to every device of that identity.
class KWinPointerSettings final : public DesktopPointerSettings {
public:
    static constexpr const char* profileKey = "pointerAccelerationProfileFlat";

    // Null when the session bus cannot be reached or KWin is not on it.
    static std::unique_ptr<KWinPointerSettings> connect();

    Desktop desktop() const override { return Desktop::kwin; }
    bool canWrite() const override { return true; }
    bool keepsSettingsByIdentity() const override { return true; }
    // The devices whose "pointer" is true, their handle the sysName ("event5").
    std::vector<DesktopPointer> pointers() override;
    std::optional<std::string> accelerationKey(const DesktopPointer& pointer) override;
    std::optional<std::int64_t> readAcceleration(const DesktopPointer& pointer, std::string_view key) override;
    // To every device KWin lists with the pointer's identity, each read back.
    bool writeAcceleration(const DesktopPointer& pointer, std::string_view key, std::int64_t code) override;
    // When KWin saves its input settings (kcminputrc in the user's configuration folder).
    Subscription observeSettingsChanged(std::function<void()> changed) override;
    static std::filesystem::path configFolder();

    explicit KWinPointerSettings(std::unique_ptr<DBusSession> bus) : bus_(std::move(bus)) {}

private:
    std::unique_ptr<DBusSession> bus_;
};

} // namespace ravolet::platform
