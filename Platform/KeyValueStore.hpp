#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "Platform/FileSystem.hpp"

namespace ravolet::platform {

// A value of the user's preferences, kept as the type it was stored with.
using KeyValue = std::variant<bool, std::int64_t, double, std::string>;

// The user's preferences: a flat store of typed values by key (the host's
// user defaults). Confined to the thread that owns the models (the main
// thread); writes take effect at once.
class KeyValueStore {
public:
    virtual ~KeyValueStore() = default;

    // The value under the key; none when absent (or held in a form the store
    // cannot give back as one of the four types).
    virtual std::optional<KeyValue> value(std::string_view key) const = 0;
    virtual void set(std::string_view key, KeyValue value) = 0;
    virtual void remove(std::string_view key) = 0;

    // A store that keeps its values in a file tells here how that goes; one
    // in memory has nothing to tell.
    // The last failure to write the values (or to set an unreadable file
    // aside); none once a write succeeds.
    virtual std::optional<FileError> lastError() const { return std::nullopt; }
    // Where an unreadable file of values was set aside when the store opened.
    virtual std::optional<std::filesystem::path> keptAsideAt() const { return std::nullopt; }
    // After a failure, tries once more to write the values; nothing otherwise.
    virtual void retryWrite() {}

    // Typed reads take only their own kind: a Boolean is never read as an
    // integer nor the reverse. A double read also takes an integer.
    std::optional<bool> boolValue(std::string_view key) const;
    std::optional<std::int64_t> integerValue(std::string_view key) const;
    std::optional<double> doubleValue(std::string_view key) const;
    std::optional<std::string> stringValue(std::string_view key) const;

    // The store's own Boolean reading: a Boolean as it is; a number is true
    // when it is not zero; a text is true when it is "true", "yes" or "1" in
    // any case, other texts false; absent false.
    bool boolean(std::string_view key) const;
    static bool booleanReading(const std::optional<KeyValue>& value);
};

} // namespace ravolet::platform
