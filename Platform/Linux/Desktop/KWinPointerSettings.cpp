#include "Platform/Linux/Desktop/KWinPointerSettings.hpp"

#include <gio/gio.h>

#include <cstdlib>

#include "Platform/Linux/Desktop/PointerAccelSetting.hpp"
#include "Platform/Linux/FolderWatcher.hpp"

namespace ravolet::platform {

namespace {

constexpr const char* service = "org.kde.KWin";
constexpr const char* managerPath = "/org/kde/KWin/InputDevice";
constexpr const char* managerInterface = "org.kde.KWin.InputDeviceManager";
constexpr const char* deviceInterface = "org.kde.KWin.InputDevice";
constexpr int callTimeoutMs = 2000;

struct Variant {
    GVariant* value = nullptr;
    ~Variant() {
        if (value) g_variant_unref(value);
    }
};

bool isSysName(const std::string& name) {
    if (name.empty()) return false;
    for (const char c : name)
        if (!g_ascii_isalnum(c) && c != '_') return false;
    return true;
}

// A property's value; none when the call fails.
Variant getProperty(GDBusConnection* bus, const std::string& path, const char* interface, const char* name) {
    Variant result;
    GVariant* reply = g_dbus_connection_call_sync(bus, service, path.c_str(), "org.freedesktop.DBus.Properties", "Get",
                                                  g_variant_new("(ss)", interface, name), G_VARIANT_TYPE("(v)"),
                                                  G_DBUS_CALL_FLAGS_NONE, callTimeoutMs, nullptr, nullptr);
    if (!reply) return result;
    g_variant_get(reply, "(v)", &result.value);
    g_variant_unref(reply);
    return result;
}

bool setProperty(GDBusConnection* bus, const std::string& path, const char* name, GVariant* value) {
    GVariant* reply = g_dbus_connection_call_sync(bus, service, path.c_str(), "org.freedesktop.DBus.Properties", "Set",
                                                  g_variant_new("(ssv)", deviceInterface, name, value), nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, callTimeoutMs, nullptr, nullptr);
    if (!reply) return false;
    g_variant_unref(reply);
    return true;
}

// Runs what is posted at once, on the thread that posts it.
class AtOnce final : public Executor {
public:
    void post(Task task) override { task(); }
    bool isCurrent() const override { return true; }
};

std::string pathOf(const DesktopPointer& pointer) { return std::string(managerPath) + "/" + pointer.handle; }

std::optional<bool> boolean(GDBusConnection* bus, const std::string& path, const char* name) {
    const Variant v = getProperty(bus, path, deviceInterface, name);
    if (!v.value || !g_variant_is_of_type(v.value, G_VARIANT_TYPE_BOOLEAN)) return std::nullopt;
    return g_variant_get_boolean(v.value) != FALSE;
}

} // namespace

std::unique_ptr<KWinPointerSettings> KWinPointerSettings::connect() {
    auto bus = DBusSession::connect();
    if (!bus || !bus->nameOwner(service)) return nullptr;
    return std::make_unique<KWinPointerSettings>(std::move(bus));
}

std::vector<DesktopPointer> KWinPointerSettings::pointers() {
    std::vector<DesktopPointer> pointers;
    GDBusConnection* bus = bus_->connection();
    const Variant names = getProperty(bus, managerPath, managerInterface, "devicesSysNames");
    if (!names.value || !g_variant_is_of_type(names.value, G_VARIANT_TYPE_STRING_ARRAY)) return pointers;
    gsize count = 0;
    const gchar** list = g_variant_get_strv(names.value, &count);
    for (gsize i = 0; i < count; ++i) {
        DesktopPointer pointer;
        pointer.handle = list[i];
        // The handle becomes part of an object path.
        if (!isSysName(pointer.handle) || boolean(bus, pathOf(pointer), "pointer") != true) continue;
        const std::string path = pathOf(pointer);
        const Variant name = getProperty(bus, path, deviceInterface, "name");
        if (name.value && g_variant_is_of_type(name.value, G_VARIANT_TYPE_STRING))
            pointer.name = g_variant_get_string(name.value, nullptr);
        const Variant vendor = getProperty(bus, path, deviceInterface, "vendor");
        if (vendor.value && g_variant_is_of_type(vendor.value, G_VARIANT_TYPE_UINT32))
            pointer.vendorID = g_variant_get_uint32(vendor.value);
        const Variant product = getProperty(bus, path, deviceInterface, "product");
        if (product.value && g_variant_is_of_type(product.value, G_VARIANT_TYPE_UINT32))
            pointer.productID = g_variant_get_uint32(product.value);
        if (pointer.handle.starts_with("event")) pointer.eventNode = "/dev/input/" + pointer.handle;
        pointers.push_back(std::move(pointer));
    }
    g_free(list);
    return pointers;
}

std::optional<std::string> KWinPointerSettings::accelerationKey(const DesktopPointer& pointer) {
    if (boolean(bus_->connection(), pathOf(pointer), "supportsPointerAccelerationProfileFlat") != true)
        return std::nullopt;
    return std::string(profileKey);
}

std::optional<std::int64_t> KWinPointerSettings::readAcceleration(const DesktopPointer& pointer, std::string_view key) {
    if (key != profileKey) return std::nullopt;
    GDBusConnection* bus = bus_->connection();
    const std::string path = pathOf(pointer);
    const auto flat = boolean(bus, path, profileKey);
    const Variant speed = getProperty(bus, path, deviceInterface, "pointerAcceleration");
    if (!flat || !speed.value || !g_variant_is_of_type(speed.value, G_VARIANT_TYPE_DOUBLE)) return std::nullopt;
    const double value = g_variant_get_double(speed.value);
    return (*flat ? PointerAccelSetting::flat(value) : PointerAccelSetting::adaptive(value)).code();
}

bool KWinPointerSettings::writeAcceleration(const DesktopPointer& pointer, std::string_view key, std::int64_t code) {
    const auto setting = PointerAccelSetting::fromCode(code);
    using P = PointerAccelSetting::Profile;
    if (key != profileKey || !setting || (setting->profile != P::flat && setting->profile != P::adaptive)) return false;
    GDBusConnection* bus = bus_->connection();
    const char* profile = setting->profile == P::flat ? profileKey : "pointerAccelerationProfileAdaptive";
    const auto write = [&](const DesktopPointer& device) {
        const std::string path = pathOf(device);
        return setProperty(bus, path, profile, g_variant_new_boolean(TRUE)) &&
               setProperty(bus, path, "pointerAcceleration", g_variant_new_double(setting->speed.value_or(0))) &&
               readAcceleration(device, key) == code;
    };
    // KWin keeps one setting for all devices of an identity, but hands it to
    // a device only when the device appears; a device of that identity that
    // is already there keeps what it was handed. The mouse itself, plugged in
    // again while the setting was flat, would stay flat after Ravolet had put
    // the setting back and let the mouse go. So every device of the identity
    // is written, the one asked for first.
    bool written = write(pointer);
    for (const auto& device : pointers())
        if (device.handle != pointer.handle && device.vendorID == pointer.vendorID &&
            device.productID == pointer.productID && device.name == pointer.name)
            written = write(device) && written;
    return written;
}

std::filesystem::path KWinPointerSettings::configFolder() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/') return config;
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : "/") / ".config";
}

Subscription KWinPointerSettings::observeSettingsChanged(std::function<void()> changed) {
    // KWin's devices tell nothing on D-Bus when a property changes, but KWin
    // saves every change (its settings page's, a reload's) to kcminputrc.
    const auto watcher = FolderWatcher::shared();
    if (!watcher) return {};
    return watcher->watch(configFolder(), FolderWatcher::Changes::contents, std::make_shared<AtOnce>(),
                          [changed = std::move(changed)](const std::string& name) {
                              if (name.empty() || name == "kcminputrc") changed();
                          });
}

} // namespace ravolet::platform
