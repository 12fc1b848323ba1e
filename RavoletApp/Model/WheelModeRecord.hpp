#pragma once

#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

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
    void forget();

private:
    std::shared_ptr<platform::FileSystem> files_;
    std::filesystem::path file_;
};

} // namespace ravolet
