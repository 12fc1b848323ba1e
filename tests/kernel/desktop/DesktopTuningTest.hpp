#pragma once

// The fixture the desktops' pointer tuning tests share: the fake G502 X
// plugged in, a tuner over the desktop's settings with its capture file, the
// program's engine on the kernel's event system with a profile that uses
// Ravolet's curve, and one measured run of the hand.

#include <gtest/gtest.h>

#include <atomic>
#include <iostream>

#include "EngineOnKernel.hpp"
#include "FakeMouse/FakeG502X.hpp"
#include "Platform/Linux/Desktop/PointerAccelSetting.hpp"
#include "Platform/Linux/LinuxFileSystem.hpp"
#include "Platform/Linux/SystemClock.hpp"
#include "Platform/SerialQueue.hpp"
#include "RavoletEngine/Coordination/DesktopPointerPropertyBackend.hpp"
#include "RavoletEngine/Coordination/PointerTuningGuard.hpp"
#include "desktop/DesktopVM.hpp"

extern char** environ;

namespace ravolet::testing {

inline ::testing::AssertionResult ok(const std::expected<void, std::string>& result) {
    if (result) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << result.error();
}

// A tuner over a backend, its capture in `captureFile`.
inline std::shared_ptr<PointerHardwareTuning> tunerOverBackend(std::shared_ptr<PointerPropertyBackend> backend,
                                                              const std::filesystem::path& captureFile) {
    return std::make_shared<PointerHardwareTuning>(std::move(backend), std::make_shared<platform::InMemoryKeyValueStore>(),
                                                   captureFile, std::vector{HIDPPDeviceMatch::g502X},
                                                   platform::SystemClock::shared(), platform::LinuxFileSystem::shared());
}

// A tuner over a desktop's settings, its capture in `captureFile`.
inline std::shared_ptr<PointerHardwareTuning> desktopTuner(std::shared_ptr<platform::DesktopPointerSettings> settings,
                                                          const std::filesystem::path& captureFile) {
    return tunerOverBackend(std::make_shared<DesktopPointerPropertyBackend>(std::move(settings)), captureFile);
}

// The environment variable that hands a guard process the id of the one it watches.
inline constexpr const char* guardOf = "RAVOLET_POINTER_GUARD_OF";

// The pointer tuning guard as the program starts it, of the process `watched`:
// this test's executable run as its helper test `helper`, which calls
// guardThisTest with the desktop's settings.
inline std::unique_ptr<Process> startGuard(pid_t watched, const std::string& helper, const std::string& log) {
    std::vector<std::string> environment{std::string(guardOf) + "=" + std::to_string(watched)};
    for (char** e = environ; *e; ++e) environment.emplace_back(*e);
    return std::make_unique<Process>(Process::Options{
        {std::filesystem::read_symlink("/proc/self/exe").string(), "--gtest_filter=" + helper}, environment, log,
        std::nullopt, {}});
}

// The environment variable that makes a run of the test's executable the kill -9 test's other process.
inline constexpr const char* applyAndWait = "RAVOLET_APPLY_AND_WAIT";

// That process's helper test. Like the program, it makes Ravolet's pointer,
// asks for the tuning until the desktop lists the pointer and it takes, and
// waits to be killed.
inline void applyUntilKilled(std::shared_ptr<platform::DesktopPointerSettings> settings,
                             const std::filesystem::path& captureFile) {
    if (!std::getenv(applyAndWait)) GTEST_SKIP() << "only as the kill -9 test's other process";
    auto events = std::make_shared<platform::LinuxEventSystem>(platform::LinuxEventSystem::Options{});
    const auto tuner = desktopTuner(std::move(settings), captureFile);
    ASSERT_TRUE(waitFor(
        [&] {
            tuner->request(PointerTuningRequest(true, std::nullopt));
            return tuner->status().isApplied;
        },
        std::chrono::seconds(20)));
    for (;;) ::pause();
}

// The guard's helper test: skipped unless it is a guard's process.
inline void guardThisTest(const std::function<std::shared_ptr<platform::DesktopPointerSettings>()>& settings,
                          const std::filesystem::path& captureFile) {
    const char* watched = std::getenv(guardOf);
    if (!watched) GTEST_SKIP() << "only as a guard of a process of the kill -9 test's";
    const auto pid = pointerTuningGuard::parseWatched(watched);
    ASSERT_TRUE(pid);
    const auto backend = [&]() -> std::shared_ptr<PointerPropertyBackend> {
        auto reached = settings();
        if (!reached) ADD_FAILURE() << "the guard could not reach the desktop";
        return std::make_shared<DesktopPointerPropertyBackend>(
            reached ? std::move(reached) : std::make_shared<platform::NoDesktopPointerSettings>());
    };
    const auto tuner = [&](std::shared_ptr<PointerPropertyBackend> reached) { return tunerOverBackend(std::move(reached), captureFile); };
    EXPECT_EQ(pointerTuningGuard::run(*pid, backend, tuner, captureFile, pointerTuningGuard::forAtMost(std::chrono::seconds(10))),
              0);
}

class DesktopTuningTest : public ::testing::Test {
protected:
    explicit DesktopTuningTest(std::filesystem::path captureFile) : captureFile(std::move(captureFile)) {}

    // The desktop's cursor (its x in pixels).
    virtual double cursorX() const = 0;
    // Puts the cursor near the screen's left edge, so that a run has room to
    // go right; the engine runs meanwhile.
    virtual void placeCursor(EngineOnKernel& rig) = 0;
    // What the desktop lists, for a failure's message.
    virtual std::string describeDesktop() const = 0;

    // A tuner over the desktop's settings; the capture file starts absent.
    void makeTuner(std::shared_ptr<platform::DesktopPointerSettings> settings) {
        std::filesystem::remove(captureFile);
        tuner = tunerOver(std::move(settings));
    }
    std::shared_ptr<PointerHardwareTuning> tunerOver(std::shared_ptr<platform::DesktopPointerSettings> settings) const {
        return desktopTuner(std::move(settings), captureFile);
    }

    // As the program makes it: on a queue of its own, its observers told on
    // the rig's thread, which stands for the window's.
    void makeQueuedTuner(std::shared_ptr<platform::DesktopPointerSettings> settings, EngineOnKernel& rig) {
        std::filesystem::remove(captureFile);
        tuner = PointerHardwareTuning::queued(
            {std::make_shared<platform::SerialQueue>(PointerHardwareTuning::queueLabel, platform::QueuePriority::utility),
             rig.ui},
            std::make_shared<DesktopPointerPropertyBackend>(std::move(settings)),
            std::make_shared<platform::InMemoryKeyValueStore>(), captureFile, std::vector{HIDPPDeviceMatch::g502X},
            platform::SystemClock::shared(), platform::LinuxFileSystem::shared());
    }

    // The desktop (process `desktop`) stopped for 10 s while tuning is in
    // force on its queue and is asked to work (switched off, the reading
    // the page asks for, the engine's refreshes): the rig's thread, the
    // window's, never goes a second without running (a call to the
    // stopped desktop would hold it for that call's 2 s patience at least;
    // the emulated machine alone holds it a few hundred milliseconds when it
    // is busy), and the status says
    // tuning is waiting. Once the desktop goes on, the switch's restore
    // completes, tuning takes again, and a stop puts `original` back before
    // it returns. `setting` reads the desktop's setting for the mouse.
    void stopTheDesktopWhileTuning(EngineOnKernel& rig, pid_t desktop,
                                   const std::function<std::optional<std::int64_t>()>& setting, std::int64_t original) {
        ASSERT_TRUE(startEngine(rig));
        ASSERT_EQ(setting(), platform::PointerAccelSetting::offCode);
        bool toldWaiting = false;
        const ObserverConnection watching =
            tuner->observeStatus([&](const PointerTuningStatus& s) { toldWaiting = toldWaiting || s.isWaitingForDesktop; });
        using Clock = std::chrono::steady_clock;
        const auto refreshEvery = [&rig](std::chrono::milliseconds interval) {
            return [&rig, interval, next = Clock::now()]() mutable {
                if (Clock::now() < next) return;
                rig.engine->refreshMetrics(); // as the program's poll does
                next += interval;
            };
        };
        ASSERT_EQ(::kill(desktop, SIGSTOP), 0);
        const auto stopped = Clock::now();
        auto last = stopped;
        Clock::duration longest{};
        bool asked = false;
        std::function<void()> refresh = refreshEvery(std::chrono::milliseconds(200));
        rig.pumpUntil(
            [&] {
                if (!asked) {
                    tuner->setEnabled(false);
                    tuner->refreshReading();
                    asked = true;
                }
                refresh();
                (void)tuner->status();
                const auto now = Clock::now();
                longest = std::max(longest, now - last);
                last = now;
                return now - stopped >= std::chrono::seconds(10);
            },
            std::chrono::seconds(30));
        const bool waitingAtTheEnd = tuner->status().isWaitingForDesktop;
        ASSERT_EQ(::kill(desktop, SIGCONT), 0);
        const auto longestMs = std::chrono::duration_cast<std::chrono::milliseconds>(longest).count();
        std::cout << "with the desktop stopped, the window's thread went at most " << longestMs << " ms without running\n";
        EXPECT_LT(longestMs, 1000) << "the window's thread was held up";
        EXPECT_TRUE(toldWaiting);
        EXPECT_TRUE(waitingAtTheEnd);

        const auto since = [](Clock::time_point start) {
            return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count()) +
                   " ms";
        };
        auto went = Clock::now();
        refresh = refreshEvery(std::chrono::milliseconds(200));
        EXPECT_TRUE(rig.pumpUntil(
            [&] {
                refresh();
                const auto s = tuner->status();
                return !s.isWaitingForDesktop && !s.isEnabled && !s.isApplied && !s.restorePending;
            },
            std::chrono::seconds(30)))
            << tuner->status();
        std::cout << "put back " << since(went) << " after the desktop went on\n";
        EXPECT_EQ(setting(), original) << "switched off while the desktop was stopped: put back once it answers";
        went = Clock::now();
        tuner->setEnabled(true);
        EXPECT_TRUE(rig.pumpUntil(
            [&] {
                refresh();
                return tuner->status().isApplied;
            },
            std::chrono::seconds(30)));
        std::cout << "switched on, in force " << since(went) << " later\n";
        EXPECT_EQ(setting(), platform::PointerAccelSetting::offCode);
        went = Clock::now();
        rig.stop();
        std::cout << "the stop took " << since(went) << "\n";
        EXPECT_EQ(setting(), original) << "the stop waited for the restore";
        EXPECT_FALSE(std::filesystem::exists(captureFile));
    }

    static Config curveProfile() {
        PointerSettings pointer;
        pointer.isEnabled = true;
        pointer.curve = PointerCurve::desktop;
        return oneProfile(ScrollSettings{}, pointer);
    }

    // The engine started with the tuner, the mouse its target, the tuning in
    // force. A desktop lists Ravolet's new pointer a moment after it is made:
    // until then the engine is asked again every 200 ms, as the program's
    // poll does.
    bool startEngine(EngineOnKernel& rig) {
        if (!rig.start(curveProfile(), tuner) || !rig.waitForTarget()) return false;
        auto next = std::chrono::steady_clock::now();
        const bool tuned = rig.pumpUntil(
            [&] {
                if (std::chrono::steady_clock::now() >= next) {
                    rig.engine->refreshMetrics();
                    next += std::chrono::milliseconds(200);
                }
                return tuner->status().isApplied;
            },
            std::chrono::seconds(10));
        if (tuned) return true;
        ADD_FAILURE() << "not tuned: " << tuner->status().lastError.value_or("(no error)") << "\n" << describeDesktop();
        return false;
    }

    // 12 reports of 10 counts, one a millisecond, from the left edge: where
    // libinput's adaptive profile doubles the motion, and short enough that
    // it stays on screen. The engine's executor runs here meanwhile.
    Travel run(EngineOnKernel& rig) {
        auto pointer = EventNodeReader::open(rig.events->virtualPointerNode());
        EXPECT_TRUE(pointer);
        placeCursor(rig);
        rig.pump(std::chrono::milliseconds(200));
        Travel travel;
        std::atomic<bool> done = false;
        std::thread hand([&] {
            travel = measureTravel(mouse, *pointer, [this] { return cursorX(); }, 12, 10, std::chrono::microseconds(1000));
            done = true;
        });
        rig.pumpUntil([&] { return done.load(); }, std::chrono::seconds(20));
        hand.join();
        std::cout << "Ravolet emitted " << travel.emitted << ", the cursor moved " << travel.moved << "\n";
        return travel;
    }

    // The mouse re-plugged while the engine runs, the engine stopped and
    // started again: the cursor stays exact throughout. `stopped` looks at
    // what the stop put back; in the end nothing is left to put back.
    void replugStopAndRestart(const std::function<void(EngineOnKernel&)>& stopped) {
        EngineOnKernel rig;
        ASSERT_TRUE(startEngine(rig));
        mouse.unplug();
        ASSERT_TRUE(ok(mouse.plugIn()));
        ASSERT_TRUE(rig.waitForTarget());
        Travel travel = run(rig);
        EXPECT_EQ(travel.moved, static_cast<double>(travel.emitted)) << "after a re-plug";
        rig.stop();
        stopped(rig);
        ASSERT_TRUE(startEngine(rig));
        travel = run(rig);
        EXPECT_EQ(travel.moved, static_cast<double>(travel.emitted)) << "after a restart";
        rig.stop();
        EXPECT_FALSE(std::filesystem::exists(captureFile));
    }

    const std::filesystem::path captureFile;
    std::shared_ptr<PointerHardwareTuning> tuner;
    FakeG502X mouse;
};

} // namespace ravolet::testing
