#include "Core/Json.hpp"

#include <ostream>

#include <fmt/format.h>

namespace ravolet {

std::string JsonError::description() const {
    switch (kind) {
    case Kind::parse: return "The data couldn’t be read because it isn’t in the correct format: " + message;
    case Kind::decode: return "The data couldn’t be read because it is missing or in the wrong form: " + message;
    case Kind::encode: return "The data couldn’t be written: " + message;
    }
    return message;
}

std::ostream& operator<<(std::ostream& os, const JsonError& e) { return os << e.description(); }

JsonValue::JsonValue(const Json& value, std::string path) : value_(&value), path_(std::move(path)) {}

void JsonValue::fail(std::string_view message) const {
    throw JsonDecodeError(fmt::format("{} (at {})", message, path_.empty() ? "the top level" : path_));
}

static std::string_view kindName(const Json& v) {
    switch (v.type()) {
    case Json::value_t::null: return "null";
    case Json::value_t::object: return "an object";
    case Json::value_t::array: return "an array";
    case Json::value_t::string: return "a string";
    case Json::value_t::boolean: return "a Boolean";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float: return "a number";
    default: return "an unknown value";
    }
}

void JsonValue::typeMismatch(std::string_view expected) const {
    fail(fmt::format("Expected {} but found {} instead.", expected, kindName(*value_)));
}

void JsonValue::integerOutOfRange() const {
    fail(fmt::format("Parsed JSON number <{}> does not fit the integer field.", value_->dump()));
}

bool JsonValue::asBool() const {
    if (!value_->is_boolean()) typeMismatch("a Boolean");
    return value_->get<bool>();
}

double JsonValue::asDouble() const {
    if (!value_->is_number()) typeMismatch("a number");
    return value_->get<double>();
}

std::string JsonValue::asString() const {
    if (!value_->is_string()) typeMismatch("a string");
    return value_->get<std::string>();
}

std::vector<JsonValue> JsonValue::asArray() const {
    if (!value_->is_array()) typeMismatch("an array");
    std::vector<JsonValue> items;
    items.reserve(value_->size());
    std::size_t index = 0;
    for (const Json& item : *value_) {
        items.emplace_back(item, fmt::format("{}[{}]", path_, index++));
    }
    return items;
}

void JsonValue::requireObject() const {
    if (!value_->is_object()) typeMismatch("an object");
}

std::string JsonValue::childPath(std::string_view key) const {
    return path_.empty() ? std::string(key) : fmt::format("{}.{}", path_, key);
}

JsonValue JsonValue::operator[](std::string_view key) const {
    requireObject();
    const auto it = value_->find(key);
    if (it == value_->end()) fail(fmt::format("No value associated with key \"{}\".", key));
    return JsonValue(*it, childPath(key));
}

std::optional<JsonValue> JsonValue::optional(std::string_view key) const {
    requireObject();
    const auto it = value_->find(key);
    if (it == value_->end() || it->is_null()) return std::nullopt;
    return JsonValue(*it, childPath(key));
}

std::pair<std::string, JsonValue> JsonValue::singleCase(std::initializer_list<std::string_view> cases) const {
    requireObject();
    const Json* payload = nullptr;
    std::string_view found;
    int matches = 0;
    for (std::string_view name : cases) {
        const auto it = value_->find(name);
        if (it == value_->end()) continue;
        ++matches;
        payload = &*it;
        found = name;
    }
    if (matches != 1) fail("Invalid number of keys found, expected one.");
    return {std::string(found), JsonValue(*payload, childPath(found))};
}

namespace {

// nlohmann's document builder with one change. An integer token beyond the
// 64-bit ranges reaches it as the nearest double, and for the 1,024 tokens
// just below the signed minimum that double is the minimum itself, which an
// integer field would then take as written. Such a token is moved one step
// further out, so that it fails as out of range like every other token that
// does not fit.
//
// It also stops at the first array or object nested deeper than
// maximumJsonDepth: such a document is none the program wrote, and encoding
// one again would recurse once per level.
class DocumentBuilder : public nlohmann::detail::json_sax_dom_parser<Json> {
public:
    using json_sax_dom_parser::json_sax_dom_parser;

    bool tooDeep() const { return tooDeep_; }

    bool number_float(double value, const std::string& lexeme) {
        constexpr double signedMinimum = -9223372036854775808.0;
        const bool integerToken = lexeme.find_first_of(".eE") == std::string::npos;
        if (integerToken && value == signedMinimum) value = std::nextafter(value, -HUGE_VAL);
        return json_sax_dom_parser::number_float(value, lexeme);
    }
    bool start_object(std::size_t length) { return enter() && json_sax_dom_parser::start_object(length); }
    bool start_array(std::size_t length) { return enter() && json_sax_dom_parser::start_array(length); }
    bool end_object() {
        --depth_;
        return json_sax_dom_parser::end_object();
    }
    bool end_array() {
        --depth_;
        return json_sax_dom_parser::end_array();
    }

private:
    bool enter() {
        tooDeep_ = ++depth_ > maximumJsonDepth;
        return !tooDeep_;
    }

    std::size_t depth_ = 0;
    bool tooDeep_ = false;
};

} // namespace

std::expected<Json, JsonError> parseJson(std::string_view bytes) {
    // The parser takes a NUL byte for the end of the text and would ignore
    // whatever follows it; JSON text never holds one, not even in a string.
    if (const auto nul = bytes.find('\0'); nul != std::string_view::npos) {
        return std::unexpected(JsonError{JsonError::Kind::parse,
                                         fmt::format("syntax error at byte {}: a NUL character cannot appear in JSON text",
                                                     nul + 1)});
    }
    Json parsed;
    try {
        DocumentBuilder builder(parsed);
        Json::sax_parse(bytes, &builder);
        if (builder.tooDeep()) {
            return std::unexpected(JsonError{
                JsonError::Kind::parse, fmt::format("arrays and objects are nested more than {} levels deep", maximumJsonDepth)});
        }
    } catch (const Json::exception& e) {
        return std::unexpected(JsonError{JsonError::Kind::parse, e.what()});
    }
    if (!parsed.is_object() && !parsed.is_array()) {
        return std::unexpected(JsonError{JsonError::Kind::parse,
                                         "JSON text did not start with an array or an object."});
    }
    return parsed;
}

// Finds the first non-finite number, iteratively so that no input depth can
// exhaust the stack.
static bool hasNonFiniteNumber(const Json& root) {
    std::vector<const Json*> pending{&root};
    while (!pending.empty()) {
        const Json* v = pending.back();
        pending.pop_back();
        if (v->is_number_float() && !std::isfinite(v->get<double>())) return true;
        if (v->is_structured()) {
            for (const Json& child : *v) pending.push_back(&child);
        }
    }
    return false;
}

std::expected<std::string, JsonError> encodeJson(const Json& value) {
    if (hasNonFiniteNumber(value)) {
        return std::unexpected(JsonError{JsonError::Kind::encode,
                                         "Unable to encode a non-finite number (infinity or NaN) in JSON."});
    }
    std::string text;
    try {
        // nlohmann's objects keep their keys sorted, so every level comes out
        // in ascending key order.
        text = value.dump(2, ' ', false, Json::error_handler_t::strict);
    } catch (const Json::exception& e) {
        return std::unexpected(JsonError{JsonError::Kind::encode, e.what()});
    }
    // A "/" can only stand inside a string in JSON text, so escaping every one
    // of them is exact.
    std::string escaped;
    escaped.reserve(text.size() + 16);
    for (char c : text) {
        if (c == '/') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

Json jsonCase(std::string_view name, Json payload) {
    Json object = Json::object();
    object[std::string(name)] = std::move(payload);
    return object;
}

} // namespace ravolet
