// Ravolet ended while a change made in its window cannot be saved: the real
// program on a real X server (Xvfb), without a tray, its settings file on a
// disk that has turned read-only.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>
#include <vector>

#include "Core/Config.hpp"
#include "ProgramTestSupport.hpp"

namespace ravolet {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::testing::XServer;
using testing::ProgramHome;
using testing::XScreen;
using testing::waitUntil;

// A file system mounted for a test, taken away after it.
struct Mounted {
    fs::path path;
    ~Mounted() { ::umount2(path.c_str(), MNT_DETACH); }
};

// The first profile's smooth scrolling as a settings file holds it.
std::optional<bool> smoothScrolling(const fs::path& file) {
    std::ifstream stream(file, std::ios::binary);
    const auto config = Config::decoded(std::string(std::istreambuf_iterator<char>(stream), {}));
    return config ? std::optional(config->profiles.front().scroll.isEnabled) : std::nullopt;
}

TEST(UnsavedChanges, EndedWithAChangeItCannotSaveRavoletKeepsItBesideTheSettingsAndTheNextStartSaysWhere) {
    XServer x;
    ASSERT_FALSE(x.display.empty()) << "Xvfb did not start (is the xvfb package installed?)";
    XScreen screen(x.display);
    ProgramHome home("unsaved-changes");
    const fs::path settings = home.tree.path / "config" / "ravolet";
    // The settings file lives on a disk that has turned read-only, linked
    // from the settings folder (as people keep settings with their dotfiles):
    // it cannot be saved, while the folder beside it takes files.
    const fs::path disk = home.tree.path / "disk";
    fs::create_directories(disk);
    if (::mount("ravolet-test", disk.c_str(), "tmpfs", 0, "size=1m,mode=0755") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (it takes root): " << std::strerror(errno);
    const Mounted mounted{disk};
    std::ofstream(disk / "ravolet.json") << *Config::defaultConfig().encoded();
    ASSERT_EQ(::mount(nullptr, disk.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=1m"), 0) << std::strerror(errno);
    fs::create_symlink(disk / "ravolet.json", settings / "config.json");
    const bool factory = Config::defaultConfig().profiles.front().scroll.isEnabled;

    const auto startedAt = std::chrono::steady_clock::now();
    auto ravolet = home.start(x.display, "first");
    std::optional<xcb_window_t> window;
    ASSERT_TRUE(waitUntil([&] { return (window = screen.shownWindow("\u2014 Ravolet", true)).has_value(); }))
        << platform::testing::tail(home.logPath("first"));
    const auto paced = testing::pacedBy(std::chrono::steady_clock::now() - startedAt);
    // The window takes keys once its pages are filled, on the turn after it shows.
    paced(300ms);
    screen.press(*window, testing::flipSmoothScrolling);
    paced(200ms); // the keys come through the X server, the signal does not
    ::kill(ravolet.pid(), SIGTERM);
    EXPECT_EQ(ravolet.wait(), 0) << platform::testing::tail(home.logPath("first"));

    std::vector<fs::path> kept;
    for (const auto& entry : fs::directory_iterator(settings))
        if (entry.path().filename().string().ends_with(".unsaved.json")) kept.push_back(entry.path());
    ASSERT_EQ(kept.size(), 1u) << platform::testing::tail(home.logPath("first"));
    EXPECT_EQ(smoothScrolling(kept.front()), !factory) << "the change, kept";
    EXPECT_EQ(smoothScrolling(disk / "ravolet.json"), factory);
    EXPECT_NE(home.read("first").find("they are kept in " + kept.front().string()), std::string::npos)
        << platform::testing::tail(home.logPath("first"));

    // The next start says where they are.
    auto next = home.start(x.display, "next");
    EXPECT_TRUE(home.waitForLog("next", "could not save when it was last ended are in " + kept.front().string()))
        << platform::testing::tail(home.logPath("next"));
    ::kill(next.pid(), SIGTERM);
    EXPECT_EQ(next.wait(), 0) << platform::testing::tail(home.logPath("next"));
}

} // namespace
} // namespace ravolet
