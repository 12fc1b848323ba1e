#include "Platform/FileSystem.hpp"

#include <cerrno>
#include <cstring>
#include <ostream>

#include <fmt/format.h>

namespace ravolet::platform {

std::string errorText(int code) {
    // strerrordesc_np: the English text, without the locale and thread-safe.
    if (const char* text = ::strerrordesc_np(code)) return text;
    return fmt::format("Unknown error {}", code);
}

std::string FileError::description() const {
    const std::string why = reason.empty() ? errorText(code) : reason;
    if (!destination.empty())
        return fmt::format("cannot {} {} to {}: {}", operation, path.string(), destination.string(), why);
    return fmt::format("cannot {} {}: {}", operation, path.string(), why);
}

bool FileError::isNotFound() const { return code == ENOENT; }

std::ostream& operator<<(std::ostream& os, const FileError& error) { return os << error.description(); }

Subscription FileSystem::watchFile(const std::filesystem::path& file, std::shared_ptr<Executor> executor,
                                   std::function<void()> handler) {
    return watchFolder(file.parent_path(), std::move(executor),
                       [name = file.filename().string(), handler = std::move(handler)](const std::string& changed) {
                           if (changed.empty() || changed == name) handler();
                       });
}

} // namespace ravolet::platform
