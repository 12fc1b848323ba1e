#include "Platform/KeyValueStore.hpp"

#include <algorithm>
#include <array>

namespace ravolet::platform {

namespace {

template <class T>
std::optional<T> get(const std::optional<KeyValue>& value) {
    if (const T* typed = value ? std::get_if<T>(&*value) : nullptr) return *typed;
    return std::nullopt;
}

bool equalsIgnoringASCIICase(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

} // namespace

std::optional<bool> KeyValueStore::boolValue(std::string_view key) const { return get<bool>(value(key)); }

std::optional<std::int64_t> KeyValueStore::integerValue(std::string_view key) const {
    return get<std::int64_t>(value(key));
}

std::optional<double> KeyValueStore::doubleValue(std::string_view key) const {
    const auto v = value(key);
    if (const auto integer = get<std::int64_t>(v)) return static_cast<double>(*integer);
    return get<double>(v);
}

std::optional<std::string> KeyValueStore::stringValue(std::string_view key) const { return get<std::string>(value(key)); }

bool KeyValueStore::boolean(std::string_view key) const { return booleanReading(value(key)); }

bool KeyValueStore::booleanReading(const std::optional<KeyValue>& value) {
    if (!value) return false;
    if (const auto* b = std::get_if<bool>(&*value)) return *b;
    if (const auto* i = std::get_if<std::int64_t>(&*value)) return *i != 0;
    if (const auto* d = std::get_if<double>(&*value)) return *d != 0;
    const auto& text = std::get<std::string>(*value);
    constexpr std::array<std::string_view, 3> truths{"true", "yes", "1"};
    return std::ranges::any_of(truths, [&](std::string_view t) { return equalsIgnoringASCIICase(text, t); });
}

} // namespace ravolet::platform
