#include "Platform/Linux/JsonFileKeyValueStore.hpp"

#include <cerrno>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "Platform/Linux/LinuxFileSystem.hpp"

namespace ravolet::platform {

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

// Attempts at a free name for the unreadable file before giving up.
constexpr int keepAsideAttempts = 100;

fs::path asideName(const fs::path& file, int attempt) {
    const std::string suffix = attempt == 1 ? ".unreadable" : fmt::format(".unreadable-{}", attempt);
    return file.parent_path() / (file.stem().string() + suffix + file.extension().string());
}

// The object in the text, or null for text that is not all JSON or nests
// arrays and objects deeper than maximumDepth.
Json parsedText(const std::string& text) {
    // The parser takes a NUL byte outside a string for the end of the text: a
    // file with one is not all JSON, and rewriting it would drop what follows.
    if (text.find('\0') != std::string::npos) return nullptr;
    bool tooDeep = false;
    // The parser tells each value how many arrays and objects enclose it.
    Json value = Json::parse(
        text,
        [&tooDeep](int enclosing, Json::parse_event_t event, Json&) {
            const bool opens = event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start;
            if (opens && enclosing >= JsonFileKeyValueStore::maximumDepth) tooDeep = true;
            return !tooDeep;
        },
        /*allow_exceptions=*/false);
    return tooDeep ? Json(nullptr) : value;
}

} // namespace

JsonFileKeyValueStore::JsonFileKeyValueStore(fs::path file, std::shared_ptr<FileSystem> files)
    : file_(std::move(file)), files_(std::move(files)) {
    const auto bytes = files_->readFile(file_);
    if (!bytes) {
        if (!bytes.error().isNotFound()) keepAside();
        return;
    }
    Json parsed = parsedText(*bytes);
    if (parsed.is_object())
        values_ = std::move(parsed);
    else
        keepAside();
}

void JsonFileKeyValueStore::keepAside() {
    mayWrite_ = false;
    for (int attempt = 1; attempt <= keepAsideAttempts; ++attempt) {
        const fs::path aside = asideName(file_, attempt);
        const auto moved = files_->moveWithoutReplacing(file_, aside);
        if (moved) {
            keptAsideAt_ = aside;
            lastError_.reset();
            mayWrite_ = true;
            return;
        }
        lastError_ = moved.error();
        if (moved.error().code != EEXIST) return;
    }
}

std::optional<KeyValue> JsonFileKeyValueStore::value(std::string_view key) const {
    const auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    const Json& v = *it;
    if (v.is_boolean()) return KeyValue(v.get<bool>());
    if (v.is_number_unsigned()) {
        const auto u = v.get<std::uint64_t>();
        if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return KeyValue(static_cast<std::int64_t>(u));
        return KeyValue(static_cast<double>(u));
    }
    if (v.is_number_integer()) return KeyValue(v.get<std::int64_t>());
    if (v.is_number_float()) return KeyValue(v.get<double>());
    if (v.is_string()) return KeyValue(v.get<std::string>());
    return std::nullopt;
}

void JsonFileKeyValueStore::set(std::string_view key, KeyValue value) {
    if (const auto* d = std::get_if<double>(&value); d && !std::isfinite(*d)) return;
    std::visit([&](auto&& v) { values_[std::string(key)] = std::move(v); }, std::move(value));
    write();
}

void JsonFileKeyValueStore::remove(std::string_view key) {
    if (const auto it = values_.find(key); it != values_.end()) values_.erase(it);
    write();
}

void JsonFileKeyValueStore::retryWrite() {
    if (!lastError_) return;
    if (!mayWrite_) keepAside();
    write();
}

void JsonFileKeyValueStore::write() {
    if (!mayWrite_) return;
    if (auto folder = files_->createDirectories(file_.parent_path()); !folder) {
        lastError_ = folder.error();
        return;
    }
    // Invalid UTF-8 in a text is replaced rather than failing the whole file.
    const std::string bytes = values_.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    if (auto written = files_->writeFileAtomically(file_, bytes); !written) {
        lastError_ = written.error();
        return;
    }
    lastError_.reset();
}

std::shared_ptr<JsonFileKeyValueStore> JsonFileKeyValueStore::standard() {
    static const auto store = [] {
        const auto files = LinuxFileSystem::shared();
        return std::make_shared<JsonFileKeyValueStore>(files->settingsFolder() / fileName, files);
    }();
    return store;
}

} // namespace ravolet::platform
