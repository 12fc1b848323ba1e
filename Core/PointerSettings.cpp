#include "Core/PointerSettings.hpp"

#include <ostream>

namespace ravolet {

Json PointerSettings::toJson() const {
    return Json{{"isEnabled", isEnabled}, {"dpi", dpi}, {"curve", curve.toJson()}};
}

PointerSettings PointerSettings::fromJson(const JsonValue& v) {
    return PointerSettings{v["isEnabled"].asBool(), v["dpi"].asInteger<std::int64_t>(),
                           PointerCurve::fromJson(v["curve"])};
}

std::ostream& operator<<(std::ostream& os, const PointerSettings& settings) {
    return os << "PointerSettings" << settings.toJson().dump();
}

} // namespace ravolet
