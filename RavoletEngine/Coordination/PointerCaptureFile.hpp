#pragma once

#include <chrono>
#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "Platform/FileSystem.hpp"
#include "RavoletEngine/Coordination/PointerTuningCapture.hpp"

namespace ravolet {

// The capture file: the originals pointer tuning found on the desktop,
// saved before it writes anything over them, so that they go back after any
// end of the run (by a later run, or by the run's guard). And its lock,
// beside it: a run's tuner holds it for its life, a guard for each look at
// the file with the put-back that follows, so that neither puts back what
// the other has taken over.
//
// Saving is atomic: a reader never sees half a file, and a failed save
// leaves the one before intact. A file that is missing, unreadable or of
// another schema reads as no capture, and stays on disk untouched.
// Used from one thread at a time, the tuner's; load() from any.
class PointerCaptureFile {
public:
    PointerCaptureFile(std::shared_ptr<platform::FileSystem> files, std::filesystem::path path);

    const std::filesystem::path& path() const { return path_; }
    // The lock file beside `captureFile`.
    static std::filesystem::path lockFile(const std::filesystem::path& captureFile);

    // Makes the folder first; the error's description when it cannot be saved.
    std::expected<void, std::string> save(const PointerTuningCapture& capture);
    std::optional<PointerTuningCapture> load() const;
    // Errors ignored, a missing file among them: a file left behind is put
    // back once more by the next start, which does no harm.
    void remove();

    // A run's hold on the lock, kept once had. The first time, it waits up
    // to `patience` for a guard that holds it (a guard holds it for one
    // put-back); later it only tries. Where it is not to be had (held
    // beyond that, or a folder whose locks fail for another reason, such as
    // ENOLCK where no lock manager answers), the tuner goes on without it:
    // it still captures and writes, and a guard, which cannot have the lock
    // either, stands back and leaves a capture of a run that ended for the
    // next start to put back.
    void hold(std::chrono::milliseconds patience);

private:
    const std::shared_ptr<platform::FileSystem> files_;
    const std::filesystem::path path_;
    std::shared_ptr<void> lock_;
    bool waitedOnce_ = false;
};

} // namespace ravolet
