// The application model and the disk: saves that fail, files changed from
// outside, hostile files and what cut-short saves leave behind.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <memory>
#include <optional>
#include <thread>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

#include "Platform/Linux/JsonFileKeyValueStore.hpp"
#include "Platform/Linux/LinuxFileSystem.hpp"
#include "RavoletApp/Model/AppModel.hpp"
#include "RavoletApp/Model/SimulatedMachine.hpp"

namespace ravolet {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using FileOperation = platform::InMemoryFileSystem::Operation;

Config withDPI(std::int64_t dpi) {
    Config config = Config::defaultConfig();
    config.profiles.front().pointer.dpi = dpi;
    return config;
}

// A model on the simulated machine in virtual time whose settings and
// preferences are files, on the machine's in-memory disk or in a real folder.
struct StorageRig {
    std::shared_ptr<SimulatedMachine> machine = SimulatedMachine::makeInVirtualTime();
    std::shared_ptr<platform::FileSystem> files = machine->files;
    fs::path folder = machine->files->settingsFolder();
    std::shared_ptr<platform::JsonFileKeyValueStore> preferences;
    std::shared_ptr<AppModel> model;

    StorageRig() = default;
    // On this machine's disk, in `realFolder`.
    explicit StorageRig(fs::path realFolder)
        : files(std::make_shared<platform::LinuxFileSystem>()), folder(std::move(realFolder)) {}
    ~StorageRig() { model.reset(); }

    fs::path file() const { return folder / "config.json"; }
    std::string bytes(const fs::path& path) const { return files->readFile(path).value_or("<none>"); }
    AppModel& started() {
        auto dependencies = machine->dependencies();
        dependencies.files = files;
        dependencies.settingsFolder = folder;
        preferences = std::make_shared<platform::JsonFileKeyValueStore>(folder / "preferences.json", files);
        dependencies.defaults = preferences;
        model = AppModel::create(std::move(dependencies));
        model->start();
        machine->settle();
        return *model;
    }
    const StorageNotices& notices() const { return model->storageNotices().value(); }
    // The next run of the program on the same disk, as it starts after this
    // one was killed (nothing of this one's stop has run).
    std::unique_ptr<StorageRig> nextRun() const {
        auto next = std::make_unique<StorageRig>();
        next->files = files;
        next->folder = folder;
        next->started();
        return next;
    }
};

TEST(AppModelStorage, AFailedSaveIsShownKeptAndTriedAgainUntilOneSucceeds) {
    struct Case {
        FileOperation operation;
        int code;
        std::string settingsError, preferencesError;
    };
    const std::string folder = "/home/user/.config/ravolet";
    const std::vector<Case> cases = {
        {FileOperation::write, EROFS, "cannot write " + folder + "/config.json: Read-only file system",
         "cannot write " + folder + "/preferences.json: Read-only file system"},
        {FileOperation::write, ENOSPC, "cannot write " + folder + "/config.json: No space left on device",
         "cannot write " + folder + "/preferences.json: No space left on device"},
        // The folder went, and cannot be made again.
        {FileOperation::createDirectories, EACCES, "cannot create folder " + folder + ": Permission denied",
         "cannot create folder " + folder + ": Permission denied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settingsError);
        StorageRig rig;
        AppModel& model = rig.started();
        rig.machine->files->fail(c.operation, c.code);
        model.setConfig(withDPI(800));
        model.setPausedByUser(true);
        rig.machine->advance(1s);
        EXPECT_EQ(rig.notices(), (StorageNotices{c.settingsError, c.preferencesError, std::nullopt}));
        EXPECT_TRUE(model.needsBanner().value());
        EXPECT_EQ(model.config().value(), withDPI(800)) << "the change is kept";

        // The next change tries again, and fails again.
        model.setConfig(withDPI(1200));
        rig.machine->advance(1s);
        EXPECT_EQ(rig.notices().settingsSaveError, c.settingsError);
        EXPECT_EQ(rig.bytes(rig.file()), "<none>");

        // Once the disk takes it, "Try Saving Again" writes both and the notices go.
        rig.machine->files->fail(c.operation, 0);
        model.retrySaving();
        EXPECT_EQ(rig.notices(), StorageNotices{});
        EXPECT_EQ(Config::decoded(rig.bytes(rig.file())), withDPI(1200));
        EXPECT_EQ(rig.preferences->boolValue(AppPreferences::Keys::pausedByUser), true);
        EXPECT_NE(rig.bytes(rig.folder / "preferences.json").find("\"engine.pausedByUser\": true"), std::string::npos);

        // Quitting tries again too.
        rig.machine->files->fail(c.operation, c.code);
        model.setConfig(withDPI(1600));
        model.setPausedByUser(false);
        rig.machine->files->fail(c.operation, 0);
        model.stop();
        EXPECT_EQ(Config::decoded(rig.bytes(rig.file())), withDPI(1600));
        EXPECT_NE(rig.bytes(rig.folder / "preferences.json").find("\"engine.pausedByUser\": false"), std::string::npos);
    }
}

TEST(AppModelStorage, AFileChangedOnDiskIsNeverWrittenOver) {
    StorageRig rig;
    AppModel& model = rig.started();
    model.setConfig(withDPI(800));
    rig.machine->advance(1s);
    ASSERT_EQ(Config::decoded(rig.bytes(rig.file())), withDPI(800));

    // Edited by hand while the program runs, the same setting as the window's unsaved change: the file's stands.
    model.setConfig(withDPI(1200));
    rig.machine->files->putFile(rig.file(), *withDPI(1600).encoded());
    rig.machine->advance(1s);
    EXPECT_EQ(model.config().value(), withDPI(1600));
    EXPECT_EQ(rig.notices().notKeptFromWindow.size(), 1u);
    EXPECT_EQ(model.engine().value()->currentConfig(), withDPI(1600)) << "the engine follows at once";
    EXPECT_EQ(Config::decoded(rig.bytes(rig.file())), withDPI(1600));

    // Edited by hand just before quitting: quitting writes nothing over it.
    model.setConfig(withDPI(400));
    const std::string byHand = *withDPI(2000).encoded() + "\n\n";
    rig.machine->files->putFile(rig.file(), byHand);
    model.stop();
    EXPECT_EQ(rig.bytes(rig.file()), byHand);
    EXPECT_EQ(model.config().value(), withDPI(2000));

    // A hand edit that breaks the file: the problem shows, and nothing is written while it stands.
    StorageRig broken;
    AppModel& again = broken.started();
    again.setConfig(withDPI(800));
    broken.machine->files->putFile(broken.file(), "{ \"schemaVersion\": 1,");
    broken.machine->advance(1s);
    EXPECT_TRUE(again.store().problem().value());
    again.setConfig(withDPI(1200));
    broken.machine->advance(5s);
    again.stop();
    EXPECT_EQ(broken.bytes(broken.file()), "{ \"schemaVersion\": 1,");
}

TEST(AppModelStorage, AFileBrokenWhileRavoletRunsLeavesTheLastGoodSettingsInForceAndNoButtonDropsThemUnasked) {
    StorageRig rig;
    AppModel& model = rig.started();
    model.setConfig(withDPI(800));
    rig.machine->advance(1s);
    const std::string brokenBytes = "{ \"schemaVersion\": 1,";
    rig.machine->files->putFile(rig.file(), brokenBytes);
    rig.machine->advance(1s);
    const auto problem = model.store().problem().value();
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->inForce, ConfigStore::Problem::InForce::lastGood);
    EXPECT_TRUE(problem->explanation().starts_with(
        "Ravolet keeps running on your last good settings and will not save over the file. The file is not valid JSON ("))
        << problem->explanation();
    EXPECT_EQ(model.config().value(), withDPI(800));
    // Kept beside the broken file at once: a quit, or a kill, loses nothing.
    EXPECT_FALSE(model.hasUnsavedChanges());
    EXPECT_EQ(Config::decoded(rig.bytes(rig.folder / ConfigStore::inForceFileName)), withDPI(800));

    // Reading the still broken file again, and the window's change made meanwhile: both stay in force.
    model.setConfig(withDPI(1200));
    model.readConfigAgain();
    EXPECT_EQ(model.config().value(), withDPI(1200));
    EXPECT_EQ(model.engine().value()->currentConfig(), withDPI(1200));
    EXPECT_EQ(model.store().problem().value(), problem);

    // Moved aside: the settings in force take its place.
    model.startFreshConfig();
    const auto archive = model.store().archivedFileURL().value();
    ASSERT_TRUE(archive);
    EXPECT_EQ(rig.bytes(*archive), brokenBytes);
    EXPECT_EQ(Config::decoded(rig.bytes(rig.file())), withDPI(1200));
    EXPECT_FALSE(rig.files->exists(rig.folder / ConfigStore::inForceFileName)) << "the file holds them again";
    EXPECT_EQ(model.config().value(), withDPI(1200));

    // The factory settings only when asked for.
    rig.machine->advance(1s);
    rig.machine->clock->advance(1s); // the next archive's name is another second's
    rig.machine->files->putFile(rig.file(), "[]");
    rig.machine->advance(1s);
    ASSERT_TRUE(model.store().problem().value());
    model.startFreshConfig(AppModel::FreshStart::factorySettings);
    EXPECT_EQ(Config::decoded(rig.bytes(rig.file())), Config::defaultConfig());
    EXPECT_EQ(model.engine().value()->currentConfig(), Config::defaultConfig());

    // The broken file removed by hand, seen by the watch or by reading again:
    // the settings in force become the file, not the factory ones.
    for (const bool readAgain : {false, true}) {
        SCOPED_TRACE(readAgain ? "read again" : "watched");
        model.setConfig(withDPI(readAgain ? 2400 : 1600));
        rig.machine->advance(1s);
        rig.machine->files->putFile(rig.file(), "[]");
        rig.machine->advance(1s);
        ASSERT_TRUE(model.store().problem().value());
        ASSERT_TRUE(rig.machine->files->removeFile(rig.file()));
        if (readAgain) model.readConfigAgain();
        rig.machine->advance(1s);
        EXPECT_FALSE(model.store().problem().value());
        EXPECT_EQ(Config::decoded(rig.bytes(rig.file())), withDPI(readAgain ? 2400 : 1600));
        EXPECT_EQ(model.engine().value()->currentConfig(), withDPI(readAgain ? 2400 : 1600));
    }
}

TEST(AppModelStorage, TheSettingsInForceWhileTheFileCannotBeUsedOutliveAKill) {
    const std::string broken = "{ \"schemaVersion\": 1,";
    struct Case {
        const char* what;
        bool brokenAtStart;
        // Made in the window once the file is broken; none: killed at once.
        std::optional<Config> change;
        // Done to the file while Ravolet is not running.
        std::function<void(StorageRig&)> meanwhile;
        // What the next run runs on, whether the file still blocks it, and
        // what is named as changes not saved.
        Config inForce;
        bool stillBroken;
        std::optional<Config> namedUnsaved;
    };
    const auto untouched = [](StorageRig&) {};
    const std::vector<Case> cases = {
        {"broken while running, changed since", false, withDPI(1200), untouched, withDPI(1200), true, std::nullopt},
        {"broken while running, killed at once", false, std::nullopt, untouched, withDPI(800), true, std::nullopt},
        {"broken from the start, changed since", true, withDPI(1600), untouched, withDPI(1600), true, std::nullopt},
        {"removed by hand meanwhile", false, withDPI(1200),
         [](StorageRig& rig) { ASSERT_TRUE(rig.files->removeFile(rig.file())); }, withDPI(1200), false, std::nullopt},
        {"mended by hand meanwhile", false, withDPI(1200),
         [](StorageRig& rig) { rig.machine->files->putFile(rig.file(), *withDPI(2000).encoded()); }, withDPI(2000), false,
         withDPI(1200)},
        {"mended to the same settings", false, withDPI(1200),
         [](StorageRig& rig) { rig.machine->files->putFile(rig.file(), *withDPI(1200).encoded()); }, withDPI(1200), false,
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StorageRig rig;
        rig.machine->files->putFile(rig.file(), c.brokenAtStart ? broken : *withDPI(800).encoded());
        AppModel& model = rig.started();
        if (!c.brokenAtStart) {
            rig.machine->files->putFile(rig.file(), broken);
            rig.machine->advance(AppModel::takeInDelay);
            ASSERT_TRUE(model.store().problem().value());
        }
        if (c.change) {
            model.setConfig(*c.change);
            rig.machine->advance(AppModel::saveDelay);
        }
        c.meanwhile(rig);
        const std::string fileBefore = rig.bytes(rig.file());

        const auto next = rig.nextRun();
        EXPECT_EQ(next->model->config().value(), c.inForce);
        EXPECT_EQ(next->model->engine().value()->currentConfig(), c.inForce);
        const auto& problem = next->model->store().problem().value();
        EXPECT_EQ(problem.has_value(), c.stillBroken);
        if (problem) {
            EXPECT_EQ(problem->inForce, ConfigStore::Problem::InForce::lastGood) << problem->explanation();
            EXPECT_EQ(rig.bytes(rig.file()), broken) << "the broken file is left as it is";
            EXPECT_FALSE(next->model->hasUnsavedChanges()) << "nothing to ask about or keep aside at a quit";
        } else {
            EXPECT_EQ(Config::decoded(rig.bytes(rig.file())), c.inForce);
            EXPECT_FALSE(rig.files->exists(rig.folder / ConfigStore::inForceFileName));
        }
        if (!c.stillBroken && fileBefore != "<none>") {
            EXPECT_EQ(rig.bytes(rig.file()), fileBefore) << "the mended file is not written over";
        }
        const auto& unsaved = next->notices().unsavedChangesAt;
        EXPECT_EQ(unsaved.has_value(), c.namedUnsaved.has_value());
        if (unsaved && c.namedUnsaved) {
            EXPECT_EQ(unsaved->parent_path(), rig.folder);
            EXPECT_EQ(Config::decoded(rig.bytes(*unsaved)), *c.namedUnsaved);
        }
    }
}

// A fresh folder of this machine's, removed afterwards.
struct RealFolder {
    fs::path path;
    RealFolder() {
        std::string pattern = (fs::path(::testing::TempDir()) / "ravolet-model-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~RealFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

TEST(AppModelStorage, HostileFilesStartTheModelWithTheProblemShownAndLoseNothing) {
    struct Case {
        const char* what;
        std::function<void(const fs::path& folder)> put;
        std::string settingsReason; // empty: the settings file is fine
        bool preferencesSetAside;
    };
    const std::string deep = "{\"a\": " + std::string(100000, '[') + std::string(100000, ']') + "}";
    const std::vector<Case> cases = {
        {"a named pipe", [](const fs::path& f) { ASSERT_EQ(::mkfifo((f / "config.json").c_str(), 0600), 0); },
         "it is a named pipe, not a regular file", false},
        {"a link to /dev/zero", [](const fs::path& f) { fs::create_symlink("/dev/zero", f / "config.json"); },
         "it is a character device, not a regular file", false},
        {"17 MiB",
         [](const fs::path& f) {
             std::ofstream(f / "config.json").put(' ');
             fs::resize_file(f / "config.json", 17 << 20);
         },
         "it is larger than 16 MiB", false},
        {"preferences nested 100,000 deep", [&](const fs::path& f) { std::ofstream(f / "preferences.json") << deep; }, "",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RealFolder temporary;
        const fs::path folder = temporary.path / "ravolet";
        fs::create_directories(folder);
        c.put(folder);
        const auto before = fs::symlink_status(folder / "config.json");
        StorageRig rig(folder);
        AppModel& model = rig.started();
        const auto& problem = model.store().problem().value();
        if (c.settingsReason.empty()) {
            EXPECT_FALSE(problem);
        } else {
            ASSERT_TRUE(problem);
            EXPECT_EQ(problem->headline(), "Your Ravolet settings file could not be opened");
            EXPECT_TRUE(problem->explanation().ends_with(
                "cannot read " + (folder / "config.json").string() + ": " + c.settingsReason + "."))
                << problem->explanation();
        }
        const fs::path aside = folder / "preferences.unreadable.json";
        EXPECT_EQ(rig.notices().preferencesSetAsideAt, c.preferencesSetAside ? std::optional(aside) : std::nullopt);
        EXPECT_TRUE(model.needsBanner().value());
        model.setConfig(withDPI(800));
        model.setPausedByUser(true);
        rig.machine->advance(2s);
        model.stop();
        if (c.preferencesSetAside) {
            EXPECT_EQ(rig.bytes(aside), deep) << "kept aside whole";
            EXPECT_EQ(Config::decoded(rig.bytes(folder / "config.json")), withDPI(800));
        } else {
            EXPECT_EQ(fs::symlink_status(folder / "config.json").type(), before.type()) << "left as it was";
        }
        model.dismissPreferencesSetAside();
        EXPECT_EQ(rig.notices().preferencesSetAsideAt, std::nullopt);
    }
}

TEST(AppModelStorage, ChangesKeptAsideOnAnotherDiskAreOfferedOnlyToTheSettingsFolderTheyWereKeptFor) {
    struct Case {
        const char* what;
        // Which settings folders kept a change aside, and in which order
        // the settings folders start afterwards.
        std::vector<int> kept, starts;
    };
    const std::vector<Case> cases = {
        {"kept by the first, started by the second and then the first", {0}, {1, 0}},
        {"kept by the second, started by the first, then the second", {1}, {0, 1}},
        {"kept by both, each starting in turn", {0, 1}, {1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RealFolder temporary;
        // Two XDG_CONFIG_HOME of one user, each on a disk that takes
        // nothing (where its folder would be, a file is), sharing the spare folders.
        const std::vector<fs::path> spares{temporary.path / "cache" / "ravolet"};
        std::vector<fs::path> folders;
        for (const char* home : {"first", "second"}) {
            std::ofstream(temporary.path / home) << "not a folder";
            folders.push_back(temporary.path / home / "ravolet");
        }
        const auto run = [&](int which) {
            auto made = std::make_unique<StorageRig>(folders[which]);
            made->files = std::make_shared<platform::LinuxFileSystem>(spares);
            made->started();
            return made;
        };
        std::map<int, fs::path> keptAt;
        for (const int which : c.kept) {
            auto keeping = run(which);
            keeping->model->setConfig(withDPI(800 + 400 * which));
            const auto kept = keeping->model->keepUnsavedChanges();
            ASSERT_TRUE(kept) << kept.error();
            keptAt[which] = *kept;
            keeping->machine->clock->advance(1s); // the next one's name is another second's
        }
        for (const int which : c.starts) {
            const auto next = run(which);
            const auto& named = next->notices().unsavedChangesAt;
            if (!keptAt.contains(which)) {
                EXPECT_EQ(named, std::nullopt) << "settings folder " << which << " is offered another's";
                continue;
            }
            ASSERT_TRUE(named) << "settings folder " << which << " is not offered its own";
            EXPECT_EQ(*named, keptAt[which]);
            EXPECT_EQ(Config::decoded(next->bytes(*named)), withDPI(800 + 400 * which));
        }
    }
}

TEST(AppModelStorage, MovingTheFileAsideRenamesOnlyARegularFileInAFolderOfTheUsersOwn) {
    struct Case {
        const char* what;
        // Puts config.json (through a link, or not) and says what a move
        // aside must leave where it is; empty: the file itself, moved.
        std::function<fs::path(const fs::path& folder, const fs::path& elsewhere)> put;
        std::string reason; // empty: moved
    };
    const std::vector<Case> cases = {
        {"a link to a device node",
         [](const fs::path& folder, const fs::path& elsewhere) {
             const fs::path node = elsewhere / "null";
             if (::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) return fs::path();
             fs::create_symlink(node, folder / "config.json");
             return node;
         },
         "it is a character device, not a regular file"},
        {"a link to a file in another user's folder",
         [](const fs::path& folder, const fs::path& elsewhere) {
             const fs::path theirs = elsewhere / "theirs";
             fs::create_directories(theirs);
             std::ofstream(theirs / "config.json") << "[]";
             if (::chown(theirs.c_str(), 65534, 65534) != 0) return fs::path();
             fs::create_symlink(theirs / "config.json", folder / "config.json");
             return theirs / "config.json";
         },
         "belongs to another user"},
        {"a named pipe",
         [](const fs::path& folder, const fs::path&) {
             if (::mkfifo((folder / "config.json").c_str(), 0600) != 0) return fs::path();
             return folder / "config.json";
         },
         "it is a named pipe, not a regular file"},
        {"a broken file of the user's, through a link",
         [](const fs::path& folder, const fs::path& elsewhere) {
             std::ofstream(elsewhere / "ravolet.json") << "[]";
             fs::create_symlink(elsewhere / "ravolet.json", folder / "config.json");
             return fs::path(elsewhere / "ravolet.json");
         },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RealFolder temporary;
        const fs::path folder = temporary.path / "ravolet";
        const fs::path elsewhere = temporary.path / "elsewhere";
        fs::create_directories(folder);
        fs::create_directories(elsewhere);
        const fs::path target = c.put(folder, elsewhere);
        if (target.empty()) GTEST_SKIP() << "cannot make it here (it takes root): " << std::strerror(errno);
        const auto before = fs::symlink_status(target);
        StorageRig rig(folder);
        AppModel& model = rig.started();
        ASSERT_TRUE(model.store().problem().value());
        model.startFreshConfig();
        std::vector<std::string> archives;
        for (const fs::path& place : std::set<fs::path>{folder, elsewhere, target.parent_path()})
            for (const auto& entry : fs::directory_iterator(place))
                if (entry.path().filename().string().ends_with(".unreadable.json")) archives.push_back(entry.path());
        if (c.reason.empty()) {
            EXPECT_EQ(archives.size(), 1u);
            EXPECT_FALSE(model.store().problem().value());
            EXPECT_EQ(Config::decoded(rig.bytes(target)), Config::defaultConfig());
            continue;
        }
        EXPECT_TRUE(archives.empty()) << archives.front();
        EXPECT_EQ(fs::symlink_status(target).type(), before.type()) << "left where it is";
        EXPECT_TRUE(model.store().problem().value()) << "nothing was moved, so nothing is saved over it";
        const std::string error = model.store().lastSaveError().value().value_or("<none>");
        EXPECT_TRUE(error.starts_with("cannot move " + target.string() + " to ")) << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

TEST(AppModelStorage, WhatCutShortSavesLeftBehindGoesAtStartAndNothingOfTheUsers) {
    RealFolder temporary;
    const fs::path folder = temporary.path / "ravolet";
    fs::create_directories(folder);
    const std::vector<std::string> leftovers = {".ravolet-tmp.config.json.Ab12Cd", ".ravolet-tmp.preferences.json.x9Y8z7",
                                                ".ravolet-tmp.pointer-hardware-capture.json.000000"};
    const std::vector<std::string> others = {"config.json", ".config.json.backup", ".preferences.json.x9Y8z7",
                                             ".ravolet-tmp.config.json.notOurs", "notes.txt"};
    for (const auto& name : leftovers) std::ofstream(folder / name) << "cut short";
    for (const auto& name : others) std::ofstream(folder / name) << *withDPI(800).encoded();
    StorageRig rig(folder);
    rig.started();
    for (const auto& name : leftovers) EXPECT_FALSE(fs::exists(folder / name)) << name;
    for (const auto& name : others) EXPECT_TRUE(fs::exists(folder / name)) << name;
}

TEST(AppModelStorage, AnEditOfTheFileFromOutsideIsTakenInAndNeitherSideIsDroppedInSilence) {
    const auto clicked = [](Config config) {
        config.profiles.front().scroll.isEnabled = !config.profiles.front().scroll.isEnabled;
        return config;
    };
    const Config both = clicked(withDPI(1600));
    struct Case {
        const char* what;
        // When the file is edited, against the click in the window.
        std::chrono::milliseconds before, after;
        // The window's change: the other setting, or the same one.
        bool sameSetting;
        bool quitsAtOnce;
    } cases[] = {
        {"the file edited 5 s before a click", 5s, 0ms, false, false},
        {"the file edited 0.3 s after a click", 0ms, 300ms, false, false},
        {"the same setting changed on both sides", 0ms, 300ms, true, false},
        {"the file edited just before quitting", 0ms, 0ms, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RealFolder temporary;
        const fs::path folder = temporary.path / "ravolet";
        fs::create_directories(folder);
        StorageRig rig(folder);
        AppModel& model = rig.started();
        // By hand, in place, as an editor saves.
        const std::string byHand = *withDPI(1600).encoded() + "\n";
        const auto edit = [&] { std::ofstream(rig.file()) << byHand; };
        const auto click = [&] { model.setConfig(c.sameSetting ? withDPI(800) : clicked(model.config().value())); };
        // The folder's watch tells on a thread of the kernel's; the model reads the file a moment later.
        const auto takenIn = [&](const std::function<bool()>& seen) {
            for (int i = 0; i < 400 && !seen(); ++i) {
                std::this_thread::sleep_for(5ms);
                rig.machine->advance(AppModel::takeInDelay);
            }
            return seen();
        };
        const auto seesTheFile = [&] {
            return model.config().value().profiles.front().pointer.dpi == 1600 || !rig.notices().notKeptFromWindow.empty();
        };
        if (c.before > 0ms) {
            edit();
            ASSERT_TRUE(takenIn(seesTheFile));
            rig.machine->advance(c.before);
        }
        click();
        if (c.quitsAtOnce) {
            edit();
            model.stop();
            EXPECT_EQ(Config::decoded(rig.bytes(rig.file())), both) << "the quit wrote the click on top of the edit";
            continue;
        }
        if (c.before == 0ms) {
            rig.machine->advance(c.after);
            edit();
            ASSERT_TRUE(takenIn(seesTheFile));
        }
        rig.machine->advance(1s);
        if (c.sameSetting) {
            EXPECT_EQ(model.config().value(), withDPI(1600));
            EXPECT_EQ(rig.notices().notKeptFromWindow, std::vector<std::string>{"DPI in the profile \u201cDefault\u201d"});
            EXPECT_TRUE(model.needsBanner().value());
            EXPECT_EQ(rig.bytes(rig.file()), byHand) << "nothing of the window's is left to write";
            model.dismissNotKeptFromWindow();
            EXPECT_EQ(rig.notices(), StorageNotices{});
        } else {
            EXPECT_EQ(model.config().value(), both);
            EXPECT_EQ(Config::decoded(rig.bytes(rig.file())), both) << "the click saved on top of the edit";
            EXPECT_EQ(rig.notices(), StorageNotices{});
        }
        EXPECT_EQ(model.engine().value()->currentConfig(), model.config().value());
    }
}

TEST(AppModelStorage, ASettingsFileKeptThroughALinkIsTakenInWhereverItLives) {
    RealFolder temporary;
    const fs::path folder = temporary.path / "ravolet";
    const fs::path dotfiles = temporary.path / "dotfiles";
    fs::create_directories(folder);
    fs::create_directories(dotfiles);
    std::ofstream(dotfiles / "ravolet.json") << *withDPI(800).encoded();
    std::ofstream(dotfiles / "other.json") << *withDPI(2400).encoded();
    fs::create_symlink(dotfiles / "ravolet.json", folder / "config.json");
    StorageRig rig(folder);
    AppModel& model = rig.started();
    ASSERT_EQ(model.config().value(), withDPI(800));
    const auto takenIn = [&](std::int64_t dpi) {
        for (int i = 0; i < 400 && model.config().value() != withDPI(dpi); ++i) {
            std::this_thread::sleep_for(5ms);
            rig.machine->advance(AppModel::takeInDelay);
        }
        return model.config().value() == withDPI(dpi);
    };

    std::ofstream(dotfiles / "ravolet.json") << *withDPI(1200).encoded();
    EXPECT_TRUE(takenIn(1200)) << "edited in place";
    std::ofstream(dotfiles / ".ravolet.json.swp") << *withDPI(1600).encoded();
    fs::rename(dotfiles / ".ravolet.json.swp", dotfiles / "ravolet.json");
    EXPECT_TRUE(takenIn(1600)) << "replaced by an editor's rename";
    fs::create_symlink(dotfiles / "other.json", folder / ".config.json.new");
    fs::rename(folder / ".config.json.new", folder / "config.json");
    EXPECT_TRUE(takenIn(2400)) << "the link pointed elsewhere";
    std::ofstream(dotfiles / "other.json") << *withDPI(3200).encoded();
    EXPECT_TRUE(takenIn(3200)) << "its new target edited in place";
    EXPECT_TRUE(fs::is_symlink(folder / "config.json"));

    // Broken where it lives and moved aside: the link stays, and what it
    // points to holds the settings in force.
    std::ofstream(dotfiles / "other.json") << "[]";
    for (int i = 0; i < 400 && !model.store().problem().value(); ++i) {
        std::this_thread::sleep_for(5ms);
        rig.machine->advance(AppModel::takeInDelay);
    }
    ASSERT_TRUE(model.store().problem().value());
    model.startFreshConfig();
    const auto archive = model.store().archivedFileURL().value();
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->parent_path(), dotfiles);
    EXPECT_EQ(rig.bytes(*archive), "[]");
    EXPECT_TRUE(fs::is_symlink(folder / "config.json"));
    EXPECT_EQ(fs::read_symlink(folder / "config.json"), dotfiles / "other.json");
    EXPECT_EQ(Config::decoded(rig.bytes(dotfiles / "other.json")), withDPI(3200));
}

// A small tmpfs of the test's own; mounting one takes root.
struct SmallDisk {
    RealFolder temporary;
    fs::path path = temporary.path / "disk";
    bool mounted = false;

    SmallDisk() {
        fs::create_directories(path);
        mounted = ::mount("ravolet-test", path.c_str(), "tmpfs", 0, "size=256k,mode=0700") == 0;
    }
    ~SmallDisk() {
        if (mounted) ::umount2(path.c_str(), MNT_DETACH);
    }
    bool setReadOnly(bool readOnly) {
        return ::mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | (readOnly ? MS_RDONLY : 0), "size=256k") == 0;
    }
    // Fills what space is left.
    void fill() {
        const int fd = ::open((path / "filler").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        const std::string block(4096, 'x');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        ::close(fd);
    }
};

TEST(AppModelStorage, OnAFullOrReadOnlyDiskTheFailureShowsAndTheChangeIsKept) {
    SmallDisk disk;
    if (!disk.mounted) GTEST_SKIP() << "cannot mount a small tmpfs here (it takes root): " << std::strerror(errno);
    const fs::path folder = disk.path / "ravolet";
    StorageRig rig(folder);
    AppModel& model = rig.started();
    model.setConfig(withDPI(800));
    rig.machine->advance(1s);
    ASSERT_EQ(rig.notices(), StorageNotices{});

    disk.fill();
    model.setConfig(withDPI(1200));
    rig.machine->advance(1s);
    EXPECT_EQ(rig.notices().settingsSaveError,
              "cannot write " + (folder / "config.json").string() + ": No space left on device");
    fs::remove(disk.path / "filler");
    model.retrySaving();
    EXPECT_EQ(rig.notices(), StorageNotices{});

    ASSERT_TRUE(disk.setReadOnly(true));
    model.setConfig(withDPI(1600));
    rig.machine->advance(1s);
    EXPECT_EQ(rig.notices().settingsSaveError,
              "cannot write " + (folder / "config.json").string() + ": Read-only file system");
    EXPECT_EQ(model.config().value(), withDPI(1600));
    ASSERT_TRUE(disk.setReadOnly(false));
    model.stop();
    EXPECT_EQ(Config::decoded(rig.bytes(folder / "config.json")), withDPI(1600));
    EXPECT_EQ(rig.notices(), StorageNotices{});
}

TEST(AppModelStorage, AChangeThatAFullDiskCannotTakeIsKeptOnAnotherAndNamedAtTheNextStart) {
    SmallDisk disk;
    if (!disk.mounted) GTEST_SKIP() << "cannot mount a small tmpfs here (it takes root): " << std::strerror(errno);
    const fs::path folder = disk.path / "ravolet";
    RealFolder elsewhere;
    // Tried in order: a runtime folder that cannot be made, then the cache.
    std::ofstream(elsewhere.path / "runtime") << "not a folder";
    const std::vector<fs::path> spares{elsewhere.path / "runtime" / "ravolet", elsewhere.path / "cache" / "ravolet"};
    const auto rig = [&] {
        auto made = std::make_unique<StorageRig>(folder);
        made->files = std::make_shared<platform::LinuxFileSystem>(spares);
        made->started();
        return made;
    };
    auto first = rig();
    first->model->setConfig(withDPI(800));
    first->machine->advance(1s);
    disk.fill();
    first->model->setConfig(withDPI(1200));
    first->machine->advance(1s);
    ASSERT_TRUE(first->notices().settingsSaveError);
    // As the program does when a signal ends it.
    const auto kept = first->model->keepUnsavedChanges();
    ASSERT_TRUE(kept) << kept.error();
    EXPECT_EQ(kept->parent_path().parent_path(), spares[1]) << "in a folder of these settings' own there";
    EXPECT_EQ(Config::decoded(first->bytes(*kept)), withDPI(1200));
    first->model->stop();
    first.reset();

    // Still full: named where it is.
    auto next = rig();
    EXPECT_EQ(next->notices().unsavedChangesAt, *kept);
    next.reset();
    // Room again: moved beside the settings, and named there.
    fs::remove(disk.path / "filler");
    auto roomy = rig();
    const fs::path beside = folder / kept->filename();
    EXPECT_EQ(roomy->notices().unsavedChangesAt, beside);
    EXPECT_EQ(Config::decoded(roomy->bytes(beside)), withDPI(1200));
    EXPECT_FALSE(fs::exists(*kept));
    EXPECT_EQ(Config::decoded(roomy->bytes(roomy->file())), withDPI(800)) << "not taken in by itself";
}

} // namespace
} // namespace ravolet
