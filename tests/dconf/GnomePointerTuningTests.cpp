// Pointer tuning with GNOME's one acceleration setting, against a real dconf
// on a bus of the test's own: run by with-private-dconf.sh, under
// dbus-run-session with a configuration and runtime folder of its own, so
// that no user's settings are touched. The kernel's devices are a folder tree holding
// Ravolet's pointer under the mouse's identity.

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gio/gio.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "Platform/Linux/Desktop/GnomePointerSettings.hpp"
#include "Platform/Linux/Desktop/PointerAccelSetting.hpp"
#include "Platform/Linux/LinuxFileSystem.hpp"
#include "Platform/Linux/SystemClock.hpp"
#include "Platform/Simulated/InMemoryKeyValueStore.hpp"
#include "RavoletEngine/Coordination/DesktopPointerPropertyBackend.hpp"
#include "RavoletEngine/Coordination/PointerHardwareTuning.hpp"
#include "RavoletEngine/Coordination/PointerTuningGuard.hpp"
#include "tests/platform/FolderTree.hpp"

extern char** environ;

using namespace ravolet;
using namespace ravolet::platform;
using namespace std::chrono_literals;

namespace {

constexpr const char* applyAndWait = "RAVOLET_APPLY_AND_WAIT";

// Ravolet's pointer in a sysfs of the test's, beside the mouse itself.
struct Kernel : platform::testing::FolderTree {
    Kernel() : FolderTree("gnome-pointer") {
        device("sys/devices/pci0000:00/usb1/1-2/1-2:1.0/0003:046D:C099.0001/input/input7", "event4", "");
        device("sys/devices/virtual/input/input9", "event6", "ravolet/virtual-pointer");
    }
    void device(const std::string& folder, const std::string& event, const std::string& phys) {
        for (const auto& [name, value] : {std::pair{"id/bustype", "0003"}, {"id/vendor", "046d"}, {"id/product", "c099"},
                                          {"name", "Logitech G502 X"}, {"capabilities/rel", "1943"}})
            write(folder + "/" + name, std::string(value) + "\n");
        write(folder + "/phys", phys + "\n");
        link("sys/class/input/" + event + "/device", folder);
    }
    KernelRoots roots() const { return {(path / "sys").string(), (path / "dev").string()}; }
};

std::filesystem::path captureFile() {
    return std::filesystem::path(std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : "/tmp") /
           "gnome-pointer-capture.json";
}

std::shared_ptr<PointerHardwareTuning> tunerOn(const Kernel& kernel, bool enabled = true) {
    auto defaults = std::make_shared<InMemoryKeyValueStore>();
    defaults->set(PointerHardwareTuning::enabledDefaultsKey, enabled);
    DesktopPointerPropertyBackend::Options options{kernel.roots(), (kernel.path / "udev").string()};
    return std::make_shared<PointerHardwareTuning>(
        std::make_shared<DesktopPointerPropertyBackend>(std::shared_ptr(GnomePointerSettings::make(kernel.roots())), options),
        defaults, captureFile(), std::vector{HIDPPDeviceMatch::g502X}, SystemClock::shared(), LinuxFileSystem::shared());
}

// What another client of the same settings reads: GNOME's own tool.
std::string profileSeenByGsettings() {
    std::array<char, 128> buffer{};
    FILE* out = ::popen("gsettings get org.gnome.desktop.peripherals.mouse accel-profile", "r");
    std::string text;
    while (out && std::fgets(buffer.data(), buffer.size(), out)) text += buffer.data();
    if (out) ::pclose(out);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

void setWithGsettings(const std::string& profile) {
    ASSERT_EQ(std::system(("gsettings set org.gnome.desktop.peripherals.mouse accel-profile " + profile).c_str()), 0);
}

bool waitFor(const std::function<bool()>& ready, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

class GnomePointerTuning : public ::testing::Test {
protected:
    void SetUp() override {
        // Never against a user's own settings: only under with-private-dconf.sh.
        if (!std::getenv("RAVOLET_PRIVATE_DCONF") || !GnomePointerSettings::make())
            GTEST_SKIP() << "needs a dconf of its own (with-private-dconf.sh) and GNOME's settings schemas";
        std::filesystem::remove(captureFile());
    }
    Kernel kernel;
};

} // namespace

// Not a test of its own: the process the kill -9 test starts, which applies
// the tuning and waits to be killed.
TEST(GnomePointerTuningHelper, AppliesAndWaitsToBeKilled) {
    if (!std::getenv(applyAndWait) || !std::getenv("RAVOLET_PRIVATE_DCONF"))
        GTEST_SKIP() << "only as the kill -9 test's other process";
    Kernel kernel;
    const auto tuner = tunerOn(kernel);
    tuner->request(PointerTuningRequest(true, std::nullopt));
    ASSERT_TRUE(tuner->status().isApplied);
    for (;;) ::pause();
}

// Not a test of its own: the guard the kill -9 test starts.
TEST(GnomePointerTuningHelper, GuardsTheSetting) {
    const char* watched = std::getenv("RAVOLET_POINTER_GUARD_OF");
    if (!watched || !std::getenv("RAVOLET_PRIVATE_DCONF")) GTEST_SKIP() << "only as the kill -9 test's guard";
    const auto pid = pointerTuningGuard::parseWatched(watched);
    ASSERT_TRUE(pid);
    Kernel kernel;
    DesktopPointerPropertyBackend::Options options{kernel.roots(), (kernel.path / "udev").string()};
    EXPECT_EQ(pointerTuningGuard::run(
                  *pid,
                  [&] {
                      return std::make_shared<DesktopPointerPropertyBackend>(
                          std::shared_ptr(GnomePointerSettings::make(kernel.roots())), options);
                  },
                  [](std::shared_ptr<PointerPropertyBackend> backend) {
                      return std::make_shared<PointerHardwareTuning>(
                          std::move(backend), std::make_shared<InMemoryKeyValueStore>(), captureFile(),
                          std::vector{HIDPPDeviceMatch::g502X}, SystemClock::shared(), LinuxFileSystem::shared());
                  },
                  captureFile(), pointerTuningGuard::forAtMost(10s)),
              0);
}

TEST_F(GnomePointerTuning, TheSettingIsCapturedSetFlatAndPutBackAndNeverWrittenWhileTheSwitchIsOff) {
    setWithGsettings("adaptive");
    const auto tuner = tunerOn(kernel);
    tuner->request(PointerTuningRequest(true, 1600));
    ASSERT_TRUE(tuner->status().isApplied) << tuner->status().lastError.value_or("");
    EXPECT_EQ(tuner->status().capture->accelerationKey, "accel-profile");
    EXPECT_EQ(tuner->status().capture->acceleration, PointerAccelSetting::adaptive(0).code());
    EXPECT_EQ(tuner->status().lastReadBackAcceleration, PointerAccelSetting::offCode);
    EXPECT_EQ(profileSeenByGsettings(), "'flat'");
    EXPECT_EQ(tuner->status().resolutionWrite, PointerPropertyWrite::refused) << "no per-device counts per inch to set";

    tuner->restore(PointerTuningRestoreReason::engineStopped);
    EXPECT_FALSE(tuner->status().isApplied);
    EXPECT_FALSE(tuner->status().restoreFailed) << "libinput's figure goes back as it is";
    EXPECT_EQ(profileSeenByGsettings(), "'adaptive'");
    EXPECT_FALSE(std::filesystem::exists(captureFile()));

    // The user's switch off: permitted or not, GNOME's setting is left alone.
    const auto off = tunerOn(kernel, false);
    off->request(PointerTuningRequest(true, 1600));
    EXPECT_FALSE(off->status().isApplied);
    EXPECT_EQ(profileSeenByGsettings(), "'adaptive'");
}

// This program again, running only the helper `helper`, with `variable` set.
pid_t spawnHelper(const std::string& helper, const std::string& variable) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string filter = "--gtest_filter=GnomePointerTuningHelper." + helper;
    std::vector<std::string> environment{variable};
    for (char** e = environ; *e; ++e) environment.emplace_back(*e);
    std::vector<char*> argv{const_cast<char*>(self.c_str()), const_cast<char*>(filter.c_str()), nullptr};
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t child = -1;
    if (::posix_spawn(&child, self.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
    return child;
}

// Killed with the tuning in force: the guard puts the user's value back at
// once; without one, the next start does.
TEST_F(GnomePointerTuning, TheCaptureFilePutsTheSettingBackAfterTheProcessWasKilled) {
    setWithGsettings("default");
    const auto applyThenKill = [](bool guarded) {
        const pid_t child = spawnHelper("AppliesAndWaitsToBeKilled", std::string(applyAndWait) + "=1");
        const bool applied = waitFor([] { return std::filesystem::exists(captureFile()) && profileSeenByGsettings() == "'flat'"; }, 10s);
        const pid_t guard = guarded ? spawnHelper("GuardsTheSetting", "RAVOLET_POINTER_GUARD_OF=" + std::to_string(child)) : -1;
        if (guarded) std::this_thread::sleep_for(500ms); // the guard is waiting
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        return std::pair{applied, guard};
    };
    const auto [appliedOnce, guard] = applyThenKill(true);
    ASSERT_TRUE(appliedOnce) << "the other process did not apply the tuning";
    const auto killed = std::chrono::steady_clock::now();
    EXPECT_TRUE(waitFor([] { return profileSeenByGsettings() == "'default'"; }, 10s)) << "the guard did not put it back";
    std::cout << "the user's value was back "
              << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - killed).count()
              << " ms after the kill\n";
    int status = -1;
    ::waitpid(guard, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(std::filesystem::exists(captureFile()));

    ASSERT_TRUE(applyThenKill(false).first) << "the other process did not apply the tuning";
    EXPECT_EQ(profileSeenByGsettings(), "'flat'") << "left behind by the killed process";

    const auto next = tunerOn(kernel, false);
    EXPECT_TRUE(next->status().recoveredStrandedCapture) << "whatever the switch says";
    EXPECT_FALSE(next->status().restoreFailed);
    EXPECT_EQ(profileSeenByGsettings(), "'default'") << "the user's own value, exactly";
    EXPECT_FALSE(std::filesystem::exists(captureFile()));
}

// The user sets the profile in GNOME's settings while the tuning is in force:
// GSettings tells, the tuning stands back, and the stop leaves it.
TEST_F(GnomePointerTuning, AProfileSetInGnomesSettingsIsHeardAndKeptAtStop) {
    setWithGsettings("adaptive");
    const auto tuner = tunerOn(kernel);
    bool told = false;
    const auto watch = tuner->observeValuesChanged([&] {
        told = true;
        tuner->desktopSettingsChanged();
    });
    tuner->request(PointerTuningRequest(true, 1600));
    ASSERT_TRUE(tuner->status().isApplied);
    setWithGsettings("default");
    const bool heard = waitFor(
        [&] {
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
            return tuner->status().changedOutside;
        },
        10s);
    EXPECT_TRUE(heard) << "told " << told;
    tuner->request(PointerTuningRequest(true, 1600));
    tuner->restore(PointerTuningRestoreReason::engineStopped);
    EXPECT_EQ(profileSeenByGsettings(), "'default'");
    EXPECT_FALSE(std::filesystem::exists(captureFile()));
}
