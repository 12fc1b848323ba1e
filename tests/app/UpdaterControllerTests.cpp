#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Simulated/InMemoryKeyValueStore.hpp"
#include "Platform/Simulated/SimulatedApplicationActivator.hpp"
#include "Platform/Simulated/SimulatedUpdaterBackend.hpp"
#include "RavoletApp/Model/UpdaterController.hpp"

namespace ravolet {
namespace {

using Calls = std::vector<std::string>;

struct UpdaterRig {
    explicit UpdaterRig(bool preference, bool machinery) {
        preferences->automaticUpdateChecks.set(preference);
        backend->presetAutomaticChecks(machinery);
    }
    std::shared_ptr<AppPreferences> preferences =
        std::make_shared<AppPreferences>(std::make_shared<platform::InMemoryKeyValueStore>());
    std::shared_ptr<platform::SimulatedUpdaterBackend> backend = std::make_shared<platform::SimulatedUpdaterBackend>();
    std::shared_ptr<platform::SimulatedApplicationActivator> activator =
        std::make_shared<platform::SimulatedApplicationActivator>();
    UpdaterController updater{preferences, backend, activator, BundleInfo{"0.1.0", "7"}};
};

TEST(UpdaterController, StartsOnceWithTheAutomaticChecksMatchingThePreference) {
    struct Case {
        bool preference;
        bool machinery;
        Calls firstStart;
    };
    const std::vector<Case> cases = {
        {false, false, {"startUpdater", "setAutomaticallyChecksForUpdates(false)"}},
        {false, true, {"setAutomaticallyChecksForUpdates(false)", "startUpdater", "setAutomaticallyChecksForUpdates(false)"}},
        {true, false, {"setAutomaticallyChecksForUpdates(true)", "startUpdater", "setAutomaticallyChecksForUpdates(true)"}},
        {true, true, {"startUpdater", "setAutomaticallyChecksForUpdates(true)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.preference << c.machinery);
        UpdaterRig rig(c.preference, c.machinery);
        int started = 0;
        auto connection = rig.updater.hasStarted().observe([&](bool) { ++started; });
        EXPECT_TRUE(rig.backend->calls().empty()) << "nothing before start";
        // Starting, the machinery reads its own stored switch: synced again after.
        rig.backend->presetAutomaticChecksOnStart(!c.preference);
        rig.updater.start();
        EXPECT_EQ(rig.backend->calls(), c.firstStart);
        EXPECT_EQ(rig.backend->automaticallyChecksForUpdates(), c.preference);
        rig.backend->clearCalls();

        // A later start re-syncs without starting the machinery again.
        rig.backend->presetAutomaticChecks(!c.preference);
        rig.updater.start();
        EXPECT_EQ(rig.backend->calls(), Calls{c.preference ? "setAutomaticallyChecksForUpdates(true)"
                                                           : "setAutomaticallyChecksForUpdates(false)"});
        EXPECT_TRUE(rig.updater.hasStarted().value());
        EXPECT_EQ(started, 1);

        rig.backend->clearCalls();
        rig.preferences->automaticUpdateChecks.set(!c.preference);
        rig.updater.syncAutomaticChecks();
        rig.updater.syncAutomaticChecks(); // already in the wanted state: writes nothing
        EXPECT_EQ(rig.backend->calls().size(), 1u);
        EXPECT_EQ(rig.backend->automaticallyChecksForUpdates(), !c.preference);
    }
}

TEST(UpdaterController, BringsRavoletToTheFrontForWhatTheMachineryShows) {
    UpdaterRig rig(true, true);
    rig.updater.checkForUpdates();
    EXPECT_EQ(rig.activator->activations(), 1);
    EXPECT_EQ(rig.backend->calls(), Calls{"checkForUpdates"});

    const auto delegate = rig.backend->delegate();
    ASSERT_NE(delegate, nullptr);
    EXPECT_TRUE(delegate->supportsGentleScheduledUpdateReminders());
    delegate->willHandleShowingUpdate(false);
    EXPECT_EQ(rig.activator->activations(), 1);
    delegate->willHandleShowingUpdate(true);
    delegate->willShowModalAlert();
    EXPECT_EQ(rig.activator->activations(), 3);

    EXPECT_EQ(rig.updater.currentVersionDescription(), "0.1.0 (build 7)");
    EXPECT_EQ((BundleInfo{"0.1.0", std::nullopt}).versionDescription(), "0.1.0 (build —)");
    EXPECT_EQ(BundleInfo{}.versionDescription(), "— (build —)");
    EXPECT_EQ(BundleInfo::main(),
              (BundleInfo{RAVOLET_TEST_VERSION, RAVOLET_TEST_BUILD_NUMBER, RAVOLET_TEST_FROM_PACKAGE != 0}));
}

} // namespace
} // namespace ravolet
