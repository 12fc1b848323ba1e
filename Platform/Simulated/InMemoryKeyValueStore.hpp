#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "Platform/KeyValueStore.hpp"

namespace ravolet::platform {

// Preferences in memory, counting every write, for tests.
class InMemoryKeyValueStore final : public KeyValueStore {
public:
    InMemoryKeyValueStore() = default;
    explicit InMemoryKeyValueStore(std::map<std::string, KeyValue, std::less<>> values) : values_(std::move(values)) {}

    std::optional<KeyValue> value(std::string_view key) const override {
        const auto it = values_.find(key);
        return it == values_.end() ? std::nullopt : std::optional(it->second);
    }
    void set(std::string_view key, KeyValue value) override {
        values_.insert_or_assign(std::string(key), std::move(value));
        ++writes_;
    }
    void remove(std::string_view key) override {
        if (const auto it = values_.find(key); it != values_.end()) values_.erase(it);
        ++writes_;
    }

    // Every set and remove so far, whether it changed anything or not.
    std::uint64_t writeCount() const { return writes_; }
    const std::map<std::string, KeyValue, std::less<>>& values() const { return values_; }

private:
    std::map<std::string, KeyValue, std::less<>> values_;
    std::uint64_t writes_ = 0;
};

} // namespace ravolet::platform
