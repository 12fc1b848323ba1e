// The input path on the real kernel: the program's engine on the Linux event
// system, the fake G502 X's pointer node grabbed, and what comes out read
// from Ravolet's virtual pointer and keyboard, as a desktop reads them.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Core/ScrollTransformer.hpp"
#include "EngineOnKernel.hpp"
#include "FakeMouse/EventNodeReader.hpp"
#include "FakeMouse/FakeG502X.hpp"
#include "FakeMouse/FakeOrdinaryMouse.hpp"
#include "RavoletApp/Model/DeviceMonitor.hpp"

extern char** environ;

namespace ravolet::testing {
namespace {

using namespace std::chrono_literals;

constexpr auto patience = 2000ms; // what the kernel may take, never what it should

::testing::AssertionResult ok(const std::expected<void, std::string>& result) {
    if (result) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << result.error();
}

EvdevEvent value(std::uint16_t type, std::uint16_t code, std::int32_t v) { return EvdevEvent{type, code, v, {}}; }

// The sum of one code's values over the frames.
std::int64_t sumOf(const std::vector<EvdevFrame>& frames, std::uint16_t type, std::uint16_t code) {
    std::int64_t sum = 0;
    for (const auto& frame : frames)
        for (const auto& e : frame)
            if (e.type == type && e.code == code) sum += e.value;
    return sum;
}

bool holds(const std::vector<EvdevFrame>& frames, std::uint16_t type, std::uint16_t code) {
    for (const auto& frame : frames)
        for (const auto& e : frame)
            if (e.type == type && e.code == code) return true;
    return false;
}

EventNodeReader openNode(const std::string& node) {
    auto reader = EventNodeReader::open(node);
    if (!reader) ADD_FAILURE() << reader.error();
    return std::move(*reader);
}

std::string pointerNodeOf(const FakeUSBMouse& mouse) {
    const auto device = mouse.kernelDevice(0);
    if (!device || device->inputs.empty()) {
        ADD_FAILURE() << "no event node for the mouse";
        return {};
    }
    return device->inputs.front().eventNode;
}

ScrollSettings smoothScrolling() {
    ScrollSettings s;
    s.isEnabled = true;
    return s;
}

// Moves the mouse until the virtual pointer passes the motion on: the tap has
// the mouse's node. The frames read meanwhile are dropped.
bool tapHasTheMouse(FakeUSBMouse& mouse, EventNodeReader& virtualPointer) {
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < end) {
        if (!mouse.move(1, 0)) return false;
        if (holds(virtualPointer.readFrames(1, 100ms), EV_REL, REL_X)) {
            virtualPointer.readFrames(100, 100ms);
            return true;
        }
    }
    return false;
}

// One detent's glide, as the virtual pointer carries it: hi-res units only,
// summing to 120 with the whole line in its first frame, which is at least
// half a detent, spread over the glide's time.
void expectOneDetentsGlide(const std::vector<EvdevFrame>& frames) {
    ASSERT_GE(frames.size(), 10u) << "a glide of many frames";
    EXPECT_GE(sumOf({frames.front()}, EV_REL, REL_WHEEL_HI_RES), 60) << "a head start for libinput";
    std::int64_t running = 0;
    for (const auto& frame : frames) {
        std::int64_t lines = 0;
        for (const auto& e : frame) {
            ASSERT_EQ(e.type, EV_REL) << describe(e);
            ASSERT_TRUE(e.code == REL_WHEEL || e.code == REL_WHEEL_HI_RES) << describe(e);
            (e.code == REL_WHEEL ? lines : running) += e.value;
        }
        EXPECT_EQ(lines, &frame == &frames.front() ? 1 : 0) << "the line comes with the glide's first frame";
    }
    EXPECT_EQ(running, 120);
    EXPECT_GE(frames.back().front().time - frames.front().front().time, 100ms) << "spread over the glide";
}

TEST(InputPath, ADetentGlidesOnTheVirtualPointerWithTheWheelInEitherResolution) {
    for (const bool highResolution : {false, true}) {
        SCOPED_TRACE(highResolution ? "high resolution" : "standard");
        FakeG502X mouse;
        ASSERT_TRUE(ok(mouse.plugIn()));
        EngineOnKernel rig;
        // As the program does: what the device monitor read of the wheel
        // says how many ticks make a detent.
        mouse.model()->setWheelMode(highResolution ? 0x02 : 0x00);
        DeviceMonitor::Snapshot read;
        read.wheelMode = HIDPPWheelMode::fromRawValue(mouse.model()->wheelMode());
        read.wheelCapability =
            HIDPPWheelCapability(platform::SimulatedMouse::wheelMultiplier, platform::SimulatedMouse::wheelCapabilityFlags);
        rig.events->setWheelTicksPerDetent(read.wheelReportsPerDetent());
        EXPECT_EQ(rig.events->wheelTicksPerDetent(), highResolution ? 8 : 1);

        ASSERT_TRUE(ok(rig.start(oneProfile(smoothScrolling()))));
        ASSERT_TRUE(rig.waitForTarget());
        auto pointer = openNode(rig.events->virtualPointerNode());
        ASSERT_TRUE(ok(mouse.turnWheel(1)));
        expectOneDetentsGlide(pointer.readFrames(200, 1500ms));

        // Smoothing off: the detent passes on as one, whatever its ticks.
        ScrollSettings plain;
        ASSERT_TRUE(ok(rig.start(oneProfile(plain))));
        ASSERT_TRUE(rig.waitForTarget());
        ASSERT_TRUE(ok(mouse.turnWheel(-1)));
        const auto frames = pointer.readFrames(10, 500ms);
        EXPECT_EQ(frames, (std::vector<EvdevFrame>{{value(EV_REL, REL_WHEEL, -1), value(EV_REL, REL_WHEEL_HI_RES, -120)}}));
    }
}

// The wheel in high-resolution mode: eight ticks a detent once the mode is
// known, held back while it is not (and then passed on, once known or after
// at most 250 ms, counted by the mode it is taken to be in); the tilt one
// tick a detent always.
TEST(InputPath, WheelTicksWaitForTheWheelsModeAndTheTiltCountsByItsOwn) {
    FakeG502X mouse;
    ASSERT_TRUE(ok(mouse.plugIn()));
    mouse.model()->setWheelMode(0x02);
    EngineOnKernel rig;
    rig.events->setWheelTicksPerDetent(std::nullopt); // the mouse has not been read yet
    ASSERT_TRUE(ok(rig.start(oneProfile(ScrollSettings{}))));
    ASSERT_TRUE(rig.waitForTarget());
    auto pointer = openNode(rig.events->virtualPointerNode());
    const std::vector<EvdevFrame> oneDetent{{value(EV_REL, REL_WHEEL, 1), value(EV_REL, REL_WHEEL_HI_RES, 120)}};

    ASSERT_TRUE(ok(mouse.turnWheel(1)));
    EXPECT_EQ(pointer.readFrames(1, 100ms), std::vector<EvdevFrame>{}) << "held while the mode is not known";
    rig.events->setWheelTicksPerDetent(8);
    EXPECT_EQ(pointer.readFrames(2, patience), oneDetent) << "then counted by it";

    ASSERT_TRUE(ok(mouse.turnHorizontalWheel(3)));
    const auto tilted = pointer.readFrames(3, patience);
    EXPECT_EQ(sumOf(tilted, EV_REL, REL_HWHEEL), 3) << "three clicks of the tilt, whatever the main wheel's mode";

    // A mode that never becomes known: the ticks wait once, then count by
    // the mode the wheel is taken to be in.
    rig.events->setWheelTicksPerDetent(std::nullopt);
    rig.events->setAssumedWheelTicksPerDetent(8);
    ASSERT_TRUE(ok(mouse.turnWheel(1)));
    EXPECT_EQ(pointer.readFrames(1, 150ms), std::vector<EvdevFrame>{});
    EXPECT_EQ(pointer.readFrames(2, patience), oneDetent) << "the wait ends by itself";
    ASSERT_TRUE(ok(mouse.turnWheel(-1)));
    EXPECT_EQ(sumOf(pointer.readFrames(8, 150ms), EV_REL, REL_WHEEL), -1) << "no second wait";
}

TEST(InputPath, ASideButtonBoundToAKeyStrokePressesKeysAndNoButton) {
    FakeG502X mouse;
    ASSERT_TRUE(ok(mouse.plugIn()));
    EngineOnKernel rig;
    // Back (button 3): Super+A. The host's key code of A is 0.
    const ButtonBinding binding{3, ModifierFlags{}, Action::keyStroke(0, ModifierFlags::command), true};
    ASSERT_TRUE(ok(rig.start(oneProfile(ScrollSettings{}, PointerSettings{}, {binding}))));
    ASSERT_TRUE(rig.waitForTarget());
    auto keyboard = openNode(rig.events->virtualKeyboardNode());
    auto pointer = openNode(rig.events->virtualPointerNode());

    ASSERT_TRUE(ok(mouse.press(3)));
    ASSERT_TRUE(ok(mouse.release(3)));
    EXPECT_EQ(keyboard.readFrames(4, patience),
              (std::vector<EvdevFrame>{{value(EV_KEY, KEY_LEFTMETA, 1)},
                                       {value(EV_KEY, KEY_A, 1)},
                                       {value(EV_KEY, KEY_A, 0)},
                                       {value(EV_KEY, KEY_LEFTMETA, 0)}}));
    EXPECT_EQ(keyboard.readFrames(1, 200ms), std::vector<EvdevFrame>{});
    EXPECT_EQ(pointer.readFrames(1, 200ms), std::vector<EvdevFrame>{}) << "no button event";

    // An unbound button passes on.
    ASSERT_TRUE(ok(mouse.press(4)));
    ASSERT_TRUE(ok(mouse.release(4)));
    EXPECT_EQ(pointer.readFrames(2, patience),
              (std::vector<EvdevFrame>{{value(EV_KEY, BTN_EXTRA, 1)}, {value(EV_KEY, BTN_EXTRA, 0)}}));
}

// The user's key state (the HID state) is the desktop's less what the
// virtual keyboard holds; every other state counts the virtual keyboard's
// keys too. Asked for several keys at once, each bit answers as the key
// asked alone does. Fn, which the desktop's keyboard cannot name, is simply
// not down there (it once threw out of every key stroke and mouse button).
TEST(InputPath, KeyStateIsTheDesktopsLessOursForTheUserAndBothOtherwise) {
    struct FixedKeyboard : platform::DesktopKeyboard {
        std::optional<State> state() override {
            State state;
            state.keys.set(KEY_LEFTSHIFT).set(KEY_LEFTMETA).set(KEY_A);
            return state;
        }
    };
    platform::LinuxEventSystem::Options options;
    options.desktopKeyboard = std::make_shared<FixedKeyboard>();
    platform::LinuxEventSystem system(options);
    // The virtual keyboard holds left Super (the host's key 55).
    const auto held = system.createKeyboardEvent(nullptr, 55, true);
    ASSERT_TRUE(held);
    system.post(platform::EventTapLocation::hid, *held);

    using S = platform::EventSourceStateID;
    // Host codes: left shift, left Super, left control, A, fn, none.
    const std::uint16_t keys[] = {56, 55, 59, 0, 63, 0x7FFF};
    const struct {
        S state;
        std::uint32_t down;
    } rows[] = {{S::hidSystemState, 0b001001}, {S::combinedSessionState, 0b001011}, {S::privateState, 0b001011}};
    for (const auto& row : rows) {
        EXPECT_EQ(system.keysState(row.state, keys), row.down) << static_cast<int>(row.state);
        for (std::size_t n = 0; n < std::size(keys); ++n)
            EXPECT_EQ(system.keyState(row.state, keys[n]), ((row.down >> n) & 1u) != 0) << static_cast<int>(row.state) << " key " << keys[n];
    }
}

TEST(InputPath, MotionComesOutThroughTheCurveLosingNothingToRounding) {
    FakeG502X mouse;
    ASSERT_TRUE(ok(mouse.plugIn()));
    EngineOnKernel rig;
    PointerSettings curve;
    curve.isEnabled = true;
    curve.curve = PointerCurve{1.5, PointerAcceleration::off()};
    ASSERT_TRUE(ok(rig.start(oneProfile(ScrollSettings{}, curve))));
    ASSERT_TRUE(rig.waitForTarget());
    auto pointer = openNode(rig.events->virtualPointerNode());

    std::vector<EvdevFrame> frames;
    for (int sent = 0; sent < 1000;) {
        // In batches the kernel's queue holds, each read back before the next.
        for (int i = 0; i < 20; ++i, ++sent) ASSERT_TRUE(ok(mouse.move(1, -2)));
        for (auto& frame : pointer.readFrames(static_cast<std::size_t>(sent) - frames.size(), patience))
            frames.push_back(std::move(frame));
        ASSERT_EQ(frames.size(), static_cast<std::size_t>(sent));
    }
    // 1.5 × 1000 and 1.5 × -2000: every fraction carried, whole pixels out.
    EXPECT_EQ(sumOf(frames, EV_REL, REL_X), 1500);
    EXPECT_EQ(sumOf(frames, EV_REL, REL_Y), -3000);
    for (const auto& frame : frames)
        for (const auto& e : frame) EXPECT_TRUE(e.value == 1 || e.value == 2 || e.value == -3) << describe(e);
}

TEST(InputPath, AnotherMouseIsLeftAloneAndItsEventsReachItsOwnNodeUnchanged) {
    FakeG502X mouse;
    FakeOrdinaryMouse other;
    ASSERT_TRUE(ok(mouse.plugIn()));
    ASSERT_TRUE(ok(other.plugIn()));
    auto otherNode = openNode(pointerNodeOf(other));
    const auto hand = [&] {
        EXPECT_TRUE(ok(other.move(5, -3)));
        EXPECT_TRUE(ok(other.turnWheel(1)));
        EXPECT_TRUE(ok(other.press(0)));
        EXPECT_TRUE(ok(other.release(0)));
        return otherNode.readFrames(4, patience);
    };
    const auto before = hand();
    ASSERT_EQ(before.size(), 4u);

    EngineOnKernel rig;
    PointerSettings curve;
    curve.isEnabled = true;
    curve.curve = PointerCurve{2.0, PointerAcceleration::off()};
    ASSERT_TRUE(ok(rig.start(oneProfile(smoothScrolling(), curve))));
    ASSERT_TRUE(rig.waitForTarget());
    auto pointer = openNode(rig.events->virtualPointerNode());
    EXPECT_EQ(hand(), before);
    EXPECT_EQ(pointer.readFrames(1, 300ms), std::vector<EvdevFrame>{}) << "nothing of it through Ravolet";
    // Nobody holds it; the G502 X's node is Ravolet's alone.
    EXPECT_TRUE(ok(otherNode.grab(true)));
    EXPECT_TRUE(ok(otherNode.grab(false)));
    auto g502 = openNode(pointerNodeOf(mouse));
    EXPECT_FALSE(g502.grab(true)) << "EBUSY: the tap holds it";
}

TEST(InputPath, UnpluggingDuringAGlideEndsCleanlyAndAReplugIsGrabbedAgain) {
    FakeG502X mouse;
    ASSERT_TRUE(ok(mouse.plugIn()));
    EngineOnKernel rig;
    ASSERT_TRUE(ok(rig.start(oneProfile(smoothScrolling()))));
    ASSERT_TRUE(rig.waitForTarget());
    auto pointer = openNode(rig.events->virtualPointerNode());

    ASSERT_TRUE(ok(mouse.turnWheel(1)));
    // Unplugged once the glide is under way: its first frame is out.
    auto during = pointer.readFrames(1, patience);
    ASSERT_EQ(during.size(), 1u) << "the detent began to glide";
    mouse.unplug();
    // The glide runs out whole; nothing more comes.
    for (auto& frame : pointer.readFrames(200, 1000ms)) during.push_back(std::move(frame));
    EXPECT_EQ(sumOf(during, EV_REL, REL_WHEEL_HI_RES), 120);
    rig.pump(50ms);
    EXPECT_TRUE(rig.engine->status().isTapEnabled) << "the tap waits for the mouse";

    ASSERT_TRUE(ok(mouse.plugIn()));
    ASSERT_TRUE(tapHasTheMouse(mouse, pointer));
    ASSERT_TRUE(rig.waitForTarget());
    auto node = openNode(pointerNodeOf(mouse));
    EXPECT_FALSE(node.grab(true)) << "grabbed again";
    pointer.readFrames(100, 500ms); // whatever the first glide still had
    ASSERT_TRUE(ok(mouse.turnWheel(1)));
    expectOneDetentsGlide(pointer.readFrames(200, 1500ms));
}

// The wheel as the desktop's input reads it: the hi-res units and whole
// lines of each frame that carries any, at the kernel's time of the frame.
struct WheelFrame {
    std::chrono::microseconds time;
    std::int64_t units = 0;
    std::int64_t lines = 0;
};

std::string framesText(const std::vector<WheelFrame>& frames) {
    std::string text;
    for (const auto& f : frames)
        text += std::to_string(f.time.count()) + ":" + std::to_string(f.units) + "/" + std::to_string(f.lines) + " ";
    return text;
}

std::vector<WheelFrame> wheelFrames(const std::vector<EvdevFrame>& frames) {
    std::vector<WheelFrame> wheel;
    for (const auto& frame : frames) {
        const std::int64_t units = sumOf({frame}, EV_REL, REL_WHEEL_HI_RES);
        if (units != 0) wheel.push_back({frame.front().time, units, sumOf({frame}, EV_REL, REL_WHEEL)});
    }
    return wheel;
}

std::int64_t unitsOf(const std::vector<WheelFrame>& frames) {
    std::int64_t units = 0;
    for (const auto& f : frames) units += f.units;
    return units;
}

std::int64_t linesOf(const std::vector<WheelFrame>& frames) {
    std::int64_t lines = 0;
    for (const auto& f : frames) lines += f.lines;
    return lines;
}

// The fake mouse, grabbed by an engine that glides its wheel as `scroll`
// says, and Ravolet's virtual pointer read as a desktop reads it.
struct Gliding {
    FakeG502X mouse;
    EngineOnKernel rig;
    std::optional<EventNodeReader> pointer;

    ::testing::AssertionResult start(const ScrollSettings& scroll) {
        if (auto plugged = ok(mouse.plugIn()); !plugged) return plugged;
        if (auto started = ok(rig.start(oneProfile(scroll))); !started) return started;
        if (!rig.waitForTarget()) return ::testing::AssertionFailure() << "the tap never had the mouse";
        auto reader = EventNodeReader::open(rig.events->virtualPointerNode());
        if (!reader) return ::testing::AssertionFailure() << reader.error();
        pointer.emplace(std::move(*reader));
        return ::testing::AssertionSuccess();
    }
};

// How many of a detent's steps from rest move it: each is one frame of the
// virtual pointer's wheel, the same on a busy machine as on an idle one.
std::size_t movingStepsOf(const ScrollSettings& settings) {
    ScrollTransformer transformer(settings);
    const auto outcome = transformer.transform(ScrollInput{1, ScrollAxis::vertical, {}, 0, {}});
    return static_cast<std::size_t>(
        std::ranges::count_if(outcome.plan()->steps.all(), [](const auto& step) { return step.pixelDelta != 0; }));
}

// A detent from rest: its first frame carries half a detent for libinput,
// and the glide pays that back over its remaining frames instead of falling
// silent until it has. A silent step is a frame the desktop never gets, so
// the frames are counted rather than timed: how late the emulated machine's
// timers fire changes when they come, not how many.
TEST(InputPath, AGlideFromRestNeverFallsSilentWhileItHasPixelsDue) {
    const ScrollSettings settings = smoothScrolling();
    Gliding g;
    ASSERT_TRUE(g.start(settings));
    const std::size_t moving = movingStepsOf(settings);
    ASSERT_GE(moving, 10u);

    // Up, down (a turn, as well as a rest), up again.
    for (const int detent : {1, -1, 1}) {
        SCOPED_TRACE(detent);
        std::this_thread::sleep_for(600ms); // from rest, as libinput counts it
        ASSERT_TRUE(ok(g.mouse.turnWheel(detent)));
        const auto glide = wheelFrames(g.pointer->readFrames(200, 800ms));
        ASSERT_FALSE(glide.empty());
        EXPECT_EQ(glide.front().units, 60 * detent) << "half a detent at once";
        EXPECT_EQ(unitsOf(glide), 120 * detent);
        EXPECT_EQ(glide.size(), moving) << "a frame for every step that moves: " << framesText(glide);
    }
}

// A notch turned back while the glide of the one before is under way: the
// head start that glide was given goes with it, and the turned glide moves
// one detent of its own.
TEST(InputPath, ANotchTurnedBackMovesItsOwnDetentAndNoMore) {
    Gliding g;
    ASSERT_TRUE(g.start(smoothScrolling()));
    for (const auto after : {15ms, 40ms}) {
        SCOPED_TRACE(after.count());
        std::this_thread::sleep_for(600ms);
        ASSERT_TRUE(ok(g.mouse.turnWheel(1)));
        std::this_thread::sleep_for(after);
        ASSERT_TRUE(ok(g.mouse.turnWheel(-1)));
        const auto frames = wheelFrames(g.pointer->readFrames(400, 1000ms));
        const auto turn = std::ranges::find_if(frames, [](const WheelFrame& f) { return f.units < 0; });
        const std::vector<WheelFrame> up(frames.begin(), turn), down(turn, frames.end());
        EXPECT_GE(unitsOf(up), 60) << "the first glide began";
        for (const auto& f : down) EXPECT_LT(f.units, 0) << "never back against the turn";
        EXPECT_NEAR(unitsOf(down), -120, 1) << "one detent down";
        EXPECT_EQ(linesOf(down), -1) << framesText(frames);
    }
}

// A fast spin with acceleration off: sixty notches 2 ms apart move the
// virtual pointer's wheel by sixty detents, to the unit.
TEST(InputPath, SixtyNotchesTwoMillisecondsApartMoveSixtyDetentsExactly) {
    ScrollSettings settings = smoothScrolling();
    settings.accelerationEnabled = false;
    Gliding g;
    ASSERT_TRUE(g.start(settings));
    std::this_thread::sleep_for(600ms);
    // Turned on a thread of its own while this one reads, so that the
    // node's queue never fills.
    bool turned = true;
    std::thread spin([&] {
        auto at = std::chrono::steady_clock::now();
        for (int i = 0; i < 60; ++i, at += 2ms) {
            std::this_thread::sleep_until(at);
            turned = g.mouse.turnWheel(1).has_value() && turned;
        }
    });
    const auto frames = wheelFrames(g.pointer->readFrames(2000, 1500ms));
    spin.join();
    ASSERT_TRUE(turned);
    EXPECT_EQ(unitsOf(frames), 60 * 120);
    EXPECT_EQ(linesOf(frames), 60);
}

TEST(InputPath, AButtonHeldAsTheTapStartsKeepsItsReleaseAndIsGrabbedAfterIt) {
    FakeG502X mouse;
    ASSERT_TRUE(ok(mouse.plugIn()));
    auto desktop = openNode(pointerNodeOf(mouse)); // a reader like the desktop's
    ASSERT_TRUE(ok(mouse.press(0)));
    ASSERT_EQ(desktop.readFrames(1, patience).size(), 1u);

    EngineOnKernel rig;
    ASSERT_TRUE(ok(rig.start(oneProfile(smoothScrolling()))));
    ASSERT_TRUE(rig.waitForTarget());
    auto pointer = openNode(rig.events->virtualPointerNode());
    ASSERT_TRUE(ok(mouse.release(0)));
    const auto released = desktop.readFrames(1, patience);
    ASSERT_EQ(released.size(), 1u);
    EXPECT_TRUE(holds(released, EV_KEY, BTN_LEFT)) << "the desktop sees the release of the press it saw";

    // Grabbed once nothing is down: the next click reaches only Ravolet.
    ASSERT_TRUE(tapHasTheMouse(mouse, pointer));
    desktop.readFrames(100, 200ms);
    ASSERT_TRUE(ok(mouse.press(0)));
    ASSERT_TRUE(ok(mouse.release(0)));
    EXPECT_EQ(pointer.readFrames(2, patience),
              (std::vector<EvdevFrame>{{value(EV_KEY, BTN_LEFT, 1)}, {value(EV_KEY, BTN_LEFT, 0)}}));
    EXPECT_EQ(desktop.readFrames(1, 200ms), std::vector<EvdevFrame>{});
}

TEST(InputPath, ANodeAnotherProgramHoldsMakesTheTapFail) {
    FakeG502X mouse;
    ASSERT_TRUE(ok(mouse.plugIn()));
    auto holder = openNode(pointerNodeOf(mouse));
    ASSERT_TRUE(ok(holder.grab(true)));
    EngineOnKernel rig;
    const auto refused = rig.start(oneProfile(smoothScrolling()));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), EventTapController::description(EventTapController::StartError::tapCreationFailed));
    ASSERT_TRUE(ok(holder.grab(false)));
    EXPECT_TRUE(ok(rig.start(oneProfile(smoothScrolling()))));
}

// ---- libinput, the consumer every desktop puts between us and the applications ----

// A program run in the background with its output on a pipe.
class Child {
public:
    explicit Child(std::vector<std::string> arguments) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
        std::vector<char*> argv;
        for (auto& a : arguments) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(ends[1]);
        output_ = ends[0];
    }
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) ::close(output_);
    }
    bool started() const { return pid_ > 0; }
    // Lines printed until `limit`, or until a line containing `until`.
    std::vector<std::string> lines(std::chrono::milliseconds limit, const std::string& until = "") {
        std::vector<std::string> lines;
        const auto end = std::chrono::steady_clock::now() + limit;
        for (;;) {
            for (auto newline = pending_.find('\n'); newline != std::string::npos; newline = pending_.find('\n')) {
                lines.push_back(pending_.substr(0, newline));
                pending_.erase(0, newline + 1);
                if (!until.empty() && lines.back().find(until) != std::string::npos) return lines;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return lines;
            pollfd readable{output_, POLLIN, 0};
            if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
            char buffer[4096];
            const auto got = ::read(output_, buffer, sizeof buffer);
            if (got <= 0) return lines;
            pending_.append(buffer, static_cast<std::size_t>(got));
        }
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string pending_;
};

// The v120 values of libinput's wheel events ("vert 15.00/120.0*").
std::vector<double> wheelValues(const std::vector<std::string>& lines) {
    std::vector<double> values;
    for (const auto& line : lines) {
        if (line.find("POINTER_SCROLL_WHEEL") == std::string::npos) continue;
        const auto vert = line.find("vert ");
        const auto slash = vert == std::string::npos ? vert : line.find('/', vert);
        if (slash != std::string::npos) values.push_back(std::strtod(line.c_str() + slash + 1, nullptr));
    }
    return values;
}

bool hasLibinput() {
    return std::filesystem::exists("/usr/libexec/libinput/libinput-debug-events") &&
           std::filesystem::exists("/usr/bin/udevadm");
}

// udev, which tags Ravolet's devices a mouse and a keyboard for libinput.
// Started once; it sees devices made later by itself.
void startUdev() {
    static const bool started = std::system("/usr/lib/systemd/systemd-udevd --daemon") == 0;
    ASSERT_TRUE(started);
    ASSERT_EQ(std::system("udevadm trigger && udevadm settle"), 0);
}

// libinput's view of one device node, once it has opened it.
std::unique_ptr<Child> libinputOn(const std::string& node) {
    auto child = std::make_unique<Child>(std::vector<std::string>{
        "/usr/libexec/libinput/libinput-debug-events", "--show-keycodes", "--device", node});
    if (!child->started() || child->lines(5s, "DEVICE_ADDED").empty()) return nullptr;
    return child;
}

TEST(InputPathThroughLibinput, TheGlideSumsToOneDetentAndItsFirstFrameIsNotHeldBack) {
    if (!hasLibinput()) GTEST_SKIP() << "libinput-tools and udev were not copied into the VM";
    FakeG502X mouse;
    ASSERT_TRUE(ok(mouse.plugIn()));
    EngineOnKernel rig;
    ASSERT_TRUE(ok(rig.start(oneProfile(smoothScrolling()))));
    ASSERT_TRUE(rig.waitForTarget());
    startUdev();
    const auto libinput = libinputOn(rig.events->virtualPointerNode());
    ASSERT_TRUE(libinput) << "libinput did not open the virtual pointer";
    auto pointer = openNode(rig.events->virtualPointerNode());
    std::this_thread::sleep_for(600ms); // from rest, as libinput counts it

    ASSERT_TRUE(ok(mouse.turnWheel(1)));
    const auto frames = pointer.readFrames(200, 1500ms);
    const auto values = wheelValues(libinput->lines(1000ms));
    std::vector<double> written;
    // libinput scrolls down for a wheel turned towards the user: its values
    // have the other sign.
    for (const auto& frame : frames) written.push_back(-static_cast<double>(sumOf({frame}, EV_REL, REL_WHEEL_HI_RES)));
    // Every frame passed on as written, the first (60 units) among them.
    EXPECT_EQ(values, written);
    double sum = 0;
    for (const double v : values) sum += v;
    EXPECT_EQ(sum, -120.0);
}

TEST(InputPathThroughLibinput, KeysStillHeldAreReleasedWhenTheVirtualKeyboardGoes) {
    if (!hasLibinput()) GTEST_SKIP() << "libinput-tools and udev were not copied into the VM";
    auto events = std::make_shared<platform::LinuxEventSystem>(platform::LinuxEventSystem::Options{});
    ASSERT_FALSE(events->outputError()) << *events->outputError();
    startUdev();
    const auto libinput = libinputOn(events->virtualKeyboardNode());
    ASSERT_TRUE(libinput) << "libinput did not open the virtual keyboard";
    auto poster = std::make_unique<CGEventPoster>(events, platform::EventTapLocation::session);
    poster->postKey(0, true, ModifierFlags{}); // A, held
    ASSERT_FALSE(libinput->lines(patience, "KEY_A (30) pressed").empty());
    // As when the process ends: the devices go, and A goes up with them.
    poster.reset();
    events.reset();
    const auto after = libinput->lines(patience, "DEVICE_REMOVED");
    const auto released = std::ranges::find_if(after, [](const std::string& line) {
        return line.find("KEY_A (30) released") != std::string::npos;
    });
    EXPECT_NE(released, after.end()) << ::testing::PrintToString(after);
}

} // namespace
} // namespace ravolet::testing
