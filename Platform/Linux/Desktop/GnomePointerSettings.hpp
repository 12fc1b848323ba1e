#pragma once

#include <memory>

#include "Platform/Linux/Desktop/DesktopPointerSettings.hpp"
#include "Platform/Linux/Kernel/Sysfs.hpp"

typedef struct _GSettings GSettings;

namespace ravolet::platform {

// GNOME's acceleration profile, org.gnome.desktop.peripherals.mouse
// accel-profile ("default", "flat" or "adaptive"): one setting that every
// mouse shares, since GNOME keeps none per device. The devices are the
// kernel's pointers (GNOME's compositor reads them all through libinput); the
// speed is the user's own key and is left alone, so "flat" reads as
// acceleration off whatever it is.
class GnomePointerSettings final : public DesktopPointerSettings {
public:
    static constexpr const char* schema = "org.gnome.desktop.peripherals.mouse";
    static constexpr const char* profileKey = "accel-profile";

    // Null where the schema is not installed.
    static std::unique_ptr<GnomePointerSettings> make(KernelRoots roots = {});
    ~GnomePointerSettings() override;

    Desktop desktop() const override { return Desktop::gnome; }
    bool canWrite() const override { return true; }
    bool keepsSettingsByIdentity() const override { return true; }
    // Every event node with relative motion, its handle the node.
    std::vector<DesktopPointer> pointers() override;
    std::optional<std::string> accelerationKey(const DesktopPointer&) override { return std::string(profileKey); }
    std::optional<std::int64_t> readAcceleration(const DesktopPointer& pointer, std::string_view key) override;
    // Written and flushed to the settings' store before it is read back.
    bool writeAcceleration(const DesktopPointer& pointer, std::string_view key, std::int64_t code) override;
    // GSettings' "changed" for the profile, told on the main context the
    // settings were made in (the program's main loop iterates it).
    Subscription observeSettingsChanged(std::function<void()> changed) override;

    GnomePointerSettings(GSettings* settings, KernelRoots roots);

private:
    GSettings* settings_;
    const KernelRoots roots_;
};

} // namespace ravolet::platform
