#include "RavoletApp/Model/WheelModeRecord.hpp"

#include "Core/Json.hpp"

namespace ravolet {

namespace {

struct KeptMode {
    bool highResolution = false;

    static KeptMode fromJson(const JsonValue& v) { return KeptMode{v["highResolution"].asBool()}; }
    Json toJson() const { return Json{{"highResolution", highResolution}}; }
};

} // namespace

WheelModeRecord::WheelModeRecord(std::shared_ptr<platform::FileSystem> files, std::filesystem::path file)
    : files_(std::move(files)), file_(std::move(file)) {}

std::expected<std::optional<bool>, std::string> WheelModeRecord::load() const {
    const auto bytes = files_->readFile(file_);
    if (!bytes) {
        if (bytes.error().isNotFound()) return std::nullopt;
        return std::unexpected(bytes.error().description());
    }
    const auto kept = decodeJson<KeptMode>(*bytes);
    if (!kept) return std::unexpected("cannot read " + file_.string() + ": " + kept.error().description());
    return kept->highResolution;
}

std::expected<void, std::string> WheelModeRecord::keep(bool highResolution) {
    if (auto folder = files_->createDirectories(file_.parent_path()); !folder)
        return std::unexpected(folder.error().description());
    const auto bytes = encodeJson(KeptMode{highResolution}.toJson());
    if (!bytes) return std::unexpected(bytes.error().description());
    if (auto written = files_->writeFileAtomically(file_, *bytes); !written)
        return std::unexpected(written.error().description());
    return {};
}

void WheelModeRecord::forget() { (void)files_->removeFile(file_); }

} // namespace ravolet
