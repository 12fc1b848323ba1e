#pragma once

#include <functional>
#include <optional>
#include <string>

#include "Core/Config.hpp"
#include "Platform/Workspace.hpp"
#include "Core/Profile.hpp"
#include "Core/Rule.hpp"
#include "Core/RuleSetIndex.hpp"

namespace ravolet {

// The Profiles page's edits of the settings document, free of widgets: each
// takes the document and gives the whole new one (the page hands it to the
// model, which ignores an unchanged one). Identifiers that name nothing read
// harmless values and make edits that change nothing.
class ProfilesEditor {
public:
    // Eight lower-case hexadecimal digits, fresh on every call; clashes with
    // identifiers already in use are not looked for.
    using IdentifierSuffixes = std::function<std::string()>;
    static IdentifierSuffixes randomSuffixes();

    explicit ProfilesEditor(IdentifierSuffixes suffixes = randomSuffixes());

    // "profile-" or "rule-" and a fresh suffix.
    std::string freshProfileID() const;
    std::string freshRuleID() const;

    // An edit that also moves the page's profile selection.
    struct Edit {
        Config config;
        std::string selection;
        friend bool operator==(const Edit&, const Edit&) = default;
    };

    // ---- Profiles ----
    // A copy named "<name> Copy" under a fresh identifier, appended and selected.
    Edit duplicate(const Config& config, const Profile& profile) const;
    // A "New Profile" with the standard settings, appended and selected.
    Edit addProfile(const Config& config) const;
    // Removes the profiles with the identifier and every rule that chose
    // them; the default profile and a selection of the deleted one move to
    // the first remaining profile (or "default" when none remains).
    static Edit deleting(const Config& config, const std::string& profileID, const std::string& selection);
    static bool canDelete(const Config& config) { return config.profiles.size() >= 2; }
    static bool isDefault(const Config& config, const std::string& profileID) {
        return config.ruleSet.defaultProfileID == profileID;
    }
    static Config makingDefault(const Config& config, const std::string& profileID);
    // "default" when the document has such a profile, else its first profile.
    static Config resettingDefaultProfile(const Config& config);

    static std::string name(const Config& config, const std::string& profileID);
    static Config renaming(const Config& config, const std::string& profileID, const std::string& name);
    // The factory document's name for the identifier, else "New Profile".
    static Config resettingName(const Config& config, const std::string& profileID);

    // The selection the page starts with: kept when it names a profile, else
    // the first profile (or "default" when there is none).
    static std::string selectionOnAppearing(const Config& config, const std::string& selection);

    // The standard profile a new one starts as.
    static Profile newProfile(std::string id);

    // ---- Rules ----
    // An enabled exact rule with an empty identifier, priority 0, for the
    // first profile that is not the default (else the default), appended.
    Config addingRule(const Config& config) const;
    // The rule with the identifier; a placeholder for every application when
    // none has it.
    static Rule rule(const Config& config, const std::string& ruleID);
    static Config replacingRule(const Config& config, const Rule& rule);
    static Config deletingRule(const Config& config, const std::string& ruleID);
    // Swaps the rule with its neighbour `offset` places away; nothing at the ends.
    static Config movingRule(const Config& config, const std::string& ruleID, int offset);

    // ---- Texts ----
    // How the profile at `index` is named to a reader, in the names of its
    // row's buttons: "the profile “Canvas”"; by its place in the list
    // ("profile 3, “Canvas Copy”", "profile 3") where another profile has the
    // same name or it has none.
    static std::string profileReference(const Config& config, std::size_t index);
    // "Wheel smoothed, 50 pt per click · 2 buttons bound · 2000 DPI".
    static std::string describe(const Profile& profile);
    // Why the profile in use is in use, for the front application, by the
    // document's rules (filed once per document: the page asks again at
    // every switch of application).
    static std::string matchExplanation(const RuleSetIndex& rules, const std::optional<std::string>& frontmostBundleID);
    // The front application's name; without one, the class of a window no
    // installed application matches, else "Unknown".
    static std::string frontmostAppValue(const std::optional<std::string>& frontmostAppName,
                                         const platform::FrontmostTracking& tracking = {});
    // Its identifier, and on Linux where the desktop told it, or what is
    // missing for per-application profiles to follow the app in front.
    static std::string frontmostAppHelp(const std::optional<std::string>& frontmostBundleID,
                                        const platform::FrontmostTracking& tracking = {});

private:
    IdentifierSuffixes suffixes_;
};

} // namespace ravolet
