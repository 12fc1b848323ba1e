#include "Platform/Linux/Desktop/GnomePointerSettings.hpp"

#include <gio/gio.h>

#include "Platform/Linux/Desktop/PointerAccelSetting.hpp"

namespace ravolet::platform {

std::unique_ptr<GnomePointerSettings> GnomePointerSettings::make(KernelRoots roots) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* found = source ? g_settings_schema_source_lookup(source, schema, TRUE) : nullptr;
    if (!found) return nullptr;
    const bool hasKey = g_settings_schema_has_key(found, profileKey);
    GSettings* settings = hasKey ? g_settings_new_full(found, nullptr, nullptr) : nullptr;
    g_settings_schema_unref(found);
    if (!settings) return nullptr;
    return std::make_unique<GnomePointerSettings>(settings, std::move(roots));
}

GnomePointerSettings::GnomePointerSettings(GSettings* settings, KernelRoots roots)
    : settings_(settings), roots_(std::move(roots)) {}

GnomePointerSettings::~GnomePointerSettings() { g_object_unref(settings_); }

std::vector<DesktopPointer> GnomePointerSettings::pointers() {
    std::vector<DesktopPointer> pointers;
    for (EventNode& node : listEventNodes(roots_)) {
        if ((node.relativeAxes & 1) == 0) continue; // no REL_X: not a pointer
        pointers.push_back({node.devicePath, node.deviceName, node.vendorID, node.productID, node.devicePath});
    }
    return pointers;
}

std::optional<std::int64_t> GnomePointerSettings::readAcceleration(const DesktopPointer&, std::string_view key) {
    if (key != profileKey) return std::nullopt;
    gchar* value = g_settings_get_string(settings_, profileKey);
    const std::string profile = value ? value : "";
    g_free(value);
    if (profile == "flat") return PointerAccelSetting::offCode;
    if (profile == "adaptive") return PointerAccelSetting::adaptive(0).code();
    if (profile == "default") return PointerAccelSetting{PointerAccelSetting::Profile::desktopDefault, std::nullopt, 0}.code();
    return std::nullopt;
}

bool GnomePointerSettings::writeAcceleration(const DesktopPointer& pointer, std::string_view key, std::int64_t code) {
    const auto setting = PointerAccelSetting::fromCode(code);
    if (key != profileKey || !setting) return false;
    using P = PointerAccelSetting::Profile;
    const char* profile = nullptr;
    // Only the profile is GNOME's to hold here: the speed stays the user's.
    if (setting->profile == P::flat && setting->speed == 0.0)
        profile = "flat";
    else if (setting->profile == P::adaptive && setting->speed == 0.0)
        profile = "adaptive";
    else if (setting->profile == P::desktopDefault)
        profile = "default";
    else
        return false;
    if (!g_settings_is_writable(settings_, profileKey) || !g_settings_set_string(settings_, profileKey, profile))
        return false;
    g_settings_sync();
    return readAcceleration(pointer, key) == code;
}

Subscription GnomePointerSettings::observeSettingsChanged(std::function<void()> changed) {
    // GSettings tells on the main context it was made in; its handler stays
    // until the subscription is dropped, and the function with it.
    using Handler = std::function<void()>;
    auto* handler = new Handler(std::move(changed));
    const auto call = +[](GSettings*, const gchar*, gpointer data) { (*static_cast<Handler*>(data))(); };
    const auto release = +[](gpointer data, GClosure*) { delete static_cast<Handler*>(data); };
    const std::string signal = std::string("changed::") + profileKey;
    const gulong id = g_signal_connect_data(settings_, signal.c_str(), G_CALLBACK(call), handler, release, GConnectFlags{});
    // GSettings reports a key's changes only once the key has been read.
    g_free(g_settings_get_string(settings_, profileKey));
    auto* settings = G_SETTINGS(g_object_ref(settings_));
    return Subscription([settings, id] {
        g_signal_handler_disconnect(settings, id);
        g_object_unref(settings);
    });
}

} // namespace ravolet::platform
