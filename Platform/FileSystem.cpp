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

} // namespace ravolet::platform
