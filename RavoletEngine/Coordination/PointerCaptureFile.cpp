#include "RavoletEngine/Coordination/PointerCaptureFile.hpp"

#include <cerrno>
#include <thread>

namespace ravolet {

PointerCaptureFile::PointerCaptureFile(std::shared_ptr<platform::FileSystem> files, std::filesystem::path path)
    : files_(std::move(files)), path_(std::move(path)) {}

std::filesystem::path PointerCaptureFile::lockFile(const std::filesystem::path& captureFile) {
    return std::filesystem::path(captureFile).replace_extension(".lock");
}

std::expected<void, std::string> PointerCaptureFile::save(const PointerTuningCapture& capture) {
    if (auto folder = files_->createDirectories(path_.parent_path()); !folder)
        return std::unexpected(folder.error().description());
    const auto bytes = capture.encoded();
    if (!bytes) return std::unexpected(bytes.error().description());
    if (auto written = files_->writeFileAtomically(path_, *bytes); !written)
        return std::unexpected(written.error().description());
    return {};
}

std::optional<PointerTuningCapture> PointerCaptureFile::load() const {
    const auto bytes = files_->readFile(path_);
    if (!bytes) return std::nullopt;
    auto capture = PointerTuningCapture::decoded(*bytes);
    if (!capture || capture->schema != PointerTuningCapture::currentSchema) return std::nullopt;
    return std::move(*capture);
}

void PointerCaptureFile::remove() { (void)files_->removeFile(path_); }

void PointerCaptureFile::hold(std::chrono::milliseconds patience) {
    if (lock_) return;
    const auto file = lockFile(path_);
    const auto until = std::chrono::steady_clock::now() + patience;
    for (bool madeFolder = false;;) {
        auto lock = files_->tryLock(file);
        if (lock) {
            lock_ = std::move(*lock);
            return;
        }
        if (lock.error().isNotFound() && !madeFolder) {
            madeFolder = true;
            (void)files_->createDirectories(file.parent_path());
            continue;
        }
        // Only a lock held elsewhere is waited for, and only once.
        if (lock.error().code != EWOULDBLOCK || waitedOnce_ || std::chrono::steady_clock::now() >= until) {
            waitedOnce_ = true;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace ravolet
