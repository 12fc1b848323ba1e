// The capture lock with the settings folder on NFS. The kernel's NFS client
// takes a flock as a lock of the whole file on the server, and an exclusive
// one needs a descriptor open for writing (EBADF otherwise, flock(2)); with
// no lock manager answering, every lock fails (ENOLCK). This executable's
// own flock does the same over the local disk: Ravolet's code linked into
// it calls this one in place of the C library's (an interposer at link time).

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "Platform/Linux/LinuxFileSystem.hpp"
#include "Platform/Simulated/InMemoryKeyValueStore.hpp"
#include "Platform/Simulated/SimulatedClock.hpp"
#include "RavoletEngine/Coordination/FakePointerPropertyBackend.hpp"
#include "RavoletEngine/Coordination/PointerHardwareTuning.hpp"
#include "Platform/Linux/SingleInstance.hpp"
#include "RavoletApp/Model/WheelModeRecord.hpp"
#include "RavoletEngine/Coordination/PointerTuningGuard.hpp"
#include "tests/app/DeviceTestSupport.hpp"
#include "tests/platform/FolderTree.hpp"

namespace {

std::atomic<bool> lockManagerGone = false;

} // namespace

extern "C" int flock(int fd, int operation) {
    static const auto real = reinterpret_cast<int (*)(int, int)>(::dlsym(RTLD_NEXT, "flock"));
    if (lockManagerGone) {
        errno = ENOLCK;
        return -1;
    }
    const int mode = ::fcntl(fd, F_GETFL);
    if (mode < 0) return -1;
    const int kind = operation & ~LOCK_NB;
    if ((kind == LOCK_EX && (mode & O_ACCMODE) == O_RDONLY) || (kind == LOCK_SH && (mode & O_ACCMODE) == O_WRONLY)) {
        errno = EBADF;
        return -1;
    }
    return real(fd, operation);
}

namespace ravolet {
namespace {

using Tuning = PointerHardwareTuning;

constexpr std::uint64_t mouseID = 0x1000;
constexpr std::int64_t originalAcceleration = 45056;
const std::string accel{Tuning::fallbackAccelerationKey};

struct OnNfs : ::testing::Test {
    const platform::testing::FolderTree folder{"nfs"};
    const std::filesystem::path captureFile = folder.path / Tuning::captureFileName;
    const std::filesystem::path lockFile = Tuning::captureLockFile(captureFile);
    const std::shared_ptr<platform::LinuxFileSystem> files = platform::LinuxFileSystem::shared();
    ~OnNfs() override { lockManagerGone = false; }
};

TEST_F(OnNfs, TheCaptureLockHasOneHolderAtATime) {
    auto first = files->tryLock(lockFile);
    ASSERT_TRUE(first) << first.error().description();
    const auto second = files->tryLock(lockFile);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error().code, EWOULDBLOCK) << second.error().description();
    first->reset();
    EXPECT_TRUE(files->tryLock(lockFile)) << "let go";
}

// What a cut-short save left beside the settings goes at the next start;
// one a save in progress (another copy's) holds stays, and so does every
// one while no lock can be had: nobody can tell whether it is held.
TEST_F(OnNfs, LeftoversOfCutShortSavesGoUnlessASaveHoldsThem) {
    struct Case {
        const char* name;
        bool heldByASave;
        bool lockManagerGone;
        bool removed;
    };
    for (const Case& c : {Case{"left by a kill", false, false, true}, Case{"a save holds it", true, false, false},
                          Case{"no lock manager", false, true, false}}) {
        SCOPED_TRACE(c.name);
        const std::string leftover = std::string(platform::LinuxFileSystem::temporaryMark) + "config.json.Ab12Cd";
        folder.write(leftover, "{ \"schemaVersion\": 1,");
        // The save's own descriptor, as it writes the file.
        const int save = ::open((folder.path / leftover).c_str(), O_RDWR | O_CLOEXEC);
        if (c.heldByASave) {
            ASSERT_EQ(::flock(save, LOCK_EX), 0) << std::strerror(errno);
        }
        lockManagerGone = c.lockManagerGone;
        const auto removed = files->removeLeftoverTemporaries(folder.path / "config.json");
        lockManagerGone = false;
        ASSERT_TRUE(removed) << removed.error().description();
        EXPECT_EQ(*removed, c.removed ? 1 : 0);
        EXPECT_EQ(std::filesystem::exists(folder.path / leftover), !c.removed);
        ::close(save);
        std::filesystem::remove(folder.path / leftover);
    }
}

// A killed run's guard over the capture it left: it puts the originals back
// only while it holds the lock. Held by a new run, the capture is that
// run's; with no lock to be had, nobody can tell, and the guard writes
// nothing and leaves the capture for the next start.
TEST_F(OnNfs, AGuardWritesOnlyWhileItHoldsTheCaptureLock) {
    struct Case {
        const char* name;
        bool runHoldsTheLock;
        bool lockManagerGone;
        int status;
        bool putBack;
    };
    for (const Case& c : {Case{"the lock free", false, false, 0, true}, Case{"a run holds it", true, false, 0, false},
                          Case{"no lock manager", false, true, 1, false}}) {
        SCOPED_TRACE(c.name);
        const PointerServiceIdentity mouse{mouseID, 0x046D, 0xC099, "G502 X", 1, 2};
        const auto fake = std::make_shared<FakePointerPropertyBackend>(std::vector{mouse});
        fake->seed(mouseID, {{accel, Tuning::disabledAcceleration}});
        const auto clock = std::make_shared<platform::SimulatedClock>();
        folder.write(captureFile.filename(),
                     *PointerTuningCapture{1, mouse, accel, std::nullopt, originalAcceleration, platform::SimulatedClock::defaultStart}.encoded());
        std::shared_ptr<void> run;
        if (c.runHoldsTheLock) run = files->tryLock(lockFile).value_or(nullptr);
        ASSERT_EQ(c.runHoldsTheLock, run != nullptr);
        lockManagerGone = c.lockManagerGone;
        const int status = pointerTuningGuard::run(
            0x7fffffff, [&] { return std::shared_ptr<PointerPropertyBackend>(fake); },
            [&](std::shared_ptr<PointerPropertyBackend> reached) {
                return std::make_shared<Tuning>(std::move(reached), std::make_shared<platform::InMemoryKeyValueStore>(),
                                                captureFile, std::vector{HIDPPDeviceMatch::g502X}, clock, files);
            },
            captureFile, pointerTuningGuard::forAtMost(std::chrono::milliseconds(300)));
        lockManagerGone = false;
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(fake->values().at(mouseID).at(accel), c.putBack ? originalAcceleration : Tuning::disabledAcceleration);
        EXPECT_EQ(std::filesystem::exists(captureFile), !c.putBack);
    }
}

// The same for the wheel, once a run has ended with it in high resolution
// and the standard mode it found kept: put back (and the mode forgotten)
// only while the guard holds the program's own lock, which a run holds for
// its life. Without the mouse, the mode stays kept for the next start.
TEST_F(OnNfs, AGuardPutsTheWheelBackOnlyWhileItHoldsTheProgramsLock) {
    struct Case {
        const char* name;
        bool runHoldsTheLock;
        bool lockManagerGone;
        bool plugged;
        WheelPutBack outcome;
    };
    for (const Case& c : {Case{"the lock free", false, false, true, WheelPutBack::putBack},
                          Case{"a run holds it", true, false, true, WheelPutBack::takenOver},
                          Case{"no lock manager", false, true, true, WheelPutBack::noLock},
                          Case{"no mouse", false, false, false, WheelPutBack::notPutBack}}) {
        SCOPED_TRACE(c.name);
        testing::MouseRig rig(true, c.plugged);
        rig.mouse->setWheelMode(0x02); // high resolution, to HID
        WheelModeRecord record(files, folder.path / WheelModeRecord::fileName);
        ASSERT_TRUE(record.keep(false));
        const auto instanceLock = folder.path / platform::SingleInstance::lockName;
        std::shared_ptr<void> run;
        if (c.runHoldsTheLock) run = files->tryLock(instanceLock).value_or(nullptr);
        ASSERT_EQ(c.runHoldsTheLock, run != nullptr);
        lockManagerGone = c.lockManagerGone;
        bool reached = false;
        const auto outcome = putWheelBack(
            record, *files, instanceLock,
            [&] {
                reached = true;
                return rig.device;
            },
            std::chrono::milliseconds(1500));
        lockManagerGone = false;
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(reached, c.outcome == WheelPutBack::putBack || c.outcome == WheelPutBack::notPutBack)
            << "the mouse is reached only under the lock";
        EXPECT_EQ(rig.mouse->wheelReportsPerDetent(), c.outcome == WheelPutBack::putBack ? 1 : 8);
        EXPECT_EQ(record.load().value_or(std::nullopt), c.outcome == WheelPutBack::putBack ? std::nullopt : std::optional(false));
    }
}

} // namespace
} // namespace ravolet
