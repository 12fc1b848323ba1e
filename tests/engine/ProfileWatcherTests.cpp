#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Platform/SerialQueue.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"
#include "Platform/Simulated/SimulatedWorkspace.hpp"
#include "RavoletEngine/Coordination/ProfileWatcher.hpp"

namespace ravolet {
namespace {

using platform::ApplicationActivation;
using platform::RunningApplication;

// The factory document: Krita and GIMP share the "canvas" profile,
// everything else falls back to "default".
constexpr const char* krita = "org.kde.krita";
constexpr const char* gimp = "org.gimp.GIMP";
constexpr const char* firefox = "org.mozilla.firefox";

struct Call {
    std::string profileID;
    std::optional<std::string> bundleID;
    std::optional<std::string> ruleID;
    bool operator==(const Call&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Call& c) {
    return os << c.profileID << " for " << c.bundleID.value_or("-") << " by " << c.ruleID.value_or("-");
}

struct WatcherRig {
    std::shared_ptr<platform::SimulatedWorkspace> workspace = platform::SimulatedWorkspace::make();
    std::shared_ptr<platform::ManualScheduler> ui = std::make_shared<platform::ManualScheduler>();
    std::vector<Call> calls;
    std::shared_ptr<ProfileWatcher> watcher = ProfileWatcher::create(
        workspace, ui, Config::defaultConfig(),
        [this](const Profile& p, const std::optional<std::string>& b, const ProfileResolution& r) {
            calls.push_back({p.id, b, r.matchedRule ? std::optional(r.matchedRule->id) : std::nullopt});
        });
    void activate(const std::optional<std::string>& bundleID) {
        workspace->activate(RunningApplication{bundleID, "App"});
        ui->runUntilIdle();
    }
};

TEST(ProfileWatcher, CallsTheHandlerOnlyWhenTheProfileChangesOrWhenForced) {
    WatcherRig fresh; // forced before any activation: no identifier
    fresh.watcher->update(Config::defaultConfig());
    EXPECT_EQ(fresh.calls, (std::vector<Call>{{"default", std::nullopt, std::nullopt}}));

    WatcherRig rig;
    rig.workspace->setFrontmost(RunningApplication{firefox, "Firefox"});
    rig.watcher->start();
    EXPECT_TRUE(rig.calls.empty()) << "Safari resolves to the profile of no application";
    EXPECT_EQ(rig.watcher->frontmostBundleID(), firefox);

    rig.activate(krita);
    rig.activate(gimp); // the same profile value: stored, not reported
    EXPECT_EQ(rig.watcher->frontmostBundleID(), gimp);
    rig.activate(firefox);
    EXPECT_EQ(rig.calls, (std::vector<Call>{{"canvas", krita, "krita"}, {"default", firefox, std::nullopt}}));
    EXPECT_EQ(rig.watcher->currentProfile().id, "default");

    // A new document always reaches the handler, with the last identifier.
    Config renamed = Config::defaultConfig();
    renamed.profiles[0].name = "Everyday";
    rig.watcher->update(renamed);
    rig.watcher->update(renamed);
    rig.watcher->activate(krita, true);
    rig.watcher->activate(krita, true);
    EXPECT_EQ(rig.calls.size(), 6u);
    EXPECT_EQ(rig.calls[2], (Call{"default", firefox, std::nullopt}));
    EXPECT_EQ(rig.watcher->currentProfile().name, "Canvas & Design Apps");
    EXPECT_EQ(rig.calls[5], (Call{"canvas", krita, "krita"}));
}

TEST(ProfileWatcher, AnActivationWithoutAUsableApplicationCountsAsNoApplication) {
    const std::vector<std::pair<const char*, ApplicationActivation>> payloads = {
        {"no application entry", {ApplicationActivation::NoApplication{}}},
        {"an entry of another kind", {ApplicationActivation::OtherObject{"NSString"}}},
        {"an application without a bundle identifier", {RunningApplication{std::nullopt, "Helper"}}},
    };
    for (const auto& [name, payload] : payloads) {
        SCOPED_TRACE(name);
        WatcherRig rig;
        rig.watcher->start();
        rig.activate(krita);
        rig.workspace->deliver(payload);
        rig.ui->runUntilIdle();
        EXPECT_EQ(rig.watcher->frontmostBundleID(), std::nullopt);
        EXPECT_EQ(rig.calls, (std::vector<Call>{{"canvas", krita, "krita"}, {"default", std::nullopt, std::nullopt}}));
    }
}

TEST(ProfileWatcher, StoppingOrReleasingEndsTheRegistrationAndLateNotificationsDoNothing) {
    WatcherRig rig;
    rig.watcher->stop(); // without start: nothing to remove
    rig.watcher->start();
    EXPECT_EQ(rig.workspace->subscriberCount(), 1u);
    rig.watcher->stop();
    rig.watcher->stop();
    EXPECT_EQ(rig.workspace->subscriberCount(), 0u);
    rig.activate(krita);
    EXPECT_TRUE(rig.calls.empty());
    rig.watcher->activate(krita, false); // still works by hand after stop
    EXPECT_EQ(rig.calls.size(), 1u);

    // Released while a notification is on its way: the registration holds the
    // watcher weakly, so it is gone, and the late notification does nothing.
    rig.watcher->start();
    std::weak_ptr<ProfileWatcher> weak = rig.watcher;
    rig.workspace->activate(RunningApplication{firefox, "Firefox"});
    rig.watcher.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(rig.workspace->subscriberCount(), 0u);
    rig.ui->runUntilIdle();
    EXPECT_EQ(rig.calls.size(), 1u);
}

TEST(ProfileWatcher, AHandlerMayCallBackAndActivationsFromManyThreadsStayConsistent) {
    auto workspace = platform::SimulatedWorkspace::make();
    auto ui = std::make_shared<platform::SerialQueue>("ai.ravolet.test.ui", platform::QueuePriority::userInteractive);
    std::atomic<int> forced{0};
    std::shared_ptr<ProfileWatcher> watcher;
    watcher = ProfileWatcher::create(workspace, ui, Config::defaultConfig(),
                                     [&](const Profile&, const std::optional<std::string>& bundleID, const ProfileResolution&) {
                                         (void)watcher->currentProfile(); // calling back must not deadlock
                                         if (bundleID == gimp) ++forced;
                                     });
    watcher->start();
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                if (t == 0) workspace->activate(i % 2 ? krita : firefox);
                if (t == 1) watcher->activate(i % 2 ? std::optional<std::string>(gimp) : std::nullopt, true);
                if (t == 2) watcher->update(Config::defaultConfig());
            }
        });
    }
    for (auto& thread : threads) thread.join();
    ui->sync([] {});
    EXPECT_GE(forced.load(), 100) << "every forced activation is reported";
    watcher->activate(krita, true);
    EXPECT_EQ(watcher->currentProfile().id, "canvas");
    EXPECT_EQ(watcher->frontmostBundleID(), krita);
}

} // namespace
} // namespace ravolet
