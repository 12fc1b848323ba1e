#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ravolet {

class PointerHardwareTuning;
class PointerPropertyBackend;

// Where the desktop keeps the mouse's acceleration under its identity (sway,
// KWin, GNOME), a setting Ravolet left flat stays flat after Ravolet is gone
// (KWin even saves it), until a later run puts it back from the capture file.
// A process that ends without its restore (kill -9, a crash) would leave the
// mouse flat meanwhile, for good if Ravolet is not run again. So the program
// starts a small guard of its own at launch, a process apart that waits for
// the program to end, however it ends, and then does what the next launch
// would: makes a tuner over the same capture file, which puts the user's
// setting back through the mouse itself (the same setting) and deletes the
// file. After a clean stop the file is gone and the guard ends at once.
namespace pointerTuningGuard {

// Starts `executable` with `arguments` (which name this process, for the
// guard to watch), detached: in a session of its own, so that a terminal's
// signal to the program's group does not end it too. False when it could not
// be started.
bool start(const std::string& executable, const std::vector<std::string>& arguments);

// The process id a guard is given as text; none unless it is a number above 1.
std::optional<pid_t> parseWatched(std::string_view text);

// Whether the session the guard serves still lives: while it does, a
// desktop that does not answer (stopped, or busy) is waited for.
using SessionLives = std::function<bool()>;
// A session taken to live for `span` from now, where nothing tells how long it does.
SessionLives forAtMost(std::chrono::milliseconds span);

// The guard's work in its own process: reaches the desktop's settings with
// `backend` at once, holding nothing else, and waits until `watched` ends;
// then runs `whenEnded` (what else is to be put back), and makes the tuner
// over it with `makeTuner` when the capture file `captureFile` is still
// there. While its originals wait for the desktop (to answer, or to list the
// mouse), it tells the tuner again, every 100 ms for the first 10 s and
// every second after that, for as long as `sessionLives` says, unless a new
// run has taken the file over. A run's tuner holds the capture file's lock
// for its life; the guard takes it for each look at the file with the
// put-back that follows, and stands back for good when a run has it, or
// when the lock cannot be had at all (then whether a run holds the file is
// not known). Returns the process's exit status: 0 when nothing is left to
// put back that is the guard's.
using TunerMaker = std::function<std::shared_ptr<PointerHardwareTuning>(std::shared_ptr<PointerPropertyBackend>)>;
int run(pid_t watched, const std::function<std::shared_ptr<PointerPropertyBackend>()>& backend,
        const TunerMaker& makeTuner, const std::filesystem::path& captureFile, const SessionLives& sessionLives,
        const std::function<void()>& whenEnded = {});

} // namespace pointerTuningGuard
} // namespace ravolet
