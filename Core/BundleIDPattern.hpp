#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "Core/Json.hpp"

namespace ravolet {

// Which applications a rule applies to, by bundle identifier. Matching ignores
// letter case; equality does not (the stored string is kept exactly as given).
struct BundleIDPattern {
    // Every application, and also no application at all.
    struct Any {
        friend bool operator==(const Any&, const Any&) = default;
    };
    // One bundle identifier.
    struct Exact {
        std::string value;
        friend bool operator==(const Exact&, const Exact&) = default;
    };
    // Every bundle identifier that begins with `value`.
    struct Prefix {
        std::string value;
        friend bool operator==(const Prefix&, const Prefix&) = default;
    };

    std::variant<Any, Exact, Prefix> value;

    BundleIDPattern() = default;
    BundleIDPattern(Any any) : value(any) {}
    BundleIDPattern(Exact exact) : value(std::move(exact)) {}
    BundleIDPattern(Prefix prefix) : value(std::move(prefix)) {}

    static BundleIDPattern any() { return Any{}; }
    static BundleIDPattern exact(std::string bundleID) { return Exact{std::move(bundleID)}; }
    static BundleIDPattern prefix(std::string bundlePrefix) { return Prefix{std::move(bundlePrefix)}; }

    // The pattern for the text a user typed: blanks around it are dropped; an
    // empty text or "*" is `any`; a final "*" makes a prefix (only that one
    // star is special); anything else is an exact identifier, case as typed.
    explicit BundleIDPattern(std::string_view pattern);

    // The pattern as text for display and editing; reads back through the
    // constructor above.
    std::string patternString() const;

    // Whether the pattern applies to the application (or to none, when absent).
    bool matches(const std::optional<std::string>& bundleID) const;

    // How narrowly the pattern picks applications; ties of rule priority go to
    // the more specific pattern.
    std::int64_t specificity() const;

    // {"any": {}}, {"exact": {"_0": "..."}} or {"prefix": {"_0": "..."}}.
    Json toJson() const;
    static BundleIDPattern fromJson(const JsonValue& v);

    std::string description() const;
    friend bool operator==(const BundleIDPattern&, const BundleIDPattern&) = default;
};

std::ostream& operator<<(std::ostream&, const BundleIDPattern&);

} // namespace ravolet

template <>
struct std::hash<ravolet::BundleIDPattern> {
    std::size_t operator()(const ravolet::BundleIDPattern& p) const noexcept;
};
