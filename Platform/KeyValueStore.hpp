#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

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
