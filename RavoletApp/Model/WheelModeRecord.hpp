#pragma once

#include <chrono>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "HIDPlusPlus/HIDPPDevice.hpp"
#include "Platform/FileSystem.hpp"

namespace ravolet {

// The mode Ravolet found the mouse's wheel in, kept in the settings folder
// for as long as Ravolet holds the wheel in another mode: a start after a
// crash or a kill, which never got to put the wheel back, still knows what
// to put back. Only the high-resolution switch is kept, since it is all that
// Ravolet changes. The file is a JSON object, {"highResolution": false}.
//
// Not thread-safe: the device monitor uses it on its executor.
class WheelModeRecord {
public:
    static constexpr std::string_view fileName = "wheel-mode.json";

    WheelModeRecord(std::shared_ptr<platform::FileSystem> files, std::filesystem::path file);

    const std::filesystem::path& file() const { return file_; }

    // Whether the wheel was found in high resolution; none when nothing is
    // kept. A file that is there but cannot be read, or says something else,
    // is an error naming it; it is left as it is.
    std::expected<std::optional<bool>, std::string> load() const;
    // Keeps the mode found, replacing what was kept.
    std::expected<void, std::string> keep(bool highResolution);
    // Forgets it, once the wheel is back in that mode.
    void forget() const;

private:
    std::shared_ptr<platform::FileSystem> files_;
    std::filesystem::path file_;
};

// What became of the wheel after a run of the program ended.
enum class WheelPutBack {
    // Nothing was kept: the run left the wheel as it found it.
    nothingKept,
    // The wheel is back in the mode kept, which is forgotten.
    putBack,
    // A new run holds the program's lock: the wheel, kept mode and all, is its own.
    takenOver,
    // The lock could not be had at all (a file system that takes no locks):
    // whether a run holds it is not known, and nothing is written.
    noLock,
    // The mouse is not there, or did not take the mode in time: the mode
    // stays kept, for the next start.
    notPutBack,
};

// After a run of the program has ended without putting the wheel back (a
// crash, a kill): puts the wheel back in the mode `record` keeps, through
// the device `makeDevice` makes (only now, and disconnected again before
// this returns), while holding the program's one-copy lock `instanceLock`,
// which every run holds for its life. Waits at most `limit` for the mouse.
WheelPutBack putWheelBack(const WheelModeRecord& record, platform::FileSystem& files,
                          const std::filesystem::path& instanceLock,
                          const std::function<std::shared_ptr<HIDPPDevice>()>& makeDevice,
                          std::chrono::milliseconds limit);

} // namespace ravolet
