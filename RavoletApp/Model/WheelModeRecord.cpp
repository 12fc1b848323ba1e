#include "RavoletApp/Model/WheelModeRecord.hpp"

#include <cerrno>
#include <condition_variable>
#include <future>
#include <mutex>

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

void WheelModeRecord::forget() const { (void)files_->removeFile(file_); }

namespace {

// The outcome of `operation` (an operation of the device, given a
// completion), or none when it has not come by `deadline`.
template <class T, class Operation>
std::optional<HIDPPResult<T>> awaited(Operation operation, std::chrono::steady_clock::time_point deadline) {
    struct Outcome {
        std::mutex lock;
        std::condition_variable came;
        std::optional<HIDPPResult<T>> result;
    };
    const auto outcome = std::make_shared<Outcome>();
    operation([outcome](HIDPPResult<T> result) {
        std::lock_guard hold(outcome->lock);
        outcome->result = std::move(result);
        outcome->came.notify_all();
    });
    std::unique_lock hold(outcome->lock);
    outcome->came.wait_until(hold, deadline, [&] { return outcome->result.has_value(); });
    return std::move(outcome->result);
}

} // namespace

WheelPutBack putWheelBack(const WheelModeRecord& record, platform::FileSystem& files,
                          const std::filesystem::path& instanceLock,
                          const std::function<std::shared_ptr<HIDPPDevice>()>& makeDevice,
                          std::chrono::milliseconds limit) {
    if (const auto kept = record.load(); !kept || !*kept) return WheelPutBack::nothingKept;
    const auto hold = files.tryLock(instanceLock);
    if (!hold) return hold.error().code == EWOULDBLOCK ? WheelPutBack::takenOver : WheelPutBack::noLock;
    // Read again under the lock: a run that started and ended since has
    // put the wheel back itself.
    const auto kept = record.load();
    if (!kept || !*kept) return WheelPutBack::nothingKept;
    const bool highResolution = **kept;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const auto device = makeDevice();
    device->setAutomaticallyReconnects(false);
    WheelPutBack outcome = WheelPutBack::notPutBack;
    const auto connected = awaited<void>([&](auto done) { device->connect(nullptr, std::move(done)); }, deadline);
    if (connected && *connected) {
        const auto mode = awaited<HIDPPWheelMode>(
            [&](auto done) { device->setWheelHighResolution(highResolution, nullptr, std::move(done)); }, deadline);
        if (mode && *mode && (*mode)->highResolution == highResolution) {
            record.forget();
            outcome = WheelPutBack::putBack;
        }
    }
    // Let go of the mouse's node before the lock, for the run that waits for it.
    const auto disconnected = std::make_shared<std::promise<void>>();
    auto gone = disconnected->get_future();
    device->disconnect(nullptr, [disconnected] { disconnected->set_value(); });
    gone.wait_for(std::chrono::seconds(1));
    return outcome;
}

} // namespace ravolet
