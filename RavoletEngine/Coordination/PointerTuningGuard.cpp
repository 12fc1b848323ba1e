#include "RavoletEngine/Coordination/PointerTuningGuard.hpp"

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <charconv>
#include <cerrno>
#include <csignal>
#include <thread>

#include "Platform/Linux/LinuxFileSystem.hpp"
#include "Platform/Linux/LinuxProcessLauncher.hpp"
#include "RavoletEngine/Coordination/PointerHardwareTuning.hpp"

namespace ravolet::pointerTuningGuard {

namespace {

using namespace std::chrono_literals;

// Until `pid` has ended: through a descriptor of the process where the
// kernel gives one, else by asking every 100 ms.
void waitForEnd(pid_t pid) {
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd >= 0) {
        pollfd ended{fd, POLLIN, 0};
        while (::poll(&ended, 1, -1) < 0 && errno == EINTR) {
        }
        ::close(fd);
        return;
    }
    while (::kill(pid, 0) == 0 || errno == EPERM) std::this_thread::sleep_for(100ms);
}

// The capture file's lock as the guard finds it: held by the guard now;
// held by a run of the program, which has taken over whatever the file holds
// and puts the originals back itself; or not to be had at all (a file
// system that refuses locks), when nobody can tell whether a run holds the
// file, and so the guard writes nothing.
struct Hold {
    enum class Kind { held, takenOver, unavailable } kind;
    std::shared_ptr<void> lock;
    bool isHeld() const { return kind == Kind::held; }
};

Hold hold(const std::filesystem::path& lockFile) {
    auto lock = platform::LinuxFileSystem::shared()->tryLock(lockFile);
    if (lock) return {Hold::Kind::held, std::move(*lock)};
    return {lock.error().code == EWOULDBLOCK ? Hold::Kind::takenOver : Hold::Kind::unavailable, nullptr};
}

// The guard's status when it stands back: nothing left that is its own to
// put back once a run took over; the capture left behind, for the next
// start, when no lock could be had.
int standingBack(const Hold& hold) { return hold.kind == Hold::Kind::takenOver ? 0 : 1; }

} // namespace

bool start(const std::string& executable, const std::vector<std::string>& arguments) {
    return platform::LinuxProcessLauncher().launchDetached(executable, arguments);
}

std::optional<pid_t> parseWatched(std::string_view text) {
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
    if (error != std::errc() || end != text.data() + text.size() || pid <= 1) return std::nullopt;
    return pid;
}

SessionLives forAtMost(std::chrono::milliseconds span) {
    return [end = std::chrono::steady_clock::now() + span] { return std::chrono::steady_clock::now() < end; };
}

int run(pid_t watched, const std::function<std::shared_ptr<PointerPropertyBackend>()>& backend,
        const TunerMaker& makeTuner, const std::filesystem::path& captureFile, const SessionLives& sessionLives,
        const std::function<void()>& whenEnded) {
    // Connected beforehand: once the program has gone, only the put-back is left to do.
    auto reached = backend();
    waitForEnd(watched);
    if (whenEnded) whenEnded();
    std::error_code error;
    if (!std::filesystem::exists(captureFile, error)) return 0;
    const auto lockFile = PointerHardwareTuning::captureLockFile(captureFile);
    std::shared_ptr<PointerHardwareTuning> tuner;
    {
        const auto first = hold(lockFile);
        if (!first.isHeld()) return standingBack(first);
        if (!std::filesystem::exists(captureFile, error)) return 0;
        tuner = makeTuner(std::move(reached));
    }
    const auto ended = std::chrono::steady_clock::now();
    while (tuner->status().restorePending && sessionLives()) {
        // Often at first (a desktop listing the mouse again after Ravolet's
        // pointer went), then seldom: a desktop stopped for long, or a mouse
        // unplugged, is waited for all session.
        std::this_thread::sleep_for(std::chrono::steady_clock::now() - ended < 10s ? 100ms : 1000ms);
        // The look at the file and the put-back it allows are one step for a
        // run that starts meanwhile: it waits for the hold to end before it
        // takes anything, and then holds the file itself.
        const auto again = hold(lockFile);
        if (!again.isHeld()) return standingBack(again);
        // A run that started and ended since put the originals back itself,
        // or left a capture of its own (its own guard's to put back).
        if (tuner->persistedCapture() != tuner->status().capture) return 0;
        tuner->deviceBecameReady();
    }
    const auto last = hold(lockFile);
    if (!last.isHeld()) return standingBack(last);
    const auto left = tuner->persistedCapture();
    return left && left == tuner->status().capture ? 1 : 0;
}

} // namespace ravolet::pointerTuningGuard
