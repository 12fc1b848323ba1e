#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Platform/Linux/Desktop/GnomeShellExtension.hpp"
#include "tests/platform/FolderTree.hpp"

namespace ravolet::platform {
namespace {

using State = FrontmostTracking::State;
using Facts = GnomeShellExtension::Facts;

std::string fileText(const std::filesystem::path& file) {
    std::ifstream stream(file);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

TEST(GnomeShellExtension, WhatKeepsItFromRunningFollowsTheShellsAccountTheFilesAndTheSettings) {
    constexpr int none = -1;
    struct Row {
        const char* what;
        int shellState;
        bool userExtensions, enabled, installed, fits;
        State state;
    };
    const Row rows[] = {
        {"nothing installed", none, true, false, false, false, State::extensionNotInstalled},
        {"removed this session, the shell still holding it", GnomeShellExtension::inactive, true, false, false, false,
         State::extensionNotInstalled},
        {"files there, never switched on", none, true, false, true, true, State::extensionNotInstalled},
        {"installed after this login", none, true, true, true, true, State::waitingForLogin},
        {"installed after this login, for another shell", none, true, true, true, false, State::extensionOutOfDate},
        {"the shell forgot it (uninstalled)", GnomeShellExtension::uninstalled, true, true, true, true,
         State::waitingForLogin},
        {"every user extension off", GnomeShellExtension::inactive, false, true, true, true, State::extensionsOff},
        {"out of date at login", GnomeShellExtension::outOfDate, true, true, true, false, State::extensionOutOfDate},
        {"out of date at login, updated since", GnomeShellExtension::outOfDate, true, true, true, true,
         State::waitingForLogin},
        {"out of date and switched off", GnomeShellExtension::outOfDate, true, false, true, true,
         State::extensionOutOfDate},
        {"stopped by an error", GnomeShellExtension::error, true, true, true, true, State::extensionFailed},
        {"switched off (up to 45)", GnomeShellExtension::inactive, true, false, true, true, State::switchedOff},
        {"never enabled since login", GnomeShellExtension::initialized, true, false, true, true, State::switchedOff},
        {"switched off in Extensions, the shell's write not yet read here", GnomeShellExtension::inactive, true, true,
         true, true, State::switchedOff},
        {"starting", GnomeShellExtension::activating, true, true, true, true, State::following},
    };
    for (const Row& row : rows) {
        Facts facts;
        if (row.shellState != none) facts.shellState = row.shellState;
        facts.userExtensionsEnabled = row.userExtensions;
        facts.enabledInSettings = row.enabled;
        facts.installed = row.installed;
        facts.installedCopyFitsShell = row.fits;
        EXPECT_EQ(GnomeShellExtension::state(facts), row.state) << row.what;
    }
}

TEST(GnomeShellExtension, EveryShellFrom336To51GetsABuildThatNamesItAndANewerOneAClearRefusal) {
    const std::filesystem::path builds = std::filesystem::path(RAVOLET_SOURCE_DIR) / "data/gnome-shell";
    const auto named = [&](const std::string& version) {
        const auto list = GnomeShellExtension::shellVersions(
            fileText(builds / GnomeShellExtension::buildFor(version) / "metadata.json"));
        return list && GnomeShellExtension::namesShell(*list, version);
    };
    for (const char* version : {"3.36.9", "3.38.4", "40.10", "41.9", "42.9", "43.9", "44.10", "45.0", "46.7",
                                "47.4", "48.3", "49.2", "50.1", "51.beta", "51.0"})
        EXPECT_TRUE(named(version)) << version;
    for (const char* version : {"3.34.5", "52.0", "", "beta"}) EXPECT_FALSE(named(version)) << version;
    EXPECT_EQ(GnomeShellExtension::buildFor("44.1"), "up-to-44");
    EXPECT_EQ(GnomeShellExtension::buildFor("45.0"), "45-and-later");
    EXPECT_FALSE(GnomeShellExtension::namesShell({"3.38"}, "3.36.1")) << "before 40 the minor counts";
    EXPECT_FALSE(GnomeShellExtension::namesShell({"4"}, "45.0")) << "the major is matched whole";
    EXPECT_EQ(GnomeShellExtension::shellVersions("{\"shell-version\": 45}"), std::nullopt);

    // A shell newer than every build is refused before anything is written.
    testing::FolderTree user("gnome-extension-refusal");
    const GnomeShellExtension extension(builds, user.path, {});
    EXPECT_EQ(extension.install("52.0"),
              "Ravolet\u2019s GNOME Shell extension does not support GNOME Shell 52.0 yet; a newer Ravolet will.");
    EXPECT_TRUE(std::filesystem::is_empty(user.path));
}

} // namespace
} // namespace ravolet::platform
