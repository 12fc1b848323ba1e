#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include <nlohmann/json.hpp>

#include "Platform/FileSystem.hpp"
#include "Platform/KeyValueStore.hpp"

namespace ravolet::platform {

// The user's preferences as one JSON object in a file ("preferences.json" in
// the settings folder), read once at construction and written through,
// atomically, on every change. Values keep their JSON kind (a Boolean stays a
// Boolean); members of other kinds are kept as they are and written back.
//
// A file that cannot be read, is not a JSON object or nests arrays and objects
// deeper than maximumDepth counts as empty and is moved aside, never
// overwritten: to "preferences.unreadable.json" (or
// "preferences.unreadable-2.json" and so on when that name is taken). Where it
// cannot be moved aside, changes stay in memory and the file is left alone.
class JsonFileKeyValueStore final : public KeyValueStore {
public:
    static constexpr std::string_view fileName = "preferences.json";
    // Far beyond the flat object the program writes; writing a deeper one
    // back would recurse once per level.
    static constexpr int maximumDepth = 64;

    JsonFileKeyValueStore(std::filesystem::path file, std::shared_ptr<FileSystem> files);

    std::optional<KeyValue> value(std::string_view key) const override;
    // A non-finite double has no JSON form and is not stored.
    void set(std::string_view key, KeyValue value) override;
    void remove(std::string_view key) override;

    const std::filesystem::path& file() const { return file_; }
    // Where an unreadable file was moved at construction.
    std::optional<std::filesystem::path> keptAsideAt() const override { return keptAsideAt_; }
    // The last failure to move an unreadable file aside or to write; cleared by a successful write.
    std::optional<FileError> lastError() const override { return lastError_; }
    // Moves an unreadable file aside if it is still in the way, then writes
    // the values, when the last attempt failed.
    void retryWrite() override;

    // The process's preferences, in the settings folder of this machine.
    static std::shared_ptr<JsonFileKeyValueStore> standard();

private:
    void keepAside();
    void write();

    const std::filesystem::path file_;
    const std::shared_ptr<FileSystem> files_;
    nlohmann::json values_ = nlohmann::json::object();
    // False while an unreadable file is still in the way.
    bool mayWrite_ = true;
    std::optional<std::filesystem::path> keptAsideAt_;
    std::optional<FileError> lastError_;
};

} // namespace ravolet::platform
