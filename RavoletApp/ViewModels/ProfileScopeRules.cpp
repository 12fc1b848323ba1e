#include "RavoletApp/ViewModels/ProfileScopeRules.hpp"

#include <algorithm>

namespace ravolet {

Profile scopedProfile(const Config& config, const std::string& selectedProfileID) {
    if (auto selected = config.profile(selectedProfileID)) return *std::move(selected);
    if (!config.profiles.empty()) return config.profiles.front();
    return Profile::defaultProfile();
}

std::optional<Config> replacingProfile(const Config& config, const Profile& edited) {
    Config changed = config;
    const auto target =
        std::ranges::find_if(changed.profiles, [&](const Profile& profile) { return profile.id == edited.id; });
    if (target == changed.profiles.end()) return std::nullopt;
    *target = edited;
    return changed;
}

ProfileInUseLine profileInUseLine(const std::string& selectedProfileID, const std::string& activeProfileID,
                                  const std::string& activeProfileName,
                                  const std::optional<std::string>& frontmostAppName) {
    if (selectedProfileID == activeProfileID) return {ProfileInUseLine::Kind::inUse, "In use right now"};
    if (frontmostAppName)
        return {ProfileInUseLine::Kind::usedByFrontApplication,
                *frontmostAppName + " is currently using \u201C" + activeProfileName + "\u201D"};
    return {};
}

} // namespace ravolet
