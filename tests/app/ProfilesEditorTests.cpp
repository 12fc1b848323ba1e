#include <gtest/gtest.h>

#include <fmt/format.h>

#include "RavoletApp/ViewModels/ProfilesEditor.hpp"

namespace ravolet {
namespace {

ProfilesEditor counting() {
    return ProfilesEditor([n = 0]() mutable { return fmt::format("{:08x}", ++n); });
}

std::vector<std::string> ids(const Config& config) {
    std::vector<std::string> result;
    for (const Profile& profile : config.profiles) result.push_back(profile.id);
    return result;
}

TEST(ProfilesEditor, ProfilesAreAddedCopiedRenamedAndDeletedWithTheSelectionFollowing) {
    const ProfilesEditor editor = counting();
    const Config factory = Config::defaultConfig();
    const Profile canvas = *factory.profile("canvas");

    auto once = editor.duplicate(factory, canvas);
    auto twice = editor.duplicate(once.config, canvas);
    EXPECT_EQ(ids(twice.config), (std::vector<std::string>{"default", "canvas", "profile-00000001", "profile-00000002"}));
    EXPECT_EQ(twice.selection, "profile-00000002");
    Profile expectedCopy = canvas;
    expectedCopy.id = "profile-00000002";
    expectedCopy.name = "Canvas & Design Apps Copy";
    EXPECT_EQ(twice.config.profiles[3], expectedCopy);
    EXPECT_EQ(twice.config.profiles[2].name, expectedCopy.name);

    const auto added = editor.addProfile(factory);
    EXPECT_EQ(added.selection, "profile-00000003");
    const Profile& fresh = added.config.profiles.back();
    EXPECT_EQ(fresh, ProfilesEditor::newProfile("profile-00000003"));
    EXPECT_EQ(ProfilesEditor::describe(fresh), "Wheel smoothed, 50 pt per click \u00B7 no buttons bound \u00B7 2000 DPI");
    EXPECT_TRUE(fresh.scroll.isEnabled && fresh.pointer.isEnabled && fresh.buttons.empty());
    EXPECT_EQ(fresh.scroll.accelerationGain, 1.2);
    EXPECT_EQ(ProfilesEditor::randomSuffixes()().find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(ProfilesEditor::randomSuffixes()().size(), 8u);

    // Deleting the default, selected profile: the next one takes both roles and its rules stay.
    const auto deleted = ProfilesEditor::deleting(factory, "default", "default");
    EXPECT_EQ(ids(deleted.config), std::vector<std::string>{"canvas"});
    EXPECT_EQ(deleted.config.ruleSet.defaultProfileID, "canvas");
    EXPECT_EQ(deleted.selection, "canvas");
    EXPECT_EQ(deleted.config.ruleSet.rules.size(), factory.ruleSet.rules.size());
    // Deleting another profile takes its rules and leaves the selection alone.
    const auto withoutCanvas = ProfilesEditor::deleting(factory, "canvas", "default");
    EXPECT_TRUE(withoutCanvas.config.ruleSet.rules.empty());
    EXPECT_EQ(withoutCanvas.selection, "default");
    EXPECT_EQ(withoutCanvas.config.ruleSet.defaultProfileID, "default");
    EXPECT_FALSE(ProfilesEditor::canDelete(withoutCanvas.config));
    EXPECT_TRUE(ProfilesEditor::canDelete(factory));
    EXPECT_EQ(ProfilesEditor::deleting(withoutCanvas.config, "default", "default").selection, "default");

    // Names, their reset, the default profile and its reset.
    const Config renamed = ProfilesEditor::renaming(twice.config, "canvas", "Drawing");
    EXPECT_EQ(ProfilesEditor::name(renamed, "canvas"), "Drawing");
    EXPECT_EQ(ProfilesEditor::name(renamed, "gone"), "");
    EXPECT_EQ(ProfilesEditor::renaming(renamed, "gone", "X"), renamed);
    EXPECT_EQ(ProfilesEditor::name(ProfilesEditor::resettingName(renamed, "canvas"), "canvas"), "Canvas & Design Apps");
    EXPECT_EQ(ProfilesEditor::name(ProfilesEditor::resettingName(renamed, "profile-00000001"), "profile-00000001"),
              "New Profile");
    const Config madeDefault = ProfilesEditor::makingDefault(factory, "canvas");
    EXPECT_TRUE(ProfilesEditor::isDefault(madeDefault, "canvas"));
    EXPECT_EQ(ProfilesEditor::resettingDefaultProfile(madeDefault).ruleSet.defaultProfileID, "default");
    EXPECT_EQ(ProfilesEditor::resettingDefaultProfile(deleted.config).ruleSet.defaultProfileID, "canvas");
    Config empty = factory;
    empty.profiles.clear();
    EXPECT_EQ(ProfilesEditor::resettingDefaultProfile(ProfilesEditor::makingDefault(empty, "x")).ruleSet.defaultProfileID,
              "default");

    EXPECT_EQ(ProfilesEditor::selectionOnAppearing(factory, "canvas"), "canvas");
    EXPECT_EQ(ProfilesEditor::selectionOnAppearing(factory, "gone"), "default");
    EXPECT_EQ(ProfilesEditor::selectionOnAppearing(empty, "gone"), "default");
}

TEST(ProfilesEditor, RulesAreAddedForTheFirstOtherProfileAndMovedOnlyWithinTheList) {
    const ProfilesEditor editor = counting();
    const Config factory = Config::defaultConfig();
    const Config added = editor.addingRule(factory);
    EXPECT_EQ(added.ruleSet.rules.back(), Rule("rule-00000001", BundleIDPattern::exact(""), "canvas", 0, true));
    const Config onlyDefault = ProfilesEditor::deleting(factory, "canvas", "default").config;
    EXPECT_EQ(editor.addingRule(onlyDefault).ruleSet.rules.back().profileID, "default");

    EXPECT_EQ(ProfilesEditor::rule(factory, "gone"), Rule("gone", BundleIDPattern::any(), "default", 0, true));
    EXPECT_EQ(ProfilesEditor::replacingRule(factory, Rule("gone", BundleIDPattern::any(), "x", 1, true)), factory);
    Rule debian = ProfilesEditor::rule(factory, "gimp-debian");
    debian.priority = 3;
    EXPECT_EQ(ProfilesEditor::rule(ProfilesEditor::replacingRule(factory, debian), "gimp-debian").priority, 3);
    EXPECT_EQ(ProfilesEditor::deletingRule(factory, "gimp-debian").ruleSet.rules.size(), factory.ruleSet.rules.size() - 1);

    const auto order = [](const Config& config) {
        std::string joined;
        for (const Rule& rule : config.ruleSet.rules) joined += rule.id + " ";
        return joined;
    };
    EXPECT_EQ(order(factory), "gimp gimp-debian krita inkscape ");
    EXPECT_EQ(order(ProfilesEditor::movingRule(factory, "gimp", -1)), "gimp gimp-debian krita inkscape ");
    EXPECT_EQ(order(ProfilesEditor::movingRule(factory, "inkscape", +1)), "gimp gimp-debian krita inkscape ");
    EXPECT_EQ(order(ProfilesEditor::movingRule(factory, "gimp-debian", -1)), "gimp-debian gimp krita inkscape ");
    EXPECT_EQ(order(ProfilesEditor::movingRule(factory, "gimp-debian", +1)), "gimp krita gimp-debian inkscape ");
    EXPECT_EQ(order(ProfilesEditor::movingRule(factory, "gone", +1)), "gimp gimp-debian krita inkscape ");
}

TEST(ProfilesEditor, TextsSayWhatAProfileDoesAndWhyItIsInUse) {
    Profile quiet = Profile::defaultProfile();
    quiet.scroll.isEnabled = false;
    quiet.pointer.dpi = 1600;
    for (ButtonBinding& binding : quiet.buttons) binding.isEnabled = false;
    Profile two = Profile::defaultProfile();
    two.scroll.pixelsPerDetent = 49.9;
    const auto binding = [](std::int64_t button, ModifierFlags modifiers) {
        ButtonBinding made = Profile::defaultProfile().buttons.front();
        made.button = button;
        made.modifiers = modifiers;
        made.isEnabled = true;
        return made;
    };
    two.buttons = {binding(3, {}), binding(3, ModifierFlags::shift), binding(4, {})};
    Profile one = two;
    one.buttons.pop_back();
    Profile huge = two;
    huge.scroll.pixelsPerDetent = 1e300;
    struct Row {
        Profile profile;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {quiet, "Wheel untouched \u00B7 no buttons bound \u00B7 1600 DPI"},
        {two, "Wheel smoothed, 49 pt per click \u00B7 2 buttons bound \u00B7 2000 DPI"},
        {one, "Wheel smoothed, 49 pt per click \u00B7 1 button bound \u00B7 2000 DPI"},
        {huge, "Wheel smoothed, 9223372036854775807 pt per click \u00B7 2 buttons bound \u00B7 2000 DPI"},
    };
    for (const Row& row : rows) EXPECT_EQ(ProfilesEditor::describe(row.profile), row.expected);

    const Config factory = Config::defaultConfig();
    const RuleSetIndex rules(factory.ruleSet);
    EXPECT_EQ(ProfilesEditor::matchExplanation(rules, "org.kde.krita"), "Matched by the rule for \u201Corg.kde.krita\u201D.");
    EXPECT_EQ(ProfilesEditor::matchExplanation(rules, "org.mozilla.firefox"), "No rule matched, so the default profile is in use.");
    EXPECT_EQ(ProfilesEditor::matchExplanation(rules, std::nullopt), "No rule matched, so the default profile is in use.");
    EXPECT_EQ(ProfilesEditor::frontmostAppValue(std::nullopt), "Unknown");
    EXPECT_EQ(ProfilesEditor::frontmostAppValue("GIMP"), "GIMP");
    EXPECT_EQ(ProfilesEditor::frontmostAppHelp(std::nullopt), "Ravolet has not seen an app come forward yet.");
    EXPECT_EQ(ProfilesEditor::frontmostAppHelp("org.gimp.GIMP"), "Application ID: org.gimp.GIMP");
}

TEST(ProfilesEditor, WhatIsInFrontSaysWhereTheDesktopToldItAndWhatIsMissingWhereItCannot) {
    using Tracking = platform::FrontmostTracking;
    using Source = Tracking::Source;
    using State = Tracking::State;
    struct Row {
        std::optional<std::string> bundleID;
        Tracking tracking;
        std::string value;
        std::string help;
    };
    const std::string needs =
        "Per-application profiles need an X11 session, GNOME, KDE Plasma or a wlroots compositor such as sway.";
    const Row rows[] = {
        {"org.gimp.GIMP", {Source::gnomeShell, State::following, std::nullopt}, "GIMP",
         "Application ID: org.gimp.GIMP. GNOME Shell tells Ravolet which app is in front."},
        {std::nullopt, {Source::x11, State::following, "XTermTest"}, "XTermTest",
         "No installed app matches this window (class \u201CXTermTest\u201D), so the default profile is in use. The X "
         "server tells Ravolet which app is in front."},
        {std::nullopt, {Source::x11, State::cannotTell, std::nullopt}, "Unknown",
         "Ravolet cannot see which app is in front, so the default profile is in use: per-application profiles need "
         "an X11 session here."},
        {"org.gimp.GIMP", {Source::x11, State::x11ClientsOnly, std::nullopt}, "GIMP",
         "Application ID: org.gimp.GIMP. Ravolet sees only the apps that run on X11 here; with any other app in "
         "front it cannot tell which, so the default profile is in use. " + needs},
        {std::nullopt, {Source::none, State::cannotTell, std::nullopt}, "Unknown",
         "This desktop does not tell Ravolet which app is in front, so the default profile is in use. " + needs},
        {std::nullopt, {Source::kwin, State::cannotTell, std::nullopt}, "Unknown",
         "KWin no longer tells Ravolet which app is in front, so the default profile is in use."},
        {std::nullopt, {Source::gnomeShell, State::waitingForLogin, std::nullopt}, "Unknown",
         "Ravolet\u2019s GNOME Shell extension is installed and starts at your next login; until then the default "
         "profile is in use."},
        {std::nullopt, {Source::gnomeShell, State::switchedOff, std::nullopt}, "Unknown",
         "Ravolet\u2019s GNOME Shell extension is switched off. Turn it on in Extensions so that per-application "
         "profiles follow the app in front; until then the default profile is in use."},
        {std::nullopt, {Source::gnomeShell, State::extensionNotInstalled, std::nullopt}, "Unknown",
         "GNOME Shell tells Ravolet which app is in front only through Ravolet\u2019s GNOME Shell extension, which is "
         "not installed, so the default profile is in use."},
        {std::nullopt, {Source::gnomeShell, State::extensionsOff, std::nullopt}, "Unknown",
         "GNOME Shell has every extension switched off, Ravolet\u2019s included. Switch extensions back on in "
         "Extensions so that per-application profiles follow the app in front; until then the default profile is in "
         "use."},
        {std::nullopt, {Source::gnomeShell, State::extensionOutOfDate, std::nullopt}, "Unknown",
         "Ravolet\u2019s GNOME Shell extension was made for another version of GNOME Shell, which therefore does not "
         "run it. Update it below; until then the default profile is in use."},
        {std::nullopt, {Source::gnomeShell, State::extensionFailed, std::nullopt}, "Unknown",
         "GNOME Shell stopped Ravolet\u2019s extension because of an error, which Extensions shows. Log out and back "
         "in; if it fails again, update Ravolet. Until then the default profile is in use."},
    };
    for (const Row& row : rows) {
        const std::optional<std::string> name = row.bundleID ? std::optional<std::string>("GIMP") : std::nullopt;
        EXPECT_EQ(ProfilesEditor::frontmostAppValue(name, row.tracking), row.value);
        EXPECT_EQ(ProfilesEditor::frontmostAppHelp(row.bundleID, row.tracking), row.help);
    }
}

} // namespace
} // namespace ravolet
