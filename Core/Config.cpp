#include "Core/Config.hpp"

#include <algorithm>
#include <ostream>

#include "Core/ConfigMigrator.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

Config::Config(std::int64_t schemaVersion, bool isEnabled, std::vector<Profile> profiles, RuleSet ruleSet)
    : schemaVersion(schemaVersion), isEnabled(isEnabled), profiles(std::move(profiles)), ruleSet(std::move(ruleSet)) {}

Config Config::defaultConfig() {
    static const Config config = [] {
        constexpr std::string_view canvas = "canvas";
        auto canvasRule = [&](std::string id, BundleIDPattern pattern) {
            return Rule(std::move(id), std::move(pattern), std::string(canvas), 10, true);
        };
        return Config(currentSchemaVersion, true,
                      {Profile::defaultProfile(), Profile::canvasApp(std::string(canvas), "Canvas & Design Apps")},
                      RuleSet(
                          {
                              // Canvas applications where Ctrl + wheel zooms, by their
                              // desktop-file IDs from Flathub and Debian (GIMP's differ).
                              canvasRule("gimp", BundleIDPattern::exact("org.gimp.GIMP")),
                              canvasRule("gimp-debian", BundleIDPattern::exact("gimp")),
                              canvasRule("krita", BundleIDPattern::exact("org.kde.krita")),
                              canvasRule("inkscape", BundleIDPattern::exact("org.inkscape.Inkscape")),
                          },
                          std::string(Profile::defaultProfileID)));
    }();
    return config;
}

std::optional<Profile> Config::profile(std::string_view id) const {
    for (const Profile& p : profiles) {
        if (p.id == id) return p;
    }
    return std::nullopt;
}

ProfileResolution Config::resolve(const std::optional<std::string>& bundleID) const { return ruleSet.resolve(bundleID); }

Profile Config::activeProfile(const std::optional<std::string>& bundleID) const { return activeProfile(resolve(bundleID)); }

namespace {

// The resolved profile, else the rule set's default, else the first; null
// when the document has no profile at all.
template <class Find>
const Profile* chooseProfile(const Config& config, const ProfileResolution& resolution, Find find) {
    if (const Profile* chosen = find(resolution.profileID)) return chosen;
    if (const Profile* fallback = find(config.ruleSet.defaultProfileID)) return fallback;
    return config.profiles.empty() ? nullptr : &config.profiles.front();
}

} // namespace

Profile Config::activeProfile(const ProfileResolution& resolution) const {
    const Profile* chosen = chooseProfile(*this, resolution, [this](std::string_view id) -> const Profile* {
        const auto it = std::ranges::find(profiles, id, &Profile::id);
        return it == profiles.end() ? nullptr : &*it;
    });
    return chosen ? *chosen : Profile::defaultProfile();
}

const Profile* Config::activeProfile(const ProfileResolution& resolution, const ProfileIndex& index) const {
    return chooseProfile(*this, resolution, [&](std::string_view id) { return index.find(profiles, id); });
}

std::expected<std::string, JsonError> Config::encoded() const { return encodeJson(toJson()); }

std::expected<Config, ConfigLoadError> Config::decoded(std::string_view bytes) {
    auto migrated = ConfigMigrator::migrate(bytes);
    if (!migrated) return std::unexpected(std::move(migrated.error()));
    auto config = decodeJson<Config>(*migrated);
    if (!config) return std::unexpected(std::move(config.error()));
    return std::move(*config);
}

Json Config::toJson() const {
    Json list = Json::array();
    for (const Profile& p : profiles) list.push_back(p.toJson());
    return Json{
        {"schemaVersion", schemaVersion}, {"isEnabled", isEnabled}, {"profiles", std::move(list)}, {"ruleSet", ruleSet.toJson()},
    };
}

Config Config::fromJson(const JsonValue& v) {
    std::vector<Profile> profiles;
    for (const JsonValue& item : v["profiles"].asArray()) profiles.push_back(Profile::fromJson(item));
    return Config(v["schemaVersion"].asInteger<std::int64_t>(), v["isEnabled"].asBool(), std::move(profiles),
                  RuleSet::fromJson(v["ruleSet"]));
}

std::ostream& operator<<(std::ostream& os, const Config& c) {
    os << "Config(schemaVersion: " << c.schemaVersion << ", isEnabled: " << (c.isEnabled ? "true" : "false") << ", profiles: [";
    for (std::size_t i = 0; i < c.profiles.size(); ++i) os << (i == 0 ? "" : ", ") << c.profiles[i];
    return os << "], ruleSet: " << c.ruleSet << ")";
}

} // namespace ravolet

std::size_t std::hash<ravolet::Config>::operator()(const ravolet::Config& c) const noexcept {
    std::size_t seed = ravolet::hashFields(c.schemaVersion, c.isEnabled);
    for (const ravolet::Profile& p : c.profiles) seed = ravolet::hashCombine(seed, std::hash<ravolet::Profile>{}(p));
    return ravolet::hashCombine(seed, std::hash<ravolet::RuleSet>{}(c.ruleSet));
}
