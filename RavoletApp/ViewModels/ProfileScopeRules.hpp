#pragma once

#include <optional>
#include <string>

#include "Core/Config.hpp"
#include "Core/Profile.hpp"

namespace ravolet {

// The profile a profile page edits: the one with the selected identifier,
// else the document's first profile, else the built-in default profile (which
// no edit can reach, since the document holds no profile with its identifier).
Profile scopedProfile(const Config& config, const std::string& selectedProfileID);

// The document with the edited profile put in place of the first profile that
// has its identifier; none when no profile has it, so the edit is dropped. The
// match is on the edited value's own identifier, not on the selection.
std::optional<Config> replacingProfile(const Config& config, const Profile& edited);

// The line beside the profile picker that says whether the edited profile is
// the one in force right now, or which profile the front application uses.
struct ProfileInUseLine {
    enum class Kind { inUse, usedByFrontApplication, none };
    Kind kind = Kind::none;
    // "In use right now", or "<application> is currently using “<profile>”".
    std::string text;

    friend bool operator==(const ProfileInUseLine&, const ProfileInUseLine&) = default;
};

ProfileInUseLine profileInUseLine(const std::string& selectedProfileID, const std::string& activeProfileID,
                                  const std::string& activeProfileName,
                                  const std::optional<std::string>& frontmostAppName);

} // namespace ravolet
