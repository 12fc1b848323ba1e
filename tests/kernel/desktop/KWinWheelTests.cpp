// The wheel as an application under KWin 5.27 receives it. KWin offers
// wl_seat version 8: axis_value120 on every frame, made by libinput from
// REL_WHEEL_HI_RES. A full-screen window of the test's (WaylandWheelProbe)
// reports what it receives, set against Ravolet's own output frame by frame;
// the plain wheel (the fake mouse read by KWin itself) is measured in the
// same boot.

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <iostream>

#include "EngineOnKernel.hpp"
#include "FakeMouse/FakeG502X.hpp"
#include "desktop/DesktopVM.hpp"
#include "desktop/WheelRuns.hpp"

namespace ravolet::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* runtime = "/tmp/wheel-kwin-runtime";

// kwin_wayland on its DRM backend, with a logind stand-in on a system bus
// of its own and a session bus, and the probe's window on it.
class KWinWithProbe {
public:
    // Whether KWin and the test's helpers are there to run at all.
    static inline bool installed = false;

    static KWinWithProbe* start() {
        const std::string standIn = besideThisTest("RavoletLogindStandIn");
        const std::string probe = besideThisTest("RavoletWheelProbe");
        for (const auto& needed : {std::string("/usr/bin/kwin_wayland"), std::string("/usr/bin/dbus-daemon"), standIn, probe})
            if (!std::filesystem::exists(needed)) return nullptr;
        installed = true;
        if (!startUdev() || !waitFor([] { return std::filesystem::exists("/dev/dri/card0"); }, 10s)) return fail("the display");
        std::filesystem::create_directories("/dev/shm");
        ::mount("tmpfs", "/dev/shm", "tmpfs", 0, "mode=1777");
        std::ofstream("/etc/machine-id") << "5241766f6c65744b57696e5465737400\n";
        std::filesystem::create_directories(runtime);
        ::chmod(runtime, 0700);
        auto kwin = std::unique_ptr<KWinWithProbe>(new KWinWithProbe);
        const std::vector<std::string> environment{"PATH=/usr/bin:/usr/sbin", "HOME=/tmp",
                                                   "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/tmp/wheel-system-bus",
                                                   "DBUS_SESSION_BUS_ADDRESS=unix:path=/tmp/wheel-session-bus",
                                                   std::string("XDG_RUNTIME_DIR=") + runtime};
        for (const char* type : {"system", "session"}) {
            const std::string config = std::string("/tmp/wheel-") + type + "-bus.conf";
            std::ofstream(config) << "<busconfig><type>" << type << "</type><listen>unix:path=/tmp/wheel-" << type
                                  << "-bus</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
                                     "<allow own=\"*\"/><allow send_destination=\"*\"/><allow receive_sender=\"*\"/></policy></busconfig>\n";
            kwin->buses_.push_back(std::make_unique<Process>(Process::Options{
                {"/usr/bin/dbus-daemon", "--config-file=" + config, "--nofork", "--nopidfile"}, environment,
                std::string("/tmp/wheel-") + type + "-bus.log", std::nullopt, {}}));
        }
        if (!waitFor([] { return std::filesystem::exists("/tmp/wheel-system-bus") && std::filesystem::exists("/tmp/wheel-session-bus"); },
                     10s))
            return fail("the buses");
        kwin->logind_ = std::make_unique<Process>(Process::Options{{standIn}, environment, "/tmp/wheel-logind.log", std::nullopt, {}});
        if (!waitFor([] { return fileText("/tmp/wheel-logind.log").find("ready") != std::string::npos; }, 10s))
            return fail("the logind stand-in");
        auto kwinEnvironment = environment;
        kwinEnvironment.push_back("KWIN_COMPOSE=Q");
        kwin->kwin_ = std::make_unique<Process>(Process::Options{
            {"/usr/bin/kwin_wayland", "--drm", "--socket", "wayland-0", "--no-lockscreen", "--no-global-shortcuts",
             "--no-kactivities"},
            kwinEnvironment, "/tmp/wheel-kwin.log", std::nullopt, {}});
        if (!waitFor([] { return std::filesystem::exists(std::string(runtime) + "/wayland-0"); }, 60s)) return fail("KWin");
        kwin->probe_ = std::make_unique<Process>(Process::Options{
            {probe}, {std::string("XDG_RUNTIME_DIR=") + runtime, "WAYLAND_DISPLAY=wayland-0"}, wheelProbeLog, std::nullopt, {}});
        if (!waitFor([] { return fileText(wheelProbeLog).find("size") != std::string::npos; }, 30s)) return fail("the probe");
        return kwin.release();
    }
    ~KWinWithProbe() {
        probe_.reset();
        kwin_.reset();
        logind_.reset();
        buses_.clear();
    }

private:
    KWinWithProbe() = default;
    static KWinWithProbe* fail(const char* what) {
        std::cerr << what << " did not come up\n"
                  << fileText("/tmp/wheel-system-bus.log") << fileText("/tmp/wheel-session-bus.log")
                  << fileText("/tmp/wheel-logind.log") << fileText("/tmp/wheel-kwin.log") << fileText(wheelProbeLog);
        return nullptr;
    }

    std::vector<std::unique_ptr<Process>> buses_;
    std::unique_ptr<Process> logind_;
    std::unique_ptr<Process> kwin_;
    std::unique_ptr<Process> probe_;
};

KWinWithProbe* kwin = nullptr;

class KWinWheel : public ::testing::Test {
protected:
    static void SetUpTestSuite() { kwin = KWinWithProbe::start(); }
    static void TearDownTestSuite() {
        delete kwin;
        kwin = nullptr;
    }
    void SetUp() override {
        if (!KWinWithProbe::installed)
            GTEST_SKIP() << "no KWin to run (kwin-wayland, dbus-daemon or the test's helpers were not copied into the VM)";
        ASSERT_TRUE(kwin) << "KWin did not come up";
        ASSERT_TRUE(mouse.plugIn());
        ASSERT_TRUE(pointerOverProbe(mouse)) << fileText("/tmp/wheel-kwin.log");
    }

    // The run's notches and the axis_value120 values the window received.
    std::pair<WheelRun, std::vector<ProbeWheelEvent>> turn(EventNodeReader* ravolet, std::vector<int> directions,
                                                           std::chrono::microseconds gap) {
        auto [run, events] = turnUnderProbe(mouse, ravolet, std::move(directions), gap);
        std::vector<ProbeWheelEvent> values;
        for (auto& e : events) {
            EXPECT_NE(e.kind, "discrete") << "a client of wl_seat 8 gets axis_value120 instead";
            if (e.kind == "value120") values.push_back(std::move(e));
        }
        return {std::move(run), std::move(values)};
    }

    FakeG502X mouse;
};

std::int64_t sumOf(const std::vector<ProbeWheelEvent>& values) {
    std::int64_t sum = 0;
    for (const auto& v : values) sum += v.value;
    return sum;
}

TEST_F(KWinWheel, AReaderOfHighResolutionUnitsGetsEachFrameOfTheGlideAsWrittenAndNothingTwice) {
    EXPECT_NE(fileText(wheelProbeLog).find("seat 8"), std::string::npos) << "KWin 5.27 offers wl_seat 8";

    // The plain wheel: KWin reads the mouse itself. libinput scrolls down
    // for a wheel turned towards the user: the values have the other sign.
    std::vector<std::int64_t> plain;
    for (int i = 0; i < 2; ++i) {
        const auto [run, values] = turn(nullptr, {1}, 0us);
        ASSERT_FALSE(values.empty());
        EXPECT_EQ(sumOf(values), -120);
        plain.push_back(values.front().time - run.notches.front());
    }

    GlidingEngine ravolet;
    ASSERT_TRUE(ravolet.start([&](EventNodeReader& output) { return !turn(&output, {1}, 0us).second.empty(); }));

    for (const Spin& spin : {Spin{"a lone notch", 1, 0us}, Spin{"a lone notch again", 1, 0us},
                             Spin{"10 notches 100 ms apart", 10, 100ms}, Spin{"60 notches 2 ms apart", 60, 2ms}}) {
        SCOPED_TRACE(spin.name);
        const auto [run, values] = turn(&*ravolet.output, notchesUp(spin.notches), spin.gap);
        ASSERT_FALSE(values.empty());
        EXPECT_EQ(sumOf(values), -120 * spin.notches) << "120 a notch, exactly";
        std::vector<std::int64_t> written, received;
        for (const auto& f : run.output) written.push_back(-f.units);
        for (const auto& v : values) received.push_back(v.value);
        EXPECT_EQ(received, written) << "frame by frame as Ravolet wrote them";
        std::cout << spin.name << ": " << values.size() << " axis_value120 events summing to " << sumOf(values)
                  << ", the first " << ms(values.front().time - run.notches.front()) << " after the notch (Ravolet's first output "
                  << ms(run.output.front().time - run.notches.front()) << "; the plain wheel's "
                  << ms(plain.front()) << ", " << ms(plain.back()) << ")\n";
        if (spin.notches > 1) {
            // The pace as the window scrolls: the share it has by the last
            // notch and a frame later, and the largest step after that, in
            // the factory 50 points a detent.
            const std::int64_t last = run.notches.back();
            std::int64_t by = 0, aFrameLater = 0, largestAfter = 0;
            for (const auto& v : values) {
                if (v.time <= last) by += std::abs(v.value);
                if (v.time <= last + 8000) aFrameLater += std::abs(v.value);
                if (v.time > last) largestAfter = std::max(largestAfter, std::abs(v.value));
            }
            const double total = 120.0 * spin.notches;
            std::cout << "  the window had " << static_cast<double>(by) / total << " of it by the last notch, "
                      << static_cast<double>(aFrameLater) / total << " a frame later; the largest step after it "
                      << static_cast<double>(largestAfter) * 50 / 120 << " pt\n";
        }
    }
}

} // namespace
} // namespace ravolet::testing
