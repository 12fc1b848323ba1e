#include "Platform/Linux/Desktop/ProgramData.hpp"

#include <cstdlib>
#include <system_error>

namespace ravolet::platform {

namespace fs = std::filesystem;

std::optional<fs::path> programDataFile(std::string_view relative) {
    std::error_code error;
    if (const char* folder = std::getenv("RAVOLET_DATA_DIR"); folder && *folder) {
        const fs::path file = fs::path(folder) / relative;
        if (fs::exists(file, error)) return file;
    }
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (error) return std::nullopt;
    const fs::path file = executable.parent_path().parent_path() / "share/ravolet" / relative;
    if (fs::exists(file, error)) return file;
    return std::nullopt;
}

} // namespace ravolet::platform
