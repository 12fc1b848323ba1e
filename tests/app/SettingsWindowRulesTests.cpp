#include <gtest/gtest.h>

#include "RavoletApp/Model/MenuBarState.hpp"
#include "RavoletApp/ViewModels/SettingsBanners.hpp"
#include "RavoletApp/ViewModels/SettingsTab.hpp"

namespace ravolet {
namespace {

// Kind, title and button titles of each banner, one line each.
std::vector<std::string> outline(const std::vector<SettingsBanner>& banners) {
    std::vector<std::string> lines;
    for (const SettingsBanner& banner : banners) {
        std::string line = std::to_string(static_cast<int>(banner.kind)) + " " + banner.title + ":";
        for (const auto& button : banner.buttons) line += " [" + button.title + (button.prominent ? "*" : "") + "]";
        lines.push_back(line);
    }
    return lines;
}

TEST(SettingsBanners, TheFileBannerStandsAloneAndAtMostOneOfGrantsOrPauseFollows) {
    const std::optional<ConfigStore::Problem> corrupt = ConfigStore::Problem::corrupt("bad token at byte 3");
    const PermissionState both{true, true, HIDPPInputMonitoringAccess::granted};
    const std::string file = "2 Your Ravolet settings file could not be read: [Try Reading It Again] "
                             "[Move It Aside And Start Fresh] [Show In Folder]";
    // Broken while Ravolet ran on a good file: moving it aside keeps those settings unless asked otherwise.
    std::optional<ConfigStore::Problem> brokenLater = corrupt;
    brokenLater->inForce = ConfigStore::Problem::InForce::lastGood;
    const std::string fileLater = "2 Your Ravolet settings file could not be read: [Try Reading It Again] "
                                  "[Move It Aside, Keep Settings] [Move It Aside, Use Factory Settings] "
                                  "[Show In Folder]";
    const std::string grants = "1 Ravolet is not allowed to touch your input yet: [Finish Setting Up…*]";
    const std::string paused = "0 Ravolet is paused: [Resume*]";
    struct Row {
        std::optional<ConfigStore::Problem> problem;
        PermissionState permissions;
        bool paused;
        std::vector<std::string> banners;
    } rows[] = {
        {std::nullopt, both, false, {}},
        {corrupt, both, true, {file, paused}},
        {std::nullopt, {false, false}, true, {grants}},
        {std::nullopt, {true, false}, false, {grants}},
        {corrupt, {false, true}, false, {file, grants}},
        {brokenLater, both, false, {fileLater}},
    };
    for (const Row& row : rows) {
        const auto banners = settingsBanners(row.problem, "/home/u/.config/ravolet/config.json", row.permissions, row.paused);
        EXPECT_EQ(outline(banners), row.banners);
        EXPECT_EQ(needsBanner(row.problem, row.permissions, row.paused), !row.banners.empty());
    }
    const auto banners = settingsBanners(corrupt, "/home/u/.config/ravolet/config.json", both, false);
    EXPECT_EQ(banners[0].message, corrupt->explanation() +
                                      " Your file is still on disk at /home/u/.config/ravolet/config.json.");
    EXPECT_EQ(settingsBanners(brokenLater, "/c.json", both, false)[0].message,
              "Ravolet keeps running on your last good settings and will not save over the file. bad token at byte 3. "
              "Your file is still on disk at /c.json.");
    ConfigStore::Problem newerLater = ConfigStore::Problem::newerSchema(2, 1);
    newerLater.inForce = ConfigStore::Problem::InForce::lastGood;
    EXPECT_EQ(newerLater.explanation(),
              "Ravolet keeps running on your last good settings and will not save over the file, because writing "
              "this build's format would throw away the settings the newer version added. Install the newer version "
              "again, or move the file aside.");
    EXPECT_EQ(settingsBanners(std::nullopt, "", {}, false)[0].message,
              "Everything on these pages is saved, but nothing takes effect until your computer grants Ravolet permission.");
}

TEST(SettingsBanners, FailedSavesOverriddenChangesAndASetAsidePreferencesFileFollowTheFileBanner) {
    const PermissionState both{true, true, HIDPPInputMonitoringAccess::granted};
    const std::string settings = "cannot write /home/u/.config/ravolet/config.json: No space left on device";
    const std::string preferences = "cannot create folder /home/u/.config/ravolet: Read-only file system";
    const std::string kept = "Your changes are kept while Ravolet runs, and it tries again with your next change and "
                             "when it quits.";
    struct Row {
        StorageNotices storage;
        std::vector<std::string> banners;
        std::string firstMessage;
    } rows[] = {
        {{settings, std::nullopt, std::nullopt},
         {"2 Ravolet could not save your settings: [Try Saving Again]", "0 Ravolet is paused: [Resume*]"},
         kept + " Cannot write /home/u/.config/ravolet/config.json: No space left on device."},
        {{std::nullopt, preferences, std::nullopt},
         {"2 Ravolet could not save your preferences: [Try Saving Again]", "0 Ravolet is paused: [Resume*]"},
         kept + " Cannot create folder /home/u/.config/ravolet: Read-only file system."},
        {{settings, preferences, "/home/u/.config/ravolet/preferences.unreadable.json"},
         {"2 Ravolet could not save your settings: [Try Saving Again]",
          "0 Your Ravolet preferences file could not be read: [OK]", "0 Ravolet is paused: [Resume*]"},
         kept + " Cannot write /home/u/.config/ravolet/config.json: No space left on device. Cannot create folder "
                "/home/u/.config/ravolet: Read-only file system."},
        {{std::nullopt, std::nullopt, std::nullopt, {"profile \u201cDefault\u201d \u203a pointer \u203a dpi", "the order of profiles"}},
         {"1 Your settings file was changed outside Ravolet: [OK]", "0 Ravolet is paused: [Resume*]"},
         "Ravolet took in the changes made to the file and kept yours where they touched other settings. Where both "
         "changed the same setting, the file's was kept: profile \u201cDefault\u201d \u203a pointer \u203a dpi; the "
         "order of profiles."},
        {{std::nullopt, std::nullopt, std::nullopt, {}, "/home/u/.config/ravolet/config-2026-03-01-093000.unsaved.json"},
         {"1 Ravolet could not save your last changes before it was ended: [Show In Folder] [OK]",
          "0 Ravolet is paused: [Resume*]"},
         "They were written to /home/u/.config/ravolet/config-2026-03-01-093000.unsaved.json instead. To have them back, "
         "put that file in place of config.json in the same folder; Ravolet takes it in at once."},
    };
    for (const Row& row : rows) {
        const auto banners = settingsBanners(std::nullopt, "/home/u/.config/ravolet/config.json", both, true, row.storage);
        EXPECT_EQ(outline(banners), row.banners);
        EXPECT_EQ(banners[0].message, row.firstMessage);
        EXPECT_TRUE(needsBanner(std::nullopt, both, false, row.storage));
    }
    EXPECT_EQ(settingsBanners(std::nullopt, "", both, false, rows[2].storage)[1].message,
              "Ravolet moved it aside to /home/u/.config/ravolet/preferences.unreadable.json and started again from its "
              "default preferences. Your settings and profiles are not affected.");
}

TEST(SettingsWindowRules, TabsInOrderAndTheSelectionFallsBackToTheActiveProfileOnlyWhenItsProfileIsGone) {
    std::string titles;
    for (SettingsTab tab : allSettingsTabs) {
        EXPECT_EQ(settingsTabAt(position(tab)), tab);
        titles += std::string(title(tab)) + "/" + std::string(symbolName(tab)) + " ";
    }
    EXPECT_EQ(titles, "Scroll/arrow.up.and.down Buttons/cursorarrow.click Pointer/cursorarrow "
                      "Profiles/square.stack.3d.up Device/computermouse Updates/arrow.down.circle ");
    EXPECT_EQ(settingsTabAt(-1), std::nullopt);
    EXPECT_EQ(settingsTabAt(6), std::nullopt);

    const Config config = Config::defaultConfig();
    const std::string second = config.profiles.at(1).id;
    EXPECT_EQ(fixedProfileSelection(config, "default", second), "default");
    EXPECT_EQ(fixedProfileSelection(config, "gone", second), second);
}

TEST(QuitPrompt, QuittingAsksOnlyWhenChangesAreLeftThatCannotBeSaved) {
    const std::string full = "cannot write /home/u/.config/ravolet/config.json: No space left on device";
    const auto corrupt = ConfigStore::Problem::corrupt("The file is not valid JSON (...).");
    const std::string after = " If you quit now, these changes are lost. Keep Ravolet running to try again from its "
                              "settings window.";
    struct Row {
        bool unsaved;
        std::optional<ConfigStore::Problem> problem;
        std::optional<std::string> saveError;
        std::optional<std::string> detail; // none: no question
        std::string text = "Your latest changes are not saved";
    };
    // Broken while Ravolet ran: the settings in force are on no disk.
    ConfigStore::Problem brokenLater = corrupt;
    brokenLater.inForce = ConfigStore::Problem::InForce::lastGood;
    const Row rows[] = {
        {false, corrupt, full, std::nullopt},
        {true, std::nullopt, std::nullopt, std::nullopt}, // the quit saves them
        {true, std::nullopt, full, "Cannot write /home/u/.config/ravolet/config.json: No space left on device." + after},
        {true, corrupt, std::nullopt,
         "Your Ravolet settings file could not be read, and Ravolet does not save over it." + after},
        {true, brokenLater, std::nullopt,
         "Your Ravolet settings file could not be read, and Ravolet does not save over it. Your last good settings "
         "are kept only while Ravolet runs: if you quit now, they are lost. Keep Ravolet running and move the file "
         "aside from its settings window to save them.",
         "The settings Ravolet runs on are not saved"},
    };
    for (const Row& row : rows) {
        const auto prompt = quitPrompt(row.unsaved, row.problem, row.saveError);
        ASSERT_EQ(prompt.has_value(), row.detail.has_value());
        if (!prompt) continue;
        EXPECT_EQ(*prompt, (QuitPrompt{row.text, *row.detail, "Keep Running", "Quit Anyway"}));
    }
}

} // namespace
} // namespace ravolet
