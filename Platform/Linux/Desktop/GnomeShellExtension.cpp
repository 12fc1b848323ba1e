#include "Platform/Linux/Desktop/GnomeShellExtension.hpp"

#include <gio/gio.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ranges>
#include <sstream>
#include <system_error>

namespace ravolet::platform {

namespace fs = std::filesystem;
using State = FrontmostTracking::State;

namespace {

constexpr const char* enabledKey = "enabled-extensions";
constexpr const char* disabledKey = "disabled-extensions";

std::string fileText(const fs::path& file) {
    std::ifstream stream(file, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

// The leading number of each dotted part: "3.38.4" gives 3, 38, 4; "51.beta" 51.
std::vector<int> versionNumbers(std::string_view version) {
    std::vector<int> numbers;
    for (auto part : std::views::split(version, '.')) {
        const std::string text(part.begin(), part.end());
        if (text.empty() || text.front() < '0' || text.front() > '9') break;
        numbers.push_back(std::atoi(text.c_str()));
    }
    return numbers;
}

// GNOME Shell's own settings, when its schema is installed.
GSettings* shellSettings() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema = source ? g_settings_schema_source_lookup(source, "org.gnome.shell", TRUE) : nullptr;
    if (!schema) return nullptr;
    GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
    g_settings_schema_unref(schema);
    return settings;
}

bool hasKey(GSettings* settings, const char* key) {
    GSettingsSchema* schema = nullptr;
    g_object_get(settings, "settings-schema", &schema, nullptr);
    const bool has = schema && g_settings_schema_has_key(schema, key);
    if (schema) g_settings_schema_unref(schema);
    return has;
}

bool listNames(GSettings* settings, const char* key) {
    if (!hasKey(settings, key)) return false;
    gchar** list = g_settings_get_strv(settings, key);
    const bool named = g_strv_contains(list, GnomeShellExtension::uuid);
    g_strfreev(list);
    return named;
}

// Puts the extension into one of the shell's lists or takes it out; false
// when the list cannot be written (locked down).
bool setListed(GSettings* settings, const char* key, bool listed) {
    if (!hasKey(settings, key) || listNames(settings, key) == listed) return true;
    gchar** list = g_settings_get_strv(settings, key);
    GStrvBuilder* builder = g_strv_builder_new();
    for (gchar** item = list; *item; ++item)
        if (g_strcmp0(*item, GnomeShellExtension::uuid) != 0) g_strv_builder_add(builder, *item);
    if (listed) g_strv_builder_add(builder, GnomeShellExtension::uuid);
    gchar** updated = g_strv_builder_end(builder);
    const bool written = g_settings_set_strv(settings, key, updated);
    g_strfreev(updated);
    g_strv_builder_unref(builder);
    g_strfreev(list);
    return written;
}

std::string reason(const std::error_code& error) { return error.message(); }

// Writes the file whole or not at all: the shell may read the folder at any login.
std::optional<std::string> writeWhole(const fs::path& file, const std::string& text) {
    const fs::path temporary = file.string() + ".new";
    {
        std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
        stream << text;
        stream.flush();
        if (!stream) return std::string(std::strerror(errno));
    }
    std::error_code error;
    fs::rename(temporary, file, error);
    if (error) {
        fs::remove(temporary, error);
        return reason(error);
    }
    return std::nullopt;
}

std::vector<fs::path> systemExtensionFolders() {
    std::vector<fs::path> folders;
    for (const gchar* const* folder = g_get_system_data_dirs(); *folder; ++folder)
        folders.push_back(fs::path(*folder) / "gnome-shell/extensions");
    return folders;
}

} // namespace

State GnomeShellExtension::state(const Facts& facts) {
    if (!facts.installed) return State::extensionNotInstalled;
    if (!facts.userExtensionsEnabled) return State::extensionsOff;
    // Until the next login the shell knows only what it found at this one.
    const bool awaited = facts.enabledInSettings && facts.installedCopyFitsShell;
    if (!facts.shellState || *facts.shellState == uninstalled) {
        if (!facts.enabledInSettings) return State::extensionNotInstalled;
        return awaited ? State::waitingForLogin : State::extensionOutOfDate;
    }
    switch (*facts.shellState) {
    case outOfDate: return awaited ? State::waitingForLogin : State::extensionOutOfDate;
    case error: return State::extensionFailed;
    case active:
    case activating: return State::following;
    default:
        // Whatever the settings say as read here: the shell writes them
        // through dconf, which may reach this process only later.
        return State::switchedOff;
    }
}

bool GnomeShellExtension::namesShell(const std::vector<std::string>& shellVersions, std::string_view shellVersion) {
    const std::vector<int> shell = versionNumbers(shellVersion);
    if (shell.empty()) return false;
    // Before 40 a release was a major and a minor number (3.38); from 40 on, the major alone.
    const std::size_t significant = shell.front() < 40 ? 2 : 1;
    if (shell.size() < significant) return false;
    return std::ranges::any_of(shellVersions, [&](const std::string& listed) {
        const std::vector<int> numbers = versionNumbers(listed);
        return numbers.size() >= significant &&
               std::equal(numbers.begin(), numbers.begin() + static_cast<std::ptrdiff_t>(significant), shell.begin());
    });
}

std::optional<std::vector<std::string>> GnomeShellExtension::shellVersions(std::string_view metadata) {
    const nlohmann::json document = nlohmann::json::parse(metadata, nullptr, false);
    if (!document.is_object()) return std::nullopt;
    const auto list = document.find("shell-version");
    if (list == document.end() || !list->is_array()) return std::nullopt;
    std::vector<std::string> versions;
    for (const nlohmann::json& version : *list)
        if (version.is_string()) versions.push_back(version.get<std::string>());
    return versions;
}

std::string_view GnomeShellExtension::buildFor(std::string_view shellVersion) {
    const std::vector<int> numbers = versionNumbers(shellVersion);
    // 45 made extensions ES modules, which earlier shells cannot load.
    return !numbers.empty() && numbers.front() >= 45 ? "45-and-later" : "up-to-44";
}

GnomeShellExtension::GnomeShellExtension(fs::path builds, fs::path userExtensions, std::vector<fs::path> systemExtensions)
    : builds_(std::move(builds)), userExtensions_(std::move(userExtensions)), systemExtensions_(std::move(systemExtensions)) {}

GnomeShellExtension::GnomeShellExtension(fs::path builds, fs::path userExtensions)
    : GnomeShellExtension(std::move(builds), std::move(userExtensions), systemExtensionFolders()) {}

std::optional<fs::path> GnomeShellExtension::installedCopy() const {
    std::error_code error;
    if (fs::exists(userExtensions_ / uuid / "metadata.json", error)) return userExtensions_ / uuid;
    for (const fs::path& folder : systemExtensions_)
        if (fs::exists(folder / uuid / "metadata.json", error)) return folder / uuid;
    return std::nullopt;
}

GnomeShellExtension::Facts GnomeShellExtension::facts(std::optional<int> shellState, bool userExtensionsEnabled,
                                                      std::string_view shellVersion) const {
    Facts facts;
    facts.shellState = shellState;
    facts.userExtensionsEnabled = userExtensionsEnabled;
    if (const auto copy = installedCopy()) {
        facts.installed = true;
        const auto versions = shellVersions(fileText(*copy / "metadata.json"));
        facts.installedCopyFitsShell = versions && namesShell(*versions, shellVersion);
    }
    if (GSettings* settings = shellSettings()) {
        facts.enabledInSettings = listNames(settings, enabledKey) && !listNames(settings, disabledKey);
        g_object_unref(settings);
    }
    return facts;
}

std::optional<std::string> GnomeShellExtension::install(std::string_view shellVersion) const {
    const fs::path build = builds_ / buildFor(shellVersion);
    const auto ours = shellVersions(fileText(build / "metadata.json"));
    if (!ours) return "Ravolet\u2019s GNOME Shell extension is missing from " + build.string() + ".";
    if (!namesShell(*ours, shellVersion))
        return "Ravolet\u2019s GNOME Shell extension does not support GNOME Shell " + std::string(shellVersion) +
               " yet; a newer Ravolet will.";
    GSettings* settings = shellSettings();
    if (!settings) return std::string("GNOME Shell\u2019s settings are not installed here, so its extensions cannot be switched on.");
    std::optional<std::string> problem;
    const auto copy = installedCopy();
    const auto copyVersions = copy ? shellVersions(fileText(*copy / "metadata.json")) : std::nullopt;
    const bool systemCopyFits = copy && *copy != userExtensions_ / uuid && copyVersions && namesShell(*copyVersions, shellVersion);
    if (!systemCopyFits) {
        if (hasKey(settings, "allow-extension-installation") &&
            !g_settings_get_boolean(settings, "allow-extension-installation")) {
            problem = "GNOME Shell is set to load no extension installed by a user, so Ravolet\u2019s cannot be installed.";
        } else {
            const fs::path target = userExtensions_ / uuid;
            std::error_code error;
            fs::create_directories(target, error);
            if (error) problem = "Ravolet could not make the folder " + target.string() + ": " + reason(error) + ".";
            for (const char* name : {"metadata.json", "extension.js"}) {
                if (problem) break;
                const std::string text = fileText(build / name);
                if (text.empty()) problem = "Ravolet\u2019s GNOME Shell extension is missing " + (build / name).string() + ".";
                else if (const auto failed = writeWhole(target / name, text))
                    problem = "Ravolet could not write " + (target / name).string() + ": " + *failed + ".";
            }
        }
    }
    if (!problem && !(setListed(settings, disabledKey, false) && setListed(settings, enabledKey, true)))
        problem = "GNOME Shell\u2019s list of extensions is locked here, so Ravolet\u2019s cannot be switched on.";
    g_settings_sync();
    g_object_unref(settings);
    return problem;
}

std::optional<std::string> GnomeShellExtension::remove() const {
    std::optional<std::string> problem;
    if (GSettings* settings = shellSettings()) {
        if (!setListed(settings, enabledKey, false))
            problem = "GNOME Shell\u2019s list of extensions is locked here, so Ravolet\u2019s cannot be switched off.";
        g_settings_sync();
        g_object_unref(settings);
    }
    std::error_code error;
    const fs::path copy = userExtensions_ / uuid;
    fs::remove_all(copy, error);
    if (error && !problem) problem = "Ravolet could not delete " + copy.string() + ": " + reason(error) + ".";
    return problem;
}

} // namespace ravolet::platform
