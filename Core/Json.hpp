#pragma once

// The strict JSON layer of the settings document.
//
// nlohmann/json parses and writes; everything on top is ours, because the
// document is hand-editable and therefore untrusted: every read checks the JSON
// kind and the integer range itself, integers accept exactly integral numbers
// (1.0 but not 1.7), and a failure anywhere fails the whole value.
//
// Decoding functions (`T::fromJson`) throw JsonDecodeError; the exception never
// leaves this module: callers outside use decodeJson<T>() or Config::decoded(),
// which turn it into a JsonError.

#include <cmath>
#include <concepts>
#include <cstdint>
#include <expected>
#include <initializer_list>
#include <iosfwd>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace ravolet {

using Json = nlohmann::json;

// A failure of the JSON parser, of decoding a value, or of encoding one.
struct JsonError {
    enum class Kind { parse, decode, encode };
    Kind kind = Kind::decode;
    std::string message;

    std::string description() const;
    friend bool operator==(const JsonError&, const JsonError&) = default;
};
std::ostream& operator<<(std::ostream&, const JsonError&);

// Thrown by decoding functions; caught at the module's entry points.
class JsonDecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A read-only view of one JSON value together with its coding path, so that a
// decoding error says where it happened ("profiles[1].scroll.easing").
class JsonValue {
public:
    explicit JsonValue(const Json& value, std::string path = {});

    const Json& raw() const { return *value_; }
    const std::string& path() const { return path_; }
    bool isNull() const { return value_->is_null(); }

    bool asBool() const;
    double asDouble() const;
    std::string asString() const;
    std::vector<JsonValue> asArray() const;
    // Any integral number that fits in I; 1.0 is accepted, 1.7 and 1e30 are not.
    template <std::integral I>
    I asInteger() const;
    // Only an integer token (no fraction, no exponent) that fits in I: for
    // files where a floating number means a value that may have lost digits.
    template <std::integral I>
    I asIntegerToken() const {
        if (value_->is_number_float()) typeMismatch("an integer");
        return asInteger<I>();
    }

    // The member `key` of an object; fails when this is no object or the key is missing.
    JsonValue operator[](std::string_view key) const;
    // The member `key` of an object, or nothing when it is missing or null.
    std::optional<JsonValue> optional(std::string_view key) const;

    // An enumeration with payload: an object with exactly one member naming one
    // of `cases` (members naming no case are ignored). Returns the case name and
    // its payload; otherwise fails with "Invalid number of keys found, expected one."
    std::pair<std::string, JsonValue> singleCase(std::initializer_list<std::string_view> cases) const;

    [[noreturn]] void fail(std::string_view message) const;
    [[noreturn]] void typeMismatch(std::string_view expected) const;

private:
    void requireObject() const;
    [[noreturn]] void integerOutOfRange() const;
    std::string childPath(std::string_view key) const;

    const Json* value_;
    std::string path_;
};

// The deepest nesting of arrays and objects parseJson() accepts: far beyond
// anything the program writes.
inline constexpr std::size_t maximumJsonDepth = 64;

// Parses bytes; a bare value (string, number, true, false, null) at the top is
// a parse error, as is anything that is not JSON through its last byte (a NUL
// byte included) and anything nested deeper than maximumJsonDepth. An integer
// token outside the 64-bit ranges is kept as a number that no integer field
// accepts.
std::expected<Json, JsonError> parseJson(std::string_view bytes);

// Sorted keys, pretty printed, "/" written as "\/"; a non-finite number or a
// string that is not UTF-8 makes encoding fail.
std::expected<std::string, JsonError> encodeJson(const Json& value);

// An enumeration with payload: {"<name>": payload}.
Json jsonCase(std::string_view name, Json payload = Json::object());

// Decodes a T from bytes with T::fromJson(JsonValue).
template <class T>
std::expected<T, JsonError> decodeJson(std::string_view bytes) {
    auto parsed = parseJson(bytes);
    if (!parsed) return std::unexpected(parsed.error());
    try {
        return T::fromJson(JsonValue(*parsed));
    } catch (const JsonDecodeError& e) {
        return std::unexpected(JsonError{JsonError::Kind::decode, e.what()});
    } catch (const Json::exception& e) {
        // A decoder that reached past JsonValue into nlohmann; still a
        // decoding error, never an exception out of the module.
        return std::unexpected(JsonError{JsonError::Kind::decode, e.what()});
    }
}

// Encodes a T with T::toJson().
template <class T>
std::expected<std::string, JsonError> encodeJsonValue(const T& value) {
    return encodeJson(value.toJson());
}

// ---------------------------------------------------------------------------

template <std::integral I>
I JsonValue::asInteger() const {
    const Json& v = *value_;
    if (v.is_number_unsigned()) {
        const auto u = v.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<I>::max())) integerOutOfRange();
        return static_cast<I>(u);
    }
    if (v.is_number_integer()) {
        const auto s = v.get<std::int64_t>();
        if (!std::in_range<I>(s)) integerOutOfRange();
        return static_cast<I>(s);
    }
    if (v.is_number_float()) {
        const double d = v.get<double>();
        // Range checked in long double, where 2^63 and 2^64 are exact, so the
        // bounds compare without rounding.
        const long double ld = d;
        if (!std::isfinite(d) || std::trunc(d) != d ||
            ld < static_cast<long double>(std::numeric_limits<I>::min()) ||
            ld > static_cast<long double>(std::numeric_limits<I>::max())) {
            integerOutOfRange();
        }
        return static_cast<I>(ld);
    }
    typeMismatch("an integer");
}

} // namespace ravolet
