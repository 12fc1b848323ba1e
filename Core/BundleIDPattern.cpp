#include "Core/BundleIDPattern.hpp"

#include <limits>
#include <ostream>

#include "Core/UnicodeText.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

BundleIDPattern::BundleIDPattern(std::string_view pattern) {
    std::string text = unicode::trimmingWhitespace(pattern);
    if (text.empty() || text == "*") {
        value = Any{};
    } else if (text.ends_with('*')) {
        text.pop_back();
        value = Prefix{std::move(text)};
    } else {
        value = Exact{std::move(text)};
    }
}

std::string BundleIDPattern::patternString() const {
    return std::visit(Overloaded{
                          [](const Any&) { return std::string("*"); },
                          [](const Exact& e) { return e.value; },
                          [](const Prefix& p) { return p.value + "*"; },
                      },
                      value);
}

bool BundleIDPattern::matches(const std::optional<std::string>& bundleID) const {
    return std::visit(Overloaded{
                          [](const Any&) { return true; },
                          [&](const Exact& e) { return bundleID && unicode::equalsIgnoringCase(*bundleID, e.value); },
                          [&](const Prefix& p) { return bundleID && unicode::hasPrefixIgnoringCase(*bundleID, p.value); },
                      },
                      value);
}

std::int64_t BundleIDPattern::specificity() const {
    return std::visit(Overloaded{
                          [](const Any&) -> std::int64_t { return 0; },
                          [](const Exact&) { return std::numeric_limits<std::int64_t>::max(); },
                          [](const Prefix& p) { return unicode::characterCount(p.value) + 1; },
                      },
                      value);
}

Json BundleIDPattern::toJson() const {
    return std::visit(Overloaded{
                          [](const Any&) { return jsonCase("any"); },
                          [](const Exact& e) { return jsonCase("exact", Json{{"_0", e.value}}); },
                          [](const Prefix& p) { return jsonCase("prefix", Json{{"_0", p.value}}); },
                      },
                      value);
}

BundleIDPattern BundleIDPattern::fromJson(const JsonValue& v) {
    const auto [name, payload] = v.singleCase({"any", "exact", "prefix"});
    if (name == "any") {
        if (!payload.raw().is_object()) payload.typeMismatch("an object");
        return Any{};
    }
    std::string string = payload["_0"].asString();
    if (name == "exact") return Exact{std::move(string)};
    return Prefix{std::move(string)};
}

std::string BundleIDPattern::description() const {
    return std::visit(Overloaded{
                          [](const Any&) { return std::string("any"); },
                          [](const Exact& e) { return "exact(\"" + e.value + "\")"; },
                          [](const Prefix& p) { return "prefix(\"" + p.value + "\")"; },
                      },
                      value);
}

std::ostream& operator<<(std::ostream& os, const BundleIDPattern& p) { return os << p.description(); }

} // namespace ravolet

std::size_t std::hash<ravolet::BundleIDPattern>::operator()(const ravolet::BundleIDPattern& p) const noexcept {
    using ravolet::BundleIDPattern;
    return std::visit(ravolet::Overloaded{
                          [&](const BundleIDPattern::Any&) { return ravolet::hashFields(p.value.index()); },
                          [&](const BundleIDPattern::Exact& e) { return ravolet::hashFields(p.value.index(), e.value); },
                          [&](const BundleIDPattern::Prefix& x) { return ravolet::hashFields(p.value.index(), x.value); },
                      },
                      p.value);
}
