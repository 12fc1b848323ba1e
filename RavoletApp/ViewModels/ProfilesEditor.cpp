#include "RavoletApp/ViewModels/ProfilesEditor.hpp"

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>

#include <fmt/format.h>

#include "Core/Clamp.hpp"

namespace ravolet {

namespace {

std::string firstProfileOr(const Config& config, std::string_view fallback) {
    return config.profiles.empty() ? std::string(fallback) : config.profiles.front().id;
}

} // namespace

ProfilesEditor::IdentifierSuffixes ProfilesEditor::randomSuffixes() {
    return [] {
        thread_local std::mt19937 generator{std::random_device{}()};
        return fmt::format("{:08x}", std::uniform_int_distribution<std::uint32_t>()(generator));
    };
}

ProfilesEditor::ProfilesEditor(IdentifierSuffixes suffixes) : suffixes_(std::move(suffixes)) {}

std::string ProfilesEditor::freshProfileID() const { return "profile-" + suffixes_(); }
std::string ProfilesEditor::freshRuleID() const { return "rule-" + suffixes_(); }

ProfilesEditor::Edit ProfilesEditor::duplicate(const Config& config, const Profile& profile) const {
    Edit edit{config, freshProfileID()};
    Profile copy = profile;
    copy.id = edit.selection;
    copy.name = profile.name + " Copy";
    edit.config.profiles.push_back(std::move(copy));
    return edit;
}

ProfilesEditor::Edit ProfilesEditor::addProfile(const Config& config) const {
    Edit edit{config, freshProfileID()};
    edit.config.profiles.push_back(newProfile(edit.selection));
    return edit;
}

ProfilesEditor::Edit ProfilesEditor::deleting(const Config& config, const std::string& profileID,
                                              const std::string& selection) {
    Edit edit{config, selection};
    std::erase_if(edit.config.profiles, [&](const Profile& profile) { return profile.id == profileID; });
    std::erase_if(edit.config.ruleSet.rules, [&](const Rule& rule) { return rule.profileID == profileID; });
    const std::string successor = firstProfileOr(edit.config, Profile::defaultProfileID);
    if (edit.config.ruleSet.defaultProfileID == profileID) edit.config.ruleSet.defaultProfileID = successor;
    if (edit.selection == profileID) edit.selection = successor;
    return edit;
}

Config ProfilesEditor::makingDefault(const Config& config, const std::string& profileID) {
    Config changed = config;
    changed.ruleSet.defaultProfileID = profileID;
    return changed;
}

Config ProfilesEditor::resettingDefaultProfile(const Config& config) {
    const bool hasDefault = config.profile(Profile::defaultProfileID).has_value();
    return makingDefault(config, hasDefault ? std::string(Profile::defaultProfileID)
                                            : firstProfileOr(config, Profile::defaultProfileID));
}

std::string ProfilesEditor::name(const Config& config, const std::string& profileID) {
    const auto profile = config.profile(profileID);
    return profile ? profile->name : std::string();
}

Config ProfilesEditor::renaming(const Config& config, const std::string& profileID, const std::string& name) {
    Config changed = config;
    const auto target = std::ranges::find(changed.profiles, profileID, &Profile::id);
    if (target != changed.profiles.end()) target->name = name;
    return changed;
}

Config ProfilesEditor::resettingName(const Config& config, const std::string& profileID) {
    const auto factory = Config::defaultConfig().profile(profileID);
    return renaming(config, profileID, factory ? factory->name : "New Profile");
}

std::string ProfilesEditor::selectionOnAppearing(const Config& config, const std::string& selection) {
    return config.profile(selection) ? selection : firstProfileOr(config, Profile::defaultProfileID);
}

Profile ProfilesEditor::newProfile(std::string id) {
    ScrollSettings scroll;
    scroll.isEnabled = true;
    scroll.enabledAxes = ScrollAxes::both;
    scroll.activationModifiers = std::nullopt;
    scroll.durationMillis = 250;
    scroll.easing = Easing::easeOut;
    scroll.pixelsPerDetent = 50;
    scroll.frameIntervalMillis = 8;
    scroll.maxInFlightPixels = 4000;
    scroll.isInverted = false;
    scroll.accelerationEnabled = true;
    scroll.accelerationWindowMillis = 140;
    scroll.accelerationGain = 1.2;
    scroll.maxAccelerationMultiplier = 6;
    PointerSettings pointer;
    pointer.isEnabled = true;
    pointer.dpi = 2000;
    pointer.curve = PointerCurve::desktop;
    return Profile(std::move(id), "New Profile", scroll, pointer, {});
}

Config ProfilesEditor::addingRule(const Config& config) const {
    Config changed = config;
    const std::string& defaultID = config.ruleSet.defaultProfileID;
    const auto other = std::ranges::find_if(config.profiles, [&](const Profile& p) { return p.id != defaultID; });
    changed.ruleSet.rules.emplace_back(freshRuleID(), BundleIDPattern::exact(""),
                                       other != config.profiles.end() ? other->id : defaultID, 0, true);
    return changed;
}

Rule ProfilesEditor::rule(const Config& config, const std::string& ruleID) {
    const auto found = std::ranges::find(config.ruleSet.rules, ruleID, &Rule::id);
    if (found != config.ruleSet.rules.end()) return *found;
    return Rule(ruleID, BundleIDPattern::any(), std::string(Profile::defaultProfileID), 0, true);
}

Config ProfilesEditor::replacingRule(const Config& config, const Rule& rule) {
    Config changed = config;
    const auto target = std::ranges::find(changed.ruleSet.rules, rule.id, &Rule::id);
    if (target != changed.ruleSet.rules.end()) *target = rule;
    return changed;
}

Config ProfilesEditor::deletingRule(const Config& config, const std::string& ruleID) {
    Config changed = config;
    std::erase_if(changed.ruleSet.rules, [&](const Rule& rule) { return rule.id == ruleID; });
    return changed;
}

Config ProfilesEditor::movingRule(const Config& config, const std::string& ruleID, int offset) {
    Config changed = config;
    auto& rules = changed.ruleSet.rules;
    const auto found = std::ranges::find(rules, ruleID, &Rule::id);
    if (found == rules.end()) return changed;
    const auto index = static_cast<std::int64_t>(found - rules.begin());
    const std::int64_t target = index + offset;
    if (target < 0 || target >= static_cast<std::int64_t>(rules.size())) return changed;
    std::swap(rules[static_cast<std::size_t>(index)], rules[static_cast<std::size_t>(target)]);
    return changed;
}

std::string ProfilesEditor::describe(const Profile& profile) {
    const std::string wheel =
        profile.scroll.isEnabled
            ? "Wheel smoothed, " + std::to_string(truncatedInteger(profile.scroll.pixelsPerDetent)) + " pt per click"
            : "Wheel untouched";
    std::set<std::int64_t> bound;
    for (const ButtonBinding& binding : profile.buttons)
        if (binding.isEnabled) bound.insert(binding.button);
    const std::string buttons = bound.empty() ? "no buttons bound"
                                              : std::to_string(bound.size()) + " button" +
                                                    (bound.size() == 1 ? "" : "s") + " bound";
    constexpr std::string_view separator = " \u00B7 ";
    return wheel + std::string(separator) + buttons + std::string(separator) + std::to_string(profile.pointer.dpi) +
           " DPI";
}

std::string ProfilesEditor::matchExplanation(const RuleSetIndex& rules, const std::optional<std::string>& frontmostBundleID) {
    const ProfileResolution resolution = rules.resolve(frontmostBundleID);
    if (resolution.matchedRule)
        return "Matched by the rule for \u201C" + resolution.matchedRule->pattern.patternString() + "\u201D.";
    return "No rule matched, so the default profile is in use.";
}

std::string ProfilesEditor::frontmostAppValue(const std::optional<std::string>& frontmostAppName,
                                              const platform::FrontmostTracking& tracking) {
    if (frontmostAppName) return *frontmostAppName;
    return tracking.unmatchedWindowClass.value_or("Unknown");
}

namespace {

using Source = platform::FrontmostTracking::Source;
using State = platform::FrontmostTracking::State;

constexpr std::string_view defaultInUse = "so the default profile is in use";
constexpr std::string_view desktopsThatTell =
    "Per-application profiles need an X11 session, GNOME, KDE Plasma or a wlroots compositor such as sway.";

std::string_view sourceName(Source source) {
    switch (source) {
    case Source::x11: return "The X server";
    case Source::wlroots: return "The compositor";
    case Source::kwin: return "KWin";
    case Source::gnomeShell: return "GNOME Shell";
    case Source::simulated:
    case Source::none: break;
    }
    return {};
}

// What keeps the desktop from telling; empty while it tells.
std::string missing(const platform::FrontmostTracking& tracking) {
    switch (tracking.state) {
    case State::following: return {};
    case State::x11ClientsOnly:
        return "Ravolet sees only the apps that run on X11 here; with any other app in front it cannot tell which, " +
               std::string(defaultInUse) + ". " + std::string(desktopsThatTell);
    case State::waitingForLogin:
        return "Ravolet\u2019s GNOME Shell extension is installed and starts at your next login; until then the default "
               "profile is in use.";
    case State::switchedOff:
        return "Ravolet\u2019s GNOME Shell extension is switched off. Turn it on in Extensions so that per-application "
               "profiles follow the app in front; until then the default profile is in use.";
    case State::extensionNotInstalled:
        return "GNOME Shell tells Ravolet which app is in front only through Ravolet\u2019s GNOME Shell extension, "
               "which is not installed, " + std::string(defaultInUse) + ".";
    case State::extensionsOff:
        return "GNOME Shell has every extension switched off, Ravolet\u2019s included. Switch extensions back on in "
               "Extensions so that per-application profiles follow the app in front; until then the default profile "
               "is in use.";
    case State::extensionOutOfDate:
        return "Ravolet\u2019s GNOME Shell extension was made for another version of GNOME Shell, which therefore does "
               "not run it. Update it below; until then the default profile is in use.";
    case State::extensionFailed:
        return "GNOME Shell stopped Ravolet\u2019s extension because of an error, which Extensions shows. Log out and "
               "back in; if it fails again, update Ravolet. Until then the default profile is in use.";
    case State::cannotTell: break;
    }
    switch (tracking.source) {
    case Source::x11:
        return "Ravolet cannot see which app is in front, " + std::string(defaultInUse) +
               ": per-application profiles need an X11 session here.";
    case Source::none:
    case Source::simulated:
        return "This desktop does not tell Ravolet which app is in front, " + std::string(defaultInUse) + ". " +
               std::string(desktopsThatTell);
    default:
        return std::string(sourceName(tracking.source)) + " no longer tells Ravolet which app is in front, " +
               std::string(defaultInUse) + ".";
    }
}

} // namespace

std::string ProfilesEditor::frontmostAppHelp(const std::optional<std::string>& frontmostBundleID,
                                             const platform::FrontmostTracking& tracking) {
    std::string help;
    if (frontmostBundleID) {
        help = "Application ID: " + *frontmostBundleID;
    } else if (tracking.unmatchedWindowClass) {
        help = "No installed app matches this window (class \u201C" + *tracking.unmatchedWindowClass +
               "\u201D), " + std::string(defaultInUse) + ".";
    } else if (tracking.state == State::following) {
        help = "Ravolet has not seen an app come forward yet.";
    }
    const std::string remedy = missing(tracking);
    const std::string_view source = sourceName(tracking.source);
    std::string where;
    if (remedy.empty() && !source.empty()) where = std::string(source) + " tells Ravolet which app is in front.";
    for (const std::string& part : {where, remedy}) {
        if (part.empty()) continue;
        if (!help.empty()) help += help.ends_with('.') ? " " : ". ";
        help += part;
    }
    return help;
}

std::string ProfilesEditor::profileReference(const Config& config, std::size_t index) {
    if (index >= config.profiles.size()) return "profile " + std::to_string(index + 1);
    const std::string& name = config.profiles[index].name;
    const auto named = std::ranges::count(config.profiles, name, &Profile::name);
    if (!name.empty() && named == 1) return "the profile “" + name + "”";
    std::string reference = "profile " + std::to_string(index + 1);
    if (!name.empty()) reference += ", “" + name + "”";
    return reference;
}

} // namespace ravolet
