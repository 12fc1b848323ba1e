#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "RavoletApp/Model/ConfigMerge.hpp"

namespace ravolet {
namespace {

using Edit = std::function<void(Config&)>;

Profile& named(Config& config, const std::string& id) {
    for (Profile& profile : config.profiles)
        if (profile.id == id) return profile;
    throw std::runtime_error("no profile " + id);
}

std::vector<std::string> ids(const Config& config) {
    std::vector<std::string> ids;
    for (const Profile& profile : config.profiles) ids.push_back(profile.id);
    return ids;
}

TEST(ConfigMerge, TheWindowsChangesGoOnTopOfTheFilesAndWhereBothChangedOneSettingTheFilesIsKeptAndNamed) {
    const std::string canvasID = Config::defaultConfig().profiles.back().id;
    const Edit dpiInFile = [](Config& c) { named(c, "default").pointer.dpi = 1600; };
    const Edit addCanvasCopy = [](Config& c) {
        c.profiles.insert(c.profiles.begin(), Profile::canvasApp("drawing", "Drawing"));
    };
    const Edit moveDefaultLast = [](Config& c) { std::rotate(c.profiles.begin(), c.profiles.begin() + 1, c.profiles.end()); };
    const Edit removeCanvas = [&](Config& c) { std::erase_if(c.profiles, [&](const Profile& p) { return p.id == canvasID; }); };
    struct Row {
        const char* what;
        Edit window, file;
        // What the merge must hold beyond both edits (none: both edits applied).
        std::function<void(const Config& merged)> check;
        std::vector<std::string> notKept;
    } rows[] = {
        {"two settings of one profile", [](Config& c) { named(c, "default").scroll.isEnabled = false; }, dpiInFile,
         [](const Config& m) { EXPECT_FALSE(m.profiles.front().scroll.isEnabled); }, {}},
        {"one setting, to different values",
         [](Config& c) { named(c, "default").pointer.dpi = 800; }, dpiInFile,
         [](const Config& m) { EXPECT_EQ(m.profiles.front().pointer.dpi, 1600); },
         {"DPI in the profile \u201cDefault\u201d"}},
        {"one setting, to the same value", dpiInFile, dpiInFile, nullptr, {}},
        // Named as the page names them, with the profile they are in.
        {"a slider and a curve figure, each to different values",
         [](Config& c) {
             named(c, "default").scroll.pixelsPerDetent = 80;
             named(c, "writing").pointer.curve.acceleration = PointerAcceleration::curve(1.2, 800, 6);
         },
         [](Config& c) {
             named(c, "default").scroll.pixelsPerDetent = 90;
             named(c, "writing").pointer.curve.acceleration = PointerAcceleration::curve(0.8, 800, 6);
         },
         [](const Config& m) { EXPECT_EQ(m.profiles.front().scroll.pixelsPerDetent, 90); },
         {"Distance per wheel click in the profile \u201cDefault\u201d",
          "How sharply it speeds up in the profile \u201cWriting\u201d"}},
        {"a profile added in the file ahead of the one the window changed",
         [&](Config& c) { named(c, canvasID).pointer.dpi = 900; }, addCanvasCopy,
         [&](const Config& m) {
             EXPECT_EQ(ids(m).front(), "drawing");
             EXPECT_EQ(m.profile(canvasID)->pointer.dpi, 900);
         },
         {}},
        {"the window reorders, the file edits", moveDefaultLast, dpiInFile,
         [&](const Config& m) {
             EXPECT_EQ(ids(m), (std::vector<std::string>{canvasID, "writing", "default"}));
             EXPECT_EQ(m.profile("default")->pointer.dpi, 1600);
         },
         {}},
        {"both reorder, differently", moveDefaultLast, [&](Config& c) { std::swap(c.profiles[1], c.profiles[2]); },
         [&](const Config& m) { EXPECT_EQ(ids(m), (std::vector<std::string>{"default", "writing", canvasID})); },
         {"the order of the profiles"}},
        {"the window removes a profile the file changed", removeCanvas,
         [&](Config& c) { named(c, canvasID).name = "Canvas Apps"; },
         [&](const Config& m) { EXPECT_EQ(m.profile(canvasID)->name, "Canvas Apps"); },
         {"the profile \u201cCanvas Apps\u201d"}},
        {"a rule's profile changed on both sides",
         [](Config& c) { c.ruleSet.rules.front().profileID = "default"; },
         [](Config& c) { c.ruleSet.rules.front().isEnabled = false, c.ruleSet.rules.front().profileID = "x"; },
         [](const Config& m) {
             EXPECT_EQ(m.ruleSet.rules.front().profileID, "x");
             EXPECT_FALSE(m.ruleSet.rules.front().isEnabled);
         },
         {"The profile in the rule \u201c" + Config::defaultConfig().ruleSet.rules.front().id + "\u201d"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        // Three profiles, so that two sides can order them differently.
        Config base = Config::defaultConfig();
        base.profiles.push_back(Profile::canvasApp("writing", "Writing"));
        Config window = base, file = base;
        row.window(window);
        row.file(file);
        const ConfigMerge merge = ConfigMerge::of(base, window, file);
        EXPECT_EQ(merge.notKept, row.notKept);
        if (row.check) {
            row.check(merge.merged);
        } else {
            EXPECT_EQ(merge.merged, file);
        }
        // Nothing changed on one side: the other's document, whole.
        EXPECT_EQ(ConfigMerge::of(base, base, file).merged, file);
        EXPECT_EQ(ConfigMerge::of(base, window, base).merged, window);
    }
}

} // namespace
} // namespace ravolet
