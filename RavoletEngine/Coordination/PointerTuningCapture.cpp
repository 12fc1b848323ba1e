#include "RavoletEngine/Coordination/PointerTuningCapture.hpp"

#include <ostream>

#include <fmt/format.h>

namespace ravolet {

namespace {

std::optional<double> fromFixed(const std::optional<std::int64_t>& value) {
    return value ? std::optional(cpiFromFixed(*value)) : std::nullopt;
}

// Exactly `count` ASCII digits from `text` at `at`.
std::optional<int> digits(std::string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

} // namespace

std::optional<std::string> internetDateTime(std::chrono::sys_seconds time) {
    using namespace std::chrono;
    const auto day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{time - day};
    const int y = static_cast<int>(date.year());
    if (y < 0 || y > 9999) return std::nullopt;
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", y, static_cast<unsigned>(date.month()),
                       static_cast<unsigned>(date.day()), clock.hours().count(), clock.minutes().count(),
                       clock.seconds().count());
}

std::optional<std::chrono::sys_seconds> parseInternetDateTime(std::string_view text) {
    using namespace std::chrono;
    // YYYY-MM-DDTHH:MM:SSZ
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z')
        return std::nullopt;
    const auto y = digits(text, 0, 4), mo = digits(text, 5, 2), d = digits(text, 8, 2);
    const auto h = digits(text, 11, 2), mi = digits(text, 14, 2), s = digits(text, 17, 2);
    if (!y || !mo || !d || !h || !mi || !s || *h > 23 || *mi > 59 || *s > 59) return std::nullopt;
    const year_month_day date{year{*y}, month{static_cast<unsigned>(*mo)}, day{static_cast<unsigned>(*d)}};
    if (!date.ok()) return std::nullopt;
    return sys_days{date} + hours{*h} + minutes{*mi} + seconds{*s};
}

std::optional<double> PointerTuningCapture::resolutionCPI() const { return fromFixed(resolution); }

std::optional<double> PointerTuningCapture::accelerationValue() const { return fromFixed(acceleration); }

std::expected<Json, JsonError> PointerTuningCapture::toJson() const {
    const auto date = internetDateTime(capturedAt);
    if (!date) {
        return std::unexpected(JsonError{JsonError::Kind::encode, "capturedAt: the date cannot be written as an internet date-time"});
    }
    Json object = Json::object();
    if (acceleration) object["acceleration"] = *acceleration;
    object["accelerationKey"] = accelerationKey;
    object["capturedAt"] = *date;
    if (resolution) object["resolution"] = *resolution;
    object["schema"] = schema;
    object["service"] = service.toJson();
    return object;
}

PointerTuningCapture PointerTuningCapture::fromJson(const JsonValue& v) {
    PointerTuningCapture capture;
    capture.schema = v["schema"].asIntegerToken<int>();
    capture.service = PointerServiceIdentity::fromJson(v["service"]);
    capture.accelerationKey = v["accelerationKey"].asString();
    if (const auto resolution = v.optional("resolution")) capture.resolution = resolution->asIntegerToken<std::int64_t>();
    if (const auto acceleration = v.optional("acceleration"))
        capture.acceleration = acceleration->asIntegerToken<std::int64_t>();
    const JsonValue date = v["capturedAt"];
    const auto capturedAt = parseInternetDateTime(date.asString());
    if (!capturedAt) date.fail("Expected date string to be ISO8601-formatted.");
    capture.capturedAt = *capturedAt;
    return capture;
}

std::expected<std::string, JsonError> PointerTuningCapture::encoded() const {
    auto object = toJson();
    if (!object) return std::unexpected(object.error());
    return encodeJson(*object);
}

std::expected<PointerTuningCapture, JsonError> PointerTuningCapture::decoded(std::string_view bytes) {
    return decodeJson<PointerTuningCapture>(bytes);
}

std::ostream& operator<<(std::ostream& os, const PointerTuningCapture& capture) {
    const auto object = capture.toJson();
    return os << "PointerTuningCapture" << (object ? object->dump() : "(unencodable)");
}

} // namespace ravolet
