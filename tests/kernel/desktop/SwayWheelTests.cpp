// The wheel as an application under sway 1.7 receives it. sway offers
// wl_seat version 7: no axis_value120, only whole lines, made by libinput
// from REL_WHEEL. A full-screen window of the test's (WaylandWheelProbe)
// reports each line with the moment it came, set against its notch and
// against Ravolet's first output for it; the plain wheel (the fake mouse
// read by sway itself) is measured in the same boot.

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <glob.h>

#include <iostream>

#include "EngineOnKernel.hpp"
#include "FakeMouse/FakeG502X.hpp"
#include "desktop/DesktopVM.hpp"
#include "desktop/WheelRuns.hpp"

namespace ravolet::testing {
namespace {

using namespace std::chrono_literals;

constexpr uid_t user = 1000;
constexpr const char* runtime = "/tmp/wheel-xdg";
// What the emulated machine's timers and sway may add to a line's way to
// the window when the machine is busy with others: a few frames of the glide.
constexpr std::int64_t busy = 40000;

// sway as an ordinary user with seatd, and the probe's window on it.
class SwayWithProbe {
public:
    // Whether sway and the probe are there to run at all.
    static inline bool installed = false;

    static SwayWithProbe* start() {
        const std::string probe = besideThisTest("RavoletWheelProbe");
        if (!std::filesystem::exists("/usr/bin/sway") || !std::filesystem::exists("/usr/sbin/seatd") ||
            !std::filesystem::exists(probe))
            return nullptr;
        installed = true;
        if (!startUdev()) return fail("udev");
        ::chmod("/", 0755);
        std::filesystem::create_directories("/dev/shm");
        ::mount("tmpfs", "/dev/shm", "tmpfs", 0, "mode=1777");
        if (fileText("/etc/passwd").find(":1000:") == std::string::npos) {
            std::ofstream("/etc/passwd", std::ios::app) << "ravolet:x:1000:1000::/tmp:/bin/sh\n";
            std::ofstream("/etc/group", std::ios::app) << "video:x:44:ravolet\nravolet:x:1000:\n";
        }
        std::filesystem::create_directories(runtime);
        ::chmod(runtime, 0700);
        (void)::chown(runtime, user, user);
        std::ofstream("/tmp/wheel-sway.conf") << "output * mode 1920x1080 position 0 0\ndefault_border none\nxwayland disable\n";
        auto sway = std::unique_ptr<SwayWithProbe>(new SwayWithProbe);
        std::filesystem::remove("/run/seatd.sock");
        sway->seatd_ = std::make_unique<Process>(
            Process::Options{{"/usr/sbin/seatd", "-g", "video"}, {"PATH=/usr/bin:/usr/sbin"}, "/tmp/wheel-seatd.log", std::nullopt, {}});
        if (!waitFor([] { return std::filesystem::exists("/run/seatd.sock"); }, 5s)) return fail("seatd");
        sway->sway_ = std::make_unique<Process>(Process::Options{
            {"/usr/bin/sway", "-c", "/tmp/wheel-sway.conf"},
            {std::string("XDG_RUNTIME_DIR=") + runtime, "HOME=/tmp", "PATH=/usr/bin:/usr/sbin", "LIBSEAT_BACKEND=seatd",
             "WLR_BACKENDS=headless,libinput", "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_HEADLESS_OUTPUTS=1"},
            "/tmp/wheel-sway.log",
            user,
            {user, 44}});
        std::string display;
        if (!waitFor(
                [&] {
                    glob_t found{};
                    if (::glob((std::string(runtime) + "/wayland-[0-9]").c_str(), 0, nullptr, &found) == 0)
                        display = std::filesystem::path(found.gl_pathv[0]).filename();
                    ::globfree(&found);
                    return !display.empty();
                },
                20s))
            return fail("sway");
        sway->probe_ = std::make_unique<Process>(Process::Options{
            {probe}, {std::string("XDG_RUNTIME_DIR=") + runtime, "WAYLAND_DISPLAY=" + display}, wheelProbeLog, user, {user}});
        if (!waitFor([] { return fileText(wheelProbeLog).find("ready") != std::string::npos; }, 10s)) return fail("the probe");
        return sway.release();
    }
    ~SwayWithProbe() {
        probe_.reset();
        sway_.reset();
        seatd_.reset();
        std::filesystem::remove("/run/seatd.sock");
    }

private:
    SwayWithProbe() = default;
    static SwayWithProbe* fail(const char* what) {
        std::cerr << what << " did not come up\n"
                  << fileText("/tmp/wheel-seatd.log") << fileText("/tmp/wheel-sway.log") << fileText(wheelProbeLog);
        return nullptr;
    }

    std::unique_ptr<Process> seatd_;
    std::unique_ptr<Process> sway_;
    std::unique_ptr<Process> probe_;
};

SwayWithProbe* sway = nullptr;

// The lines the window received, one entry per line, at the time its event
// came: -1 a line up (a notch up, REL_WHEEL +1), +1 down.
struct Line {
    std::int64_t time;
    int direction;
};

class SwayWheel : public ::testing::Test {
protected:
    static void SetUpTestSuite() { sway = SwayWithProbe::start(); }
    static void TearDownTestSuite() {
        delete sway;
        sway = nullptr;
    }
    void SetUp() override {
        if (!SwayWithProbe::installed) GTEST_SKIP() << "no sway to run (sway, seatd or the wheel probe were not copied into the VM)";
        ASSERT_TRUE(sway) << "sway did not come up";
        ASSERT_TRUE(mouse.plugIn());
        ASSERT_TRUE(pointerOverProbe(mouse)) << fileText("/tmp/wheel-sway.log");
    }

    // The run's notches and what the window received of them.
    std::pair<WheelRun, std::vector<Line>> turn(EventNodeReader* ravolet, std::vector<int> directions,
                                                std::chrono::microseconds gap) {
        auto [run, events] = turnUnderProbe(mouse, ravolet, std::move(directions), gap);
        std::vector<Line> lines;
        std::int64_t axisEvents = 0, discreteEvents = 0, axisSum = 0, discreteSum = 0;
        for (const auto& e : events) {
            if (e.kind == "axis") {
                ++axisEvents;
                axisSum += e.value;
            } else if (e.kind == "discrete") {
                ++discreteEvents;
                discreteSum += e.value;
                for (std::int64_t i = 0; i < std::abs(e.value); ++i) lines.push_back({e.time, e.value > 0 ? 1 : -1});
            }
        }
        // Each scroll the window receives is lines: one desktop's reading of
        // the wheel, never the high-resolution one beside it.
        EXPECT_EQ(axisEvents, discreteEvents) << "every axis event comes with its whole lines";
        EXPECT_EQ(axisSum, discreteSum * 15 * 256) << "15 to a line";
        return {std::move(run), std::move(lines)};
    }

    FakeG502X mouse;
};

TEST_F(SwayWheel, AReaderOfWholeLinesGetsEachNotchsLineWithTheFirstFrameOfItsGlide) {
    EXPECT_NE(fileText(wheelProbeLog).find("seat 7"), std::string::npos) << "sway 1.7 offers wl_seat 7";

    // The plain wheel: sway reads the mouse itself.
    std::vector<std::int64_t> plain;
    for (int i = 0; i < 3; ++i) {
        const auto [run, lines] = turn(nullptr, {1}, 0us);
        ASSERT_EQ(lines.size(), 1u);
        plain.push_back(lines.front().time - run.notches.front());
    }

    GlidingEngine ravolet;
    ASSERT_TRUE(ravolet.start([&](EventNodeReader& output) { return !turn(&output, {1}, 0us).second.empty(); }));

    // Lone notches: the line goes out with Ravolet's first frame and reaches
    // the window at once: each before the glide has moved its whole notch
    // (when a line counted at the glide's end would only go out), and the
    // quickest of three, which a busy machine leaves alone at least once,
    // within a few frames.
    std::int64_t quickest = INT64_MAX;
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("a lone notch, " + std::to_string(i + 1));
        const auto [run, lines] = turn(&*ravolet.output, {1}, 0us);
        ASSERT_FALSE(run.output.empty());
        EXPECT_EQ(run.output.front().lines, 1) << "the line with Ravolet's first frame";
        ASSERT_EQ(lines.size(), 1u) << "one notch, one line";
        EXPECT_EQ(lines.front().direction, -1);
        const std::int64_t first = run.output.front().time;
        std::cout << "a lone notch: the plain wheel's line " << ms(plain[static_cast<std::size_t>(i)])
                  << " after the notch; through Ravolet, its first output " << ms(first - run.notches.front())
                  << " and the line " << ms(lines.front().time - run.notches.front()) << " after it\n";
        const auto whole = run.wholeOf(0);
        ASSERT_TRUE(whole) << "Ravolet's glide never moved its whole notch";
        EXPECT_LT(lines.front().time, *whole) << "the line came only as the glide ended";
        quickest = std::min(quickest, lines.front().time - first);
    }
    EXPECT_LE(quickest, busy) << "within a few frames of Ravolet's first output";

    // Spins: as many lines as notches, each out with the frame that moves
    // Ravolet's wheel into its notch, by the half of the notch at the latest.
    // (libinput, which takes these lines as they come while the wheel is
    // moving, holds none back; how long sway then takes in a busy emulated
    // machine is only reported.)
    for (const Spin& spin : {Spin{"10 notches 100 ms apart", 10, 100ms}, Spin{"60 notches 2 ms apart", 60, 2ms},
                             Spin{"200 notches 2 ms apart", 200, 2ms}}) {
        SCOPED_TRACE(spin.name);
        const auto [run, lines] = turn(&*ravolet.output, notchesUp(spin.notches), spin.gap);
        EXPECT_EQ(run.units(), 120 * spin.notches) << "the high-resolution units: a detent a notch";
        const auto sent = run.lineTimes();
        ASSERT_EQ(sent.size(), static_cast<std::size_t>(spin.notches)) << "Ravolet's lines, one a notch";
        ASSERT_EQ(lines.size(), sent.size()) << "as many lines in the window";
        std::int64_t latest = 0, slowest = 0;
        for (std::size_t k = 0; k < lines.size(); ++k) {
            EXPECT_EQ(lines[k].direction, -1);
            const auto half = run.halfOf(k);
            ASSERT_TRUE(half) << "Ravolet's output never came half way into notch " << k + 1;
            EXPECT_LE(sent[k], *half) << "line " << k + 1 << " went out after the half of its notch";
            latest = std::max(latest, lines[k].time - run.notches[k]);
            slowest = std::max(slowest, lines[k].time - sent[k]);
        }
        std::cout << spin.name << ": " << lines.size() << " lines, each at most " << ms(latest)
                  << " after its notch and " << ms(slowest) << " after Ravolet sent it\n";
    }

    // A notch turned back 40 ms on: its own line with its first frame down.
    const auto [run, lines] = turn(&*ravolet.output, {1, -1}, 40ms);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].direction, -1);
    EXPECT_EQ(lines[1].direction, 1);
    const auto down = std::ranges::find_if(run.output, [](const WheelOutput& f) { return f.units < 0; });
    ASSERT_NE(down, run.output.end());
    EXPECT_EQ(down->lines, -1) << "the turned notch's line with its first frame";
    std::cout << "a notch turned back: its line " << ms(lines[1].time - run.notches[1]) << " after it, "
              << ms(lines[1].time - down->time) << " after Ravolet's first output down\n";
    const auto lastDown = std::find_if(run.output.rbegin(), run.output.rend(), [](const WheelOutput& f) { return f.units < 0; });
    EXPECT_LT(lines[1].time, lastDown->time) << "the turned notch's line came only as its glide ended";
}

} // namespace
} // namespace ravolet::testing
