#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Simulated/InMemoryFileSystem.hpp"
#include "Platform/Simulated/SimulatedClock.hpp"
#include "RavoletApp/Model/ConfigStore.hpp"

namespace ravolet {
namespace {

namespace fs = std::filesystem;
using platform::InMemoryFileSystem;
using Operation = InMemoryFileSystem::Operation;

struct StoreRig {
    std::shared_ptr<InMemoryFileSystem> files = std::make_shared<InMemoryFileSystem>();
    std::shared_ptr<platform::SimulatedClock> clock = std::make_shared<platform::SimulatedClock>();
    fs::path folder = files->settingsFolder();
    fs::path file = folder / "config.json";
    ConfigStore store{file, files, clock};

    std::string bytes(const fs::path& path) const { return files->readFile(path).value_or("<none>"); }
    std::string lastSaveError() const { return store.lastSaveError().value().value_or("<none>"); }
};

Config edited() {
    Config config = Config::defaultConfig();
    config.profiles.pop_back();
    return config;
}

TEST(ConfigStore, LoadingAlwaysGivesADocumentAndSaysWhatIsWrongWithTheFile) {
    const std::string factory = *Config::defaultConfig().encoded();
    const std::string opening = "Ravolet is running on its factory defaults for now and will not save over the file. ";
    const std::string notRead = "Your Ravolet settings file could not be read";
    const std::string notJson = opening + "The file is not valid JSON (";
    const std::string shape = opening + "The file is not in a shape Ravolet recognises (";
    struct Case {
        std::optional<std::string> file; // none: no file
        int readError;
        std::string headline;            // empty: no problem
        std::string explanationStart;
        std::string explanationEnd;
    };
    const std::vector<Case> cases = {
        {std::nullopt, 0, "", "", ""},
        {*edited().encoded(), 0, "", "", ""},
        {factory, EACCES, "Your Ravolet settings file could not be opened", opening + "cannot read " + "/home/user/.config/ravolet/config.json: ", "."},
        {"", 0, notRead, notJson, ")."},
        {factory + std::string("\0}}garbage[", 11), 0, notRead, notJson, ")."},
        {R"({"schemaVersion": 1, "isEnabled": true, "profiles": []})", 0, notRead, notJson, ")."}, // no rule set
        {"[]", 0, notRead, shape + "root of the config must be a JSON object).", ""},
        {R"({"schemaVersion": 0})", 0, notRead, shape + "no migration registered from schema version 0).", ""},
        {R"({"schemaVersion": 2})", 0, "Your settings were written by a newer version of Ravolet (format 2; this build understands 1)",
         "Ravolet is running on its factory defaults and will not save over the file, because writing this build's format "
         "would throw away the settings the newer version added. Install the newer version again, or start fresh.",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.value_or("<no file>").substr(0, 60));
        StoreRig rig;
        if (c.file) rig.files->putFile(rig.file, *c.file);
        rig.files->fail(Operation::read, c.readError);
        const Config loaded = rig.store.load();
        const auto& problem = rig.store.problem().value();
        EXPECT_EQ(loaded, c.file && c.headline.empty() ? edited() : Config::defaultConfig());
        EXPECT_EQ(problem.has_value(), !c.headline.empty());
        if (problem) {
            EXPECT_EQ(problem->headline(), c.headline);
            EXPECT_TRUE(problem->explanation().starts_with(c.explanationStart)) << problem->explanation();
            EXPECT_TRUE(problem->explanation().ends_with(c.explanationEnd)) << problem->explanation();
        }
        rig.files->fail(Operation::read, 0);
        EXPECT_EQ(rig.files->writeCount(), 0u) << "loading writes nothing";
        EXPECT_EQ(rig.files->exists(rig.folder), c.file.has_value()) << "nor creates the folder";
        EXPECT_EQ(rig.bytes(rig.file), c.file.value_or("<none>"));
    }
}

TEST(ConfigStore, SavesReportTheirFailuresAndAreSkippedWhileAProblemIsSet) {
    StoreRig rig;
    rig.store.save(edited()); // creates the folder
    EXPECT_EQ(rig.bytes(rig.file), *edited().encoded());

    rig.files->fail(Operation::write, ENOSPC);
    rig.store.save(Config::defaultConfig());
    EXPECT_TRUE(rig.lastSaveError().starts_with("cannot write " + rig.file.string() + ": ")) << rig.lastSaveError();
    EXPECT_EQ(rig.bytes(rig.file), *edited().encoded()) << "a failed save leaves the old file whole";
    rig.files->fail(Operation::write, 0);
    Config unwritable = Config::defaultConfig();
    unwritable.profiles[0].scroll.accelerationGain = std::nan("");
    rig.store.save(unwritable);
    EXPECT_EQ(rig.lastSaveError(), unwritable.encoded().error().description());

    // Blocked: nothing written, the last error kept.
    rig.files->putFile(rig.file, "{");
    rig.store.load();
    const std::string errorBefore = rig.lastSaveError();
    rig.store.save(Config::defaultConfig());
    EXPECT_EQ(rig.files->writeCount(), 1u);
    EXPECT_EQ(rig.bytes(rig.file), "{");
    EXPECT_EQ(rig.lastSaveError(), errorBefore);

    // Repaired and read again ("Try Reading It Again" clears the problem first).
    rig.files->putFile(rig.file, *edited().encoded());
    rig.store.setProblem(std::nullopt);
    EXPECT_EQ(rig.store.load(), edited());
    EXPECT_EQ(rig.store.problem().value(), std::nullopt);
    rig.store.save(Config::defaultConfig());
    EXPECT_EQ(rig.lastSaveError(), "<none>") << "a successful save clears the error";
}

TEST(ConfigStore, AFileChangedOnDiskSinceItWasLastReadOrWrittenIsNeverOverwritten) {
    using Outcome = ConfigStore::SaveOutcome;
    const std::string mine = *edited().encoded(), factory = *Config::defaultConfig().encoded();
    struct Case {
        const char* what;
        std::optional<std::string> atLoad;                  // none: no file
        std::function<void(StoreRig&)> meanwhile;
        Outcome outcome;
        std::optional<std::string> after;                   // none: no file
    };
    const std::vector<Case> cases = {
        {"untouched", mine, [](StoreRig&) {}, Outcome::saved, factory},
        {"edited by hand", mine, [&](StoreRig& rig) { rig.files->putFile(rig.file, mine + " "); }, Outcome::changedOnDisk, mine + " "},
        {"put where there was none", std::nullopt, [&](StoreRig& rig) { rig.files->putFile(rig.file, mine); },
         Outcome::changedOnDisk, mine},
        {"unreadable now", mine, [](StoreRig& rig) { rig.files->fail(Operation::read, EACCES); }, Outcome::changedOnDisk, mine},
        {"removed: written again", mine, [](StoreRig& rig) { rig.files->removeFile(rig.file); }, Outcome::saved, factory},
        {"edited while the save goes to disk", mine,
         [&](StoreRig& rig) {
             rig.files->whileWriting([&rig, edit = mine + "\n"] {
                 rig.files->whileWriting(nullptr);
                 rig.files->putFile(rig.file, edit);
             });
         },
         Outcome::changedOnDisk, mine + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StoreRig rig;
        if (c.atLoad) rig.files->putFile(rig.file, *c.atLoad);
        rig.store.load();
        c.meanwhile(rig);
        EXPECT_EQ(rig.store.save(Config::defaultConfig()), c.outcome);
        rig.files->fail(Operation::read, 0);
        EXPECT_EQ(rig.files->readFile(rig.file).value_or("<none>"), c.after.value_or("<none>"));
    }

    // What the store wrote itself is no change; what it read again is the new reference.
    StoreRig rig;
    rig.store.load();
    EXPECT_EQ(rig.store.save(edited()), Outcome::saved);
    EXPECT_EQ(rig.store.save(Config::defaultConfig()), Outcome::saved);
    rig.files->putFile(rig.file, mine);
    EXPECT_TRUE(rig.store.changedOnDisk());
    EXPECT_EQ(rig.store.load(), edited());
    EXPECT_EQ(rig.store.save(Config::defaultConfig()), Outcome::saved);
    EXPECT_EQ(rig.bytes(rig.file), factory);
}

TEST(ConfigStore, StartingFreshMovesTheFileAsideUnderTheLocalTimeAndNeverOverAnother) {
    for (const auto& [offset, archive] : std::vector<std::pair<std::chrono::seconds, std::string>>{
             {std::chrono::hours(2), "config-2025-03-01-113000.unreadable.json"},
             {-std::chrono::hours(10), "config-2025-02-28-233000.unreadable.json"}}) {
        StoreRig rig;
        rig.clock->setLocalTimeOffset(offset);
        rig.files->putFile(rig.file, "broken");
        rig.store.load();
        ASSERT_TRUE(rig.store.startFresh());
        EXPECT_EQ(rig.store.archivedFileURL().value(), rig.folder / archive);
        EXPECT_EQ(rig.store.problem().value(), std::nullopt);
        EXPECT_EQ(rig.bytes(rig.folder / archive), "broken");
        EXPECT_FALSE(rig.files->exists(rig.file));
    }

    // A second broken file within the same second finds the name taken.
    StoreRig rig;
    rig.files->putFile(rig.file, "first");
    rig.store.load();
    ASSERT_TRUE(rig.store.startFresh());
    const fs::path first = rig.folder / "config-2025-03-01-093000.unreadable.json";
    rig.clock->advance(std::chrono::milliseconds(999));
    rig.files->putFile(rig.file, "second");
    rig.store.load();
    const auto problem = rig.store.problem().value();
    EXPECT_FALSE(rig.store.startFresh());
    EXPECT_TRUE(rig.lastSaveError().starts_with("cannot move " + rig.file.string() + " to " + first.string()));
    EXPECT_EQ(rig.bytes(first), "first") << "the first archive is not overwritten";
    EXPECT_EQ(rig.bytes(rig.file), "second") << "nor is the broken file lost";
    EXPECT_EQ(rig.store.problem().value(), problem);
    EXPECT_EQ(rig.store.archivedFileURL().value(), first);

    // Without a file there is nothing to move.
    rig.files->removeFile(rig.file);
    EXPECT_TRUE(rig.store.startFresh());
    EXPECT_EQ(rig.store.problem().value(), std::nullopt);
    EXPECT_EQ(rig.store.archivedFileURL().value(), first);
}

} // namespace
} // namespace ravolet
